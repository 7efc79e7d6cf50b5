#pragma once
// Base of the application's ordinary windows (side window, login window, tool windows, dialogs,
// drop window, splash, permission tips). It builds a KZCanNotBeKeyWnd showing a white rounded
// content area on a clear window, with an optional hidden title bar and shifted title-bar
// buttons, and calls the subclass's hooks in a fixed order.
//
// Made with kit::create<Subclass>(hasTitleBar, [resizable,] windowSize): the window and every
// hook have run when create returns. Subclass constructors forward these arguments; their
// init() overrides call the base first.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Geometry.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/WindowController.h"

class KZBaseWindowController : public kit::WindowController {
public:
    // initWithTitleStyle:windowSize: (always resizable).
    KZBaseWindowController(bool hasTitleBar, kit::Size windowSize);
    // initWithTitleStyle:resizable:windowSize:
    KZBaseWindowController(bool hasTitleBar, bool resizable, kit::Size windowSize);
    ~KZBaseWindowController() override;

    // Builds the window through initWindow, then starts following the window's resizes.
    void init() override;

    bool hasTitleBar() const { return hasTitleBar_; }
    bool resizable() const { return resizable_; }
    kit::Size windowSize() const { return windowSize_; }

    // Hooks, in the order initWindow calls them.
    virtual void customInit() {}
    virtual void initWindow();
    virtual int customWindowType() { return 0; }
    virtual unsigned customWindowCollectionBehavior();
    virtual void setupViews() {}
    virtual void setupViewsLayout() {}
    virtual bool canMovableByWindowBackground() { return true; }
    // The name the window manager shows for the window (switcher, task list): the product's
    // name unless the window says what it is for.
    virtual std::string windowTitle();
    // How far the title-bar buttons move right (width) and down (height).
    virtual kit::Size windowButtonOffsetSize();
    virtual void onWindowFrameChanged() {}

    // Shifts the standard title-bar buttons by windowButtonOffsetSize from the place the
    // window gives them, never from where an earlier shift left them.
    virtual void __windowButtonOffset();
    void windowFrameChangedNoti(const kit::Notification& notification);

protected:
    // The white rounded content area every base window shows (corner radius 8).
    void styleContentView();
    // Non-opaque, transparent title bar, hidden title (windows without a title bar).
    void makeTitleBarTransparent();

private:
    struct ButtonPlacement {
        kit::Rect defaultFrame;
        std::optional<kit::Rect> appliedFrame;
    };

    bool hasTitleBar_;
    bool resizable_;
    kit::Size windowSize_;
    std::array<ButtonPlacement, 3> buttonPlacements_{};
};
