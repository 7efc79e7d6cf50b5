#pragma once
// A lighter base for guide windows: a plain window (__KZBaseGuideWindow) with the same clear
// background and white rounded content, never resizable, always movable by its background,
// without a type tag or collection behaviour, with the title-bar buttons where the window puts
// them. customInit is not called; setupViews and setupViewsLayout are.

#include <memory>
#include <string>

#include "app/windows/KZBaseWindowController.h"
#include "kit/ui/Window.h"

class __KZBaseGuideWindow : public kit::Window {
public:
    using kit::Window::Window;
    std::string className() const override { return "__KZBaseGuideWindow"; }
    bool canBecomeKeyWindow() const override { return true; }
};

class KZBaseGuideWindowController : public KZBaseWindowController, public kit::WindowDelegate {
public:
    using KZBaseWindowController::KZBaseWindowController;

    void initWindow() override;
    void __windowButtonOffset() override {}

    // This controller as the window delegate it declares itself to be, for subclasses that set it.
    std::weak_ptr<kit::WindowDelegate> weakWindowDelegate();
};
