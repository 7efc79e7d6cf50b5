#include <gtest/gtest.h>

#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZNetworkStatusView.h"
#include "app/web/KZBaseWebView.h"
#include "app/web/KZWKWebView.h"
#include "app/web/KZWebLoadingView.h"
#include "frameworks/ColorHelpers.h"
#include "frameworks/HXLoadingView.h"
#include "kit/base/NotificationCenter.h"
#include "kit/headless/ScriptedReachability.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/Window.h"
#include "tests/app/webview/WebViewTestSupport.h"

namespace {

using kit::NavigationActionPolicy;

void expectRectNear(const kit::Rect& actual, const kit::Rect& expected) {
    EXPECT_NEAR(actual.origin.x, expected.origin.x, 1e-9);
    EXPECT_NEAR(actual.origin.y, expected.origin.y, 1e-9);
    EXPECT_NEAR(actual.size.width, expected.size.width, 1e-9);
    EXPECT_NEAR(actual.size.height, expected.size.height, 1e-9);
}

class RecordingBaseDelegate : public KZBaseWebViewDelegate {
public:
    void webviewDidRecieveNetworkChanged(KZBaseWebView&, bool reachable) override { changes.push_back(reachable); }
    std::vector<bool> changes;
};

class KZBaseWebViewTest : public webtest::WebViewTest {
protected:
    KZBaseWebViewTest() {
        view = kit::create<KZBaseWebView>(kit::Rect{0, 0, 400, 300});
        page = &pageOf(*view->webView());
    }

    // A page loaded to its end.
    void loadPage(const std::string& url = "https://ai.quarn.test/chat", const std::string& title = "Chat") {
        view->loadRequestWithURL(url);
        ASSERT_TRUE(page->completePendingLoad(title));
    }

    bool isTopmost(const std::shared_ptr<kit::View>& subview) const {
        return !view->subviews().empty() && view->subviews().back() == subview;
    }

    std::shared_ptr<KZBaseWebView> view;
    kit::ScriptedWebEngine* page = nullptr;
};

TEST_F(KZBaseWebViewTest, WebViewIsMadeWithTheFixedConfiguration) {
    auto& webView = *view->webView();
    EXPECT_EQ(webView.customUserAgent(), "Chrome/109.1.18.0/Morvane QuarnAI/MAC");
    EXPECT_EQ(page->customUserAgent(), "Chrome/109.1.18.0/Morvane QuarnAI/MAC");
    EXPECT_EQ(page->configuration().applicationNameForUserAgent, "QuarnAIAssistant");
    EXPECT_TRUE(page->configuration().preferences.elementFullscreenEnabled);
    EXPECT_TRUE(page->configuration().preferences.javaScriptCanOpenWindowsAutomatically);
    EXPECT_TRUE(webView.disableRightMenu());
    EXPECT_EQ(webView.autoresizingMask(), 18u);
    EXPECT_EQ(webView.navigationDelegate().get(), static_cast<kit::WebNavigationDelegate*>(view.get()));
    EXPECT_EQ(webView.uiDelegate().get(), static_cast<kit::WebUIDelegate*>(view.get()));
    EXPECT_TRUE(view->showsRefreshButtonInErrorView());
    EXPECT_TRUE(view->showsErrorViewIfAIWebReadyTimeout());
    EXPECT_EQ(KZGlobalNetworkListener::shared().listenerCount(), 1u);

    // The page always fills the wrapper.
    view->setFrameSize({640, 480});
    EXPECT_EQ(webView.frame(), (kit::Rect{0, 0, 640, 480}));
}

TEST_F(KZBaseWebViewTest, LoadRequestShowsTheLoadingViewUntilTheLoadEnds) {
    view->loadRequestWithURL("https://ai.quarn.test/chat?version=6");
    ASSERT_EQ(page->loadedRequests().size(), 1u);
    const auto& request = page->loadedRequests().back();
    EXPECT_EQ(request.url, "https://ai.quarn.test/chat?version=6");
    EXPECT_EQ(request.cachePolicy, kit::UrlRequestCachePolicy::UseProtocolCachePolicy);
    EXPECT_DOUBLE_EQ(request.timeoutInterval, 10.0);
    EXPECT_EQ(view->rootURL(), "https://ai.quarn.test/chat?version=6");
    EXPECT_TRUE(view->isLoading());
    EXPECT_TRUE(env.log().contains("[WebView] Load Request URL : https://ai.quarn.test/chat?version=6"));

    auto loading = view->loadingView();
    EXPECT_TRUE(isTopmost(loading));
    EXPECT_FALSE(loading->isHidden());
    EXPECT_TRUE(loading->loadingView()->isAnimating());
    view->layoutSubtreeIfNeeded();
    // Below the 2-point progress bar, otherwise the whole wrapper.
    EXPECT_EQ(loading->frame(), (kit::Rect{0, 0, 400, 298}));

    ASSERT_TRUE(page->completePendingLoad("Chat"));
    EXPECT_FALSE(view->isLoading());
    EXPECT_TRUE(loading->isHidden());
    EXPECT_FALSE(loading->loadingView()->isAnimating());
    EXPECT_EQ(view->currentURL(), "https://ai.quarn.test/chat?version=6");
    EXPECT_EQ(view->title(), "Chat");
}

TEST_F(KZBaseWebViewTest, LoadingViewCentresSpinnerAndText) {
    auto loading = kit::create<KZWebLoadingView>(kit::Rect{0, 0, 400, 300});
    loading->layoutSubtreeIfNeeded();
    const kit::Rect label = loading->loadingLabel()->frame();
    const kit::Rect spinner = loading->loadingView()->frame();
    EXPECT_EQ(loading->loadingLabel()->stringValue(), "加载中，请稍候...");
    EXPECT_EQ(loading->loadingLabel()->font(), kit::Font::systemFont(12));
    EXPECT_EQ(loading->loadingLabel()->textColor().hex(), 0x4D4D4Du);
    EXPECT_TRUE(loading->loadingLabel()->usesSingleLineMode());
    EXPECT_NEAR(label.midX(), 200 + 10.5, 1e-9);
    EXPECT_NEAR(label.midY(), 150, 1e-9);
    EXPECT_EQ(spinner.size, (kit::Size{16, 16}));
    EXPECT_NEAR(label.minX() - spinner.maxX(), 5, 1e-9);
    // One point lower than the label's centre line (y grows upwards).
    EXPECT_NEAR(spinner.midY(), label.midY() - 1, 1e-9);
    EXPECT_EQ(loading->layer().backgroundColor, kit::Color::white());
}

TEST_F(KZBaseWebViewTest, EmptyAddressResetsAndLoadsNothing) {
    loadPage();
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorNotConnectedToInternet});
    ASSERT_TRUE(view->isErrorViewShowing());
    const auto loads = page->loadedRequests().size();

    view->loadRequestWithURL("");
    EXPECT_FALSE(view->isErrorViewShowing());
    EXPECT_FALSE(view->isLoading());
    EXPECT_TRUE(view->loadingView()->isHidden());
    EXPECT_EQ(page->loadedRequests().size(), loads);
    EXPECT_EQ(view->rootURL(), "https://ai.quarn.test/chat");
}

TEST_F(KZBaseWebViewTest, ReloadRules) {
    view->loadRequestWithURL("https://ai.quarn.test/chat");
    // Refused while loading.
    view->reload();
    EXPECT_TRUE(env.log().contains("[WebView] isLoading !"));
    EXPECT_EQ(page->reloadCount(), 0);
    EXPECT_EQ(page->loadedRequests().size(), 1u);

    ASSERT_TRUE(page->completePendingLoad("Chat"));
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorTimedOut});
    ASSERT_TRUE(view->isErrorViewShowing());
    // A page with an address reloads itself and drops the error view.
    view->reload();
    EXPECT_EQ(page->reloadCount(), 1);
    EXPECT_TRUE(view->isLoading());
    EXPECT_FALSE(view->isErrorViewShowing());
    EXPECT_TRUE(env.log().contains("[WebView] reload, origin url: https://ai.quarn.test/chat, current url: https://ai.quarn.test/chat"));

    // A page without an address loads the root address afresh.
    page->terminateWebContentProcess(true);
    page->failProvisionalNavigation({kit::kURLErrorDomain, kit::kURLErrorTimedOut});
    ASSERT_FALSE(view->isLoading());
    view->reload();
    EXPECT_EQ(page->loadedRequests().size(), 2u);
    EXPECT_EQ(page->loadedRequests().back().url, "https://ai.quarn.test/chat");
    EXPECT_TRUE(env.log().contains("[WebView] reloadOriginUrl, origin url: https://ai.quarn.test/chat"));
}

TEST_F(KZBaseWebViewTest, ErrorViewTextsFollowTheErrorDomain) {
    struct Case {
        kit::WebError error;
        std::string text;
    };
    const std::vector<Case> cases{
        {{kit::kURLErrorDomain, kit::kURLErrorNotConnectedToInternet}, "当前网络不佳，请稍后再试(-1009)"},
        {{kit::kURLErrorDomain, kit::kURLErrorTimedOut}, "当前网络不佳，请稍后再试(-1001)"},
        {{kit::kWebKitErrorDomain, kit::kWebKitErrorFrameLoadInterruptedByPolicyChange}, "加载失败，请稍后再试(102)"},
        {{"SomeOtherDomain", 7}, "加载失败，请稍后再试(7)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(KZBaseWebView::errorTextForError(c.error), c.text);
        view->loadRequestWithURL("https://ai.quarn.test/chat");
        page->startProvisionalNavigation("https://ai.quarn.test/chat");
        page->failProvisionalNavigation(c.error);
        ASSERT_TRUE(view->isErrorViewShowing());
        auto error = view->networkErrorView();
        EXPECT_TRUE(isTopmost(error));
        EXPECT_EQ(error->descText(), c.text);
        EXPECT_EQ(error->imageName(), "tips_no_net_placeholder");
        EXPECT_EQ(error->buttonTitle(), "刷新");
        view->layoutSubtreeIfNeeded();
        EXPECT_EQ(error->frame(), view->bounds());
    }
    // The cancellation text still exists for callers that show it.
    EXPECT_EQ(KZBaseWebView::errorTextForError({kit::kURLErrorDomain, kit::kURLErrorCancelled}), "加载失败，请稍后再试(-999)");
}

TEST_F(KZBaseWebViewTest, ReplacedLoadShowsNoErrorView) {
    view->loadRequestWithURL("https://ai.quarn.test/a");
    page->startProvisionalNavigation("https://ai.quarn.test/a");
    // The page is replaced before it arrives: the old load ends as cancelled.
    view->loadRequestWithURL("https://ai.quarn.test/b");
    page->failProvisionalNavigation({kit::kURLErrorDomain, kit::kURLErrorCancelled});
    EXPECT_FALSE(view->isErrorViewShowing());
    EXPECT_EQ(view->networkErrorView(), nullptr);
    // The same during a committed load.
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorCancelled});
    EXPECT_FALSE(view->isErrorViewShowing());
}

TEST_F(KZBaseWebViewTest, RefreshButtonReloadsTheRootAddress) {
    auto window = kit::create<kit::Window>(kit::Rect{100, 100, 400, 300}, kit::WindowStyleBorderless);
    view->setFrame({0, 0, 400, 300});
    window->contentView()->addSubview(view);
    window->makeKeyAndOrderFront();
    loadPage("https://ai.quarn.test/chat");
    page->loadPage("https://ai.quarn.test/other");
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorNetworkConnectionLost});
    auto error = view->networkErrorView();
    ASSERT_TRUE(error && error->hasButton());
    window->contentView()->layoutSubtreeIfNeeded();

    ui.clickView(*error->button());
    env.runUntilIdle();
    EXPECT_FALSE(view->isErrorViewShowing());
    ASSERT_EQ(page->loadedRequests().size(), 2u);
    EXPECT_EQ(page->loadedRequests().back().url, "https://ai.quarn.test/chat");
    EXPECT_TRUE(view->isLoading());
    // The same view serves the next error.
    page->completePendingLoad();
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorTimedOut});
    EXPECT_EQ(view->networkErrorView(), error);
    window->close();
}

TEST_F(KZBaseWebViewTest, ErrorViewStyleIsFixedAtTheFirstError) {
    view->setShowsRefreshButtonInErrorView(false);
    loadPage();
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorTimedOut});
    ASSERT_NE(view->networkErrorView(), nullptr);
    EXPECT_EQ(view->networkErrorView()->style(), 0u);
    EXPECT_FALSE(view->networkErrorView()->hasButton());

    view->setShowsRefreshButtonInErrorView(true);
    view->__showErrorViewWithText("again");
    EXPECT_EQ(view->networkErrorView()->style(), 0u);
    EXPECT_FALSE(view->networkErrorView()->hasButton());
}

TEST_F(KZBaseWebViewTest, NetworkReturnReloadsOnlyWhileTheErrorViewShows) {
    auto delegate = std::make_shared<RecordingBaseDelegate>();
    view->setDelegate(delegate);
    loadPage();

    // Changes without an error view only reach the delegate.
    view->onReceiveNetworkChanged(true);
    EXPECT_EQ(page->reloadCount(), 0);
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorNotConnectedToInternet});
    view->onReceiveNetworkChanged(false);
    EXPECT_TRUE(view->isErrorViewShowing());
    EXPECT_EQ(page->reloadCount(), 0);
    EXPECT_TRUE(env.log().contains("[WebView] onReceiveNetworkChanged : 0, current url: https://ai.quarn.test/chat"));

    view->onReceiveNetworkChanged(true);
    EXPECT_EQ(page->reloadCount(), 1);
    EXPECT_FALSE(view->isErrorViewShowing());
    EXPECT_EQ(delegate->changes, (std::vector<bool>{true, false, true}));
}

TEST_F(KZBaseWebViewTest, NetworkListenerReachesTheView) {
    kit::ScriptedReachability network;
    network.setFlags(2);
    KZGlobalNetworkListener::shared().start();
    env.runUntilIdle();
    loadPage();
    page->failNavigation({kit::kURLErrorDomain, kit::kURLErrorNotConnectedToInternet});

    network.setFlags(0);
    env.runUntilIdle();
    EXPECT_EQ(page->reloadCount(), 0);
    network.setFlags(2);
    env.runUntilIdle();
    EXPECT_EQ(page->reloadCount(), 1);
    EXPECT_FALSE(view->isErrorViewShowing());

    view.reset();
    EXPECT_EQ(KZGlobalNetworkListener::shared().listenerCount(), 0u);
    KZGlobalNetworkListener::shared().stop();
}

TEST_F(KZBaseWebViewTest, DeadContentProcessIsReloaded) {
    loadPage("https://ai.quarn.test/chat");
    HXReport::takeRecordedEvents();
    page->terminateWebContentProcess(false);
    EXPECT_EQ(page->reloadCount(), 1);
    EXPECT_EQ(reports(24004), (std::vector<std::string>{"https://ai.quarn.test/chat;1"}));
    EXPECT_TRUE(env.log().contains("[WebView] WebViewWebContentProcessDidTerminate origin url: https://ai.quarn.test/chat"));
}

TEST_F(KZBaseWebViewTest, WakeAndActivationReloadAnEmptyPage) {
    struct Trigger {
        const char* name;
        std::function<void()> post;
        const char* logLine;
    };
    const std::vector<Trigger> triggers{
        {"wake", [&] { env.workspace().notificationCenter().post(kKZWorkspaceDidWakeNotification); }, "[KZBaseWebView] didWake"},
        {"screens wake", [&] { env.workspace().notificationCenter().post(kKZWorkspaceScreensDidWakeNotification); },
         "[KZBaseWebView] screensDidWake"},
        {"activation", [&] { kit::NotificationCenter::defaultCenter().post(kit::kApplicationWillBecomeActiveNotification); },
         "[KZBaseWebView] applicationWillBecomeActive"},
    };
    loadPage("https://ai.quarn.test/chat");
    for (const auto& trigger : triggers) {
        SCOPED_TRACE(trigger.name);
        HXReport::takeRecordedEvents();
        const auto loads = page->loadedRequests().size();

        // A live page is left alone.
        trigger.post();
        EXPECT_TRUE(env.log().contains(trigger.logLine));
        EXPECT_EQ(page->loadedRequests().size(), loads);
        EXPECT_TRUE(reports(24004).empty());

        // A page the dead process left without title and address comes back from the root.
        page->terminateWebContentProcess(true);
        HXReport::takeRecordedEvents();
        trigger.post();
        ASSERT_EQ(page->loadedRequests().size(), loads + 1);
        EXPECT_EQ(page->loadedRequests().back().url, "https://ai.quarn.test/chat");
        EXPECT_EQ(reports(24004), (std::vector<std::string>{";2"}));
        EXPECT_TRUE(env.log().contains("[KZBaseWebView] reloadForTerminate, currentURL: https://ai.quarn.test/chat"));
        ASSERT_TRUE(page->completePendingLoad("Chat"));
    }
}

TEST_F(KZBaseWebViewTest, ObservationsEndWithTheView) {
    auto& workspaceCenter = env.workspace().notificationCenter();
    auto& defaultCenter = kit::NotificationCenter::defaultCenter();
    view.reset();
    const auto workspaceBaseline = workspaceCenter.observerCount();
    const auto defaultBaseline = defaultCenter.observerCount();

    auto other = kit::create<KZBaseWebView>(kit::Rect{0, 0, 100, 100});
    EXPECT_EQ(workspaceCenter.observerCount(), workspaceBaseline + 2);
    EXPECT_EQ(defaultCenter.observerCount(), defaultBaseline + 1);
    other.reset();
    EXPECT_EQ(workspaceCenter.observerCount(), workspaceBaseline);
    EXPECT_EQ(defaultCenter.observerCount(), defaultBaseline);
    // Nothing is delivered to the view that went.
    env.log().clear();
    workspaceCenter.post(kKZWorkspaceDidWakeNotification);
    defaultCenter.post(kit::kApplicationWillBecomeActiveNotification);
    EXPECT_FALSE(env.log().contains("[KZBaseWebView] didWake"));
    EXPECT_FALSE(env.log().contains("[KZBaseWebView] applicationWillBecomeActive"));
}

TEST_F(KZBaseWebViewTest, NavigationPolicies) {
    loadPage();
    for (const char* blob : {"blob:https://ai.quarn.test/1234", "BLOB:https://ai.quarn.test/1234", "Blob:x"}) {
        EXPECT_EQ(page->requestNavigation(blob), NavigationActionPolicy::Cancel) << blob;
    }
    EXPECT_TRUE(env.log().contains("[WebView] cancel blob"));
    EXPECT_TRUE(env.log().contains("[WebView] decidePolicyForNavigationAction origin url: https://ai.quarn.test/chat, to url : blob:https://ai.quarn.test/1234"));
    EXPECT_EQ(page->requestNavigation("https://ai.quarn.test/next"), NavigationActionPolicy::Allow);
    EXPECT_EQ(page->requestNavigation("https://ai.quarn.test/blob:x"), NavigationActionPolicy::Allow);

    kit::NavigationResponse response;
    response.response.url = "https://ai.quarn.test/next";
    response.response.statusCode = 500;
    EXPECT_EQ(page->receiveResponse(response), kit::NavigationResponsePolicy::Allow);
}

TEST_F(KZBaseWebViewTest, NewWindowsOpenWebAddressesInTheBrowserOnly) {
    loadPage("https://ai.quarn.test/chat");
    EXPECT_EQ(page->openNewWindow("https://example.com/article?id=1"), nullptr);
    EXPECT_EQ(page->openNewWindow("HTTP://Example.com/x"), nullptr);
    for (const char* other : {"file:///etc/passwd", "javascript:alert(1)", "mailto:someone@example.com",
                              "smb://server/share", "not an address"}) {
        EXPECT_EQ(page->openNewWindow(other), nullptr) << other;
    }
    EXPECT_EQ(env.workspace().openedURLs(), (std::vector<std::string>{"https://example.com/article?id=1", "HTTP://Example.com/x"}));
    EXPECT_EQ(env.log().count("[WebView] new window dropped, not a web address"), 5u);
    EXPECT_TRUE(env.log().contains("[WebView] createWebViewWithConfiguration origin url: https://ai.quarn.test/chat, to url: https://example.com/article?id=1"));
    // The page itself stays where it was.
    EXPECT_EQ(view->webView()->url(), "https://ai.quarn.test/chat");
    EXPECT_EQ(page->loadedRequests().size(), 1u);
}

TEST_F(KZBaseWebViewTest, OnlyValidCertificatesAreTrusted) {
    loadPage();
    auto valid = page->receiveServerTrustChallenge(true);
    ASSERT_TRUE(valid);
    EXPECT_EQ(valid->first, kit::AuthChallengeDisposition::UseCredential);
    ASSERT_TRUE(valid->second && valid->second->serverTrust);
    EXPECT_TRUE(valid->second->serverTrust->validates);

    auto invalid = page->receiveServerTrustChallenge(false);
    ASSERT_TRUE(invalid);
    EXPECT_EQ(invalid->first, kit::AuthChallengeDisposition::CancelAuthenticationChallenge);
    EXPECT_EQ(invalid->second, nullptr);

    auto retried = page->receiveServerTrustChallenge(true, 1);
    ASSERT_TRUE(retried);
    EXPECT_EQ(retried->first, kit::AuthChallengeDisposition::CancelAuthenticationChallenge);

    kit::AuthenticationChallenge basic;
    basic.protectionSpace.authenticationMethod = kit::kAuthenticationMethodHTTPBasic;
    auto answer = page->receiveAuthenticationChallenge(basic);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->first, kit::AuthChallengeDisposition::CancelAuthenticationChallenge);
}

TEST_F(KZBaseWebViewTest, PanelsAreAnsweredAtOnce) {
    loadPage();
    EXPECT_EQ(page->runConfirmPanel("Leave?"), std::optional<bool>(false));
    EXPECT_TRUE(env.log().contains("[WebView] runJavaScriptConfirmPanelWithMessage: Leave?, origin url: https://ai.quarn.test/chat"));
    auto text = page->runTextInputPanel("Name?", "x");
    ASSERT_TRUE(text.has_value());
    EXPECT_FALSE(text->has_value());
    EXPECT_TRUE(env.log().contains("[WebView] runJavaScriptTextInputPanelWithPrompt: Name?, origin url: https://ai.quarn.test/chat"));
    page->closeWindow();
    EXPECT_TRUE(env.log().contains("[WebView] webView Did Close, origin url: https://ai.quarn.test/chat"));
}

TEST_F(KZBaseWebViewTest, ProgressBarGrowsAlongTheTopAndFinishesAnimated) {
    expectRectNear(view->progressRectForProgress(0), {0, 298, 40, 2});
    expectRectNear(view->progressRectForProgress(0.5), {0, 298, 220, 2});
    expectRectNear(view->progressRectForProgress(1), {0, 298, 400, 2});

    view->loadRequestWithURL("https://ai.quarn.test/chat");
    page->startProvisionalNavigation("https://ai.quarn.test/chat");
    auto bar = view->progressView();
    EXPECT_EQ(bar->layer().backgroundColor, intlGreenColor());
    // Directly above the page.
    auto& subviews = view->subviews();
    auto webAt = std::find(subviews.begin(), subviews.end(), view->webView());
    ASSERT_NE(webAt, subviews.end());
    // Animated where it is seen.
    auto window = kit::create<kit::Window>(kit::Rect{0, 0, 400, 300}, kit::WindowStyleBorderless);
    window->contentView()->addSubview(view);
    window->orderFront();
    EXPECT_EQ(*(webAt + 1), bar);

    expectRectNear(bar->frame(), {0, 298, 400 * 0.19, 2});
    page->setEstimatedProgress(0.5);
    expectRectNear(bar->frame(), {0, 298, 220, 2});
    EXPECT_FALSE(bar->isHidden());

    page->setEstimatedProgress(1.0);
    env.advance(0.1);
    EXPECT_GT(bar->frame().width(), 220);
    EXPECT_LT(bar->frame().width(), 400);
    EXPECT_FALSE(bar->isHidden());
    env.advance(0.15);
    env.runUntilIdle();
    expectRectNear(bar->frame(), {0, 298, 400, 2});
    EXPECT_TRUE(bar->isHidden());

    // A new load shows it again at its start.
    page->setEstimatedProgress(0.1);
    EXPECT_FALSE(bar->isHidden());
    expectRectNear(bar->frame(), {0, 298, 400 * 0.19, 2});
    // And a resize redraws it for the current progress.
    view->setFrameSize({800, 300});
    expectRectNear(bar->frame(), {0, 298, 800 * 0.19, 2});
}

TEST_F(KZBaseWebViewTest, FirstLoadReportsAreSentOnce) {
    view->loadRequestWithURL("https://ai.quarn.test/chat");
    page->startProvisionalNavigation("https://ai.quarn.test/chat");
    EXPECT_EQ(reports(24001), (std::vector<std::string>{"https://ai.quarn.test/chat"}));
    EXPECT_EQ(view->webViewLoadStep(), 1);
    env.advance(0.25);
    page->commitNavigation();
    page->finishNavigation("Chat");
    EXPECT_EQ(reports(24002), (std::vector<std::string>{"https://ai.quarn.test/chat;250"}));
    EXPECT_EQ(view->webViewLoadStep(), 2);
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] WebViewDidStartLoad: https://ai.quarn.test/chat"));
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] WebViewDidFinishLoad: https://ai.quarn.test/chat"));

    // Later loads of the same wrapper are not measured.
    view->loadRequestWithURL("https://ai.quarn.test/next");
    page->startProvisionalNavigation("https://ai.quarn.test/next");
    page->failProvisionalNavigation({kit::kURLErrorDomain, kit::kURLErrorTimedOut});
    page->loadPage("https://ai.quarn.test/next");
    EXPECT_EQ(reports(24001).size(), 1u);
    EXPECT_EQ(reports(24002).size(), 1u);
    EXPECT_TRUE(reports(24003).empty());
}

TEST_F(KZBaseWebViewTest, FailedFirstLoadIsReported) {
    view->loadRequestWithURL("https://ai.quarn.test/chat");
    page->startProvisionalNavigation("https://ai.quarn.test/chat");
    env.advance(1.5);
    page->failProvisionalNavigation({kit::kURLErrorDomain, kit::kURLErrorCannotFindHost});
    EXPECT_EQ(reports(24003), (std::vector<std::string>{"https://ai.quarn.test/chat;1500;NSURLErrorDomain;-1003"}));
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] WebViewDidFailLoad: https://ai.quarn.test/chat"));
    page->loadPage("https://ai.quarn.test/chat");
    EXPECT_TRUE(reports(24002).empty());
}

TEST_F(KZBaseWebViewTest, RightClicksStayOnThePageWhileTheMenuIsDisabled) {
    class Recorder : public kit::View {
    public:
        using kit::View::View;
        void rightMouseDown(const kit::Event&) override { ++rightClicks; }
        int rightClicks = 0;
    };
    auto window = kit::create<kit::Window>(kit::Rect{100, 100, 300, 200}, kit::WindowStyleBorderless);
    auto parent = kit::create<Recorder>(kit::Rect{0, 0, 300, 200});
    auto webView = kit::create<KZWKWebView>(kit::Rect{0, 0, 300, 200});
    parent->addSubview(webView);
    window->contentView()->addSubview(parent);
    window->makeKeyAndOrderFront();

    webView->setDisableRightMenu(true);
    ui.rightClick(*window, {150, 100});
    EXPECT_EQ(parent->rightClicks, 0);
    webView->setDisableRightMenu(false);
    ui.rightClick(*window, {150, 100});
    EXPECT_EQ(parent->rightClicks, 1);
    window->close();
}

}  // namespace
