#pragma once
// The window of every popover controller, carrying the controller's window type. The popovers'
// outside-event rules and the side window's auto-hide tell windows apart by it.

#include <optional>
#include <string>

#include "kit/ui/Window.h"

// KZCustomWindowType: 0 ordinary window, 1 popover, 4 AI image tool window, 5 file-drop window
// (2 and 3 are not used).
enum KZCustomWindowType : int {
    KZCustomWindowTypeNormal = 0,
    KZCustomWindowTypePopover = 1,
    KZCustomWindowTypeAIImage = 4,
    KZCustomWindowTypeDrop = 5,
};

class KZCustomWindow : public kit::Window {
public:
    using kit::Window::Window;
    std::string className() const override { return "KZCustomWindow"; }

    int customWndType() const { return customWndType_; }
    void setCustomWndType(int type) { customWndType_ = type; }

private:
    int customWndType_ = 0;
};

// The type tag of a KZCustomWindow or KZCanNotBeKeyWnd; nullopt for other windows and none.
std::optional<int> customWndTypeOf(const kit::Window* window);
