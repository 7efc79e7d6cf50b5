#include <cmath>
#include <limits>

#include "app/tools/KZAIPanelWebview.h"
#include "app/tools/KZCustomPanel.h"
#include "app/tools/KZExplainPanelController.h"
#include "app/tools/KZPanelTopView.h"
#include "app/tools/KZTranslatePanelController.h"
#include "app/windows/KZAILoginWindowController.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Screen.h"
#include "kit/web/WebError.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace {

using apptest::kAfterSlide;
using kit::Dictionary;
using kit::Point;
using kit::Rect;
using kit::Value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kSizeChanged = "A2T_KZAIIPCPanelWindowSizeChangedNotification";

class PanelTest : public apptest::AppWindowsTest {
protected:
    KZExplainPanelController& explain() { return *manager().explainPanelController(); }
    KZTranslatePanelController& translate() { return *manager().translatePanelController(); }
    static KZAIWebView& pageView(KZWebPanelController& panel) { return *panel.webView(); }
    static kit::Window& windowOf(KZWebPanelController& panel) { return *panel.window(); }

    void logIn() { KZAIUserManager::shared().onLoginStateChanged(Dictionary{{"state", 0}, {"userName", "ann"}}); }
    void logOut() { KZAIUserManager::shared().onLoginStateChanged(Dictionary{{"state", 1}}); }

    // The text tool asks for a panel (IPC event 2), as it does over the bus.
    void toolShows(int type, const std::string& text, const std::string& origin) {
        KZAIIPCClient::shared().handleText2AIEventWithArguments(
            {"QuarnGetText", "2", std::to_string(type), text, origin});
        env.runUntilIdle();
    }
    void toolPlaces(int type, const std::string& frame) {
        KZAIIPCClient::shared().handleText2AIEventWithArguments({"QuarnGetText", "3", std::to_string(type), frame});
        env.runUntilIdle();
    }

    // Messages of the calls made into a page since the last take, as "Handler data".
    std::vector<std::string> traffic(KZAIWebView& view) {
        std::vector<std::string> out;
        for (const auto& call : callsToPage(view))
            out.push_back(*call["handlerName"].asString() + " " + kit::describe(call["data"]));
        return out;
    }
    static std::string msg(const std::string& handler, const Dictionary& data) {
        return handler + " " + kit::describe(Value(data));
    }
    static std::string hidden(const char* type) { return msg("SwipeWindowClose", {{"type", type}}); }
    static std::string webShow(const char* type, bool visible) {
        return msg("WebShow", {{"type", type}, {"visible", visible}});
    }
    static std::string text(const char* type, const std::string& message) {
        return msg("SwipeOverMessage", {{"type", type}, {"message", message}});
    }
};

// ---- The panels themselves ---------------------------------------------------------------------

TEST_F(PanelTest, PanelsAreNonActivatingFloatingPanelsWithTheirPages) {
    struct Expected {
        KZWebPanelController* panel;
        const char* url;
        const char* title;
        int type;
        long scene;
    };
    const Expected panels[] = {
        {&explain(), "https://ai.quarn.test/embed/chat/explain?version=6", "解释", 1, 1},
        {&translate(), "https://ai.quarn.test/embed/chat/translate?version=6", "翻译", 2, 2},
    };
    for (const auto& e : panels) {
        SCOPED_TRACE(e.title);
        auto& w = windowOf(*e.panel);
        EXPECT_EQ(w.className(), "KZCustomPanel");
        EXPECT_EQ(w.level(), 20);
        EXPECT_EQ(w.styleMask(), unsigned(kit::WindowStyleNonactivatingPanel));
        EXPECT_FALSE(w.canBecomeKeyWindow());
        EXPECT_FALSE(w.canBecomeMainWindow());
        EXPECT_TRUE(w.isMovable());
        EXPECT_TRUE(w.isMovableByWindowBackground());
        EXPECT_EQ(w.frame().size, (kit::Size{420, 324}));
        EXPECT_EQ(e.panel->panelSize(), (kit::Size{400, 324}));
        EXPECT_EQ(e.panel->webURL(), e.url);
        EXPECT_EQ(pageOf(pageView(*e.panel)).loadedRequests().at(0).url, e.url);
        EXPECT_EQ(e.panel->panelTitle(), e.title);
        EXPECT_EQ(e.panel->windowType(), e.type);
        EXPECT_EQ(e.panel->buttonClickedType(), e.type);
        EXPECT_EQ(e.panel->webViewScene(), e.scene);
        EXPECT_FALSE(pageView(*e.panel).showsRefreshButtonInErrorView());
        EXPECT_EQ(pageView(*e.panel).errorTextOfWaitingReadyTimeout(),
                  "抱歉，查询超时，暂时无法查询到结果，请稍后再试");
        // The page fills the panel; the top bar takes no room.
        w.layoutIfNeeded();
        EXPECT_EQ(pageView(*e.panel).frame(), (Rect{0, 0, 420, 324}));
        EXPECT_EQ(e.panel->topView()->frame().size.height, 0);
    }

    // Shown, a panel takes neither the focus nor the application's activation.
    logIn();
    kit::Application::shared().deactivate();
    toolShows(1, "words", "{100, 200}");
    EXPECT_TRUE(windowOf(explain()).isVisible());
    EXPECT_FALSE(windowOf(explain()).isKeyWindow());
    EXPECT_FALSE(kit::Application::shared().isActive());
}

// ---- Showing -----------------------------------------------------------------------------------

TEST_F(PanelTest, LoggedOutShowOpensTheLoginWindowAndKeepsNothing) {
    logIn();
    makeReady(pageView(explain()), "minipage");
    toolShows(1, "first", "{100, 200}");
    ASSERT_TRUE(windowOf(explain()).isVisible());
    callsToPage(pageView(explain()));

    logOut();
    callsToPage(pageView(explain()));
    toolShows(1, "secret words", "{300, 300}");
    EXPECT_TRUE(KZAIUserManager::shared().loginWindowController()->window()->isVisible());
    EXPECT_FALSE(windowOf(explain()).isVisible());
    EXPECT_EQ(explain().pendingProcessStringBeforeWebReady(), "");
    // The login window closed the panel, and a closed panel tells its page it is hidden.
    EXPECT_EQ(traffic(pageView(explain())), (std::vector<std::string>{hidden("explain"), webShow("explain", false)}));
    EXPECT_EQ(windowOf(explain()).frame().origin, (Point{100, 200}));
}

TEST_F(PanelTest, TextWaitsForThePageAndIsSentOnceWhenItIsReadyWhileShown) {
    logIn();
    auto& page = pageView(explain());
    openPage(page);
    toolShows(1, "first", "{100, 200}");
    toolShows(1, "second", "{110, 210}");
    EXPECT_EQ(explain().pendingProcessStringBeforeWebReady(), "second");
    EXPECT_TRUE(windowOf(explain()).isVisible());
    EXPECT_EQ(windowOf(explain()).frame().origin, (Point{110, 210}));
    const std::string address = "https://ai.quarn.test/embed/chat/explain?version=6;1";
    EXPECT_EQ(reports(24012), (std::vector<std::string>{address, address}));
    EXPECT_TRUE(callNamesToPage(page).empty());

    pageCalls(page, "WebIsReady", Dictionary{{"from", "minipage"}});
    EXPECT_EQ(traffic(page), (std::vector<std::string>{text("explain", "second"), webShow("explain", true)}));
    EXPECT_EQ(explain().pendingProcessStringBeforeWebReady(), "");
    EXPECT_TRUE(env.log().contains("[解释] onWebIsReady：minipage"));
    pageCalls(page, "WebIsReady", Dictionary{{"from", "minipage"}});
    EXPECT_TRUE(callNamesToPage(page).empty());
    EXPECT_EQ(reports(24012).size(), 2u);

    // Ready now: a show without text sends "".
    explain().showWindowWithText(std::nullopt, {120, 220});
    EXPECT_EQ(traffic(page), (std::vector<std::string>{text("explain", ""), webShow("explain", true)}));

    // Ready while hidden: nothing is sent and the text stays for the next show.
    auto& other = pageView(translate());
    openPage(other);
    toolShows(2, "later", "{100, 200}");
    windowOf(translate()).orderOut();
    callsToPage(other);
    pageCalls(other, "WebIsReady", Dictionary{{"from", "minipage"}});
    EXPECT_TRUE(callNamesToPage(other).empty());
    EXPECT_EQ(translate().pendingProcessStringBeforeWebReady(), "later");
}

TEST_F(PanelTest, ShowWhileTheErrorViewShowsReloadsAndQueues) {
    logIn();
    auto& page = pageView(translate());
    makeReady(page, "minipage");
    pageOf(page).requestNavigation("https://ai.quarn.test/embed/chat/translate?version=6", kit::NavigationType::Other);
    pageOf(page).startProvisionalNavigation("https://ai.quarn.test/embed/chat/translate?version=6");
    pageOf(page).failProvisionalNavigation(kit::WebError("NSURLErrorDomain", -1009, "offline"));
    env.runUntilIdle();
    ASSERT_TRUE(page.isErrorViewShowing());
    const auto loads = pageOf(page).loadedRequests().size();
    toolShows(2, "hola", "{100, 200}");
    EXPECT_EQ(pageOf(page).loadedRequests().size(), loads + 1);
    EXPECT_EQ(translate().pendingProcessStringBeforeWebReady(), "hola");
    EXPECT_EQ(reports(24012).size(), 1u);
}

// ---- Placement ---------------------------------------------------------------------------------

TEST_F(PanelTest, PanelsStayOnTheScreenThatHoldsTheirPoint) {
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                   kit::HeadlessUi::makeScreen("right", {1440, 0, 1920, 1080})});
    logIn();
    // Shows: the origin the tool gave, moved only as far as needed to keep the panel on the
    // screen under that origin (visible frames 0..1440 x 0..875 and 1440..3360 x 0..1055).
    const struct {
        const char* origin;
        std::optional<Point> placed;
    } shows[] = {
        {"{100, 200}", Point{100, 200}},     {"{1300, 700}", Point{1020, 551}},  {"{1430, 100}", Point{1020, 100}},
        {"{1440, 100}", Point{1440, 100}},  // the shared edge belongs to the right-hand screen
        {"{1439.5, 100}", Point{1020, 100}}, {"{3300, 1000}", Point{2940, 731}}, {"{1e12, -1e12}", Point{2940, 0}},
        {"{-1e300, 5}", Point{0, 5}},        {"{1e400, 5}", std::nullopt},  // refused by the IPC client
    };
    for (const auto& s : shows) {
        SCOPED_TRACE(s.origin);
        windowOf(explain()).orderOut();
        toolShows(1, "x", s.origin);
        EXPECT_EQ(windowOf(explain()).isVisible(), s.placed.has_value());
        if (s.placed) {
            EXPECT_EQ(windowOf(explain()).frame(), (Rect{*s.placed, {420, 324}}));
        }
    }
    explain().showWindowWithText("x", {kNaN, 0});
    EXPECT_FALSE(windowOf(explain()).isVisible());
    EXPECT_EQ(windowOf(explain()).frame().origin, (Point{0, 5}));

    // Frames from the tool: on the screen of their origin, no larger than its visible frame.
    const struct {
        const char* frame;
        Rect placed;
    } frames[] = {
        {"{{100, 200}, {420, 500}}", {100, 200, 420, 500}},
        {"{{1e9, 1e9}, {420, 500}}", {2940, 555, 420, 500}},
        {"{{0, 0}, {5000, 5000}}", {0, 0, 1440, 875}},
        {"{{-5, 10}, {0, 300}}", {0, 0, 1440, 875}},  // empty: ignored
    };
    for (const auto& f : frames) {
        SCOPED_TRACE(f.frame);
        toolPlaces(1, f.frame);
        EXPECT_EQ(windowOf(explain()).frame(), f.placed);
    }
    translate().setPanelFrame({kNaN, 0, 420, 300});
    translate().setPanelFrame({0, std::numeric_limits<double>::infinity(), 420, 300});
    EXPECT_EQ(windowOf(translate()).frame(), (Rect{0, 0, 420, 324}));
    toolPlaces(2, "{{1500, 40}, {400, 200}}");
    EXPECT_EQ(windowOf(translate()).frame(), (Rect{1500, 40, 400, 200}));

    // Stacked screens: the shared edge belongs to the upper one, as for every other screen test.
    ui.setScreens({kit::HeadlessUi::makeScreen("main", {0, 0, 1440, 900}),
                   kit::HeadlessUi::makeScreen("top", {0, 900, 1440, 900})});
    toolPlaces(1, "{{0, 0}, {420, 324}}");
    const struct {
        const char* origin;
        Point placed;
    } stacked[] = {
        {"{100, 900}", {100, 900}},
        {"{100, 899}", {100, 551}},
        {"{100, 1800}", {100, 1451}},  // above the top screen: its nearest edge
    };
    for (const auto& s : stacked) {
        SCOPED_TRACE(s.origin);
        windowOf(explain()).orderOut();
        toolShows(1, "x", s.origin);
        EXPECT_EQ(windowOf(explain()).frame(), (Rect{s.placed, {420, 324}}));
    }
}

// ---- Hiding ------------------------------------------------------------------------------------

TEST_F(PanelTest, OutsideEventsHideThePanelAndTellThePage) {
    logIn();
    makeReady(pageView(explain()), "minipage");
    makeReady(pageView(translate()), "minipage");
    auto other = kit::create<kit::Window>(Rect{900, 100, 300, 200}, kit::WindowStyleTitled);
    other->orderFront();
    auto& e = windowOf(explain());
    auto& t = windowOf(translate());
    const struct {
        const char* what;
        std::function<void()> act;
        bool hides;
    } cases[] = {
        {"click in another application",
         [&] {
             ui.outsideMouseDown({5, 5});
         },
         true},
        {"scroll in another application",
         [&] {
             ui.outsideScroll({5, 5}, 0, 3);
         },
         true},
        {"click in another window",
         [&] {
             ui.click(*other, {10, 10});
         },
         true},
        {"key in another window", [&] { ui.keyDown(*other, 0, "a"); }, true},
        {"scroll in another window",
         [&] {
             ui.scroll(*other, {10, 10}, 0, 3);
         },
         true},
        {"mouse up elsewhere",
         [&] {
             ui.outsideMouseUp({5, 5});
         },
         false},
        {"click in the explain panel",
         [&] {
             ui.click(e, {30, 30});
         },
         false},
        {"scroll in the translate panel",
         [&] {
             ui.scroll(t, {30, 30}, 0, 3);
         },
         false},
        {"key in the translate panel", [&] { ui.keyDown(t, 0, "a"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        explain().showWindowWithText("a", {100, 200});
        translate().showWindowWithText("b", {600, 200});
        callsToPage(pageView(explain()));
        callsToPage(pageView(translate()));
        c.act();
        env.runUntilIdle();
        EXPECT_EQ(e.isVisible(), !c.hides);
        EXPECT_EQ(t.isVisible(), !c.hides);
        const auto told = [&](const char* type) {
            return c.hides ? std::vector<std::string>{hidden(type), webShow(type, false)} : std::vector<std::string>{};
        };
        EXPECT_EQ(traffic(pageView(explain())), told("explain"));
        EXPECT_EQ(traffic(pageView(translate())), told("translate"));
    }
    EXPECT_TRUE(env.log().contains("[翻译] WebPanel Window did order out"));
}

// ---- Traffic with the page ---------------------------------------------------------------------

TEST_F(PanelTest, PageSizeGoesToTheTextToolWithThePanelType) {
    logIn();
    const struct {
        KZWebPanelController* panel;
        Dictionary size;
        Dictionary expected;
    } cases[] = {
        {&explain(), {{"width", 400}, {"height", 300}}, {{"type", 1}, {"size", "{400, 300}"}}},
        {&translate(), {{"width", 380.7}, {"height", 512}}, {{"type", 2}, {"size", "{380, 512}"}}},
        {&translate(), {}, {{"type", 2}, {"size", "{0, 0}"}}},
    };
    for (const auto& c : cases) {
        auto& page = pageView(*c.panel);
        if (!page.isAIWebReady()) makeReady(page, "minipage");
        c.panel->showWindowWithText("x", {100, 200});
        const Rect before = c.panel->window()->frame();
        env.distributedBus().clearPosts();
        pageCalls(page, "WebViewSizeNotify", c.size);
        const auto posts = env.distributedBus().postsNamed(kSizeChanged);
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(posts[0].object, "");
        EXPECT_EQ(posts[0].userInfo, Value(c.expected));
        // The panel waits for the tool's frame.
        EXPECT_EQ(c.panel->window()->frame(), before);
    }
}

TEST_F(PanelTest, ContinueAskOpensTheSideWindowWithTheSessionOnlyForAStringSession) {
    logIn();
    auto& chat = *side().singleWebView();
    makeReady(chat);
    const struct {
        KZWebPanelController* panel;
        Value type;
        std::optional<Value> session;
        const char* commitType;  // nullptr: nothing happens
    } cases[] = {
        {&explain(), "explain", Value("s-1"), "explain"},
        {&translate(), "explain", Value("s-2"), "translate"},  // the panel's own type counts
        {&explain(), "explain", Value(""), nullptr},
        {&explain(), "explain", std::nullopt, nullptr},
        {&translate(), "translate", Value(42), nullptr},
        {&translate(), Value(), Value(Dictionary{{"id", "s-3"}}), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kit::describe(c.session.value_or(Value("(missing)"))));
        auto& page = pageView(*c.panel);
        if (!page.isAIWebReady()) makeReady(page, "minipage");
        sideWindow().orderOut();
        c.panel->showWindowWithText("x", {100, 200});
        callsToPage(chat);
        Dictionary data{{"type", c.type}};
        if (c.session) data.set("session_id", *c.session);
        pageCalls(page, "ContinueAsk", data);
        env.advance(kAfterSlide);
        EXPECT_EQ(sideWindow().isVisible(), c.commitType != nullptr);
        EXPECT_EQ(c.panel->window()->isVisible(), c.commitType == nullptr);
        std::vector<std::string> expected;
        if (c.commitType)
            expected.push_back(
                msg("CommitContinueAsk", {{"type", c.commitType}, {"session_id", *c.session->asString()}}));
        std::vector<std::string> commits;
        for (const auto& line : traffic(chat))
            if (line.starts_with("CommitContinueAsk")) commits.push_back(line);
        EXPECT_EQ(commits, expected);
    }
    EXPECT_TRUE(env.log().contains("[翻译] ContinueAsk：translate, sessionId: 42"));
    EXPECT_TRUE(env.log().contains("[解释] ContinueAsk：explain, sessionId: (null)"));
}

TEST_F(PanelTest, LoginNotificationsReachBothPages) {
    makeReady(pageView(explain()), "minipage");
    makeReady(pageView(translate()), "minipage");
    auto& center = kit::NotificationCenter::defaultCenter();
    const struct {
        std::function<void()> act;
        std::vector<std::string> expected;
    } cases[] = {
        {[&] { logIn(); },
         {msg("LoginEventNotify", {{"type", "loginin"}}),
          msg("ClientUserChange", {{"type", "loginin"}, {"visible", true}})}},
        {[&] { center.post(kKZAIUserCancelLoginNotification); }, {msg("CancelLogin", {})}},
    };
    for (const auto& c : cases) {
        c.act();
        for (KZWebPanelController* panel :
             {static_cast<KZWebPanelController*>(&explain()), static_cast<KZWebPanelController*>(&translate())})
            EXPECT_EQ(traffic(pageView(*panel)), c.expected) << panel->panelTitle();
    }
    const auto loads = pageOf(pageView(translate())).loadedRequests().size();
    center.post(kKZAIUserForceReloadWebViewNotification);
    env.runUntilIdle();
    EXPECT_EQ(pageOf(pageView(translate())).loadedRequests().size(), loads + 1);
    EXPECT_EQ(pageOf(pageView(translate())).loadedRequests().back().url,
              "https://ai.quarn.test/embed/chat/translate?version=6");
}

}  // namespace
