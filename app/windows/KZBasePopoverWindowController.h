#pragma once
// Base of the popovers (the side window's settings and login-state popovers, the guide tips): a
// borderless KZCustomWindow with a white rounded content view inset by contentInset, which
// hides itself when the user clicks, types or scrolls elsewhere. Showing and placing it is the
// subclass's business; the base only hides it.
//
// Made with kit::create<Subclass>(size, contentInset); subclasses that override setupSubviews or
// setupSubViewsLayout call the base version. The event monitors belong to the controller and
// are removed when it goes away.

#include <functional>
#include <memory>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/EdgeInsets.h"
#include "kit/ui/Event.h"
#include "kit/ui/WindowController.h"

namespace kit {
class EventMonitor;
class View;
}

class KZBasePopoverWindowController : public kit::WindowController {
public:
    using DisappearBlock = std::function<void(KZBasePopoverWindowController& controller)>;

    // initWithSize:contentInset:
    KZBasePopoverWindowController(kit::Size size, kit::EdgeInsets contentInset);
    ~KZBasePopoverWindowController() override;

    // Window, subviews, their layout, then the event monitors.
    void init() override;

    kit::EdgeInsets contentInset() const { return contentInset_; }
    // The content view's rectangle in window coordinates.
    kit::Rect contentFrame() const { return contentFrame_; }
    kit::Size size() const { return size_; }
    // Made on first read.
    const std::shared_ptr<kit::View>& contentView();

    const DisappearBlock& popoverDidDisappearBlock() const { return disappearBlock_; }
    void setPopoverDidDisappearBlock(DisappearBlock block) { disappearBlock_ = std::move(block); }

    void setupWindowWithSize(kit::Size size, kit::EdgeInsets contentInset);
    virtual int customWindowType() { return 1; }
    virtual int customWindowLevel() { return 0; }
    virtual void setupSubviews();
    virtual void setupSubViewsLayout();
    void addListenEvents();
    virtual double windowCornerRadius() { return 4.0; }
    virtual bool isMovable() { return false; }

    // The monitors' decisions, for an event of this application (local) or of another (global).
    bool shouldCloseForLocalEvent(const kit::Event& event) const;
    bool shouldCloseForGlobalEvent(const kit::Event& event) const;
    // Orders the window out, then runs the disappear block.
    void closePopover();

private:
    kit::EdgeInsets contentInset_;
    kit::Rect contentFrame_;
    kit::Size size_;
    kit::Size initialSize_;
    std::shared_ptr<kit::View> contentView_;
    DisappearBlock disappearBlock_;
    std::vector<std::shared_ptr<kit::EventMonitor>> monitors_;
};
