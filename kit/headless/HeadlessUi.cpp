#include "kit/headless/HeadlessUi.h"

#include <algorithm>

#include "kit/base/RunLoop.h"
#include "kit/headless/OffscreenRenderer.h"
#include "kit/ui/Alert.h"
#include "kit/ui/AnimationInternal.h"
#include "kit/ui/Application.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Image.h"
#include "kit/ui/Panels.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace kit {

std::size_t HeadlessWindowPeer::count(WindowChange change) const {
    return static_cast<std::size_t>(std::count(changes.begin(), changes.end(), change));
}

std::unique_ptr<WindowPeer> HeadlessBackend::makeWindowPeer(Window&) { return std::make_unique<HeadlessWindowPeer>(); }

PanelAnswer HeadlessBackend::runOpenPanel(const OpenPanel& panel) {
    ++openPanelsRun;
    panelsShown.push_back({true, panel.sheetWindow() != nullptr, panel.nameFieldStringValue, panel.allowedFileTypes,
                           panel.canChooseFiles, panel.canChooseDirectories, panel.allowsMultipleSelection});
    return answerPanel(openAnswers);
}

PanelAnswer HeadlessBackend::answerPanel(std::deque<PanelAnswer>& answers) {
    if (panelsStayUpFor > 0) {
        bool ended = false;
        ModalDialogScope scope([&ended] { ended = true; });
        ended = scope.ended();
        maxPanelsUp = std::max(maxPanelsUp, ++panelsUp);
        const double until = RunLoop::main().now() + panelsStayUpFor;
        RunLoop::main().runNested([&ended, until] { return ended || RunLoop::main().now() >= until; });
        --panelsUp;
        if (ended) return {};
    }
    if (answers.empty()) return {};
    PanelAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

long HeadlessBackend::runAlert(const Alert& alert) {
    alertsShown.push_back(alert.messageText);
    alertDetailsShown.push_back(alert.informativeText);
    if (alertAnswers.empty()) return kAlertFirstButtonReturn;
    const long answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
}

PanelAnswer HeadlessBackend::runSavePanel(const SavePanel& panel) {
    ++savePanelsRun;
    panelsShown.push_back({false, panel.sheetWindow() != nullptr, panel.nameFieldStringValue, panel.allowedFileTypes});
    return answerPanel(saveAnswers);
}

HeadlessUi::HeadlessUi() : backend_(std::make_shared<HeadlessBackend>()) {
    UiBackend::install(backend_);
    animation::resetAll();
    Application::shared().reset();
    Image::clearNamedCache();
    Pasteboard::general().clearContents();
    setScreens({makeScreen("main", {0, 0, 1440, 900})});
}

HeadlessUi::~HeadlessUi() {
    Application::shared().reset();
    animation::resetAll();
    backend_->setScreens({});
    UiBackend::uninstall();
}

HeadlessWindowPeer& HeadlessUi::peer(const Window& window) { return *static_cast<HeadlessWindowPeer*>(window.peer()); }

ScreenDescription HeadlessUi::makeScreen(std::string identifier, Rect frame, double menuBarHeight, double dockHeight) {
    ScreenDescription description;
    description.identifier = identifier;
    description.name = std::move(identifier);
    description.frame = frame;
    description.visibleFrame = {frame.minX(), frame.minY() + dockHeight, frame.width(),
                                frame.height() - menuBarHeight - dockHeight};
    return description;
}

void HeadlessUi::setScreens(const std::vector<ScreenDescription>& screens) { backend_->setScreens(screens); }

void HeadlessUi::setSystemAppearance(Appearance appearance) {
    backend_->setSystemAppearance(appearance);
}

void HeadlessBackend::setSystemAppearance(Appearance systemAppearance) {
    appearance = systemAppearance;
    Application::shared().systemAppearanceDidChange(backendBadge());
}

void HeadlessBackend::setDrawsWindowShadows(bool drawn) {
    shadows = drawn;
    Application::shared().windowShadowsDidChange(backendBadge());
}

void HeadlessBackend::setApplicationActive(bool active) { Application::shared().setActiveFromBackend(backendBadge(), active); }

Event HeadlessUi::mouseEvent(EventType type, Window& window, Point point, unsigned modifiers, int clickCount) const {
    Event event;
    event.type = type;
    event.window = window.weak_from_this();
    event.locationInWindow = point;
    event.timestamp = RunLoop::main().now();
    event.modifierFlags = modifiers;
    event.clickCount = clickCount;
    return event;
}

void HeadlessUi::send(const Event& event) { Application::shared().sendEvent(event); }

void HeadlessUi::moveMouse(Point screenPoint) {
    backend_->mouse = screenPoint;
    Event event;
    event.type = (backend_->buttons & 1) ? EventType::LeftMouseDragged : EventType::MouseMoved;
    event.timestamp = RunLoop::main().now();
    event.modifierFlags = backend_->modifiers;
    auto& app = Application::shared();
    std::shared_ptr<Window> target;
    if (event.type == EventType::MouseMoved) {
        target = app.windowAtPoint(screenPoint);
    } else if (auto* current = app.currentEvent(); current) {
        target = current->windowShared();
    }
    if (event.type == EventType::LeftMouseDragged && !target) target = dragWindow_.lock();
    if (target) {
        event.window = target;
        event.locationInWindow = target->convertPointFromScreen(screenPoint);
    } else {
        event.locationInWindow = screenPoint;
    }
    send(event);
}

void HeadlessUi::mouseDown(Window& window, Point point, unsigned modifiers, int clickCount) {
    moveMouse(window.convertPointToScreen(point));
    backend_->buttons |= 1;
    dragWindow_ = window.weak_from_this();
    send(mouseEvent(EventType::LeftMouseDown, window, point, modifiers, clickCount));
}

void HeadlessUi::mouseUp(Window& window, Point point, unsigned modifiers, int clickCount) {
    if (backend_->mouse != window.convertPointToScreen(point)) moveMouse(window.convertPointToScreen(point));
    backend_->buttons &= ~1u;
    dragWindow_.reset();
    send(mouseEvent(EventType::LeftMouseUp, window, point, modifiers, clickCount));
}

void HeadlessUi::click(Window& window, Point point, unsigned modifiers) {
    mouseDown(window, point, modifiers);
    mouseUp(window, point, modifiers);
}

void HeadlessUi::drag(Window& window, Point from, Point to, int steps) {
    mouseDown(window, from);
    // Screen positions are fixed at the start: the window may move under the mouse.
    const Point start = window.convertPointToScreen(from);
    const Point end = window.convertPointToScreen(to);
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        moveMouse({start.x + (end.x - start.x) * t, start.y + (end.y - start.y) * t});
    }
    backend_->buttons &= ~1u;
    dragWindow_.reset();
    send(mouseEvent(EventType::LeftMouseUp, window, window.convertPointFromScreen(end), 0, 1));
}

void HeadlessUi::rightClick(Window& window, Point point) {
    moveMouse(window.convertPointToScreen(point));
    send(mouseEvent(EventType::RightMouseDown, window, point, 0, 1));
    send(mouseEvent(EventType::RightMouseUp, window, point, 0, 1));
}

void HeadlessUi::scroll(Window& window, Point point, double deltaX, double deltaY, unsigned modifiers, bool precise) {
    moveMouse(window.convertPointToScreen(point));
    Event event = mouseEvent(EventType::ScrollWheel, window, point, modifiers, 0);
    event.scrollingDeltaX = deltaX;
    event.scrollingDeltaY = deltaY;
    event.hasPreciseScrollingDeltas = precise;
    send(event);
}

void HeadlessUi::keyDown(Window& window, unsigned short keyCode, std::string characters, unsigned modifiers) {
    sendKey(EventType::KeyDown, window, keyCode, std::move(characters), modifiers);
}

void HeadlessUi::keyUp(Window& window, unsigned short keyCode, std::string characters, unsigned modifiers) {
    sendKey(EventType::KeyUp, window, keyCode, std::move(characters), modifiers);
}

void HeadlessUi::sendKey(EventType type, Window& window, unsigned short keyCode, std::string characters,
                         unsigned modifiers) {
    Event event = mouseEvent(type, window, window.mouseLocationOutsideOfEventStream(), modifiers, 0);
    event.keyCode = keyCode;
    event.charactersIgnoringModifiers = characters;
    event.characters = std::move(characters);
    send(event);
}

Point HeadlessUi::centerOf(const View& view) {
    const Rect b = view.bounds();
    return view.convertPointToView({b.midX(), b.midY()}, nullptr);
}

void HeadlessUi::clickView(const View& view) {
    auto window = view.window();
    if (window) click(*window, centerOf(view));
}

void HeadlessUi::sendEntered(Window& window, const std::shared_ptr<TrackingArea>& area) {
    Event event = mouseEvent(EventType::MouseEntered, window, window.mouseLocationOutsideOfEventStream(), 0, 0);
    event.trackingArea = area;
    send(event);
}

void HeadlessUi::sendExited(Window& window, const std::shared_ptr<TrackingArea>& area) {
    Event event = mouseEvent(EventType::MouseExited, window, window.mouseLocationOutsideOfEventStream(), 0, 0);
    event.trackingArea = area;
    send(event);
}

namespace {
Event outsideEvent(EventType type, Point screenPoint) {
    Event event;
    event.type = type;
    event.locationInWindow = screenPoint;
    event.timestamp = RunLoop::main().now();
    event.clickCount = 1;
    return event;
}
}  // namespace

void HeadlessUi::outsideMouseDown(Point screenPoint, bool staysActive) {
    backend_->mouse = screenPoint;
    // The mouse left our windows for another application's.
    auto& app = Application::shared();
    for (auto& window : app.orderedWindows()) window->updateTracking(screenPoint, false, nullptr);
    if (!staysActive) app.deactivate();
    sendOutside(outsideEvent(EventType::LeftMouseDown, screenPoint));
}

void HeadlessUi::outsideMouseUp(Point screenPoint) {
    backend_->mouse = screenPoint;
    sendOutside(outsideEvent(EventType::LeftMouseUp, screenPoint));
}

void HeadlessUi::outsideScroll(Point screenPoint, double deltaX, double deltaY) {
    Event event = outsideEvent(EventType::ScrollWheel, screenPoint);
    event.scrollingDeltaX = deltaX;
    event.scrollingDeltaY = deltaY;
    sendOutside(event);
}

void HeadlessUi::outsideKeyDown(unsigned short keyCode, std::string characters, unsigned modifiers) {
    Event event = outsideEvent(EventType::KeyDown, backend_->mouse);
    event.keyCode = keyCode;
    event.modifierFlags = modifiers;
    event.charactersIgnoringModifiers = characters;
    event.characters = std::move(characters);
    sendOutside(event);
}

void HeadlessUi::sendOutside(const Event& event) { Application::shared().sendOutsideEvent(event); }

void HeadlessUi::scriptOpenPanel(ModalResponse response, std::vector<std::filesystem::path> urls) {
    backend_->openAnswers.push_back({response, std::move(urls)});
}

void HeadlessUi::scriptSavePanel(ModalResponse response, std::filesystem::path url) {
    PanelAnswer answer{response, {}};
    if (!url.empty()) answer.urls.push_back(std::move(url));
    backend_->saveAnswers.push_back(std::move(answer));
}

Image HeadlessUi::render(Window& window, double scale) { return renderWindow(window, scale); }

Status HeadlessUi::writePng(Window& window, const std::filesystem::path& path, double scale) {
    return writeWindowPng(window, path, scale);
}

}  // namespace kit
