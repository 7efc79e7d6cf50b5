#include <algorithm>

#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Screen.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace {

using apptest::kAfterSlide;
using kit::Rect;

class SideWindowTest : public apptest::AppWindowsTest {
protected:
    KZAIWebView& webView() { return *side().singleWebView(); }

    void showAndSettle() {
        side().showWithCompletionHandler();
        env.advance(kAfterSlide);
    }

    // The slide-in's first frame, drawn as it starts: a sliver of the final frame at its right edge.
    static Rect firstSliverOf(Rect target) {
        const double progress = (1 / kit::AnimationContext::kFrameRate) / KZSideMainWindowController::kSlideDuration;
        const double width = target.width() * kit::evaluateTimingFunction(kit::TimingFunction::EaseInEaseOut, progress);
        return {target.maxX() - width, target.minY(), width, target.height()};
    }
    static void expectFrameNear(const Rect& actual, const Rect& expected) {
        EXPECT_NEAR(actual.minX(), expected.minX(), 1e-6);
        EXPECT_NEAR(actual.maxX(), expected.maxX(), 1e-6);
        EXPECT_EQ(actual.minY(), expected.minY());
        EXPECT_EQ(actual.height(), expected.height());
    }

    // The width the web view's constraint gives it.
    double webViewWidthConstraint() {
        for (const auto& c : webView().constraints())
            if (c.attribute == kit::LayoutAttribute::Width && !c.hasTarget) return c.constant;
        return -1;
    }
};

// ---- Size and position --------------------------------------------------------------------------

TEST_F(SideWindowTest, SlidesInAtTheTopRightOfTheScreenUnderTheMouse) {
    ui.setMouseLocation({700, 400});
    env.advance(1);  // a timer tick finds the screen
    EXPECT_EQ(side().windowsWidth(), 390.0f);
    EXPECT_EQ(side().windowsHeight(), 835.0f);

    bool done = false;
    side().showWithCompletionHandler([&] { done = true; });
    EXPECT_TRUE(sideWindow().isVisible());
    expectFrameNear(sideWindow().frame(), firstSliverOf({1030, 20, 390, 835}));  // at once, no frame later
    EXPECT_EQ(webViewWidthConstraint(), 390);
    env.advance(0.1);
    EXPECT_FALSE(done);
    const Rect midway = sideWindow().frame();
    EXPECT_GT(midway.width(), 0);
    EXPECT_LT(midway.width(), 390);
    EXPECT_DOUBLE_EQ(midway.maxX(), 1420);
    env.advance(0.15);
    EXPECT_TRUE(done);
    EXPECT_EQ(sideWindow().frame(), (Rect{1030, 20, 390, 835}));
    EXPECT_TRUE(env.log().contains("[SD] Side Window Show"));
    EXPECT_TRUE(kit::Application::shared().isActive());
}

TEST_F(SideWindowTest, SizeFollowsTheVisibleFrameInSinglePrecision) {
    struct Case {
        Rect frame;
        float width;
        float height;
    };
    const Case cases[] = {
        {{0, 0, 2560, 2465}, 420.0f, 2160.0f},         // 512 capped; 2440 - 40 capped
        {{0, 0, 2001, 1025}, 400.2f, 960.0f},          // 0.2 x 2001, rounded to single precision
        {{0, 0, 1024, 100}, 390.0f, 35.0f},            // the 390 floor
        {{-1920, 300, 1920, 1080}, 390.0f, 1015.0f},   // a screen left of and above the main one
    };
    for (const auto& c : cases) {
        ui.setScreens({kit::HeadlessUi::makeScreen("main", c.frame)});
        ui.setMouseLocation({c.frame.midX(), c.frame.midY()});
        side().__findMouseLocationScreen();
        EXPECT_EQ(side().windowsWidth(), c.width) << kit::stringFromRect(c.frame);
        EXPECT_EQ(side().windowsHeight(), c.height) << kit::stringFromRect(c.frame);
    }
    // The last screen: the window ends 20 points inside its top-right corner.
    showAndSettle();
    EXPECT_EQ(sideWindow().frame(), (Rect{-20 - 390, 300 + 1055 - 1015 - 20, 390, 1015}));
}

TEST_F(SideWindowTest, TheScreenUnderTheMouseIsTheOneItsPixelIsOn) {
    // Main screen, one stacked above it and one to its right. A mouse location is the top edge of
    // the pixel under the pointer: y = 900 is the main screen's top row, 1800 the upper one's.
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                   kit::HeadlessUi::makeScreen("above", {0, 900, 1440, 900}),
                   kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080})});
    const std::pair<kit::Point, const char*> cases[] = {
        {{700, 900}, "main"},                         // the lower screen's first row
        {{700, 901}, "above"},                        // the upper screen's last row
        {{700, 1800}, "above"},                       // the upper screen's first row
        {{1440, 100}, "right"},                       // the right screen's first column
        {{1439.5, 100}, "main"}, {{700, 1}, "main"},  // the main screen's last row
        {{0, 0}, "main"},                             // below every screen: the main one
        {{3360, 500}, "main"},                        // right of the right screen: no screen
    };
    for (const auto& [mouse, expected] : cases) {
        // Moved, and shown before the second's tick.
        ui.setMouseLocation(mouse);
        sideWindow().close();
        side().showWithCompletionHandler();
        EXPECT_EQ(side().currentMouseLocationScreen()->identifier(), expected) << kit::stringFromPoint(mouse);
        EXPECT_EQ(side().latestWindowShowInScreen()->identifier(), expected) << kit::stringFromPoint(mouse);
    }
}

// Laid out at the size it is given: the page fills a window the window manager tiles or makes
// full screen, and keeps its own width against the right edge while the window slides in.
TEST_F(SideWindowTest, ThePageFillsTheSizeTheWindowIsGiven) {
    const auto expectPage = [&](double width, const char* when) {
        sideWindow().layoutIfNeeded();
        const Rect content = sideWindow().contentView()->bounds();
        EXPECT_EQ(webView().frame().width(), width) << when;
        EXPECT_EQ(webView().frame().maxX(), content.maxX()) << when;
        EXPECT_EQ(webView().frame().minY(), content.minY()) << when;
    };
    side().showWithCompletionHandler();
    env.advance(0.1);
    ASSERT_LT(sideWindow().frame().width(), 390);
    expectPage(390, "sliding in");
    env.advance(kAfterSlide);
    expectPage(390, "shown");
    ui.windowManagerPlace(sideWindow(), {0, 0, 1440, 900});
    expectPage(1440, "tiled");
    ui.windowManagerPlace(sideWindow(), {1030, 20, 390, 835});
    expectPage(390, "floating again");
    sideWindow().toggleFullScreen();
    expectPage(1440, "full screen");
    sideWindow().toggleFullScreen();
    expectPage(390, "back from full screen");
}

// Made at launch for a hot key to bring in, the window is readied for display then, unshown.
TEST_F(SideWindowTest, ItsWindowIsReadiedForDisplayWhenMade) {
    EXPECT_EQ(ui.peer(sideWindow()).count(kit::WindowChange::Prepare), 1u);
    EXPECT_FALSE(sideWindow().isVisible());
    showAndSettle();
    EXPECT_EQ(ui.peer(sideWindow()).count(kit::WindowChange::Prepare), 1u);
}

// The second's tick asks where the pointer is only when there is a screen to choose.
TEST_F(SideWindowTest, TheTickAsksForThePointerOnlyWithSeveralScreens) {
    const auto main = kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900});
    const auto right = kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080});
    struct Case {
        std::vector<kit::ScreenDescription> screens;
        kit::Point mouse;
        std::size_t queries;
        const char* screen;
    };
    const Case cases[] = {
        {{main}, {700, 400}, 0, "main"},
        {{main}, {5000, 400}, 0, "main"},  // outside every screen: the main one
        {{main, right}, {2000, 400}, 3, "right"},
        {{main, right}, {700, 400}, 3, "main"},
    };
    for (const auto& c : cases) {
        ui.setScreens(c.screens);
        ui.setMouseLocation(c.mouse);
        ui.backend().mouseQueries = 0;
        env.advance(3);
        EXPECT_EQ(ui.backend().mouseQueries, c.queries) << c.screens.size() << " screens";
        EXPECT_EQ(side().currentMouseLocationScreen()->identifier(), c.screen) << kit::stringFromPoint(c.mouse);
    }
}

TEST_F(SideWindowTest, NoScreenGivesNoNegativeHeight) {
    ui.setScreens({});
    side().__findMouseLocationScreen();
    EXPECT_EQ(side().currentMouseLocationScreen(), nullptr);
    EXPECT_EQ(side().windowsWidth(), 390.0f);
    EXPECT_EQ(side().windowsHeight(), 0.0f);
}

// ---- Showing and hiding -------------------------------------------------------------------------

TEST_F(SideWindowTest, ShowWhileVisibleOnTheSameScreenOnlyBringsItToTheFront) {
    showAndSettle();
    env.log().clear();
    auto other = kit::create<kit::Window>(Rect{0, 0, 200, 200}, kit::WindowStyleTitled);
    other->makeKeyAndOrderFront();
    // Leaving the side window for another one starts the auto-hide, which has its own tests.
    side().__cancelDelayWindowAutoDisappear();
    bool done = false;
    side().showWithCompletionHandler([&] { done = true; });
    EXPECT_TRUE(done);  // at once
    EXPECT_TRUE(sideWindow().isKeyWindow());
    EXPECT_EQ(kit::AnimationContext::runningAnimationCount(), 0u);
    env.advance(1);
    EXPECT_FALSE(env.log().contains("[SD] Side Window Show"));
    EXPECT_EQ(sideWindow().frame(), (Rect{1030, 20, 390, 835}));
}

TEST_F(SideWindowTest, ShowWhileVisibleOnAnotherScreenClosesAndSlidesInThere) {
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                   kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080})});
    ui.setMouseLocation({100, 100});
    env.advance(1);
    showAndSettle();
    HXReport::takeRecordedEvents();
    int closes = 0;
    auto token = kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kWindowWillCloseNotification, side().window().get(), [&](const kit::Notification&) { ++closes; });

    // Moved to the other screen just before the show, with no tick between.
    ui.setMouseLocation({2000, 500});
    side().showWithCompletionHandler();
    EXPECT_EQ(closes, 1);  // closed at once, no slide-out
    EXPECT_TRUE(sideWindow().isVisible());
    expectFrameNear(sideWindow().frame(), firstSliverOf({2950, 20, 390, 1015}));
    env.advance(kAfterSlide);
    EXPECT_EQ(sideWindow().frame(), (Rect{2950, 20, 390, 1015}));
    EXPECT_EQ(side().latestWindowShowInScreen()->identifier(), "right");
    EXPECT_TRUE(reports(24024).empty());
}

TEST_F(SideWindowTest, TwoHidesInARow) {
    showAndSettle();
    env.advance(3);
    HXReport::takeRecordedEvents();
    std::vector<std::string> done;
    side().hideWithCompletionHandler([&] { done.push_back("first"); });
    EXPECT_TRUE(side().isWindowClosing());
    side().hideWithCompletionHandler([&] { done.push_back("second"); });
    EXPECT_EQ(done, std::vector<std::string>{"second"});
    EXPECT_EQ(kit::AnimationContext::runningAnimationCount(), 1u);
    env.advance(0.1);
    EXPECT_TRUE(sideWindow().isVisible());
    EXPECT_DOUBLE_EQ(sideWindow().frame().maxX(), 1420);
    env.advance(0.15);
    EXPECT_EQ((std::vector<std::string>{"second", "first"}), done);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_FALSE(side().isWindowClosing());
    EXPECT_EQ(sideWindow().frame(), (Rect{1420, 20, 0, 835}));
    EXPECT_EQ(reports(24024), std::vector<std::string>{"3.45"});

    // Hiding a hidden window does nothing but answer.
    bool answered = false;
    side().hideWithCompletionHandler([&] { answered = true; });
    EXPECT_TRUE(answered);
    env.advance(1);
    EXPECT_EQ(reports(24024).size(), 1u);
}

TEST_F(SideWindowTest, AnInterruptedSlideStillEnds) {
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                   kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080})});
    makeReady(webView());
    // A window manager that places the window itself as it maps it (at the top left, with the
    // window's fixed size).
    auto windowManagerPlacesIt = [&] { ui.userResize(sideWindow(), {0, 100, 10, 10}); };
    struct Case {
        const char* name;
        bool closeFirst;  // the close button's slide-out is running when `interrupt` comes
        std::function<void()> interrupt;
        bool visible;
        Rect frame;
        std::vector<std::string> hideReports;  // seconds visible, at the end of the slide-out
    };
    const Case cases[] = {
        // The show restarts the visible time; the slide-out ends 0.15 s later.
        {"show on the same screen during the slide-out", true, [&] { side().showWithCompletionHandler(); }, false, {},
         {"0.15"}},
        {"show on another screen during the slide-out", true,
         [&] {
             ui.setMouseLocation({2000, 500});
             side().__findMouseLocationScreen();
             side().showWithCompletionHandler();
         },
         true, {2950, 20, 390, 1015}, {"0.30"}},
        {"the window manager during the slide-out", true, windowManagerPlacesIt, false, {}, {"0.30"}},
        {"the window manager during the slide-in", false, windowManagerPlacesIt, true, {1030, 20, 390, 835}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.setMouseLocation({700, 400});
        side().__findMouseLocationScreen();
        bool shown = false;
        side().showWithCompletionHandler([&] { shown = true; });
        if (c.closeFirst) {
            env.advance(kAfterSlide);
            sideWindow().performClose();
        }
        env.advance(0.05);
        env.log().clear();
        callsToPage(webView());
        HXReport::takeRecordedEvents();
        c.interrupt();
        env.advance(kAfterSlide);
        EXPECT_TRUE(shown);
        EXPECT_EQ(sideWindow().isVisible(), c.visible);
        if (c.visible) {
            EXPECT_EQ(sideWindow().frame(), c.frame);
        }
        EXPECT_FALSE(side().isWindowClosing());
        // The page hears of the hide once; the visible time is reported once.
        const auto calls = callNamesToPage(webView());
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "WindowHide"), c.hideReports.empty() ? 0 : 1);
        EXPECT_EQ(reports(24024), c.hideReports);
        EXPECT_EQ(env.log().contains("[SD] Side Window Show"), c.visible);
        side().hideWithCompletionHandler();
        env.advance(kAfterSlide);
    }
}

TEST_F(SideWindowTest, HideDuringSlideInWins) {
    side().showWithCompletionHandler();
    env.advance(0.05);
    side().hideWithCompletionHandler();
    env.advance(1);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_FALSE(env.log().contains("[SD] Side Window Show"));
    EXPECT_EQ(reports(24024).size(), 1u);
}

TEST_F(SideWindowTest, CloseButtonSlidesOutAndTellsThePage) {
    makeReady(webView());
    showAndSettle();
    sideWindow().performClose();
    EXPECT_TRUE(sideWindow().isVisible());  // answered "not now"
    env.advance(kAfterSlide);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_EQ(callNamesToPage(webView()), std::vector<std::string>{"WindowHide"});
    EXPECT_TRUE(env.log().contains("[SD] Side Window Close"));
}

// ---- Text and images for the page ---------------------------------------------------------------

TEST_F(SideWindowTest, TextWaitsForTheReadyPageAndIsNotWipedByAPlainShow) {
    openPage(webView());
    side().showWithText(std::string("what is a monad"));
    EXPECT_EQ(side().needSearchStringBeforeWebReady(), "what is a monad");
    EXPECT_EQ(reports(24012).size(), 1u);
    EXPECT_EQ(reports(24023), std::vector<std::string>{"4"});
    env.advance(kAfterSlide);
    side().showWithText(std::nullopt);  // the status item, say
    side().showWithText(std::string());
    EXPECT_EQ(side().needSearchStringBeforeWebReady(), "what is a monad");
    EXPECT_TRUE(callsToPage(webView()).empty());

    // Ready while hidden: the text stays for a later ready signal.
    side().hideWithCompletionHandler();
    env.advance(kAfterSlide);
    pageCalls(webView(), "WebIsReady", kit::Dictionary{{"from", "main"}});
    EXPECT_TRUE(callsToPage(webView()).empty());
    EXPECT_EQ(side().needSearchStringBeforeWebReady(), "what is a monad");

    showAndSettle();
    pageCalls(webView(), "WebIsReady", kit::Dictionary{{"from", "minipage"}});
    const auto calls = callsToPage(webView());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["handlerName"], kit::Value("SwipeOverMessage"));
    EXPECT_EQ(calls[0]["data"], kit::Value(kit::Dictionary{{"type", "search"}, {"message", "what is a monad"}}));
    EXPECT_EQ(calls[1]["handlerName"], kit::Value("WebShow"));
    EXPECT_EQ(calls[1]["data"], kit::Value(kit::Dictionary{{"type", "search"}, {"visible", true}}));
    EXPECT_EQ(side().needSearchStringBeforeWebReady(), "");
    EXPECT_TRUE(env.log().contains("[SIDE] Web Is Ready：minipage"));

    // A ready page gets text at once; no text is never sent.
    side().showWithText(std::string("second"));
    EXPECT_EQ(callNamesToPage(webView()), (std::vector<std::string>{"SwipeOverMessage", "WebShow"}));
    side().showWithText(std::string());
    side().showWithText(std::nullopt);
    EXPECT_TRUE(callsToPage(webView()).empty());
}

TEST_F(SideWindowTest, ImageWaitsForTheReadyPage) {
    openPage(webView());
    const auto image = kit::Image::filled(8, 6, kit::Color::fromHex(0x336699));
    side().showWithImage(image);
    EXPECT_FALSE(side().needSearchImageBeforeWebReady().isNull());
    EXPECT_EQ(reports(24023), std::vector<std::string>{"3"});
    side().showWithImage(kit::Image());
    EXPECT_FALSE(side().needSearchImageBeforeWebReady().isNull());
    env.advance(kAfterSlide);
    EXPECT_TRUE(callsToPage(webView()).empty());

    pageCalls(webView(), "WebIsReady", kit::Dictionary{{"from", "main"}});
    const auto calls = callsToPage(webView());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["handlerName"], kit::Value("OnFileForAnalyze"));
    EXPECT_EQ(calls[0]["data"]["filePurpose"].integerValue(), 14);
    EXPECT_TRUE(side().needSearchImageBeforeWebReady().isNull());

    side().showWithImage(kit::Image());
    EXPECT_TRUE(callsToPage(webView()).empty());
}

// ---- Screens ------------------------------------------------------------------------------------

TEST_F(SideWindowTest, AddedScreenClosesAndReshowsTwoSecondsLater) {
    showAndSettle();
    HXReport::takeRecordedEvents();
    EXPECT_EQ(side().currentScreenCount(), 1);
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                   kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080})});
    EXPECT_EQ(side().currentScreenCount(), 2);
    EXPECT_FALSE(sideWindow().isVisible());  // closed at once: no slide-out, no visible-time report
    EXPECT_TRUE(reports(24024).empty());
    EXPECT_EQ(env.loop().pendingPerforms(&side(), KZSideMainWindowController::kDelayReshowSelector), 1u);
    env.advance(2.0);
    EXPECT_TRUE(env.log().contains("[SD] -- Screen Did Change __delayReshowSideWindow"));
    EXPECT_FALSE(sideWindow().isVisible());
    env.advance(0.29);
    EXPECT_FALSE(sideWindow().isVisible());
    env.advance(0.02);
    EXPECT_TRUE(sideWindow().isVisible());
    env.advance(kAfterSlide);
    EXPECT_EQ(sideWindow().frame(), (Rect{1030, 20, 390, 835}));
    EXPECT_EQ(env.log().count("[SD] -- Screen Did Change __delayReshowSideWindow"), 1u);
}

TEST_F(SideWindowTest, RearrangedScreensOrAHiddenWindowAreNotReshown) {
    showAndSettle();
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1280, 800})});
    EXPECT_TRUE(env.log().contains("last count: 1, now screen count: 1"));
    EXPECT_TRUE(sideWindow().isVisible());

    side().hideWithCompletionHandler();
    env.advance(kAfterSlide);
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1280, 800}),
                   kit::HeadlessUi::makeScreen("right", {1280, 0, 1280, 800})});
    env.advance(5);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_EQ(side().currentScreenCount(), 2);
}

// ---- Pin, login, page calls ---------------------------------------------------------------------

TEST_F(SideWindowTest, PinLevelAndCollectionBehaviour) {
    EXPECT_EQ(sideWindow().level(), 0);
    EXPECT_EQ(sideWindow().collectionBehavior(), 128u);
    EXPECT_FALSE(side().isPinnedOnRightView());

    KZSharedPlistManager::sharedManager().db_setQAWindowPinState(true);
    side().onPinStatusChangedFromRightView(*side().rightView());
    EXPECT_EQ(sideWindow().level(), 20);
    EXPECT_EQ(sideWindow().collectionBehavior(), 385u);

    // A side window made while pinned starts pinned.
    KZWindowControllerManager::resetManager();
    EXPECT_EQ(sideWindow().level(), 20);
    EXPECT_EQ(sideWindow().collectionBehavior(), 385u);
    EXPECT_TRUE(side().isPinnedOnRightView());
    KZSharedPlistManager::sharedManager().db_setQAWindowPinState(false);
    side().onPinStatusChangedFromRightView(*side().rightView());
    EXPECT_EQ(sideWindow().level(), 0);
    EXPECT_EQ(sideWindow().collectionBehavior(), 128u);
}

TEST_F(SideWindowTest, LoginNotificationsReachThePage) {
    makeReady(webView());
    auto& center = kit::NotificationCenter::defaultCenter();
    KZAIUserManager::shared().onLoginStateChanged(kit::Dictionary{{"state", 0}, {"avatar", ""}, {"userName", "ann"}});
    auto calls = callsToPage(webView());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["handlerName"], kit::Value("LoginEventNotify"));
    EXPECT_EQ(calls[0]["data"]["type"], kit::Value("loginin"));
    EXPECT_EQ(calls[1]["handlerName"], kit::Value("ClientUserChange"));
    EXPECT_EQ(calls[1]["data"], kit::Value(kit::Dictionary{{"type", "loginin"}, {"visible", true}}));

    center.post(kKZAIUserCancelLoginNotification);
    EXPECT_EQ(callNamesToPage(webView()), std::vector<std::string>{"CancelLogin"});

    const auto loadsBefore = pageOf(webView()).loadedRequests().size();
    center.post(kKZAIUserForceReloadWebViewNotification);
    ASSERT_EQ(pageOf(webView()).loadedRequests().size(), loadsBefore + 1);
    EXPECT_EQ(pageOf(webView()).loadedRequests().back().url, "https://ai.quarn.test/thirdParty/dorvaka/pmChat?version=6");
}

TEST_F(SideWindowTest, ForwardsToThePage) {
    makeReady(webView());
    side().onCommitContinueAsk(1, std::string("s-42"));
    side().onSystemDragFile(true);
    side().onClickLogout();
    const auto calls = callsToPage(webView());
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0]["data"], kit::Value(kit::Dictionary{{"type", "explain"}, {"session_id", "s-42"}}));
    EXPECT_EQ(calls[1]["handlerName"], kit::Value("SystemDragFile"));
    EXPECT_EQ(calls[2]["handlerName"], kit::Value("RequestLogout"));

    side().onClickLogin();
    EXPECT_EQ(reports(24022), std::vector<std::string>{"3"});
    ASSERT_NE(KZAIUserManager::shared().loginWindowController(), nullptr);
    EXPECT_TRUE(KZAIUserManager::shared().loginWindowController()->window()->isVisible());
}

TEST_F(SideWindowTest, LoadsTheChatPageAndLaysOutTheTitleArea) {
    ASSERT_FALSE(pageOf(webView()).loadedRequests().empty());
    EXPECT_EQ(pageOf(webView()).loadedRequests().front().url,
              "https://ai.quarn.test/thirdParty/dorvaka/pmChat?version=6");
    showAndSettle();
    sideWindow().layoutIfNeeded();
    EXPECT_EQ(side().titleBgView()->frame(), (Rect{0, 835 - 40, 390, 40}));
    EXPECT_EQ(side().rightView()->frame(), (Rect{390 - 165, 0, 165, 40}));
    EXPECT_EQ(webView().frame(), (Rect{0, 0, 390, 795}));
}

TEST_F(SideWindowTest, RendersTitleAreaAndPage) {
    makeReady(webView());
    showAndSettle();
    const auto file = outputDirectory("app_side") / "side-window.png";
    ASSERT_TRUE(ui.writePng(sideWindow(), file).ok());
    ASSERT_TRUE(std::filesystem::exists(file));
    auto picture = kit::Image::fromFile(file);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelWidth(), 390);
    EXPECT_EQ(picture->pixelHeight(), 835);
    const kit::Color title = picture->pixelAt(100, 20);
    EXPECT_NEAR(title.red, 0xFF / 255.0, 0.02);
    EXPECT_NEAR(title.green, 0xF1 / 255.0, 0.02);
    EXPECT_NEAR(title.blue, 0xD7 / 255.0, 0.02);
    const kit::Color page = picture->pixelAt(200, 400);
    EXPECT_FALSE(std::abs(page.green - title.green) < 0.01 && std::abs(page.blue - title.blue) < 0.01);
}

// ---- Soak ---------------------------------------------------------------------------------------

TEST_F(SideWindowTest, TenThousandShowsAndHidesLeaveNothingBehind) {
    makeReady(webView());
    auto cycle = [&] {
        side().showWithCompletionHandler();
        env.advance(kAfterSlide);
        side().hideWithCompletionHandler();
        env.advance(kAfterSlide);
    };
    for (int i = 0; i < 10; ++i) cycle();
    pageOf(webView()).takeBridgeMessages();
    HXReport::takeRecordedEvents();
    env.log().clear();
    struct Counts {
        std::size_t windows, observers, animations, tasks, timerListeners, performs;
        bool operator==(const Counts&) const = default;
    };
    auto count = [&] {
        env.runUntilIdle();
        return Counts{kit::Application::shared().windows().size(),
                      kit::NotificationCenter::defaultCenter().observerCount(),
                      kit::AnimationContext::runningAnimationCount(),
                      env.loop().pendingTaskCount(),
                      KZGlobalTimer::shared().listenerCount(),
                      env.loop().pendingPerforms(&side(), KZSideMainWindowController::kDelayReshowSelector)};
    };
    const Counts before = count();
    const long useCountBefore = manager().sideMainWindowController().use_count();
    // Every count above is exact, so a leak shows after any number of cycles; the sanitizers
    // make each cycle about ten times dearer, and the suite must finish on a loaded machine.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kCycles = 1000;
#else
    constexpr int kCycles = 10000;
#endif
    for (int i = 0; i < kCycles; ++i) {
        cycle();
        if (i % 1000 == 0) {
            HXReport::takeRecordedEvents();
            pageOf(webView()).takeBridgeMessages();
            env.log().clear();
        }
    }
    EXPECT_EQ(count(), before);
    EXPECT_EQ(manager().sideMainWindowController().use_count(), useCountBefore);
    EXPECT_FALSE(sideWindow().isVisible());
}

}  // namespace
