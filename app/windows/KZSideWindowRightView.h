#pragma once
// The cluster at the right end of the side window's title bar: the user's avatar, a divider,
// and the settings, refresh and pin buttons (24 x 24, 10 points apart). The avatar opens the
// login window (logged out) or the login-state card (logged in); settings opens the settings
// popover; refresh asks the side window to reload its page; pin keeps the side window above
// other windows and stores that in the shared settings. It keeps a login-name tip up to date
// that is never put on screen.
//
// Made with kit::create<KZSideWindowRightView>(delegate); the delegate (the side window
// controller) is held weakly. The view owns its buttons and at most one popover of each kind;
// it lives as long as the side window controller. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ui/KZView.h"
#include "kit/base/NotificationCenter.h"

namespace kit {
class Window;
}
class KZAIUserLoginInfoTipView;
class KZCustomViewButton;
class KZLineView;
class KZLoginStateWindowController;
class KZSideSettingsWindowController;
class KZSideWindowRightView;

class KZSideWindowRightViewDelegate {
public:
    virtual ~KZSideWindowRightViewDelegate() = default;
    virtual void onClickLogin() = 0;
    virtual void onClickLogout() = 0;
    virtual void onClickFlushWeb() = 0;
    virtual void onPinStatusChangedFromRightView(KZSideWindowRightView& view) = 0;
    virtual std::shared_ptr<kit::Window> getWindow() = 0;
};

class KZSideWindowRightView : public KZView {
public:
    using HoverBlock = std::function<void(bool hover)>;

    static constexpr double kButtonSide = 24;
    static constexpr double kSpacing = 10;
    static constexpr const char* kDefaultAvatarImage = "title_bar_user_avatar_default";

    explicit KZSideWindowRightView(std::weak_ptr<KZSideWindowRightViewDelegate> delegate);
    ~KZSideWindowRightView() override;
    // initWithDelegate: the view's hooks, setupViews, the login state, then the watch for
    // closing windows.
    void init() override;
    std::string className() const override { return "KZSideWindowRightView"; }

    std::shared_ptr<KZSideWindowRightViewDelegate> delegate() const { return delegate_.lock(); }
    bool isPinned() const { return isPinned_; }
    void setIsPinned(bool pinned) { isPinned_ = pinned; }
    // Stored for the side window; the view never calls it.
    const HoverBlock& btnHoverEventBlock() const { return btnHoverEventBlock_; }
    void setBtnHoverEventBlock(HoverBlock block) { btnHoverEventBlock_ = std::move(block); }

    virtual void setupViews();
    virtual bool showFlushButton() const { return true; }
    // Places the five subviews (each call replaces the previous constraints).
    void layoutSubviews();

    void onClickAvatarButtonAction(KZCustomViewButton* sender);
    void clickLoginArrowAction(KZCustomViewButton* sender);
    // The side window calls this whenever the login state changes or its page is reloaded.
    virtual void onUserLoginStateChanged();
    void onClickSettingsButtonAction(KZCustomViewButton* sender);
    void onClickFlushButtonAction(KZCustomViewButton* sender);
    void onClickPinButtonAction(KZCustomViewButton* sender);
    // The avatar picture and the login tip's text. Only http, https and data addresses are
    // loaded; anything else (none, a local file) shows the default picture.
    void setUserAvatar(const std::optional<std::string>& address);

    // The bottom-right corner of a button, in screen coordinates: where a popover's top-right
    // corner hangs from (9 points lower).
    kit::Point anchorPointOfButton(const KZCustomViewButton& button) const;

    const std::shared_ptr<KZCustomViewButton>& avatarButton();
    const std::shared_ptr<KZAIUserLoginInfoTipView>& loginInfoTipView();
    const std::shared_ptr<KZLoginStateWindowController>& loginStateWindowController() const {
        return loginStateWindowController_;
    }
    const std::shared_ptr<KZSideSettingsWindowController>& settingsWindowController() const {
        return settingsWindowController_;
    }
    const std::shared_ptr<KZLineView>& splitView() const { return splitView_; }
    const std::shared_ptr<KZCustomViewButton>& settingsButton();
    const std::shared_ptr<KZCustomViewButton>& flushButton();
    const std::shared_ptr<KZCustomViewButton>& pinButton();

private:
    void __destoryLoginStateWindowIfNeeded();
    void __destorySettingsWindowIfNeeded();
    void __flushPinButtonImage();
    void __receiveWindowWillCloseNotification(const kit::Notification& notification);
    void __createLoginStateWindowController();
    void __createSettingsWindowController();
    std::string pinLabel() const;
    std::shared_ptr<KZCustomViewButton> makeIconButton(const char* imageName, const char* label,
                                                       void (KZSideWindowRightView::*action)(KZCustomViewButton*));

    std::weak_ptr<KZSideWindowRightViewDelegate> delegate_;
    bool isPinned_ = false;
    HoverBlock btnHoverEventBlock_;
    std::shared_ptr<KZCustomViewButton> avatarButton_;
    std::shared_ptr<KZAIUserLoginInfoTipView> loginInfoTipView_;
    std::shared_ptr<KZLoginStateWindowController> loginStateWindowController_;
    std::shared_ptr<KZSideSettingsWindowController> settingsWindowController_;
    std::shared_ptr<KZLineView> splitView_;
    std::shared_ptr<KZCustomViewButton> settingsButton_;
    std::shared_ptr<KZCustomViewButton> flushButton_;
    std::shared_ptr<KZCustomViewButton> pinButton_;
    std::shared_ptr<void> windowWillCloseObservation_;
};
