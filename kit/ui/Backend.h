#pragma once
// The seam between the model objects of kit/ui and a backend. A window tells its peer about
// every change; the backend answers questions only it can (mouse, system appearance, panels)
// and pushes what the user does into the model: events through Application::sendEvent, screens
// through Screen::updateScreens, user resizing through Window::userResize, appearance through
// Application::systemAppearanceDidChange, activation through Application::setActiveFromBackend.
// Those operations, but for events, take the BackendBadge that only backends can make.
//
// The default backend, used until one is installed, shows nothing and answers neutrally.

#include <filesystem>
#include <memory>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/Appearance.h"
#include "kit/ui/Window.h"

namespace kit {

class OpenPanel;
class SavePanel;
class Pasteboard;
class StatusItem;
class StatusItemPeer;
class Alert;

enum class WindowChange {
    Frame,
    Visibility,
    Level,
    Style,  // the style mask, or the size limits
    Title,
    Look,  // opacity, background colour, alpha, shadow
    KeyStatus,
    Sheet,
    Closed,
    // A window already on screen was ordered to the front of its level.
    Order,
    // A window that will be shown soon: the backend readies what it can ahead (nothing is shown).
    Prepare,
};

class WindowPeer {
public:
    virtual ~WindowPeer() = default;
    virtual void windowDidChange(WindowChange change) = 0;
    // Some views need redrawing.
    virtual void windowNeedsDisplay() = 0;
    // True when the backend reports the window's occlusion through Window::setOcclusionState;
    // otherwise a window counts as visible from the moment it is ordered in.
    virtual bool reportsOcclusion() const { return false; }

protected:
    // For the operations only a backend may call.
    static BackendBadge backendBadge() { return {}; }
};

struct PanelAnswer {
    ModalResponse response = ModalResponses::Cancel;
    std::vector<std::filesystem::path> urls;
};

class UiBackend {
public:
    virtual ~UiBackend() = default;

    static UiBackend& current();
    static void install(std::shared_ptr<UiBackend> backend);
    // Back to the default backend.
    static void uninstall();

    virtual std::unique_ptr<WindowPeer> makeWindowPeer(Window& window);
    virtual Point mouseLocation() const { return {}; }
    virtual unsigned pressedMouseButtons() const { return 0; }
    virtual unsigned modifierFlags() const { return 0; }
    virtual Appearance systemAppearance() const { return Appearance::Light; }
    // Whether something (a compositor) draws shadows under windows and blends what they leave
    // transparent with what lies behind.
    virtual bool drawsWindowShadows() const { return true; }
    virtual void activateApplication() {}
    virtual void deactivateApplication() {}
    // Runs a panel to its end (modal, or the answer the sheet or begin() completion gets).
    virtual PanelAnswer runOpenPanel(const OpenPanel& panel);
    virtual PanelAnswer runSavePanel(const SavePanel& panel);
    virtual void pasteboardDidChange(const Pasteboard& pasteboard) { (void)pasteboard; }
    // The peer that shows a status item (none: the item only holds its state). A peer factory
    // set on the status bar takes precedence.
    virtual std::unique_ptr<StatusItemPeer> makeStatusItemPeer(StatusItem& item);
    // Shows an alert and answers the button chosen (an installed Alert presenter takes
    // precedence). The default answers the first button.
    virtual long runAlert(const Alert& alert);

protected:
    // For the operations only a backend may call.
    static BackendBadge backendBadge() { return {}; }
};

}  // namespace kit
