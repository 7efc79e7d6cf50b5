#pragma once
// The cluster at the right end of the side window's title bar. So far it holds the pin state
// (read from the shared settings when it is made) and speaks to the side window through its
// delegate; its buttons and popovers are added on this base.
//
// Made with kit::create<KZSideWindowRightView>(delegate); the delegate is held weakly.

#include <functional>
#include <memory>
#include <string>

#include "app/ui/KZView.h"

namespace kit {
class Window;
}
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

    explicit KZSideWindowRightView(std::weak_ptr<KZSideWindowRightViewDelegate> delegate);
    void init() override;
    std::string className() const override { return "KZSideWindowRightView"; }

    std::shared_ptr<KZSideWindowRightViewDelegate> delegate() const { return delegate_.lock(); }
    bool isPinned() const { return isPinned_; }
    void setIsPinned(bool pinned) { isPinned_ = pinned; }
    const HoverBlock& btnHoverEventBlock() const { return btnHoverEventBlock_; }
    void setBtnHoverEventBlock(HoverBlock block) { btnHoverEventBlock_ = std::move(block); }

    virtual void setupViews();
    // The side window calls this whenever the login state changes or its page is reloaded.
    virtual void onUserLoginStateChanged() {}

private:
    std::weak_ptr<KZSideWindowRightViewDelegate> delegate_;
    bool isPinned_ = false;
    HoverBlock btnHoverEventBlock_;
};
