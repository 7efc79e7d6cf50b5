#pragma once
// The small card under the avatar button of the side window's title bar: the user's picture and
// name, a separator and one button, "退出登录" (log out) while the user is logged in, "登录"
// (log in) otherwise. It reads the login state each time it is shown; a change while it is up
// does not refresh it. Its pictures and text follow every change of the appearance while it is up.
//
// Made with kit::create<KZLoginStateWindowController>(size, contentInset); the title-bar
// controls own it and make a new one for every avatar click made while logged in.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ui/KZImageView.h"
#include "app/ui/KZThemedTextField.h"
#include "app/windows/KZBasePopoverWindowController.h"

class KZCustomViewButton;
class KZLineView;
class KZWindowLoginBackgroundView;

class KZLoginStateWindowController : public KZBasePopoverWindowController {
public:
    using Block = std::function<void()>;
    static constexpr double kGapBelowPoint = 9;

    using KZBasePopoverWindowController::KZBasePopoverWindowController;

    int customWindowLevel() override { return 25; }
    void setupSubviews() override;
    void setupSubViewsLayout() override;
    bool __isUserLogin() const;
    std::optional<std::string> __userAvatar() const;
    std::string __userName() const;
    // Fills the card from the current login state and shows it with its top-right corner
    // 9 points below `point` (screen coordinates).
    void showWindowTopRightPoint(kit::Point point);
    void onClickLoginButton(KZCustomViewButton& sender);
    void onClickLogoutButton(KZCustomViewButton& sender);

    const Block& onClickLogin() const { return onClickLogin_; }
    void setOnClickLogin(Block block) { onClickLogin_ = std::move(block); }
    const Block& onClickLogout() const { return onClickLogout_; }
    void setOnClickLogout(Block block) { onClickLogout_ = std::move(block); }

    const std::shared_ptr<KZImageView>& avatarView();
    const std::shared_ptr<KZThemedTextField>& nameLabel();
    const std::shared_ptr<KZWindowLoginBackgroundView>& bgView();
    const std::shared_ptr<KZLineView>& lineView();
    const std::shared_ptr<KZCustomViewButton>& loginButton();
    const std::shared_ptr<KZCustomViewButton>& logoutButton();

private:
    std::shared_ptr<KZImageView> avatarView_;
    std::shared_ptr<KZThemedTextField> nameLabel_;
    std::shared_ptr<KZWindowLoginBackgroundView> bgView_;
    std::shared_ptr<KZLineView> lineView_;
    std::shared_ptr<KZCustomViewButton> loginButton_;
    std::shared_ptr<KZCustomViewButton> logoutButton_;
    Block onClickLogin_;
    Block onClickLogout_;
};
