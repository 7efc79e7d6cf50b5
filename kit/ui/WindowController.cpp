#include "kit/ui/WindowController.h"

#include "kit/ui/Window.h"

namespace kit {

WindowController::WindowController(std::shared_ptr<Window> window) : window_(std::move(window)) {}

WindowController::~WindowController() = default;

void WindowController::init() {
    if (window_) window_->setWindowController(weak_from_this());
}

void WindowController::setWindow(std::shared_ptr<Window> window) {
    window_ = std::move(window);
    if (window_) window_->setWindowController(weak_from_this());
}

void WindowController::showWindow() {
    if (!window_) return;
    if (window_->canBecomeKeyWindow()) {
        window_->makeKeyAndOrderFront();
    } else {
        window_->orderFront();
    }
}

void WindowController::close() {
    if (window_) window_->close();
}

}  // namespace kit
