#pragma once
// The window of the explain and translate panels: a borderless, non-activating panel that never
// becomes key or main, so the application the user is working in keeps the focus. Every
// order-out (closing included) is reported to its controller after the window has gone.
//
// Made with kit::create<KZCustomPanel>(contentRect, styleMask) by KZBasePanelController, which
// owns it; the panel holds its controller weakly. Main thread only.

#include <memory>
#include <string>

#include "kit/ui/Window.h"

class KZBasePanelController;

class KZCustomPanel : public kit::Window {
public:
    using kit::Window::Window;
    std::string className() const override { return "KZCustomPanel"; }

    std::shared_ptr<KZBasePanelController> controller() const { return controller_.lock(); }
    void setController(std::weak_ptr<KZBasePanelController> controller) { controller_ = std::move(controller); }

    bool canBecomeKeyWindow() const override { return false; }
    bool canBecomeMainWindow() const override { return false; }
    // The controller's answer; not movable without one.
    bool isMovable() const override;
    // The window's own order-out first, then the controller's onWindowDidOrderOut. Closing
    // orders the panel out, so a closed panel tells its controller too.
    void orderOut() override;

private:
    std::weak_ptr<KZBasePanelController> controller_;
};
