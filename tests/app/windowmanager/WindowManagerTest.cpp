#include <typeinfo>

#include "app/capture/KZAIPermissionTipsWindowController.h"
#include "app/capture/KZAISplashWindowController.h"
#include "app/capture/KZDropWindController.h"
#include "app/capture/KZStatusGuideTipWindowController.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/tools/KZExplainPanelController.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZView.h"
#include "app/windows/KZAILoginWindowController.h"
#include "app/windows/KZCustomWindow.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Label.h"
#include "kit/ui/Screen.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace {

using apptest::kAfterSlide;
using kit::Rect;
using kit::Value;

class WindowManagerTest : public apptest::AppWindowsTest {
protected:
    KZAIWebView& chat() { return *side().singleWebView(); }

    // A plain window controller standing in for a tool window.
    static std::shared_ptr<kit::WindowController> toolWindow() {
        auto controller = std::make_shared<kit::WindowController>(
            kit::create<kit::Window>(Rect{0, 0, 1000, 700}, kit::WindowStyleTitled | kit::WindowStyleClosable));
        controller->init();
        return controller;
    }

    void logIn() { KZAIUserManager::shared().onLoginStateChanged(kit::Dictionary{{"state", 0}, {"userName", "ann"}}); }

    void twoScreens() {
        ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                       kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080})});
    }
};

// ---- Side window requests -----------------------------------------------------------------------

TEST_F(WindowManagerTest, SourceTypeDispatchWhileLoggedOut) {
    makeReady(chat());
    manager().showAISideWindowController(2, "explain this");
    EXPECT_FALSE(sideWindow().isVisible());
    ASSERT_NE(KZAIUserManager::shared().loginWindowController(), nullptr);
    EXPECT_TRUE(KZAIUserManager::shared().loginWindowController()->window()->isVisible());
    EXPECT_TRUE(env.log().contains("[WndCtrl] Show AI Side Window, type: 2, text: explain this"));

    for (int type : {0, 5, 99, -1}) manager().showAISideWindowController(type, "ignored");
    env.advance(1);
    EXPECT_FALSE(sideWindow().isVisible());

    for (int type : {1, 3, 4}) {
        manager().showAISideWindowController(type, "never sent");
        env.advance(kAfterSlide);
        EXPECT_TRUE(sideWindow().isVisible()) << type;
        side().hideWithCompletionHandler();
        env.advance(kAfterSlide);
    }
    for (const auto& name : callNamesToPage(chat())) EXPECT_NE(name, "SwipeOverMessage");
}

TEST_F(WindowManagerTest, SourceTypeDispatchWhileLoggedIn) {
    logIn();
    makeReady(chat());
    manager().showAISideWindowController(2, "explain this");
    EXPECT_TRUE(sideWindow().isVisible());
    EXPECT_EQ(KZAIUserManager::shared().loginWindowController(), nullptr);
    const auto calls = callsToPage(chat());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["data"]["message"], Value("explain this"));
}

TEST_F(WindowManagerTest, HotKeyAndContinueAskShowTheSideWindow) {
    makeReady(chat());
    manager().hotkeyShowSideMainWindowController();
    const auto events = HXReport::recordedEvents();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(std::make_pair(events[events.size() - 2].key, events[events.size() - 2].value),
              std::make_pair(std::int64_t{24023}, std::string("2")));
    EXPECT_EQ(std::make_pair(events.back().key, events.back().value),
              std::make_pair(std::int64_t{24020}, std::string("32")));
    env.advance(kAfterSlide);
    EXPECT_TRUE(manager().isVisibleSideMainWindow());

    manager().native2js_CommitContinueAsk(2, std::string("sid-9"));
    const auto calls = callsToPage(chat());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["handlerName"], Value("CommitContinueAsk"));
    EXPECT_EQ(calls[0]["data"], Value(kit::Dictionary{{"type", "translate"}, {"session_id", "sid-9"}}));
}

TEST_F(WindowManagerTest, ScreenshotHotKeyHandsTheImageToTheChat) {
    logIn();
    makeReady(chat());
    KZShortcutScreenshotReceiver receiver;
    receiver.hotKeyAction();
    ASSERT_TRUE(capture.isSelecting());
    EXPECT_TRUE(KZScreenshotManager::shared().isSelecting());
    ASSERT_TRUE(capture.finishSelection(kit::Image::filled(30, 20, kit::Color::fromHex(0x112233))));
    env.advance(kAfterSlide);
    EXPECT_FALSE(KZScreenshotManager::shared().isSelecting());
    EXPECT_TRUE(sideWindow().isVisible());
    EXPECT_EQ(callNamesToPage(chat()), std::vector<std::string>{"OnFileForAnalyze"});
}

// ---- Tool-window frame --------------------------------------------------------------------------

TEST_F(WindowManagerTest, FunctionWindowEndsAtTheSideWindowsLeftEdge) {
    sideWindow().setFrame({1300, 50, 420, 800});
    EXPECT_EQ(manager().__calulateFrameWithFunctionWindow(nullptr),
              (Rect{157.142822265625, 50, 1142.857177734375, 800}));
    // Less room than 10/7 of the height but more than the default width: from the left margin.
    sideWindow().setFrame({1100, 50, 420, 800});
    EXPECT_EQ(manager().__calulateFrameWithFunctionWindow(nullptr), (Rect{20, 50, 1080, 800}));
    // Less than the default width (and none at all): the default size, centred.
    for (double left : {600.0, 20.0, -300.0}) {
        sideWindow().setFrame({left, 50, 420, 800});
        EXPECT_EQ(manager().__calulateFrameWithFunctionWindow(nullptr), (Rect{220, 87, 1000, 700})) << left;
    }
    // A zero-width side window after its slide-out still counts from its right edge.
    sideWindow().setFrame({1420, 20, 0, 835});
    const Rect f = manager().__calulateFrameWithFunctionWindow(nullptr);
    EXPECT_DOUBLE_EQ(f.maxX(), 1420);
    EXPECT_EQ(f.height(), 835);
}

TEST_F(WindowManagerTest, FunctionWindowUsesTheSideWindowsOwnScreen) {
    twoScreens();
    sideWindow().setFrame({2940, 20, 390, 800});
    EXPECT_EQ(manager().__calulateFrameWithFunctionWindow(nullptr),
              (Rect{2940 - 1142.857177734375, 20, 1142.857177734375, 800}));
    // 940 points from the right screen's margin: too little there, whatever the main screen has.
    sideWindow().setFrame({2400, 20, 390, 800});
    EXPECT_EQ(manager().__calulateFrameWithFunctionWindow(nullptr), (Rect{1900, 177, 1000, 700}));
}

TEST_F(WindowManagerTest, ToolWindowsCountForAutoHideAndAreDestroyed) {
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());
    auto image = toolWindow();
    manager().setImageWindowController(image);
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());
    image->showWindow();
    EXPECT_FALSE(manager().isAllFunctionWindowNotVisiable());
    image->window()->orderOut();
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());

    // A second show keeps the window where it is; the browser window is placed on every show.
    image->window()->setFrame({5, 6, 700, 500});
    manager().showAIImageWindowFromSideWindowWithActionInfo({});
    EXPECT_EQ(image->window()->frame(), (Rect{5, 6, 700, 500}));
    EXPECT_TRUE(image->window()->isVisible());
    auto browser = toolWindow();
    manager().setBrowserWindowController(browser);
    sideWindow().setFrame({1300, 50, 420, 800});
    browser->window()->setFrame({5, 6, 700, 500});
    manager().showBrowserWindowControllerAndCreateNewTab("https://example.test/");
    EXPECT_EQ(browser->window()->frame(), manager().__calulateFrameWithFunctionWindow(nullptr));
    EXPECT_FALSE(manager().isAllFunctionWindowNotVisiable());

    manager().destoryAIImageWindowController();
    manager().destoryBrowserWindowController();
    manager().destoryAIDocumentWindowController();
    EXPECT_EQ(manager().imageWindowController(), nullptr);
    EXPECT_EQ(manager().browserWindowController(), nullptr);
    EXPECT_TRUE(image->window()->isClosed());
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());
    EXPECT_TRUE(env.log().contains("[WndCtrl] Destory Browser Window"));
}

TEST_F(WindowManagerTest, PermissionTipsAndTheLoginWindowCountForAutoHide) {
    manager().showPermissionWindowAlone();
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());  // 0.1 s later
    env.advance(0.1);
    EXPECT_TRUE(manager().permissionWndController()->window()->isVisible());
    EXPECT_FALSE(manager().isAllFunctionWindowNotVisiable());
    manager().permissionWndController()->endWindow();
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());

    KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
    EXPECT_FALSE(manager().isAllFunctionWindowNotVisiable());
    KZAIUserManager::shared().loginWindowController()->window()->close();
    ASSERT_NE(KZAIUserManager::shared().loginWindowController(), nullptr);  // kept after a close by hand
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());

    // The panels, the drop window and the splash do not count.
    manager().explainPanelController()->showWindow();
    manager().showDropWindowController();
    manager().splashWindowController()->showWindow();
    EXPECT_TRUE(manager().isAllFunctionWindowNotVisiable());
}

// ---- Drop window --------------------------------------------------------------------------------

TEST_F(WindowManagerTest, DropWindowSitsAtTheTopRightOfTheScreenUnderTheMouse) {
    manager().showDropWindowController();
    auto drop = manager().dropWindowController();
    ASSERT_NE(drop, nullptr);
    auto& w = *drop->window();
    EXPECT_EQ(w.frame(), (Rect{1000, 745, 420, 110}));
    EXPECT_EQ(w.level(), 3);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(customWndTypeOf(&w), std::optional<int>(5));
    EXPECT_EQ(KZDragManager::shared().dropWindowFrameInScreen(), w.frame());
    EXPECT_EQ(drop->injectedWebView(), side().singleWebView());
    EXPECT_EQ(chat().superview(), drop->dropView().get());
    // The page lies under the mask, which leaves the drop to it.
    ASSERT_EQ(drop->dropView()->subviews().size(), 2u);
    EXPECT_EQ(drop->dropView()->subviews().back(), drop->dropMaskView());
    w.layoutIfNeeded();
    EXPECT_EQ(chat().frame(), (Rect{0, 0, 420, 110}));

    manager().closeDropWindowController();
    EXPECT_EQ(manager().dropWindowController(), nullptr);
    EXPECT_FALSE(w.isVisible());
    manager().giveWebviewBackSideWindow();
    EXPECT_EQ(chat().superview(), sideWindow().contentView().get());
    EXPECT_EQ(sideWindow().contentView()->subviews().front().get(), &chat());

    // On the screen under the mouse; a new window for the next drag.
    twoScreens();
    ui.setMouseLocation({2000, 500});
    env.advance(1);
    manager().showDropWindowController();
    EXPECT_NE(manager().dropWindowController(), drop);
    EXPECT_EQ(manager().dropWindowController()->window()->frame(), (Rect{1440 + 1920 - 440, 1055 - 130, 420, 110}));
    manager().closeDropWindowController();

    // Without any screen: off screen.
    ui.setScreens({});
    env.advance(1);
    manager().showDropWindowController();
    EXPECT_EQ(manager().dropWindowController()->window()->frame(), (Rect{-440, -130, 420, 110}));
}

TEST_F(WindowManagerTest, DroppingAFileWhileTheSideWindowIsHidden) {
    KZDragManager::shared().setEnable(true);
    makeReady(chat());
    drags.beginFileDrag({"/home/u/Report.pdf"}, {300, 300});
    ASSERT_NE(manager().dropWindowController(), nullptr);
    EXPECT_TRUE(KZDragManager::shared().dragging());
    EXPECT_TRUE(side().isDraggingFile());
    EXPECT_EQ(reports(21121), std::vector<std::string>{"pdf"});
    EXPECT_EQ(reports(21122), std::vector<std::string>{"pdf"});
    drags.dragTo({1100, 800});
    EXPECT_TRUE(KZDragManager::shared().isMouseInDropWindow());
    drags.release({1100, 800});
    EXPECT_FALSE(KZDragManager::shared().dragging());
    EXPECT_NE(manager().dropWindowController(), nullptr);  // 0.1 s later
    env.advance(0.1);
    EXPECT_EQ(manager().dropWindowController(), nullptr);
    EXPECT_EQ(chat().superview(), sideWindow().contentView().get());
    EXPECT_EQ(reports(24023), std::vector<std::string>{"5"});
    EXPECT_EQ(reports(24020), std::vector<std::string>{"34"});
    EXPECT_EQ(reports(21123), std::vector<std::string>{"pdf"});
    env.advance(kAfterSlide);
    EXPECT_TRUE(sideWindow().isVisible());
    EXPECT_FALSE(side().draggedFileExtension().has_value());

    // A drop elsewhere: the drop window goes, the side window stays where it is.
    side().hideWithCompletionHandler();
    env.advance(kAfterSlide);
    HXReport::takeRecordedEvents();
    drags.beginFileDrag({"/home/u/photo.PNG"}, {300, 300});
    ASSERT_NE(manager().dropWindowController(), nullptr);
    drags.release({300, 300});
    env.advance(1);
    EXPECT_EQ(manager().dropWindowController(), nullptr);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_TRUE(reports(24023).empty());
    EXPECT_TRUE(reports(21123).empty());
}

TEST_F(WindowManagerTest, DraggingWhileTheSideWindowIsShownTellsThePage) {
    KZDragManager::shared().setEnable(true);
    makeReady(chat());
    side().showWithCompletionHandler();
    env.advance(kAfterSlide);
    callsToPage(chat());
    drags.beginFileDrag({"/tmp/a.docx"}, {10, 10});
    EXPECT_EQ(manager().dropWindowController(), nullptr);
    drags.release({1100, 800});
    env.advance(1);
    const auto calls = callsToPage(chat());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["handlerName"], Value("SystemDragFile"));
    EXPECT_NE(calls[0]["data"], calls[1]["data"]);
    EXPECT_TRUE(reports(24023).empty());
}

TEST_F(WindowManagerTest, DragManagerQualifiesDrags) {
    auto& drag = KZDragManager::shared();
    std::vector<std::string> events;
    drag.setShowDropViewBlock([&](const std::vector<std::string>& paths) {
        events.push_back("show " + std::to_string(paths.size()) + " " + paths.front());
    });
    drag.setDropCompletionBlock([&](bool inside) { events.push_back(inside ? "drop in" : "drop out"); });
    auto token = drag.addDraggingObserver([&](bool was, bool now) {
        events.push_back(std::string("dragging ") + (was ? "1" : "0") + (now ? "1" : "0"));
    });
    drag.setDropWindowFrameInScreen({100, 100, 50, 50});
    drag.setFileExtensions({"PDF", "txt"});
    EXPECT_EQ(drag.fileExtensions(), (std::vector<std::string>{"pdf", "txt"}));
    drag.setEnable(false);

    drags.beginFileDrag({"/a/x.pdf"}, {0, 0});
    drags.release({120, 120});
    EXPECT_EQ(events, (std::vector<std::string>{"dragging 01", "dragging 10"}));  // disabled: no blocks
    events.clear();

    drag.setEnable(true);
    drags.beginFileDrag({"/a/x.pdf", "/a/y.txt"}, {0, 0});  // two files, one allowed
    drags.beginFileDrag({"/a/x.jpg"}, {0, 0});              // not an accepted kind
    drags.beginFileDrag({}, {0, 0});                        // no files at all
    drags.release({120, 120});
    EXPECT_TRUE(events.empty());

    drag.setMultiple(true);
    drags.beginFileDrag({"/a/x.jpg", "/a/Y.TXT", "/a/noext"}, {0, 0});
    drags.dragTo({10, 10});  // same pasteboard: the same drag
    drags.release({120, 120});
    EXPECT_EQ(events, (std::vector<std::string>{"dragging 01", "show 1 /a/Y.TXT", "dragging 10", "drop in"}));
    events.clear();

    // A plain mouse drag after it carries the old pasteboard: no new drag.
    drags.dragTo({10, 10});
    drags.release({10, 10});
    EXPECT_TRUE(events.empty());
    token.reset();
    drags.beginFileDrag({"/a/z.txt"}, {0, 0});
    drags.release({0, 0});
    EXPECT_EQ(events, (std::vector<std::string>{"show 1 /a/z.txt", "drop out"}));
}

// ---- Status item --------------------------------------------------------------------------------

TEST_F(WindowManagerTest, StatusItemFlagAndTheOrderOfItsEffects) {
    auto delegate = std::make_shared<AppDelegate>();
    AppDelegate::setCurrent(delegate);
    env.runUntilIdle();  // the manager's first turn: the flag is off
    EXPECT_EQ(delegate->statusItem(), nullptr);

    struct AtCreation {
        bool stored;
        std::size_t posts;
        std::size_t reports;
    };
    std::vector<AtCreation> seen;
    kit::StatusBar::system().setPeerFactory([&](kit::StatusItem&) -> std::unique_ptr<kit::StatusItemPeer> {
        seen.push_back({KZSharedPlistManager::sharedManager().db_showAIStatusBarItem(),
                        env.distributedBus().postCount("kA2M_KZAIIPCShowAIStatusItemChangedNotification"),
                        clicks(21000)});
        return nullptr;
    });
    manager().setShowAIStatusBarItem(true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].stored);     // stored first,
    EXPECT_EQ(seen[0].posts, 0u);    // the host told last,
    EXPECT_EQ(seen[0].reports, 0u);  // the report right after the item
    EXPECT_EQ(clicks(21000), 1u);
    const auto* post = env.distributedBus().lastPost("kA2M_KZAIIPCShowAIStatusItemChangedNotification");
    ASSERT_NE(post, nullptr);
    EXPECT_TRUE(post->userInfo["data"].boolValue());
    EXPECT_TRUE(manager().showAIStatusBarItem());
    EXPECT_EQ(manager().statusItem(), delegate->statusItem());

    // The same value again does nothing at all.
    env.distributedBus().clearPosts();
    env.log().clear();
    manager().setShowAIStatusBarItem(true);
    EXPECT_EQ(env.distributedBus().postCount("kA2M_KZAIIPCShowAIStatusItemChangedNotification"), 0u);
    EXPECT_FALSE(env.log().contains("[DB]"));
    EXPECT_EQ(clicks(21000), 1u);

    // Quitting from the item hides it but keeps the choice; the host's launch brings it back.
    manager().quitAIFromStatusBar();
    EXPECT_EQ(delegate->statusItem(), nullptr);
    EXPECT_TRUE(KZSharedPlistManager::sharedManager().db_showAIStatusBarItem());
    manager().showStatusBarIconWhenQuarnLaunch();
    EXPECT_NE(delegate->statusItem(), nullptr);

    manager().setShowAIStatusBarItem(false);
    EXPECT_EQ(delegate->statusItem(), nullptr);
    EXPECT_FALSE(KZSharedPlistManager::sharedManager().db_showAIStatusBarItem());
    manager().showStatusBarIconWhenQuarnLaunch();
    EXPECT_EQ(delegate->statusItem(), nullptr);
    EXPECT_TRUE(env.log().contains("[GT] Set Show AI Status Bar Item, show: 0"));
}

TEST_F(WindowManagerTest, StatusItemShownOnTheManagersFirstTurnWhenStored) {
    KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(true);
    KZWindowControllerManager::resetManager();
    auto delegate = std::make_shared<AppDelegate>();
    AppDelegate::setCurrent(delegate);
    manager();
    EXPECT_EQ(delegate->statusItem(), nullptr);
    env.runUntilIdle();
    EXPECT_NE(delegate->statusItem(), nullptr);
    EXPECT_EQ(clicks(21000), 1u);
}

// ---- Splash and tips ----------------------------------------------------------------------------

TEST_F(WindowManagerTest, SplashIsQueuedOnceAndHoldsTheTipQueueUntilClosed) {
    manager().showAISpliashWindowController();
    bool laterTipRan = false;
    auto later = JWTipModel::tipModelWithPriority(JWTipTaskPriorityDefault, 0, [&](const auto& model) {
        laterTipRan = true;
        model->notifyTaskCompleted();
    });
    JWTipManager::manager().addTaskModel(later);
    env.runUntilIdle();
    ASSERT_TRUE(manager().hasSplashWindowController());
    auto& splash = *manager().splashWindowController()->window();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_EQ(splash.frame(), (Rect{330, 262, 780, 482}));
    EXPECT_EQ(env.distributedBus().postCount("kA2M_KZAIIPCEnableGetTextProcessNotification"), 1u);
    EXPECT_EQ(JWTipManager::manager().currentTask(), manager().AISpliashModel());
    EXPECT_EQ(manager().AISpliashModel()->name(), "AI Spliash");
    EXPECT_EQ(manager().AISpliashModel()->priority(), JWTipTaskPriorityHigh);
    env.advance(30);
    EXPECT_FALSE(laterTipRan);

    // Through the four pages; the last page's button closes the window.
    for (int page = 0; page < KZAISplashWindowController::kPageCount; ++page)
        manager().splashWindowController()->startButton()->accessibilityPerformPress();
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(KZSharedPlistManager::sharedManager().db_hasShowGuideWindow());
    env.advance(1);
    EXPECT_TRUE(laterTipRan);

    // The next launch shows nothing and completes the task at once.
    KZWindowControllerManager::resetManager();
    env.distributedBus().clearPosts();
    manager().showAISpliashWindowController();
    env.runUntilIdle();
    EXPECT_FALSE(manager().hasSplashWindowController());
    EXPECT_EQ(manager().AISpliashModel()->state(), JWTipModel::State::Completed);
    EXPECT_EQ(JWTipManager::manager().currentTask(), nullptr);
    EXPECT_TRUE(env.log().contains("[WndCtrl] AI Spliash Window has been shown before."));
    EXPECT_EQ(env.distributedBus().postCount("kA2M_KZAIIPCEnableGetTextProcessNotification"), 0u);
}

TEST_F(WindowManagerTest, GuideTipSitsUnderTheStatusItemForFiveSecondsSizedForTheTextItShows) {
    auto item = kit::StatusBar::system().statusItemWithLength(kit::kStatusItemSquareLength);
    item->setWindowState(true, kit::kWindowOcclusionStateVisible, {1200, 875, 24, 25});
    manager().setStatusItem(item);
    // The host's language gives the text; the system's has no say in the tip's size.
    struct Case {
        const char* locale;
        bool englishText;
        double width;
        double x;
    };
    const Case cases[] = {{"zh_CN.UTF-8", false, 328, 1200 + 24 - 328 + 40},
                          {"en_US.UTF-8", false, 328, 1200 + 24 - 328 + 40},
                          {"zh_CN.UTF-8", true, 490, 1200 + 24 - 490 + 60}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + (c.englishText ? ", English text" : ", Chinese text"));
        BundleLanguage::resetForTesting();
        if (c.englishText) {
            BundleLanguage::setTable("en", kit::Dictionary{{KZStatusGuideTipWindowController::kTipText,
                                                            kit::Value("Your AI Assistant is here. Click the icon "
                                                                       "to open it any time.")}});
        }
        ::setenv("LC_ALL", c.locale, 1);
        manager().showGuideEnableWindowController();
        ::unsetenv("LC_ALL");
        ASSERT_EQ(manager().viewControllers().size(), 1u);
        auto tip = std::dynamic_pointer_cast<KZStatusGuideTipWindowController>(manager().viewControllers()[0]);
        ASSERT_TRUE(tip);
        EXPECT_EQ(tip->window()->frame(), (Rect{c.x, 875 - 6 - 42, c.width, 42}));
        tip->window()->layoutIfNeeded();
        EXPECT_GE(tip->tipLabel()->frame().width(), tip->tipLabel()->intrinsicContentSize().width) << "the text is cut";
        EXPECT_EQ(tip->window()->level(), 3);
        EXPECT_TRUE(tip->window()->isVisible());
        env.advance(4.9);
        EXPECT_TRUE(tip->window()->isVisible());
        env.advance(0.2);
        EXPECT_FALSE(tip->window()->isVisible());
        EXPECT_TRUE(manager().viewControllers().empty());
    }
    EXPECT_EQ(env.log().count("[WndCtrl] Close Guide Enable Window"), 3u);

    // Placed by the tray a moment after it showed, the item takes its tip along.
    BundleLanguage::resetForTesting();
    manager().showGuideEnableWindowController();
    auto tip = manager().viewControllers().back();
    item->setWindowState(true, kit::kWindowOcclusionStateVisible, {1000, 875, 24, 25});
    EXPECT_EQ(tip->window()->frame().origin, (kit::Point{1000 + 24 - 328 + 40, 875 - 6 - 42}));
    manager().closeGuideEnableWindowController();
}

// The tip goes where the item's screen has room for it: under a top panel's item, over a bottom
// tray's, beside a side panel's, and never past the visible frame.
TEST_F(WindowManagerTest, GuideTipSitsOnTheSideOfTheStatusItemWithRoom) {
    auto item = kit::StatusBar::system().statusItemWithLength(kit::kStatusItemSquareLength);
    manager().setStatusItem(item);
    const auto topPanel = kit::HeadlessUi::makeScreen("top panel", {0, 0, 1440, 900}, 25, 0);
    const auto bottomPanel = kit::HeadlessUi::makeScreen("bottom panel", {0, 0, 1440, 900}, 0, 25);
    auto rightPanel = kit::HeadlessUi::makeScreen("right panel", {0, 0, 1440, 900}, 0, 0);
    rightPanel.visibleFrame = {0, 0, 1400, 900};
    const auto second = kit::HeadlessUi::makeScreen("second, bottom panel", {1440, 0, 1920, 1080}, 0, 30);
    const struct {
        const char* what;
        std::vector<kit::ScreenDescription> screens;
        Rect item;
        kit::Point tip;  // 328 x 42
    } cases[] = {
        {"top panel", {topPanel}, {1200, 875, 24, 25}, {936, 827}},
        {"top panel, far right", {topPanel}, {1416, 875, 24, 25}, {1112, 827}},
        {"bottom panel", {bottomPanel}, {1200, 0, 24, 25}, {936, 31}},
        {"bottom panel, far left", {bottomPanel}, {0, 0, 24, 25}, {0, 31}},
        {"right panel", {rightPanel}, {1410, 876, 24, 24}, {1072, 828}},
        {"bottom panel of a second screen", {topPanel, second}, {1440, 0, 24, 30}, {1440, 36}},
        {"bottom tray the work area keeps (no room under)", {rightPanel}, {1380, 0, 20, 30}, {1072, 36}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ui.setScreens(c.screens);
        item->setWindowState(true, kit::kWindowOcclusionStateVisible, c.item);
        ::setenv("LC_ALL", "zh_CN.UTF-8", 1);
        manager().showGuideEnableWindowController();
        ::unsetenv("LC_ALL");
        ASSERT_FALSE(manager().viewControllers().empty());
        const Rect frame = manager().viewControllers().back()->window()->frame();
        EXPECT_EQ(frame, (Rect{c.tip, {328, 42}}));
        const auto screen = kit::Screen::screenNearest({c.item.midX(), c.item.midY()});
        ASSERT_TRUE(screen);
        EXPECT_TRUE(screen->visibleFrame().contains(frame));
        EXPECT_FALSE(frame.intersects(c.item)) << "covers the item";
        manager().closeGuideEnableWindowController();
    }
}

TEST_F(WindowManagerTest, CloseWindowControllerClosesTheFirstOfExactlyThatClass) {
    manager().showGuideEnableWindowController();
    manager().showGuideEnableWindowController();
    ASSERT_EQ(manager().viewControllers().size(), 2u);
    auto first = manager().viewControllers()[0];
    auto second = manager().viewControllers()[1];
    manager().closeWindowController(typeid(KZBasePopoverWindowController));  // a base class: no match
    manager().closeWindowController(typeid(KZAISplashWindowController));
    EXPECT_EQ(manager().viewControllers().size(), 2u);
    manager().closeWindowController(typeid(KZStatusGuideTipWindowController));
    ASSERT_EQ(manager().viewControllers().size(), 1u);
    EXPECT_EQ(manager().viewControllers()[0], second);
    EXPECT_FALSE(first->window()->isVisible());
    EXPECT_TRUE(second->window()->isVisible());
}

// ---- Permission tips and the screenshot tool ----------------------------------------------------

TEST_F(WindowManagerTest, PermissionTipsAsSheetOrAlone) {
    side().showWithCompletionHandler();
    env.advance(kAfterSlide);
    auto sheet = manager().permissionWndControllerForSheet();
    auto alone = manager().permissionWndController();
    EXPECT_EQ(sheet->window()->frame().size, (kit::Size{380, 441}));

    manager().showScreenshotPermissionWindowOnWindow(side().window());
    EXPECT_EQ(sheet->tipsType(), 1);
    EXPECT_EQ(sheet->titleLabel()->stringValue(), "开启屏幕录制权限");
    EXPECT_EQ(sideWindow().attachedSheet(), nullptr);
    env.advance(0.1);
    EXPECT_EQ(sideWindow().attachedSheet(), sheet->window());

    manager().showPermissionWindowAlone();
    EXPECT_EQ(sideWindow().attachedSheet(), nullptr);  // the sheet ended
    EXPECT_FALSE(sheet->window()->isVisible());
    env.advance(0.1);
    EXPECT_TRUE(alone->window()->isVisible());
    EXPECT_FALSE(alone->window()->isSheet());

    manager().showPermissionWindowOnWindow(side().window());
    EXPECT_FALSE(alone->window()->isVisible());
    EXPECT_EQ(sheet->tipsType(), 0);
    EXPECT_EQ(sheet->titleLabel()->stringValue(), "开启辅助功能权限");
    env.advance(0.1);
    EXPECT_TRUE(sheet->endWindow());
    EXPECT_FALSE(sheet->endWindow());

    // Ended before its 0.1 s are up, a tip never shows.
    manager().showPermissionWindowAlone();
    alone->endWindow();
    env.advance(1);
    EXPECT_FALSE(alone->window()->isVisible());

    // The accessibility tip's button asks the text tool for the prompt.
    manager().showPermissionWindowAlone();
    env.advance(0.1);
    alone->confirmButton()->accessibilityPerformPress();
    EXPECT_EQ(env.distributedBus().postCount("A2T_KZAIIPCShowAccessibilityPromptNotification"), 1u);
    EXPECT_FALSE(alone->window()->isVisible());
}

TEST_F(WindowManagerTest, ScreenshotResultPaths) {
    std::vector<std::pair<bool, int>> results;
    auto handler = [&](const std::shared_ptr<kit::Image>& image, int code) {
        results.emplace_back(image != nullptr, code);
    };
    auto& tool = KZScreenshotManager::shared();

    tool.startScreenshotWithCompleteHandler(handler);
    EXPECT_TRUE(tool.isSelecting());
    tool.startScreenshotWithCompleteHandler(handler);
    EXPECT_EQ(results, (std::vector<std::pair<bool, int>>{{false, 1}}));
    capture.finishSelection(kit::Image::filled(4, 4, kit::Color::white()));
    EXPECT_EQ(results.size(), 1u);  // on the loop
    env.runUntilIdle();
    EXPECT_EQ(results.back(), std::make_pair(true, 0));
    EXPECT_FALSE(tool.isSelecting());

    tool.startScreenshotWithCompleteHandler(handler);
    capture.cancelSelection();
    env.runUntilIdle();
    EXPECT_EQ(results.back(), std::make_pair(false, 0));

    // Without the permission: nil and 2 at once, a request, and the tip as a sheet on the side
    // window once it has slid in.
    capture.setPermissionGranted(false);
    tool.startScreenshotWithCompleteHandler(handler);
    EXPECT_EQ(results.back(), std::make_pair(false, 2));
    EXPECT_EQ(capture.permissionRequests(), 1);
    EXPECT_EQ(capture.selectionsStarted(), 2);
    EXPECT_FALSE(tool.isSelecting());
    env.advance(kAfterSlide + 0.1);
    EXPECT_TRUE(sideWindow().isVisible());
    ASSERT_NE(sideWindow().attachedSheet(), nullptr);
    EXPECT_EQ(sideWindow().attachedSheet(), manager().permissionWndControllerForSheet()->window());
    EXPECT_EQ(manager().permissionWndControllerForSheet()->tipsType(), 1);
}

// ---- Quitting and language ----------------------------------------------------------------------

TEST_F(WindowManagerTest, QuitClosesEveryAIWindow) {
    makeReady(chat());
    side().showWithCompletionHandler();
    manager().splashWindowController()->showWindow();
    auto writing = toolWindow();
    manager().setWritingWindowController(writing);
    writing->showWindow();
    KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
    manager().showPermissionWindowAlone();
    env.advance(kAfterSlide);

    manager().closeAllAIWindowsWhenQuitFromStatusBar();
    env.advance(kAfterSlide);
    EXPECT_FALSE(sideWindow().isVisible());
    // The login window closed on a logged-out user: the pages drop the pending login.
    EXPECT_EQ(callNamesToPage(chat()), (std::vector<std::string>{"CancelLogin", "WindowHide"}));
    EXPECT_FALSE(writing->window()->isVisible());
    EXPECT_FALSE(manager().splashWindowController()->window()->isVisible());
    EXPECT_FALSE(manager().permissionWndController()->window()->isVisible());
    EXPECT_EQ(KZAIUserManager::shared().loginWindowController(), nullptr);
}

TEST_F(WindowManagerTest, LanguageChangeRebuildsTheSideWindowAndTheTips) {
    side().showWithCompletionHandler();
    env.advance(kAfterSlide);
    auto oldSide = manager().sideMainWindowController();
    auto oldTip = manager().permissionWndController();
    env.makeProcessCenter("host")->post("user_language_change");
    env.runUntilIdle();
    EXPECT_NE(manager().sideMainWindowController(), oldSide);
    EXPECT_NE(manager().permissionWndController(), oldTip);
    EXPECT_FALSE(oldSide->window()->isVisible());
    EXPECT_EQ(pageOf(chat()).loadedRequests().size(), 1u);  // the new page loads anew
    EXPECT_TRUE(env.log().contains("[WndCtrl] user language changed"));
    // The old controller is gone once the loop has turned.
    std::weak_ptr<KZSideMainWindowController> weakOld = oldSide;
    oldSide.reset();
    env.runUntilIdle();
    EXPECT_TRUE(weakOld.expired());
}

TEST_F(WindowManagerTest, PreloadCentresTheSideWindow) {
    sideWindow().setFrameOrigin({0, 0});
    manager().loadSideWindowController();
    EXPECT_EQ(sideWindow().frame(), (Rect{510, 50, 420, 800}));
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_TRUE(env.log().contains("[WndCtrl] Preload Side Window"));
}

}  // namespace

namespace {

TEST_F(WindowManagerTest, PageAddressesAreBuiltFromOneBaseAddress) {
    ::setenv("QUARN_AI_BASE_URL", "https://other.test/ai", 1);
    EXPECT_EQ(KZBundleInfo::aiBaseURL(), "https://other.test/ai/");
    EXPECT_EQ(KZBundleInfo::aiPageURL("thirdParty/quarn/login?version=%d", 6),
              "https://other.test/ai/thirdParty/quarn/login?version=6");
    KZWindowControllerManager::resetManager();
    EXPECT_EQ(pageOf(chat()).loadedRequests().at(0).url, "https://other.test/ai/thirdParty/dorvaka/pmChat?version=6");
    KZAIUserManager::resetShared();
    KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
    auto login =
        std::dynamic_pointer_cast<KZAILoginWindowController>(KZAIUserManager::shared().loginWindowController());
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(pageOf(*login->loginWebView()).loadedRequests().at(0).url,
              "https://other.test/ai/thirdParty/quarn/login?version=6");
    EXPECT_EQ(KZBundleInfo::aiPageURL(KZAIUserManager::kKeepAlivePagePath, 6),
              "https://other.test/ai/thirdParty/dorvaka/pmChatHome?version=6");

    // Without the variable (or with an empty one) the bundle information's address counts.
    ::setenv("QUARN_AI_BASE_URL", "", 1);
    KZBundleInfo::reload();
    EXPECT_EQ(KZBundleInfo::aiBaseURL(), "http://127.0.0.1:8765/");
    ::unsetenv("QUARN_AI_BASE_URL");
    EXPECT_EQ(KZBundleInfo::aiBaseURL(), "http://127.0.0.1:8765/");
}

}  // namespace
