#include "app/windows/KZAIKeepAliveWebPage.h"
#include "app/windows/KZAILoginWindowController.h"
#include "app/tools/KZExplainPanelController.h"
#include "app/tools/KZTranslatePanelController.h"
#include "app/ui/KZCustomViewButton.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Control.h"
#include "kit/ui/ImageView.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace {

using kit::Dictionary;
using kit::Rect;
using kit::Value;

class LoginTest : public apptest::AppWindowsTest {
protected:
    LoginTest() {
        auto& center = kit::NotificationCenter::defaultCenter();
        changedToken_ = center.addObserverForName(kKZAIUserLoginStateChangedNotification, nullptr,
                                                  [this](const kit::Notification&) { ++changed; });
        cancelToken_ = center.addObserverForName(kKZAIUserCancelLoginNotification, nullptr,
                                                 [this](const kit::Notification&) { ++cancelled; });
    }

    KZAIUserManager& users() { return KZAIUserManager::shared(); }
    KZAIWebView& keepAlive() {
        auto page = std::dynamic_pointer_cast<KZAIKeepAliveWebPage>(users().keepAliveBridge());
        if (!page) throw std::runtime_error("no keep-alive page");
        return *page->webView();
    }
    std::shared_ptr<KZAILoginWindowController> loginWindow() {
        return std::dynamic_pointer_cast<KZAILoginWindowController>(users().loginWindowController());
    }
    static Dictionary report(Value state, std::string avatar = "", std::string name = "") {
        return Dictionary{{"state", std::move(state)}, {"avatar", std::move(avatar)}, {"userName", std::move(name)}};
    }
    std::size_t settingsWrites() { return env.log().count("[DB] setAuthUserInfo"); }

    int changed = 0;
    int cancelled = 0;

private:
    std::shared_ptr<void> changedToken_;
    std::shared_ptr<void> cancelToken_;
};

// ---- Accepting reports --------------------------------------------------------------------------

TEST_F(LoginTest, AcceptedReportIsStoredNotifiedAndToldToTheKeepAlivePage) {
    makeReady(keepAlive());
    users().onLoginStateChanged(report(0, "https://img.test/a.png", "ann"));
    EXPECT_TRUE(users().isLogin());
    EXPECT_EQ(users().userName(), "ann");
    EXPECT_EQ(users().avatarUrl(), std::optional<std::string>("https://img.test/a.png"));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(Value(KZSharedPlistManager::sharedManager().db_authUserInfo()),
              Value(report(0, "https://img.test/a.png", "ann")));
    const auto calls = callsToPage(keepAlive());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["handlerName"], Value("LoginEventNotify"));
    EXPECT_EQ(calls[0]["data"], Value(Dictionary{{"type", "loginin"}}));
    EXPECT_EQ(calls[1]["handlerName"], Value("ClientUserChange"));
    EXPECT_EQ(calls[1]["data"], Value(Dictionary{{"type", "loginin"}, {"visible", true}}));

    // A new avatar while still logged in is a change too.
    users().onLoginStateChanged(report(0, "https://img.test/b.png", "ann"));
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(users().userAvatar(), "https://img.test/b.png");

    // Any state but 0 and 2 is a logout, stored as 1.
    users().onLoginStateChanged(report(7));
    EXPECT_FALSE(users().isLogin());
    EXPECT_EQ(KZSharedPlistManager::sharedManager().db_authUserInfo()["state"].integerValue(), 1);
    EXPECT_EQ(users().avatarUrl(), std::nullopt);
    EXPECT_TRUE(env.log().contains("[UA] reveive logout : "));
}

TEST_F(LoginTest, DuplicatesStateTwoAndMalformedStatesChangeNothing) {
    users().onLoginStateChanged(report(0, "", "ann"));
    ASSERT_EQ(changed, 1);
    const auto writes = settingsWrites();
    makeReady(keepAlive());

    users().onLoginStateChanged(report(0, "", "ann"));
    users().onLoginStateChanged(report(2));
    users().onLoginStateChanged(Dictionary{{"avatar", ""}, {"userName", "bob"}});
    users().onLoginStateChanged(report("0", "", "bob"));
    users().onLoginStateChanged(report(0.5, "", "bob"));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(settingsWrites(), writes);
    EXPECT_EQ(users().userName(), "ann");
    EXPECT_TRUE(callsToPage(keepAlive()).empty());
    EXPECT_EQ(env.log().count("[UA] LoginStateChanged1"), 6u);
    EXPECT_EQ(env.log().count("[UA] LoginStateChanged2"), 1u);
}

TEST_F(LoginTest, LoginWithinTwoSecondsOfALogoutIsDropped) {
    users().onLoginStateChanged(report(0, "", "ann"));
    users().onLoginStateChanged(report(1));
    ASSERT_EQ(changed, 2);
    env.advance(1.5);
    users().onLoginStateChanged(report(0, "", "ann"));
    EXPECT_FALSE(users().isLogin());
    EXPECT_EQ(changed, 2);
    EXPECT_TRUE(env.log().contains("[UA] reveive userinfo in logout 2s in: "));
    env.advance(1.0);
    users().onLoginStateChanged(report(0, "", "ann"));
    EXPECT_TRUE(users().isLogin());
    EXPECT_EQ(changed, 3);
}

TEST_F(LoginTest, PagesReachTheManagerThroughTheirBridge) {
    auto& page = *side().singleWebView();
    openPage(page);
    pageCalls(page, "ReportAuthUser", report(0, "", "ann"));
    EXPECT_TRUE(users().isLogin());
    pageCalls(page, "ReportAuthUser", report(1));
    EXPECT_FALSE(users().isLogin());
    pageCalls(page, "RequestLogin");
    ASSERT_NE(loginWindow(), nullptr);
    EXPECT_TRUE(loginWindow()->window()->isVisible());
}

// ---- Launch and the keep-alive page -------------------------------------------------------------

TEST_F(LoginTest, LaunchReadsTheStoredStateAndReportsIt) {
    struct Case {
        Dictionary stored;
        bool login;
        const char* value;
    };
    const Case cases[] = {
        {report(0, "https://x.test/ek_zxapp/p.png", "ann"), true, "2"},
        {report(0, "https://x.test/p.png", "ann"), true, "1"},
        {report(1, "https://x.test/ek_zxapp/p.png", "ann"), false, "0"},
    };
    for (const auto& c : cases) {
        KZSharedPlistManager::sharedManager().db_setAuthUserInfo(c.stored);
        KZAIUserManager::resetShared();
        HXReport::takeRecordedEvents();
        EXPECT_EQ(users().isLogin(), c.login);
        EXPECT_EQ(users().userName(), "ann");
        EXPECT_EQ(reports(24021), std::vector<std::string>{c.value});
    }
}

TEST_F(LoginTest, KeepAlivePageAsksForTheUserWhenReadyOnlineOrActive) {
    auto& page = keepAlive();
    ASSERT_EQ(pageOf(page).loadedRequests().size(), 1u);
    EXPECT_EQ(pageOf(page).loadedRequests()[0].url, "https://ai.quarn.test/thirdParty/dorvaka/pmChatHome?version=6");
    openPage(page);
    pageCalls(page, "WebIsReady", Dictionary{{"from", "main"}});
    EXPECT_EQ(callNamesToPage(page), std::vector<std::string>{"RequestAuthUser"});
    EXPECT_TRUE(env.log().contains("Keep Alive Web ready from: main"));

    page.onReceiveNetworkChanged(false);
    EXPECT_TRUE(callsToPage(page).empty());
    page.onReceiveNetworkChanged(true);
    EXPECT_EQ(callNamesToPage(page), std::vector<std::string>{"RequestAuthUser"});

    auto& center = kit::NotificationCenter::defaultCenter();
    center.post(kit::kApplicationDidBecomeActiveNotification);
    EXPECT_EQ(callNamesToPage(page), std::vector<std::string>{"RequestAuthUser"});
    users().setNeedReflushWebviewWhenShowWindowAfter15min(true);
    center.post(kit::kApplicationDidBecomeActiveNotification);
    EXPECT_TRUE(callsToPage(page).empty());
    users().reloadKeepAliveWebview();
    EXPECT_FALSE(users().needReflushWebviewWhenShowWindowAfter15min());

    center.post(kKZAIUserCancelLoginNotification);
    EXPECT_EQ(callNamesToPage(page), std::vector<std::string>{"CancelLogin"});
}

TEST_F(LoginTest, LogoutIsAskedOfTheKeepAlivePageEvenWhenNotReady) {
    auto& page = keepAlive();
    openPage(page);
    users().native2js_Logout();
    EXPECT_TRUE(env.log().contains("Error: user log out but web not ready"));
    EXPECT_EQ(callNamesToPage(page), std::vector<std::string>{"RequestLogout"});
    pageCalls(page, "WebIsReady");
    callsToPage(page);
    env.log().clear();
    users().native2js_Logout();
    EXPECT_FALSE(env.log().contains("Error: user log out but web not ready"));
    EXPECT_EQ(callNamesToPage(page), std::vector<std::string>{"RequestLogout"});
}

// ---- Login window -------------------------------------------------------------------------------

TEST_F(LoginTest, LoginWindowOpensCentredOnTheScreenOrOnAWindow) {
    users().showLoginWindowRelateToWindow(nullptr);
    auto login = loginWindow();
    ASSERT_NE(login, nullptr);
    auto& w = *login->window();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isKeyWindow());
    EXPECT_EQ(w.frame().size, (kit::Size{370, 450}));
    EXPECT_EQ(w.frame().origin, (kit::Point{535, 283}));  // the screen's centre, a little high
    EXPECT_EQ(w.level(), 1);
    EXPECT_EQ(w.minSize(), (kit::Size{370, 450}));
    EXPECT_EQ(w.maxSize(), (kit::Size{370, 450}));
    EXPECT_TRUE(w.standardWindowButton(kit::WindowButton::Zoom)->isHidden());
    EXPECT_TRUE(w.standardWindowButton(kit::WindowButton::Miniaturize)->isHidden());
    EXPECT_FALSE(w.standardWindowButton(kit::WindowButton::Close)->isHidden());
    ASSERT_EQ(pageOf(*login->loginWebView()).loadedRequests().size(), 1u);
    EXPECT_EQ(pageOf(*login->loginWebView()).loadedRequests()[0].url,
              "https://ai.quarn.test/thirdParty/quarn/login?version=6");
    w.layoutIfNeeded();
    EXPECT_EQ(login->topImageView()->frame(), (Rect{0, 450 - 149, 370, 149}));
    EXPECT_EQ(login->loginWebView()->frame(), (Rect{0, 0, 370, 450 - 149}));
    EXPECT_EQ(login->flushButton()->frame(), (Rect{15, 19, 20, 20}));
    w.close();

    side().showWithCompletionHandler();
    env.advance(apptest::kAfterSlide);
    users().showLoginWindowRelateToWindow(side().window());
    // Centred on the side window (1030, 20, 390, 835).
    EXPECT_EQ(loginWindow()->window()->frame(), (Rect{1225 - 185, 437.5 - 225, 370, 450}));
}

TEST_F(LoginTest, ShowingAgainBringsTheOpenWindowForwardWithoutACancel) {
    users().showLoginWindowRelateToWindow(nullptr);
    auto first = loginWindow();
    auto& page = pageOf(*first->loginWebView());
    auto other = kit::create<kit::Window>(Rect{0, 0, 200, 200}, kit::WindowStyleTitled);
    other->makeKeyAndOrderFront();

    users().showLoginWindowRelateToWindow(nullptr);
    EXPECT_EQ(loginWindow(), first);
    EXPECT_TRUE(first->window()->isKeyWindow());
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(page.loadedRequests().size(), 1u);  // not reloaded

    // Closed by hand, the next request makes a new window; the old one's close told the pages once.
    first->window()->performClose();
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(reports(24054), std::vector<std::string>{"1"});
    users().showLoginWindowRelateToWindow(nullptr);
    EXPECT_NE(loginWindow(), first);
    EXPECT_TRUE(loginWindow()->window()->isVisible());
    EXPECT_EQ(cancelled, 1);
}

TEST_F(LoginTest, ClosingTellsThePagesOnlyWhileLoggedOut) {
    makeReady(keepAlive());
    makeReady(*side().singleWebView());
    users().showLoginWindowRelateToWindow(nullptr);
    loginWindow()->window()->close();
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(callNamesToPage(keepAlive()), std::vector<std::string>{"CancelLogin"});
    EXPECT_EQ(callNamesToPage(*side().singleWebView()), std::vector<std::string>{"CancelLogin"});

    users().showLoginWindowRelateToWindow(nullptr);
    auto login = loginWindow();
    users().onLoginStateChanged(report(0, "", "ann"));
    EXPECT_EQ(loginWindow(), nullptr);  // destroyed by the login
    EXPECT_FALSE(login->window()->isVisible());
    EXPECT_EQ(cancelled, 1);
    EXPECT_TRUE(env.log().contains("[US] distroy Login Window"));

    // Logged in, nothing opens.
    users().showLoginWindowRelateToWindow(nullptr);
    EXPECT_EQ(loginWindow(), nullptr);
    EXPECT_TRUE(env.log().contains("已经有登录: ann， 不需要再弹出登录弹窗"));
}

TEST_F(LoginTest, LoginPageHearsStateChangesAndRefreshes) {
    users().showLoginWindowRelateToWindow(nullptr);
    auto login = loginWindow();
    auto& page = *login->loginWebView();
    openPage(page);
    users().onLoginStateChanged(report(1, "", "someone"));
    const auto calls = callsToPage(page);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["data"], Value(Dictionary{{"type", "loginout"}}));
    EXPECT_EQ(calls[1]["data"], Value(Dictionary{{"type", "loginout"}, {"visible", false}}));

    const int reloads = pageOf(page).reloadCount();
    ASSERT_TRUE(login->flushButton()->accessibilityPerformPress());
    EXPECT_EQ(pageOf(page).reloadCount(), reloads + 1);
    EXPECT_EQ(login->flushButton()->accessibilityLabel(), "刷新");
}

TEST_F(LoginTest, ShowingTheLoginWindowClosesThePanels) {
    auto explain = manager().explainPanelController()->window();
    auto translate = manager().translatePanelController()->window();
    explain->orderFront();
    translate->orderFront();
    users().showLoginWindowRelateToWindow(nullptr);
    EXPECT_FALSE(explain->isVisible());
    EXPECT_FALSE(translate->isVisible());
}

}  // namespace
