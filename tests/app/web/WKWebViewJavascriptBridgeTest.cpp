#include "app/web/WKWebViewJavascriptBridge.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/web/WebViewJavascriptBridge.h"
#include "kit/headless/ScriptedWebEngine.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Create.h"
#include "tests/app/web/BridgeTestSupport.h"

using kit::NavigationActionPolicy;
using kit::Value;

namespace {

// Records every navigation event it hears and answers decisions with `policy`.
class RecordingNavigationDelegate : public kit::WebNavigationDelegate {
public:
    void decidePolicyForNavigationAction(kit::WebView&, const kit::NavigationAction& action,
                                         kit::NavigationActionDecision decisionHandler) override {
        events.push_back("action " + action.request.url);
        decisionHandler(policy);
    }
    void decidePolicyForNavigationResponse(kit::WebView&, const kit::NavigationResponse&,
                                           kit::NavigationResponseDecision decisionHandler) override {
        events.push_back("response");
        decisionHandler(kit::NavigationResponsePolicy::Allow);
    }
    void didStartProvisionalNavigation(kit::WebView&, kit::NavigationId) override { events.push_back("start"); }
    void didReceiveServerRedirectForProvisionalNavigation(kit::WebView&, kit::NavigationId) override {
        events.push_back("redirect");
    }
    void didFailProvisionalNavigation(kit::WebView&, kit::NavigationId, const kit::WebError& error) override {
        events.push_back("failProvisional " + std::to_string(error.code));
    }
    void didCommitNavigation(kit::WebView&, kit::NavigationId) override { events.push_back("commit"); }
    void didFinishNavigation(kit::WebView&, kit::NavigationId) override { events.push_back("finish"); }
    void didFailNavigation(kit::WebView&, kit::NavigationId, const kit::WebError& error) override {
        events.push_back("fail " + std::to_string(error.code));
    }
    void didReceiveAuthenticationChallenge(kit::WebView&, const kit::AuthenticationChallenge&,
                                           kit::AuthenticationDecision completionHandler) override {
        events.push_back("challenge");
        completionHandler(kit::AuthChallengeDisposition::CancelAuthenticationChallenge, nullptr);
    }
    void webContentProcessDidTerminate(kit::WebView&) override { events.push_back("terminate"); }

    NavigationActionPolicy policy = NavigationActionPolicy::Allow;
    std::vector<std::string> events;
};

class BridgeFacadeTest : public ::testing::Test {
protected:
    BridgeFacadeTest() {
        view = kit::create<kit::WebView>(kit::Rect{0, 0, 400, 600});
        page = kit::ScriptedWebEngine::of(*view);
        bridge = WKWebViewJavascriptBridge::bridgeForWebView(view);
        delegate = std::make_shared<RecordingNavigationDelegate>();
        bridge->setWebViewDelegate(delegate);
    }

    // The page loads the bridge; the scripts evaluated so far are forgotten.
    void loadBridge() {
        ASSERT_EQ(page->requestBridgeLoaded(), NavigationActionPolicy::Cancel);
        page->takeEvaluatedScripts();
    }

    kit::TestEnvironment env;
    kit::ScriptedWebBackend web;
    std::shared_ptr<kit::WebView> view;
    kit::ScriptedWebEngine* page = nullptr;
    std::shared_ptr<WKWebViewJavascriptBridge> bridge;
    std::shared_ptr<RecordingNavigationDelegate> delegate;
};

TEST_F(BridgeFacadeTest, BindsItselfAsTheNavigationDelegate) {
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(view->navigationDelegate().get(), static_cast<kit::WebNavigationDelegate*>(bridge.get()));
    EXPECT_EQ(bridge->webView(), view);
}

TEST_F(BridgeFacadeTest, BridgeAddressesAreCancelledAndNeverReachTheDelegate) {
    for (const char* address : {"https://__bridge_loaded__", "HTTPS://__BRIDGE_LOADED__/", "wvjbscheme://__bridge_loaded__",
                                "wvjbscheme://__wvjb_queue_message__", "https://__WVJB_QUEUE_MESSAGE__"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(page->requestNavigation(address, kit::NavigationType::Other, false), NavigationActionPolicy::Cancel);
        EXPECT_EQ(page->requestNavigation(address, kit::NavigationType::LinkActivated, true),
                  NavigationActionPolicy::Cancel);
    }
    env.runUntilIdle();
    EXPECT_TRUE(delegate->events.empty());

    // Anything else is the delegate's to decide, the bridge hosts under another scheme included.
    delegate->policy = NavigationActionPolicy::Cancel;
    EXPECT_EQ(page->requestNavigation("http://__bridge_loaded__"), NavigationActionPolicy::Cancel);
    delegate->policy = NavigationActionPolicy::Allow;
    EXPECT_EQ(page->requestNavigation("https://ai.example.com/chat"), NavigationActionPolicy::Allow);
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"action http://__bridge_loaded__", "action https://ai.example.com/chat"}));
}

TEST_F(BridgeFacadeTest, PageScriptThenStartupQueueOnBridgeLoaded) {
    bridge->callHandler("First", Value(1));
    bridge->callHandler("Second");
    EXPECT_TRUE(page->evaluatedScripts().empty());
    page->requestBridgeLoaded();
    auto pageScript = WebViewJavascriptBridgeBase::pageScript();
    ASSERT_TRUE(pageScript) << pageScript.error();
    auto scripts = page->takeEvaluatedScripts();
    ASSERT_EQ(scripts.size(), 3u);
    EXPECT_EQ(scripts[0], *pageScript);
    EXPECT_EQ(bridgetest::messageOfScript(scripts[1]), Value(kit::Dictionary{{"data", 1}, {"handlerName", "First"}}));
    EXPECT_EQ(bridgetest::messageOfScript(scripts[2]), Value(kit::Dictionary{{"handlerName", "Second"}}));
}

TEST_F(BridgeFacadeTest, QueueSignalFetchesAndFlushesThePageQueue) {
    loadBridge();
    std::vector<Value> received;
    bridge->registerHandler("WebIsReady", [&](const Value& data, const WVJBResponseCallback& answer) {
        received.push_back(data);
        answer(Value(kit::Dictionary{{"code", 0}}));
    });
    page->queueBridgeMessage(kit::Dictionary{{"handlerName", "WebIsReady"}, {"data", kit::Dictionary{{"from", "main"}}},
                                             {"callbackId", "cb_1_1700000000000"}});
    EXPECT_EQ(page->signalBridgeQueue(), NavigationActionPolicy::Cancel);
    EXPECT_EQ(page->takeEvaluatedScripts(), std::vector<std::string>{"WebViewJavascriptBridge._fetchQueue();"});
    EXPECT_TRUE(received.empty());  // the fetch answers on a later turn

    env.runUntilIdle();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], Value(kit::Dictionary{{"from", "main"}}));
    auto answers = page->takeBridgeMessages();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], Value(kit::Dictionary{{"responseId", "cb_1_1700000000000"},
                                                {"responseData", kit::Dictionary{{"code", 0}}}}));
    EXPECT_TRUE(delegate->events.empty());
}

TEST_F(BridgeFacadeTest, FetchFailuresAreLoggedAndFlushedAsNothing) {
    loadBridge();
    page->setNextFetchAnswer(kit::Error{"JavaScript exception"});
    page->signalBridgeQueue();
    env.runUntilIdle();
    EXPECT_TRUE(env.log().contains(
        "WebViewJavascriptBridge: WARNING: Error when trying to fetch data from WKWebView: JavaScript exception"));
    EXPECT_TRUE(env.log().contains("ObjC got nil while fetching the message queue JSON"));

    env.log().clear();
    page->setNextFetchAnswer(Value(42));  // not text: the page has no bridge script
    page->signalBridgeQueue();
    env.runUntilIdle();
    page->setNextFetchAnswer(Value("{\"handlerName\":\"x\"}"));
    page->signalBridgeQueue();
    env.runUntilIdle();
    EXPECT_TRUE(env.log().contains("ObjC got nil while fetching the message queue JSON"));
    EXPECT_TRUE(env.log().contains("message queue is not an array"));
}

TEST_F(BridgeFacadeTest, AnswersFromThePageReachTheCallbackAndTheCounterRestartsOnANewPage) {
    ASSERT_TRUE(page->loadPage("https://ai.example.com/a", "A"));
    loadBridge();
    std::vector<Value> answers;
    bridge->callHandler("RequestAuthUser", Value(kit::Dictionary{}), [&](const Value& v) { answers.push_back(v); });
    auto sent = page->takeBridgeMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["callbackId"], Value("objc_cb_1"));
    page->queueBridgeMessage(kit::Dictionary{{"handlerName", "RequestAuthUser"}, {"responseId", "objc_cb_1"},
                                             {"responseData", kit::Dictionary{{"state", 0}}}});
    page->signalBridgeQueue();
    env.runUntilIdle();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], Value(kit::Dictionary{{"state", 0}}));

    // A waiting callback of page A is dropped when page B commits; B's first callback is 1 again.
    bridge->callHandler("IsSaved", Value(kit::Dictionary{}), [&](const Value& v) { answers.push_back(v); });
    ASSERT_TRUE(page->loadPage("https://ai.example.com/b", "B"));
    EXPECT_EQ(bridge->base().waitingCallbackCount(), 0u);
    bridge->callHandler("RequestAuthUser", Value(kit::Dictionary{}), [&](const Value& v) { answers.push_back(v); });
    loadBridge();
    page->takeBridgeMessages();
    page->queueBridgeMessage(kit::Dictionary{{"responseId", "objc_cb_1"}, {"responseData", "b"}});
    page->signalBridgeQueue();
    env.runUntilIdle();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], Value("b"));
}

TEST_F(BridgeFacadeTest, MessagesSentAfterANewPageCommitsWaitForItsBridge) {
    ASSERT_TRUE(page->loadPage("https://ai.example.com/a"));
    loadBridge();
    bridge->callHandler("ToA");
    EXPECT_EQ(page->takeBridgeMessages().size(), 1u);

    page->requestNavigation("https://ai.example.com/b", kit::NavigationType::LinkActivated, true);
    page->startProvisionalNavigation("https://ai.example.com/b");
    page->commitNavigation();
    bridge->callHandler("ToB", Value("one"));
    bridge->callHandler("ToB", Value("two"));
    page->finishNavigation("B");
    env.runUntilIdle();
    EXPECT_TRUE(page->takeBridgeMessages().empty()) << "nothing may go to a page without the bridge";

    page->requestBridgeLoaded();
    auto delivered = page->takeBridgeMessages();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0]["data"], Value("one"));
    EXPECT_EQ(delivered[1]["data"], Value("two"));
}

TEST_F(BridgeFacadeTest, MessagesQueuedBeforeTheFirstPageSurviveItsCommit) {
    bridge->callHandler("Early", Value("kept"), [](const Value&) {});
    ASSERT_TRUE(page->loadPage("https://ai.example.com/a"));
    page->requestBridgeLoaded();
    auto delivered = page->takeBridgeMessages();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0]["data"], Value("kept"));
    EXPECT_EQ(delivered[0]["callbackId"], Value("objc_cb_1"));
    EXPECT_EQ(bridge->base().waitingCallbackCount(), 1u);
}

TEST_F(BridgeFacadeTest, PassesOnOnlyTheSpecifiedNavigationEvents) {
    ASSERT_TRUE(page->loadPage("https://ai.example.com/a"));
    page->startProvisionalNavigation("https://ai.example.com/b");
    page->receiveServerRedirect("https://ai.example.com/c");
    page->failProvisionalNavigation(kit::WebError{kit::kURLErrorDomain, -1009, "offline"});
    page->failNavigation(kit::WebError{kit::kURLErrorDomain, -1001, "timed out"});
    auto challenge = page->receiveServerTrustChallenge(true);
    page->terminateWebContentProcess();
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"action https://ai.example.com/a", "start", "response", "finish", "start",
                                        "failProvisional -1009", "fail -1001", "challenge"}));
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->first, kit::AuthChallengeDisposition::CancelAuthenticationChallenge);
}

TEST_F(BridgeFacadeTest, WithoutAWebViewDelegateTheDefaultsApply) {
    bridge->setWebViewDelegate({});
    EXPECT_EQ(page->requestNavigation("https://ai.example.com/x"), NavigationActionPolicy::Allow);
    kit::NavigationResponse response;
    EXPECT_EQ(page->receiveResponse(response), kit::NavigationResponsePolicy::Allow);
    auto challenge = page->receiveServerTrustChallenge(true);
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->first, kit::AuthChallengeDisposition::PerformDefaultHandling);
    EXPECT_EQ(challenge->second, nullptr);
}

TEST_F(BridgeFacadeTest, SafetyTimeoutSwitchIsAMessageWithOnlyItsHandlerName) {
    loadBridge();
    bridge->disableJavscriptAlertBoxSafetyTimeout();
    bridge->send(Value("plain"));
    auto sent = page->takeBridgeMessages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], Value(kit::Dictionary{{"handlerName", "_disableJavascriptAlertBoxSafetyTimeout"}}));
    EXPECT_EQ(sent[1], Value(kit::Dictionary{{"data", "plain"}}));
}

TEST_F(BridgeFacadeTest, AFetchAnsweredAfterTheBridgeIsGoneDoesNothing) {
    loadBridge();
    int calls = 0;
    bridge->registerHandler("h", [&](const Value&, const WVJBResponseCallback&) { ++calls; });
    page->queueBridgeMessage(kit::Dictionary{{"handlerName", "h"}});
    page->signalBridgeQueue();
    bridge.reset();
    env.runUntilIdle();
    EXPECT_EQ(calls, 0);
    // The view now decides with the defaults.
    EXPECT_EQ(page->requestNavigation("https://__bridge_loaded__"), NavigationActionPolicy::Allow);
}

TEST_F(BridgeFacadeTest, AHandlerMayReleaseTheBridgeWhileItsQueueIsFlushed) {
    loadBridge();
    int calls = 0;
    bridge->registerHandler("Close", [&](const Value&, const WVJBResponseCallback& answer) {
        ++calls;
        bridge.reset();
        answer(Value("late"));
    });
    page->queueBridgeMessage(kit::Dictionary{{"handlerName", "Close"}, {"callbackId", "cb_1_1"}});
    page->queueBridgeMessage(kit::Dictionary{{"handlerName", "Close"}});
    page->signalBridgeQueue();
    env.runUntilIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(page->takeBridgeMessages().empty());
}

TEST(BridgeClassEntry, PicksTheFacadeByTheViewClass) {
    kit::TestEnvironment env;
    kit::ScriptedWebBackend web;
    auto view = kit::create<kit::WebView>(kit::Rect{0, 0, 10, 10});
    auto facade = WebViewJavascriptBridge::bridgeForWebView(view);
    ASSERT_TRUE(facade);
    EXPECT_NE(dynamic_cast<WKWebViewJavascriptBridge*>(facade->get()), nullptr);

    auto plain = kit::create<kit::View>(kit::Rect{0, 0, 10, 10});
    auto refused = WebViewJavascriptBridge::bridge(plain);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "BadWebViewType: Unknown web view type.");
    EXPECT_FALSE(WebViewJavascriptBridge::bridgeForWebView(nullptr));
}

TEST(LegacyBridge, TakesOnlyThePolicyDecisionAndPassesEverythingElseOn) {
    kit::TestEnvironment env;
    kit::ScriptedWebBackend web;
    auto view = kit::create<kit::WebView>(kit::Rect{0, 0, 10, 10});
    auto& page = *kit::ScriptedWebEngine::of(*view);
    auto bridge = WebViewJavascriptBridge::legacyBridgeForWebView(view);
    auto delegate = std::make_shared<RecordingNavigationDelegate>();

    // Without a delegate: "use".
    EXPECT_EQ(page.requestNavigation("https://ai.example.com/x"), NavigationActionPolicy::Allow);
    bridge->setWebViewDelegate(delegate);
    ASSERT_TRUE(page.loadPage("https://ai.example.com/a"));
    EXPECT_EQ(page.requestBridgeLoaded(), NavigationActionPolicy::Cancel);
    page.receiveServerRedirect("https://ai.example.com/b");
    page.terminateWebContentProcess();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"action https://ai.example.com/a", "start", "response",
                                                          "commit", "finish", "redirect", "terminate"}));

    std::vector<Value> received;
    bridge->registerHandler("h", [&](const Value& data, const WVJBResponseCallback&) { received.push_back(data); });
    page.queueBridgeMessage(kit::Dictionary{{"handlerName", "h"}, {"data", 5}});
    EXPECT_EQ(page.signalBridgeQueue(), NavigationActionPolicy::Cancel);
    env.runUntilIdle();
    EXPECT_EQ(received, std::vector<Value>{Value(5)});

    bridge.reset();
    EXPECT_EQ(view->navigationDelegate(), nullptr);
}

}  // namespace
