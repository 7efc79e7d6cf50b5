#include <gtest/gtest.h>

#include <type_traits>

#include "kit/base/RunLoop.h"
#include "kit/ui/Alert.h"
#include "kit/ui/Control.h"
#include "kit/ui/Screen.h"
#include "kit/ui/WindowController.h"
#include "tests/kit/ui/UiTestSupport.h"

namespace kit::testing {
namespace {

class WindowTest : public UiTest {};

// What a user did to a window reaches it only through a backend: nothing else makes the key.
static_assert(!std::is_default_constructible_v<BackendBadge>);

struct Delegate : WindowDelegate {
    bool allowClose = true;
    std::vector<std::string> calls;
    bool windowShouldClose(Window&) override {
        calls.push_back("should");
        return allowClose;
    }
    void windowWillClose(Window&) override { calls.push_back("will"); }
    void windowDidBecomeKey(Window&) override { calls.push_back("key"); }
    void windowDidResignKey(Window&) override { calls.push_back("resign"); }
    void windowDidResize(Window&) override { calls.push_back("resize"); }
};

TEST_F(WindowTest, FrameFollowsTheContentRectAndTheStyle) {
    auto titled = makeWindow({10, 20, 400, 300});
    EXPECT_EQ(titled->frame(), (Rect{10, 20, 400, 300 + kTitleBarHeight}));
    EXPECT_EQ(titled->contentView()->frame(), (Rect{0, 0, 400, 300}));
    auto fullSize = makeWindow({0, 0, 420, 800}, WindowStyleTitled | WindowStyleFullSizeContentView);
    EXPECT_EQ(fullSize->frame(), (Rect{0, 0, 420, 800}));
    EXPECT_EQ(fullSize->contentView()->frame(), (Rect{0, 0, 420, 800}));
    auto borderless = makeWindow({0, 0, 100, 50}, WindowStyleBorderless);
    EXPECT_EQ(borderless->standardWindowButton(WindowButton::Close), nullptr);
    EXPECT_FALSE(borderless->canBecomeKeyWindow());
    EXPECT_TRUE(makeWindow({0, 0, 10, 10}, WindowStyleResizable)->canBecomeKeyWindow());
}

TEST_F(WindowTest, CodeMaySetAnyFrameButTheUserIsBoundByMinAndMaxSize) {
    auto window = makeWindow({0, 0, 420, 800}, WindowStyleTitled | WindowStyleResizable | WindowStyleFullSizeContentView);
    window->setMinSize({420, 800});
    window->setMaxSize({420, 800});
    window->setFrame({1420, 20, 0, 835}, false);
    EXPECT_EQ(window->frame(), (Rect{1420, 20, 0, 835}));
    EXPECT_EQ(window->contentView()->frame().width(), 0);
    ui.userResize(*window, {100, 100, 1000, 300});
    EXPECT_EQ(window->frame(), (Rect{100, 100, 420, 800}));
}

TEST_F(WindowTest, ResizeNotificationsAndTitleBarButtonsLaidOutAnew) {
    auto window = makeWindow({0, 0, 400, 300}, WindowStyleTitled | WindowStyleClosable | WindowStyleMiniaturizable |
                                                   WindowStyleResizable | WindowStyleFullSizeContentView);
    auto close = window->standardWindowButton(WindowButton::Close);
    auto zoom = window->standardWindowButton(WindowButton::Zoom);
    ASSERT_TRUE(close && zoom);
    const Rect original = close->frame();
    close->setFrame(original.offsetBy(10, -6));
    Recorder recorder(window.get());
    window->setFrame({0, 0, 500, 300});
    EXPECT_EQ(recorder.count(kWindowDidResizeNotification), 1u);
    EXPECT_EQ(close->frame(), original) << "the title bar is laid out anew on resize";
    window->setFrame({50, 0, 500, 300});
    EXPECT_EQ(recorder.count(kWindowDidResizeNotification), 1u) << "a move is not a resize";
    EXPECT_EQ(recorder.count(kWindowDidMoveNotification), 1u);
    EXPECT_LT(close->frame().maxX(), zoom->frame().minX());
}

TEST_F(WindowTest, ASeeThroughTitleBarPassesClicksAwayFromItsButtonsToTheContent) {
    struct Case {
        unsigned style;
        Point point;  // in the window, 420 x 300
        const char* hit;
    };
    const Case cases[] = {
        {WindowStyleTitled | WindowStyleFullSizeContentView, {300, 290}, "content"},       // under the strip
        {WindowStyleTitled | WindowStyleFullSizeContentView, {14, 286}, "Button"},         // the close button
        {WindowStyleTitled | WindowStyleFullSizeContentView, {300, 100}, "content"},
        {WindowStyleTitled, {300, 290}, "TitleBarView"},                                   // a drawn title bar
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(stringFromPoint(c.point));
        auto window = makeWindow({0, 0, 420, c.style & WindowStyleFullSizeContentView ? 300.0 : 272.0}, c.style);
        auto content = create<View>(window->contentView()->bounds());
        content->setAccessibilityLabel("content");
        window->contentView()->addSubview(content);
        auto hit = window->frameView()->hitTest(c.point);
        ASSERT_NE(hit, nullptr);
        EXPECT_EQ(hit == content ? std::string("content") : hit->className(), c.hit);
    }
}

TEST_F(WindowTest, CenterPlacesTheWindowOnTheVisibleFrame) {
    auto window = makeWindow({0, 0, 420, 800}, WindowStyleTitled | WindowStyleFullSizeContentView);
    window->center();
    const Rect visible = Screen::mainScreen()->visibleFrame();
    EXPECT_DOUBLE_EQ(window->frame().midX(), visible.midX());
    EXPECT_GE(window->frame().minY(), visible.minY());
    EXPECT_LE(window->frame().maxY(), visible.maxY());
}

TEST_F(WindowTest, KeyStatusMovesBetweenWindowsWithNotifications) {
    auto a = makeWindow({0, 0, 100, 100});
    auto b = makeWindow({200, 0, 100, 100});
    auto delegate = std::make_shared<Delegate>();
    a->setDelegate(delegate);
    Recorder recorder(a.get());
    a->makeKeyAndOrderFront();
    EXPECT_TRUE(a->isKeyWindow());
    EXPECT_TRUE(a->isMainWindow());
    b->makeKeyAndOrderFront();
    EXPECT_FALSE(a->isKeyWindow());
    EXPECT_EQ(Application::shared().keyWindow(), b);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"key", "resign"}));
    std::vector<std::string> keyAndMain;
    for (const auto& name : recorder.names) {
        if (name != kWindowDidChangeOcclusionStateNotification) keyAndMain.push_back(name);
    }
    EXPECT_EQ(keyAndMain, (std::vector<std::string>{kWindowDidBecomeKeyNotification, kWindowDidBecomeMainNotification,
                                                    kWindowDidResignKeyNotification, kWindowDidResignMainNotification}));
    b->orderOut();
    EXPECT_TRUE(a->isKeyWindow()) << "key status passes to the next window";
}

TEST_F(WindowTest, OverriddenCanBecomeKeyIsRespected) {
    struct NeverKey : Window {
        using Window::Window;
        bool canBecomeKeyWindow() const override { return false; }
    };
    struct AlwaysKey : Window {
        using Window::Window;
        bool canBecomeKeyWindow() const override { return true; }
    };
    auto panel = create<NeverKey>(Rect{0, 0, 100, 100}, WindowStyleTitled);
    panel->makeKeyAndOrderFront();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isKeyWindow());
    auto borderless = create<AlwaysKey>(Rect{0, 0, 100, 100}, WindowStyleBorderless);
    borderless->makeKeyAndOrderFront();
    EXPECT_TRUE(borderless->isKeyWindow());
}

TEST_F(WindowTest, DeactivationResignsKeyAndActivationRestoresIt) {
    auto window = makeWindow({0, 0, 100, 100});
    window->makeKeyAndOrderFront();
    Recorder recorder(window.get());
    ui.setApplicationActive(false);
    EXPECT_FALSE(window->isKeyWindow());
    ui.setApplicationActive(true);
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(recorder.count(kWindowDidResignKeyNotification), 1u);
    EXPECT_EQ(recorder.count(kWindowDidBecomeKeyNotification), 1u);
}

TEST_F(WindowTest, PerformCloseAsksTheDelegateAndCloseTellsEveryone) {
    auto window = makeWindow({0, 0, 100, 100});
    auto delegate = std::make_shared<Delegate>();
    window->setDelegate(delegate);
    window->makeKeyAndOrderFront();
    Recorder recorder(window.get());
    delegate->allowClose = false;
    window->performClose();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(recorder.count(kWindowWillCloseNotification), 0u);
    delegate->allowClose = true;
    ui.click(*window, HeadlessUi::centerOf(*window->standardWindowButton(WindowButton::Close)));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(recorder.count(kWindowWillCloseNotification), 1u);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"key", "should", "should", "will", "resign"}));

    auto fixed = makeWindow({0, 0, 100, 100}, WindowStyleTitled);
    fixed->makeKeyAndOrderFront();
    fixed->performClose();
    EXPECT_TRUE(fixed->isVisible()) << "no close button, no close";
    fixed->close();
    EXPECT_FALSE(fixed->isVisible());
}

TEST_F(WindowTest, AnOrderedInWindowIsKeptAliveByTheApplicationUntilALaterTurn) {
    std::weak_ptr<Window> weak;
    {
        auto window = makeWindow({0, 0, 100, 100});
        window->orderFront();
        weak = window;
    }
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(Application::shared().orderedWindows().size(), 1u);
    weak.lock()->close();
    EXPECT_FALSE(weak.expired());
    env.runUntilIdle();
    EXPECT_TRUE(weak.expired());
}

TEST_F(WindowTest, LevelsOrderWindowsFrontToBack) {
    auto normal = makeWindow({0, 0, 100, 100});
    auto floating = makeWindow({0, 0, 100, 100});
    floating->setLevel(WindowLevel::Floating);
    floating->orderFront();
    normal->orderFront();
    auto ordered = Application::shared().orderedWindows();
    ASSERT_EQ(ordered.size(), 2u);
    EXPECT_EQ(ordered[0], floating);
    EXPECT_EQ(Application::shared().windowAtPoint({50, 50}), floating);
    floating->setIgnoresMouseEvents(true);
    EXPECT_EQ(Application::shared().windowAtPoint({50, 50}), normal);
}

TEST_F(WindowTest, SheetsAttachEndAndComplete) {
    auto parent = makeWindow({100, 100, 400, 300});
    parent->makeKeyAndOrderFront();
    auto sheet = makeWindow({0, 0, 200, 100});
    std::vector<ModalResponse> responses;
    parent->beginSheet(sheet, [&](ModalResponse r) { responses.push_back(r); });
    EXPECT_EQ(parent->attachedSheet(), sheet);
    EXPECT_EQ(sheet->sheetParent(), parent);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->isKeyWindow());
    EXPECT_DOUBLE_EQ(sheet->frame().midX(), parent->frame().midX());
    EXPECT_DOUBLE_EQ(sheet->frame().maxY(), parent->frame().maxY() - kTitleBarHeight);
    parent->endSheet(sheet, ModalResponses::OK);
    EXPECT_EQ(responses, (std::vector<ModalResponse>{ModalResponses::OK}));
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(parent->attachedSheet(), nullptr);
    EXPECT_TRUE(parent->isKeyWindow());
    parent->endSheet(sheet, ModalResponses::OK);
    EXPECT_EQ(responses.size(), 1u) << "ending twice completes once";

    // Sheets begun while one is up wait their turn; one ended while waiting never comes up.
    std::vector<std::string> ended;
    auto second = makeWindow({0, 0, 200, 100});
    auto third = makeWindow({0, 0, 200, 100});
    parent->beginSheet(sheet, [&](ModalResponse) { ended.push_back("first"); });
    parent->beginSheet(second, [&](ModalResponse) { ended.push_back("second"); });
    parent->beginSheet(third, [&](ModalResponse) { ended.push_back("third"); });
    parent->beginSheet(second);  // already waiting: nothing changes
    EXPECT_EQ(parent->attachedSheet(), sheet);
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(second->sheetParent(), parent);
    parent->endSheet(sheet);
    EXPECT_EQ(parent->attachedSheet(), second);
    EXPECT_TRUE(second->isKeyWindow());
    parent->endSheet(third);
    parent->endSheet(second);
    EXPECT_EQ(parent->attachedSheet(), nullptr);
    EXPECT_FALSE(third->isVisible());
    EXPECT_EQ(ended, (std::vector<std::string>{"first", "third", "second"}));

    // A delegate that lowers the attachment 40 points (a tab strip): the sheet hangs there, shows no
    // title bar while it is a sheet, and goes with its window when that moves or resizes.
    struct BelowStrip : WindowDelegate {
        Rect windowWillPositionSheet(Window& window, Window&, Rect proposed) override {
            return {proposed.minX(), window.frame().height() - 40, proposed.width(), 0};
        }
    };
    auto delegate = std::make_shared<BelowStrip>();
    parent->setDelegate(delegate);
    auto closeButton = sheet->standardWindowButton(WindowButton::Close);
    parent->beginSheet(sheet);
    EXPECT_TRUE(closeButton->isHiddenOrHasHiddenAncestor());
    for (const Rect& frame : {Rect{100, 100, 400, 300}, Rect{300, 50, 600, 500}}) {
        parent->setFrame(frame);
        EXPECT_DOUBLE_EQ(sheet->frame().maxY(), frame.maxY() - 40);
        EXPECT_DOUBLE_EQ(sheet->frame().midX(), frame.midX());
    }
    parent->endSheet(sheet);
    EXPECT_FALSE(closeButton->isHiddenOrHasHiddenAncestor()) << "a window again once the sheet ends";

    parent->beginSheet(sheet, [&](ModalResponse r) { responses.push_back(r); });
    parent->beginSheet(second, [&](ModalResponse r) { responses.push_back(r); });
    parent->close();
    EXPECT_EQ(responses,
              (std::vector<ModalResponse>{ModalResponses::OK, ModalResponses::Abort, ModalResponses::Abort}));
    EXPECT_FALSE(second->isVisible());
}

TEST_F(WindowTest, MiniaturizeAndFullScreenPostTheirNotifications) {
    auto window = makeWindow({0, 0, 400, 300}, WindowStyleTitled | WindowStyleMiniaturizable | WindowStyleResizable);
    window->makeKeyAndOrderFront();
    Recorder recorder(window.get());
    window->miniaturize();
    EXPECT_TRUE(window->isMiniaturized());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(recorder.count(kWindowDidMiniaturizeNotification), 1u);
    window->deminiaturize();
    EXPECT_TRUE(window->isVisible());

    window->setCollectionBehavior(CollectionFullScreenPrimary);
    const Rect before = window->frame();
    window->toggleFullScreen();
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_EQ(window->frame(), Screen::mainScreen()->frame());
    window->toggleFullScreen();
    EXPECT_EQ(window->frame(), before);
    EXPECT_EQ(recorder.count(kWindowWillEnterFullScreenNotification), 1u);
    EXPECT_EQ(recorder.count(kWindowDidEnterFullScreenNotification), 1u);
    EXPECT_EQ(recorder.count(kWindowDidExitFullScreenNotification), 1u);
    window->setCollectionBehavior(CollectionFullScreenNone);
    window->toggleFullScreen();
    EXPECT_FALSE(window->isFullScreen());
}

TEST_F(WindowTest, OcclusionFollowsVisibility) {
    auto window = makeWindow({0, 0, 100, 100});
    EXPECT_EQ(window->occlusionState() & kWindowOcclusionStateVisible, 0u);
    window->orderFront();
    EXPECT_NE(window->occlusionState() & kWindowOcclusionStateVisible, 0u);
    Recorder recorder(window.get());
    ui.setOcclusionState(*window, 0);
    EXPECT_EQ(recorder.count(kWindowDidChangeOcclusionStateNotification), 1u);
}

TEST_F(WindowTest, ScreensKeepTheirIdentityAndChangesAreAnnounced) {
    Recorder recorder(&Application::shared());
    auto main = Screen::screens().at(0);
    ui.setScreens({HeadlessUi::makeScreen("main", {0, 0, 1440, 900}), HeadlessUi::makeScreen("side", {1440, 0, 1920, 1080})});
    ASSERT_EQ(Screen::screens().size(), 2u);
    EXPECT_EQ(Screen::screens()[0], main);
    EXPECT_EQ(recorder.count(kApplicationDidChangeScreenParametersNotification), 1u);
    auto side = Screen::screens()[1];
    ui.setScreens({HeadlessUi::makeScreen("main", {0, 0, 1440, 900}), HeadlessUi::makeScreen("side", {-1920, 0, 1920, 1080})});
    EXPECT_EQ(Screen::screens()[1], side);
    EXPECT_EQ(side->frame().minX(), -1920);
    EXPECT_EQ(recorder.count(kApplicationDidChangeScreenParametersNotification), 2u);
    ui.setScreens({HeadlessUi::makeScreen("main", {0, 0, 1440, 900}), HeadlessUi::makeScreen("side", {-1920, 0, 1920, 1080})});
    EXPECT_EQ(recorder.count(kApplicationDidChangeScreenParametersNotification), 2u) << "nothing changed";

    EXPECT_EQ(Screen::screenContaining({-1, 10}), side);
    EXPECT_EQ(Screen::screenContaining({1440, 10}), nullptr) << "maximum edges are outside";
    auto window = makeWindow({-1500, 100, 300, 300});
    window->makeKeyAndOrderFront();
    EXPECT_EQ(Screen::mainScreen(), side) << "the screen of the key window";
    ui.setScreens({});
    EXPECT_EQ(Screen::mainScreen(), nullptr);
}

TEST_F(WindowTest, MouseLocationComesFromTheBackend) {
    ui.setMouseLocation({123, 456});
    EXPECT_EQ(Event::mouseLocation(), (Point{123, 456}));
    auto window = makeWindow({100, 400, 100, 100});
    EXPECT_EQ(window->mouseLocationOutsideOfEventStream(), (Point{23, 56}));
}

TEST_F(WindowTest, ModalSessionRunsNestedUntilStopped) {
    auto dialog = makeWindow({0, 0, 200, 100});
    RunLoop::main().postAfter(5, [] { Application::shared().stopModal(ModalResponses::OK); });
    EXPECT_EQ(Application::shared().runModal(dialog), ModalResponses::OK);
    EXPECT_DOUBLE_EQ(RunLoop::main().now(), 5);
    EXPECT_EQ(Application::shared().modalWindow(), nullptr);
    // Nothing will ever stop it: the virtual loop gives up instead of hanging.
    EXPECT_EQ(Application::shared().runModal(dialog), ModalResponses::Abort);
}

TEST_F(WindowTest, EventsOutsideTheModalWindowAreBlocked) {
    auto other = makeWindow({300, 300, 200, 200});
    auto view = create<RecordingView>(Rect{0, 0, 200, 200});
    other->contentView()->addSubview(view);
    other->orderFront();
    auto dialog = makeWindow({0, 0, 200, 100});
    RunLoop::main().post([&] {
        ui.click(*other, {50, 50});
        Application::shared().stopModal(ModalResponses::Cancel);
    });
    EXPECT_EQ(Application::shared().runModal(dialog), ModalResponses::Cancel);
    EXPECT_TRUE(view->events.empty());
}

TEST_F(WindowTest, TerminateAsksTheDelegateThenCallsTheHandler) {
    struct AppDelegate : ApplicationDelegate {
        TerminateReply reply = TerminateReply::Cancel;
        int willTerminate = 0;
        TerminateReply applicationShouldTerminate() override { return reply; }
        void applicationWillTerminate() override { ++willTerminate; }
    };
    auto delegate = std::make_shared<AppDelegate>();
    auto& app = Application::shared();
    app.setDelegate(delegate);
    int handled = 0;
    app.setTerminationHandler([&] { ++handled; });
    app.terminate();
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(app.isTerminationRequested());
    delegate->reply = TerminateReply::Now;
    Recorder recorder(&app);
    app.terminate();
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(delegate->willTerminate, 1);
    EXPECT_TRUE(app.isTerminationRequested());
    EXPECT_EQ(recorder.count(kApplicationWillTerminateNotification), 1u);
}

TEST_F(WindowTest, WindowControllerShowsAndClosesItsWindow) {
    auto window = makeWindow({0, 0, 100, 100});
    auto controller = create<WindowController>(window);
    EXPECT_EQ(window->windowController(), controller);
    controller->showWindow();
    EXPECT_TRUE(window->isKeyWindow());
    controller->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->isClosed());
    controller->showWindow();
    EXPECT_TRUE(window->isVisible()) << "a closed window can be shown again";
}

TEST_F(WindowTest, PeersHearOfChanges) {
    auto window = makeWindow({0, 0, 100, 100});
    auto& peer = ui.peer(*window);
    window->setLevel(WindowLevel::Status);
    window->setFrame({0, 0, 200, 100});
    window->orderFront();
    window->setAlphaValue(0.5);
    EXPECT_EQ(peer.count(WindowChange::Level), 1u);
    EXPECT_EQ(peer.count(WindowChange::Frame), 1u);
    EXPECT_EQ(peer.count(WindowChange::Visibility), 1u);
    EXPECT_EQ(peer.count(WindowChange::Look), 1u);
}

TEST_F(WindowTest, AlertsRunOnTheBackend) {
    Alert alert;
    alert.messageText = "Close all tabs?";
    alert.addButtonWithTitle("Close");
    alert.addButtonWithTitle("Cancel");
    ui.backend().alertAnswers.push_back(kAlertSecondButtonReturn);
    EXPECT_EQ(alert.runModal(), kAlertSecondButtonReturn);
    EXPECT_EQ(alert.runModal(), kAlertFirstButtonReturn);
    EXPECT_EQ(ui.backend().alertsShown, (std::vector<std::string>{"Close all tabs?", "Close all tabs?"}));
}

}  // namespace
}  // namespace kit::testing
