#pragma once
// The window of every base window controller. Despite its name it can always become key,
// whatever its style. It carries the controller's window type (KZCustomWindowType).

#include <string>

#include "kit/ui/Window.h"

class KZCanNotBeKeyWnd : public kit::Window {
public:
    using kit::Window::Window;
    std::string className() const override { return "KZCanNotBeKeyWnd"; }
    bool canBecomeKeyWindow() const override { return true; }

    int customWndType() const { return customWndType_; }
    void setCustomWndType(int type) { customWndType_ = type; }

private:
    int customWndType_ = 0;
};
