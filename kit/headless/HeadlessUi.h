#pragma once
// The headless user-interface backend, and the test fixture that installs it. While a HeadlessUi
// lives, kit/ui runs on it: windows get recording peers, the screens and the mouse are what the
// test says, panels answer what the test scripted, and the test drives windows with synthetic
// events. Install it after the run loop (TestEnvironment) and destroy it before:
//
//   kit::TestEnvironment env;
//   kit::HeadlessUi ui;                       // one 1440 x 900 screen, application active
//   auto window = kit::create<kit::Window>(kit::Rect{0, 0, 400, 300}, kit::WindowStyleTitled);
//   window->makeKeyAndOrderFront();
//   ui.click(*window, {20, 20});
//   env.runUntilIdle();
//
// Synthetic events go through Application::sendEvent (so local monitors see them); outside
// events go to the global monitors only.

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Result.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Event.h"
#include "kit/ui/Image.h"
#include "kit/ui/Screen.h"

namespace kit {

class View;
class Window;

// Records what a window told its backend.
class HeadlessWindowPeer final : public WindowPeer {
public:
    void windowDidChange(WindowChange change) override { changes.push_back(change); }
    void windowNeedsDisplay() override { ++displayRequests; }

    std::size_t count(WindowChange change) const;

    std::vector<WindowChange> changes;
    std::size_t displayRequests = 0;
};

class HeadlessBackend final : public UiBackend {
public:
    // A panel's answer after it was shown (staying up first when panelsStayUpFor is set).
    PanelAnswer answerPanel(std::deque<PanelAnswer>& answers);
    std::unique_ptr<WindowPeer> makeWindowPeer(Window& window) override;
    Point mouseLocation() const override {
        ++mouseQueries;
        return mouse;
    }
    unsigned pressedMouseButtons() const override { return buttons; }
    unsigned modifierFlags() const override { return modifiers; }
    Appearance systemAppearance() const override { return appearance; }
    bool drawsWindowShadows() const override { return shadows; }
    PanelAnswer runOpenPanel(const OpenPanel& panel) override;
    PanelAnswer runSavePanel(const SavePanel& panel) override;
    void pasteboardDidChange(const Pasteboard&) override { ++pasteboardChanges; }
    // Records the alert's message and answers the next scripted button (the first button when
    // none is scripted).
    long runAlert(const Alert& alert) override;

    // What the user or the display did, told to the model as a real backend tells it.
    void userResize(Window& window, const Rect& proposedFrame) { window.userResize(backendBadge(), proposedFrame); }
    void windowManagerPlace(Window& window, const Rect& frame) { window.displayDidPlace(backendBadge(), frame); }
    void setOcclusionState(Window& window, unsigned state) { window.setOcclusionState(backendBadge(), state); }
    void setApplicationActive(bool active);
    void setScreens(const std::vector<ScreenDescription>& screens) { Screen::updateScreens(backendBadge(), screens); }
    void setSystemAppearance(Appearance systemAppearance);
    void setDrawsWindowShadows(bool drawn);

    Point mouse;
    // Times the pointer was asked for (a round trip to the display on the desktop).
    mutable std::size_t mouseQueries = 0;
    unsigned buttons = 0;
    unsigned modifiers = 0;
    Appearance appearance = Appearance::Light;
    bool shadows = true;
    // What a panel run was asked to show.
    struct PanelRecord {
        bool open = false;
        bool sheet = false;
        std::string nameFieldStringValue;
        std::vector<std::string> allowedFileTypes;
        bool canChooseFiles = false;
        bool canChooseDirectories = false;
        bool allowsMultipleSelection = false;
    };
    std::vector<PanelRecord> panelsShown;
    std::deque<PanelAnswer> openAnswers;
    std::deque<PanelAnswer> saveAnswers;
    std::size_t openPanelsRun = 0;
    std::size_t savePanelsRun = 0;
    // Panels stay up on a nested loop for this many seconds of the clock, as a person deciding
    // (or until nothing else is left to run); then they take their scripted answer. A
    // termination request ends them as cancelled. maxPanelsUp is the most panels up at once.
    double panelsStayUpFor = 0;
    int panelsUp = 0;
    int maxPanelsUp = 0;
    std::size_t pasteboardChanges = 0;
    std::deque<long> alertAnswers;
    std::vector<std::string> alertsShown;
    // Their informative texts, in the same order.
    std::vector<std::string> alertDetailsShown;
};

class HeadlessUi {
public:
    // Installs the backend and a fresh application state with one screen: frame 1440 x 900,
    // visible frame without a 25-point menu bar. The application starts active, in light mode.
    HeadlessUi();
    ~HeadlessUi();
    HeadlessUi(const HeadlessUi&) = delete;
    HeadlessUi& operator=(const HeadlessUi&) = delete;

    HeadlessBackend& backend() { return *backend_; }
    // The recording peer of a window.
    HeadlessWindowPeer& peer(const Window& window);

    // Screens.
    static ScreenDescription makeScreen(std::string identifier, Rect frame, double menuBarHeight = 25,
                                        double dockHeight = 0);
    void setScreens(const std::vector<ScreenDescription>& screens);

    // System state.
    void setMouseLocation(Point screenPoint) { backend_->mouse = screenPoint; }
    void setSystemAppearance(Appearance appearance);
    // A compositor comes (shadows drawn) or goes.
    void setDrawsWindowShadows(bool drawn) { backend_->setDrawsWindowShadows(drawn); }
    void setApplicationActive(bool active) { backend_->setApplicationActive(active); }
    // The user resizes or moves a window (min and max size and the delegate apply).
    void userResize(Window& window, const Rect& proposedFrame) { backend_->userResize(window, proposedFrame); }
    // The window manager gives a window a frame of its own choosing (tiled, full screen), whatever
    // the window's size limits.
    void windowManagerPlace(Window& window, const Rect& frame) { backend_->windowManagerPlace(window, frame); }
    // The display reports what is seen of a window.
    void setOcclusionState(Window& window, unsigned state) { backend_->setOcclusionState(window, state); }

    // Synthetic events on a window, at points in the window's base coordinates. Each mouse event
    // first moves the mouse there (a moved or dragged event, updating tracking areas).
    void moveMouse(Point screenPoint);
    void mouseDown(Window& window, Point point, unsigned modifiers = 0, int clickCount = 1);
    void mouseUp(Window& window, Point point, unsigned modifiers = 0, int clickCount = 1);
    void click(Window& window, Point point, unsigned modifiers = 0);
    // Down at `from`, `steps` dragged events on the way, up at `to`.
    void drag(Window& window, Point from, Point to, int steps = 4);
    void rightClick(Window& window, Point point);
    // A wheel: precise deltas come from a touchpad, the others from a mouse wheel's notches.
    void scroll(Window& window, Point point, double deltaX, double deltaY, unsigned modifiers = 0, bool precise = true);
    void keyDown(Window& window, unsigned short keyCode, std::string characters, unsigned modifiers = 0);
    void keyUp(Window& window, unsigned short keyCode, std::string characters, unsigned modifiers = 0);
    // The middle of a view, in its window's base coordinates.
    static Point centerOf(const View& view);
    void clickView(const View& view);
    // Tracking-area events delivered directly to the area's owner.
    void sendEntered(Window& window, const std::shared_ptr<TrackingArea>& area);
    void sendExited(Window& window, const std::shared_ptr<TrackingArea>& area);
    void send(const Event& event);

    // Events of other applications (global monitors only). A click elsewhere first deactivates
    // this application unless `staysActive`.
    void outsideMouseDown(Point screenPoint, bool staysActive = false);
    void outsideMouseUp(Point screenPoint);
    void outsideScroll(Point screenPoint, double deltaX, double deltaY);
    void outsideKeyDown(unsigned short keyCode, std::string characters, unsigned modifiers = 0);
    void sendOutside(const Event& event);

    // Panels answer these, in order; with none scripted they answer Cancel.
    void scriptOpenPanel(ModalResponse response, std::vector<std::filesystem::path> urls = {});
    void scriptSavePanel(ModalResponse response, std::filesystem::path url = {});

    // Rendering.
    Image render(Window& window, double scale = 1.0);
    Status writePng(Window& window, const std::filesystem::path& path, double scale = 1.0);

private:
    Event mouseEvent(EventType type, Window& window, Point point, unsigned modifiers, int clickCount) const;
    void sendKey(EventType type, Window& window, unsigned short keyCode, std::string characters, unsigned modifiers);
    std::shared_ptr<HeadlessBackend> backend_;
    std::weak_ptr<Window> dragWindow_;
};

}  // namespace kit
