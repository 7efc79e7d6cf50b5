#include <gtest/gtest.h>

#include "kit/ui/Button.h"
#include "kit/ui/EventMonitor.h"
#include "tests/kit/ui/UiTestSupport.h"

namespace kit::testing {
namespace {

using Strings = std::vector<std::string>;

class EventRoutingTest : public UiTest {
protected:
    void SetUp() override {
        window = makeWindow({100, 100, 400, 300}, WindowStyleTitled | WindowStyleClosable | WindowStyleResizable);
        back = create<RecordingView>(Rect{0, 0, 200, 200});
        front = create<RecordingView>(Rect{50, 50, 100, 100});
        child = create<RecordingView>(Rect{10, 10, 20, 20});
        window->contentView()->addSubview(back);
        window->contentView()->addSubview(front);
        front->addSubview(child);
        window->makeKeyAndOrderFront();
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<RecordingView> back, front, child;
};

TEST_F(EventRoutingTest, HitTestingFindsTheDeepestTopmostVisibleView) {
    auto root = window->frameView();
    EXPECT_EQ(root->hitTest({65, 65}).get(), child.get());  // child spans 60..80 in the window
    EXPECT_EQ(root->hitTest({55, 55}).get(), front.get());  // front covers back here
    EXPECT_EQ(root->hitTest({20, 20}).get(), back.get());
    EXPECT_EQ(root->hitTest({300, 250}).get(), window->contentView().get());
    EXPECT_EQ(root->hitTest({395, 310}).get(), window->standardWindowButton(WindowButton::Close)->superview());
    front->setHidden(true);
    EXPECT_EQ(root->hitTest({65, 65}).get(), back.get()) << "hidden views and their children are skipped";
    front->setHidden(false);
    // A child reaching outside its superview cannot be hit there.
    child->setFrame({90, 90, 40, 40});
    EXPECT_EQ(root->hitTest({145, 145}).get(), child.get());
    EXPECT_EQ(root->hitTest({160, 160}).get(), back.get());
}

TEST_F(EventRoutingTest, MouseUpAndDragsGoToTheViewThatTookTheMouseDown) {
    ui.mouseDown(*window, {65, 65});
    ui.moveMouse(window->convertPointToScreen({300, 250}));
    ui.mouseUp(*window, {300, 250});
    EXPECT_EQ(child->events, (Strings{"down", "dragged", "up"}));
    EXPECT_TRUE(front->events.empty());
    EXPECT_TRUE(back->events.empty());
}

TEST_F(EventRoutingTest, UnhandledEventsBubbleToTheSuperview) {
    child->passOn = true;
    ui.click(*window, {65, 65});
    ui.scroll(*window, {65, 65}, 0, 3);
    EXPECT_EQ(child->events, (Strings{"down", "up", "scroll"}));
    EXPECT_EQ(front->events, (Strings{"down", "up", "scroll"}));
    EXPECT_TRUE(back->events.empty());
}

TEST_F(EventRoutingTest, KeyEventsGoToTheFirstResponderOfTheKeyWindow) {
    ASSERT_TRUE(window->makeFirstResponder(front));
    ui.keyDown(*window, 0, "a");
    EXPECT_EQ(front->events, (Strings{"key"}));
}

TEST_F(EventRoutingTest, ClickOnAnInactiveWindowReachesOnlyViewsThatAcceptTheFirstMouse) {
    auto other = makeWindow({600, 100, 200, 200});
    other->makeKeyAndOrderFront();
    ASSERT_FALSE(window->isKeyWindow());
    child->firstMouse = false;
    ui.click(*window, {65, 65});
    EXPECT_TRUE(child->events.empty());
    EXPECT_TRUE(window->isKeyWindow()) << "the click still makes the window key";
    ui.click(*window, {65, 65});
    EXPECT_EQ(child->events, (Strings{"down", "up"}));

    other->makeKeyAndOrderFront();
    front->firstMouse = true;
    ui.click(*window, {55, 55});
    EXPECT_EQ(front->events, (Strings{"down", "up"})) << "a view that accepts the first mouse gets the activating click";
}

TEST_F(EventRoutingTest, ClickWhileTheApplicationIsInactiveActivatesIt) {
    ui.setApplicationActive(false);
    EXPECT_FALSE(window->isKeyWindow());
    child->firstMouse = false;
    ui.click(*window, {65, 65});
    EXPECT_TRUE(Application::shared().isActive());
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_TRUE(child->events.empty());
}

TEST_F(EventRoutingTest, TrackingAreasReportEnterMoveAndExit) {
    auto area = TrackingArea::make(front->bounds(), TrackingMouseEnteredAndExited | TrackingMouseMoved | TrackingActiveAlways);
    front->addTrackingArea(area);
    ui.moveMouse(window->convertPointToScreen({10, 10}));
    EXPECT_TRUE(front->events.empty());
    ui.moveMouse(window->convertPointToScreen({60, 60}));
    ui.moveMouse(window->convertPointToScreen({70, 60}));
    ui.moveMouse(window->convertPointToScreen({300, 250}));
    EXPECT_EQ(front->events, (Strings{"entered", "moved", "exited"}));
}

TEST_F(EventRoutingTest, TrackingAreaActivityFollowsItsOptions) {
    auto keyOnly = TrackingArea::make(front->bounds(), TrackingMouseEnteredAndExited | TrackingActiveInKeyWindow);
    front->addTrackingArea(keyOnly);
    auto other = makeWindow({600, 100, 200, 200});
    other->makeKeyAndOrderFront();
    ui.moveMouse(window->convertPointToScreen({60, 60}));
    EXPECT_TRUE(front->events.empty()) << "not key: the area is inactive";
    window->makeKeyAndOrderFront();
    ui.moveMouse(window->convertPointToScreen({61, 60}));
    EXPECT_EQ(front->events, (Strings{"entered"}));
}

TEST_F(EventRoutingTest, TrackingExitsWhenAnotherWindowCoversThePointOrTheViewHides) {
    auto area = TrackingArea::make(front->bounds(), TrackingMouseEnteredAndExited | TrackingActiveAlways);
    front->addTrackingArea(area);
    ui.moveMouse(window->convertPointToScreen({60, 60}));
    front->setHidden(true);
    ui.moveMouse(window->convertPointToScreen({61, 60}));
    EXPECT_EQ(front->events, (Strings{"entered", "exited"}));
    front->setHidden(false);
    auto cover = makeWindow({100, 100, 300, 300});
    cover->orderFront();
    ui.moveMouse(window->convertPointToScreen({62, 60}));
    EXPECT_EQ(front->events, (Strings{"entered", "exited"})) << "covered by the window in front";
}

TEST_F(EventRoutingTest, LocalMonitorsSeeChangeOrSwallowEventsAndGoAwayWithTheirHandle) {
    int seen = 0;
    auto swallow = EventMonitor::addLocalMonitor(EventMasks::LeftMouseDown, [&](const Event&) -> std::optional<Event> {
        ++seen;
        return std::nullopt;
    });
    EXPECT_EQ(EventMonitor::liveLocalCount(), 1u);
    ui.mouseDown(*window, {65, 65});
    EXPECT_EQ(seen, 1);
    EXPECT_TRUE(child->events.empty()) << "swallowed";
    swallow.reset();
    EXPECT_EQ(EventMonitor::liveLocalCount(), 0u);

    auto pass = EventMonitor::addLocalMonitor(EventMasks::LeftMouseDown | EventMasks::LeftMouseUp,
                                              [&](const Event& e) -> std::optional<Event> {
                                                  ++seen;
                                                  return e;
                                              });
    ui.click(*window, {65, 65});
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(child->events, (Strings{"down", "up"}));
}

TEST_F(EventRoutingTest, MonitorMayRemoveItselfWhileHandling) {
    std::shared_ptr<EventMonitor> monitor;
    int calls = 0;
    monitor = EventMonitor::addLocalMonitor(EventMasks::Any, [&](const Event& e) -> std::optional<Event> {
        ++calls;
        monitor.reset();
        return e;
    });
    ui.click(*window, {65, 65});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(EventMonitor::liveLocalCount(), 0u);
}

TEST_F(EventRoutingTest, GlobalMonitorsSeeOnlyOtherApplicationsEvents) {
    std::vector<EventType> global;
    auto monitor = EventMonitor::addGlobalMonitor(EventMasks::LeftMouseDown | EventMasks::ScrollWheel,
                                                  [&](const Event& e) { global.push_back(e.type); });
    ui.click(*window, {65, 65});
    EXPECT_TRUE(global.empty());
    ui.outsideMouseDown({1000, 800});
    ui.outsideScroll({1000, 800}, 0, 1);
    ui.outsideKeyDown(1, "s");
    EXPECT_EQ(global, (std::vector<EventType>{EventType::LeftMouseDown, EventType::ScrollWheel}));
    EXPECT_FALSE(Application::shared().isActive()) << "a click elsewhere activates the other application";
    EXPECT_FALSE(window->isKeyWindow());
    EXPECT_EQ(EventMonitor::liveGlobalCount(), 1u);
    monitor.reset();
    EXPECT_EQ(EventMonitor::liveGlobalCount(), 0u);
}

TEST_F(EventRoutingTest, ButtonWhoseActionClosesItsWindowOutlivesTheEvent) {
    std::weak_ptr<Window> weakWindow;
    std::weak_ptr<Button> weakButton;
    bool aliveInAction = false;
    {
        auto transient = makeWindow({500, 500, 200, 100});
        auto button = Button::withTitle("Close", [&](Control& sender) {
            transient->close();
            transient.reset();  // the last owner lets go inside the action
            aliveInAction = sender.window() != nullptr || !weakWindow.expired();
        });
        button->setFrame({10, 10, 80, 30});
        transient->contentView()->addSubview(button);
        transient->makeKeyAndOrderFront();
        weakWindow = transient;
        weakButton = button;
        ui.click(*transient, HeadlessUi::centerOf(*button));
    }
    EXPECT_TRUE(aliveInAction);
    EXPECT_FALSE(weakWindow.expired()) << "released on a later turn, not inside the event";
    env.runUntilIdle();
    EXPECT_TRUE(weakWindow.expired());
    EXPECT_TRUE(weakButton.expired());
}

TEST_F(EventRoutingTest, ButtonSendsItsActionOnlyWhenReleasedInside) {
    int clicks = 0;
    auto button = Button::withTitle("OK", [&](Control&) { ++clicks; });
    button->setFrame({250, 20, 80, 30});
    window->contentView()->addSubview(button);
    ui.click(*window, {260, 30});
    EXPECT_EQ(clicks, 1);
    ui.drag(*window, {260, 30}, {390, 290});
    EXPECT_EQ(clicks, 1) << "released outside";
    EXPECT_FALSE(button->isHighlighted());
    button->setEnabled(false);
    ui.click(*window, {260, 30});
    EXPECT_FALSE(button->accessibilityPerformPress());
    EXPECT_EQ(clicks, 1);
    button->setEnabled(true);
    EXPECT_TRUE(button->accessibilityPerformPress());
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(button->accessibilityRole(), "button");
    EXPECT_EQ(button->accessibilityLabel(), "OK");
}

TEST_F(EventRoutingTest, TargetActionIsHeldWeakly) {
    struct Target {
        int clicks = 0;
        void onClick(Control&) { ++clicks; }
    };
    auto target = std::make_shared<Target>();
    auto button = Button::withTitle("Go");
    button->setTarget(target, &Target::onClick);
    EXPECT_TRUE(button->sendAction());
    EXPECT_EQ(target->clicks, 1);
    target.reset();
    button->sendAction();  // nothing to call, nothing breaks
}

TEST_F(EventRoutingTest, MovableByBackgroundDragsTheWindowFromViewsThatLetIt) {
    window->setMovableByWindowBackground(true);
    child->passOn = true;
    front->passOn = true;
    back->passOn = true;
    const Point origin = window->frame().origin;
    ui.drag(*window, {65, 65}, {85, 45});
    EXPECT_EQ(window->frame().origin, (Point{origin.x + 20, origin.y - 20}));

    // A button keeps its clicks: no move.
    auto button = Button::withTitle("B");
    button->setFrame({250, 20, 80, 30});
    window->contentView()->addSubview(button);
    const Point before = window->frame().origin;
    ui.drag(*window, {260, 30}, {280, 60});
    EXPECT_EQ(window->frame().origin, before);

    // Not movable at all: no move.
    window->setMovable(false);
    ui.drag(*window, {65, 65}, {85, 45});
    EXPECT_EQ(window->frame().origin, before);
}

}  // namespace
}  // namespace kit::testing
