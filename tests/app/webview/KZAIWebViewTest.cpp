#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ui/KZNetworkStatusView.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWKWebView.h"
#include "app/web/WKWebViewJavascriptBridge.h"
#include "kit/base/Json.h"
#include "kit/base/UserDefaults.h"
#include "kit/ui/Create.h"
#include "kit/ui/Window.h"
#include "tests/app/webview/WebViewTestSupport.h"

namespace {

using kit::Dictionary;
using kit::Value;

// Everything the page's owner hears, in order.
class RecordingDelegate : public KZAIWebViewDelegate {
public:
    void webviewDidOpenFilePath(KZAIWebView&, const std::optional<std::string>& path) override {
        events.push_back("open " + path.value_or("<nil>"));
    }
    void webviewDidChangeSizeTo(KZAIWebView&, kit::Size size) override {
        events.push_back("size " + std::to_string(int(size.width)) + "x" + std::to_string(int(size.height)));
    }
    void webviewIsReadyFrom(KZAIWebView&, const std::optional<std::string>& from) override {
        events.push_back("ready " + from.value_or("<nil>"));
    }
    void webviewContinueAsk(KZAIWebView&, const Value& type, const Value& sessionId) override {
        events.push_back("continue " + kit::toJson(type) + " " + kit::toJson(sessionId));
    }
    void webviewClientIsSavedFromJS(KZAIWebView&, bool saved) override { events.push_back(saved ? "saved 1" : "saved 0"); }
    void webviewDidReceiveWebRequestLogin(KZAIWebView&) override { events.push_back("request login"); }
    void webviewDidSendPageIsSaved(KZAIWebView&) override { events.push_back("will ask saved"); }
    void webviewReceiveFileAction(KZAIWebView&, const Dictionary& action) override {
        events.push_back("file action " + kit::toJson(Value(action)));
    }
    void webviewDidNotifyStartCapture(KZAIWebView&) override { events.push_back("start capture"); }
    void webviewElementWillEnterFullScreen(KZAIWebView&, const kit::Notification& n) override {
        events.push_back("will enter full screen");
        notificationObject = n.object;
    }
    void webviewElementDidExitFullScreen(KZAIWebView&, const kit::Notification& n) override {
        events.push_back("did exit full screen");
        notificationObject = n.object;
    }
    std::vector<std::string> take() { return std::exchange(events, {}); }

    std::vector<std::string> events;
    const void* notificationObject = nullptr;
};

class KZAIWebViewTest : public webtest::WebViewTest {
protected:
    KZAIWebViewTest() {
        delegate = std::make_shared<RecordingDelegate>();
        KZAIWebServices::setLoginStateChangedHandler([this](const Dictionary& info) {
            loginStates.push_back(kit::toJson(Value(info)));
        });
        KZAIWebServices::setShowLoginWindowHandler([this] { delegate->events.push_back("login window"); });
        view = makeView();
    }

    std::shared_ptr<KZAIWebView> makeView() {
        auto made = kit::create<KZAIWebView>(kit::Rect{0, 0, 400, 600});
        made->setDelegate(delegate);
        return made;
    }

    kit::ScriptedWebEngine& page() { return pageOf(*view->webView()); }
    WebViewJavascriptBridgeBase& bridge() { return view->bridge()->base(); }

    // Loads a page to its end and lets it ask for the bridge; clears what was sent so far.
    void openPage(const std::string& url = webtest::kChatPage) {
        view->loadRequestWithURL(url);
        ASSERT_TRUE(page().completePendingLoad("Chat"));
        page().requestBridgeLoaded();
        env.runUntilIdle();
        page().takeBridgeMessages();
        HXReport::takeRecordedEvents();
    }

    // The page calls an application handler and waits for the answer; the answer's
    // "responseData" (null for an empty answer).
    Value call(const std::string& handlerName, Value data = {}) {
        const std::string callbackId = "cb_" + std::to_string(++callbacks_) + "_1765000000000";
        Dictionary message{{"handlerName", handlerName}, {"callbackId", callbackId}};
        if (!data.isNull()) message.set("data", std::move(data));
        page().queueBridgeMessage(std::move(message));
        page().signalBridgeQueue();
        env.runUntilIdle();
        std::optional<Value> answer;
        for (const Value& sent : page().takeBridgeMessages()) {
            if (sent["responseId"] == Value(callbackId)) {
                EXPECT_FALSE(answer.has_value()) << handlerName << " answered twice";
                const Dictionary* object = sent.asDictionary();
                EXPECT_TRUE(object && object->contains("responseData"));
                answer = sent["responseData"];
            }
        }
        EXPECT_TRUE(answer.has_value()) << handlerName << " did not answer";
        return answer.value_or(Value());
    }

    // The page calls an application handler and nothing at all comes back: its queue is not even
    // read, and no script reaches it.
    bool ignored(const std::string& handlerName, Value data = {}) {
        Dictionary message{{"handlerName", handlerName}, {"callbackId", "cb_" + std::to_string(++callbacks_) + "_1"}};
        if (!data.isNull()) message.set("data", std::move(data));
        page().queueBridgeMessage(std::move(message));
        env.runUntilIdle();
        page().takeEvaluatedScripts();
        const int fetches = page().fetchCount();
        page().signalBridgeQueue();
        env.runUntilIdle();
        return page().fetchCount() == fetches && page().takeEvaluatedScripts().empty();
    }

    // The messages the application sent to the page since the last take.
    std::vector<Value> sentToPage() {
        env.runUntilIdle();
        return page().takeBridgeMessages();
    }

    // The page answers an application call.
    void answerCall(const Value& callMessage, Value responseData) {
        page().queueBridgeMessage(Dictionary{{"handlerName", callMessage["handlerName"]},
                                             {"responseId", callMessage["callbackId"]},
                                             {"responseData", std::move(responseData)}});
        page().signalBridgeQueue();
        env.runUntilIdle();
    }

    static Value ok() { return Dictionary{{"code", 0}}; }

    std::shared_ptr<RecordingDelegate> delegate;
    std::shared_ptr<KZAIWebView> view;
    std::vector<std::string> loginStates;

private:
    int callbacks_ = 0;
};

// ---- Page-to-application handlers ----------------------------------------------------------------

TEST_F(KZAIWebViewTest, SizeAndCaptureAndFileActionReachTheDelegate) {
    openPage();
    EXPECT_EQ(call("WebViewSizeNotify", Dictionary{{"width", 320}, {"height", "480"}}), ok());
    EXPECT_EQ(call("WebViewSizeNotify", Dictionary{{"width", Value()}, {"height", Dictionary{}}}), ok());
    EXPECT_EQ(call("WebViewSizeNotify", "not an object"), ok());
    EXPECT_EQ(call("StartCapture"), ok());
    EXPECT_EQ(call("FileAction", Dictionary{{"action", "open"}, {"path", "/tmp/a.pdf"}}), ok());
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"size 320x480", "size 0x0", "size 0x0", "start capture",
                                                          R"(file action {"action":"open","path":"/tmp/a.pdf"})"}));
    // The page's data is logged as received, with the page's address.
    EXPECT_TRUE(env.log().contains("[WebView] J2N_WebViewSizeNotify Get Data : " +
                                   kit::describe(Dictionary{{"width", 320}, {"height", "480"}}) +
                                   ", url: https://ai.quarn.test/chat?version=6"));
    EXPECT_TRUE(env.log().contains("[WebView] J2N_StartCapture Get Data : " + kit::describe(Dictionary{})));
}

TEST_F(KZAIWebViewTest, WebIsReadyMarksThePageReadyAndReportsOncePerLoad) {
    view->loadRequestWithURL(webtest::kChatPage);
    page().startProvisionalNavigation(webtest::kChatPage);
    env.advance(1.234);
    page().commitNavigation();
    page().finishNavigation("Chat");
    page().requestBridgeLoaded();
    env.runUntilIdle();
    view->__showErrorViewWithText("stale");
    ASSERT_TRUE(view->isErrorViewShowing());
    EXPECT_FALSE(view->isAIWebReady());

    EXPECT_EQ(call("WebIsReady", Dictionary{{"from", "main"}}), ok());
    EXPECT_TRUE(view->isAIWebReady());
    EXPECT_FALSE(view->isErrorViewShowing());
    EXPECT_EQ(kit::RunLoop::main().pendingPerforms(view.get(), KZAIWebView::kReadyCheckSelector), 0u);
    EXPECT_EQ(reports(24011), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;1234"}));
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] WebViewDidReady: https://ai.quarn.test/chat?version=6"));

    // A second signal reaches the delegate but is not reported again.
    EXPECT_EQ(call("WebIsReady", Dictionary{{"from", "minipage"}}), ok());
    EXPECT_EQ(call("WebIsReady"), ok());
    EXPECT_EQ(reports(24011).size(), 1u);
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"ready main", "ready minipage", "ready <nil>"}));

    // A new load request makes the page not ready again.
    view->loadRequestWithURL(webtest::kChatPage);
    EXPECT_FALSE(view->isAIWebReady());
}

TEST_F(KZAIWebViewTest, ContinueAskIsTimedAcrossTwoViews) {
    openPage("https://ai.quarn.test/explain?version=6");
    EXPECT_EQ(call("ContinueAsk", Dictionary{{"type", 1}, {"session_id", "s-42"}}), ok());
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{R"(continue 1 "s-42")"}));
    EXPECT_EQ(reports(24013), (std::vector<std::string>{"https://ai.quarn.test/explain?version=6;2"}));

    // The side window's view commits the ask to its page and ends the timing.
    auto side = makeView();
    side->loadRequestWithURL(webtest::kChatPage);
    ASSERT_TRUE(pageOf(*side->webView()).completePendingLoad("Chat"));
    env.advance(0.75);
    side->native2js_commitContinueAsk(KZWebWindowTypeExplain, "s-42");
    EXPECT_EQ(reports(24014), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;2;750"}));
    // Only once.
    side->native2js_commitContinueAsk(KZWebWindowTypeExplain, "s-42");
    EXPECT_EQ(reports(24014).size(), 1u);

    EXPECT_EQ(call("ContinueAsk"), ok());
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"continue null null"}));
}

TEST_F(KZAIWebViewTest, RequestLoginTellsTheDelegateBeforeTheLoginWindow) {
    openPage();
    EXPECT_EQ(call("RequestLogin"), ok());
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"request login", "login window"}));
}

TEST_F(KZAIWebViewTest, ReportAuthUserPassesOnlyAnIntegerState) {
    openPage();
    view->native2js_requestAuthUser();
    env.advance(0.5);
    const Dictionary info{{"state", 0}, {"avatar", "https://ai.quarn.test/a.png"}, {"userName", "Lin"}};
    EXPECT_EQ(call("ReportAuthUser", info), ok());
    EXPECT_EQ(loginStates, (std::vector<std::string>{R"({"state":0,"avatar":"https://ai.quarn.test/a.png","userName":"Lin"})"}));
    EXPECT_EQ(reports(24014), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;3;500"}));
}

TEST_F(KZAIWebViewTest, ReportAuthUserWithoutAUsableStateIsIgnored) {
    openPage();
    view->native2js_requestAuthUser();
    for (const Value& bad :
         {Value(Dictionary{{"userName", "Lin"}}), Value(Dictionary{{"state", "0"}}),
          Value(Dictionary{{"state", Value()}}), Value(Dictionary{{"state", 1.5}}), Value("state")}) {
        SCOPED_TRACE(kit::toJson(bad));
        EXPECT_EQ(call("ReportAuthUser", bad), ok());
    }
    EXPECT_TRUE(loginStates.empty());
    EXPECT_TRUE(reports(24014).empty());
    EXPECT_TRUE(env.log().contains("[WebView] J2N_ReportAuthUser ignored"));
    EXPECT_EQ(call("ReportAuthUser", Dictionary{{"state", 1}}), ok());
    EXPECT_EQ(loginStates, (std::vector<std::string>{R"({"state":1})"}));
}

TEST_F(KZAIWebViewTest, GetVersionAndGetGuid) {
    kit::UserDefaults::standard().set("HXReportUserGuid", "0A1B2C3D-AAAA-BBBB-CCCC-0123456789EF");
    openPage();
    EXPECT_EQ(call("GetVersion"), (Value(Dictionary{{"code", 0}, {"version", 6}})));
    EXPECT_EQ(call("GetGuid"), (Value(Dictionary{{"code", 0}, {"guid", "0a1b2c3d-aaaa-bbbb-cccc-0123456789ef"}})));
}

TEST_F(KZAIWebViewTest, ReportDataReportsTheParamsWithoutCmdAndPlatform) {
    openPage();
    const Value answer = call("ReportData", Dictionary{{"params", Dictionary{{"cmd", 24100},
                                                                             {"sourcePlatform", "web"},
                                                                             {"page", "chat/history"}}}});
    EXPECT_EQ(answer, (Value(Dictionary{{"code", 0}, {"msg", "success"}})));
    ASSERT_EQ(HXReport::recordedEvents().size(), 1u);
    const auto event = HXReport::recordedEvents().back();
    EXPECT_EQ(event.method, "reportCommonKeyValue");
    EXPECT_EQ(event.key, 24100);
    // The slash is not escaped.
    EXPECT_EQ(event.value, R"({"page":"chat/history"})");
    EXPECT_TRUE(event.extra.isNull());
    EXPECT_TRUE(env.log().contains(R"([WebView] JSON String: {"page":"chat/history"})"));
    EXPECT_TRUE(env.log().contains("[WebView] cmd=24100 report success"));
}

TEST_F(KZAIWebViewTest, ReportDataNarrowsCmdToSixteenBits) {
    openPage();
    struct Case {
        Value cmd;
        std::int64_t key;
    };
    for (const Case& c : {Case{40000, -25536}, Case{65537, 1}, Case{"24101", 24101}, Case{"abc", 0}, Case{Value(), 0},
                          Case{24102.9, 24102}}) {
        SCOPED_TRACE(kit::toJson(c.cmd));
        HXReport::takeRecordedEvents();
        Dictionary params{{"text", "x"}};
        if (!c.cmd.isNull()) params.set("cmd", c.cmd);
        EXPECT_EQ(call("ReportData", Dictionary{{"params", params}})["code"], Value(0));
        ASSERT_EQ(HXReport::recordedEvents().size(), 1u);
        EXPECT_EQ(HXReport::recordedEvents()[0].key, c.key);
        EXPECT_EQ(HXReport::recordedEvents()[0].value, R"({"text":"x"})");
    }
    EXPECT_TRUE(env.log().contains("[WebView] cmd=-25536 report success"));
}

TEST_F(KZAIWebViewTest, ReportDataWithoutParamsObjectReportsNothing) {
    openPage();
    const Value expected = Dictionary{{"code", 1}, {"msg", "params does not exist or not map"}};
    EXPECT_EQ(call("ReportData"), expected);
    EXPECT_EQ(call("ReportData", Dictionary{{"params", "cmd=1"}}), expected);
    EXPECT_EQ(call("ReportData", Dictionary{{"params", kit::Array{1, 2}}}), expected);
    EXPECT_TRUE(HXReport::recordedEvents().empty());
    EXPECT_TRUE(env.log().contains("[WebView] params does not exist or not map"));
}

TEST_F(KZAIWebViewTest, OpenFileNotifySetsHasOpenFileOnlyForAPath) {
    openPage();
    EXPECT_EQ(call("OpenFileNotify", Dictionary{{"path", ""}}), ok());
    EXPECT_EQ(call("OpenFileNotify", Dictionary{{"path", 12}}), ok());
    EXPECT_FALSE(view->hasOpenFile());
    EXPECT_EQ(call("OpenFileNotify", Dictionary{{"path", "/Users/lin/report.pdf"}}), ok());
    EXPECT_TRUE(view->hasOpenFile());
    EXPECT_EQ(call("OpenFileNotify", Dictionary{{"path", ""}}), ok());
    EXPECT_TRUE(view->hasOpenFile());
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"open ", "open <nil>", "open /Users/lin/report.pdf", "open "}));
}

TEST_F(KZAIWebViewTest, ClientIsSavedAnswersTheSavedQuestion) {
    openPage();
    view->native2js_currentPageIsSaved();
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"will ask saved"}));
    EXPECT_EQ(reports(24013), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;1"}));
    env.advance(0.2);
    EXPECT_EQ(call("ClientIsSaved", Dictionary{{"data", true}}), ok());
    EXPECT_EQ(reports(24014), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;1;200"}));
    EXPECT_EQ(call("ClientIsSaved", Dictionary{{"data", false}}), ok());
    EXPECT_EQ(call("ClientIsSaved"), ok());
    EXPECT_EQ(call("ClientIsSaved", Dictionary{{"data", Dictionary{}}}), ok());
    EXPECT_EQ(call("ClientIsSaved", Dictionary{{"data", 1}}), ok());
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"saved 1", "saved 0", "saved 0", "saved 0", "saved 1"}));
    // An answer without a question is not timed.
    EXPECT_EQ(reports(24014).size(), 1u);
}

TEST_F(KZAIWebViewTest, SetFileMediaTypeKeepsOnlyExtensions) {
    openPage();
    EXPECT_EQ(call("SetFileMediaType", Dictionary{{"type", "img"}, {"mediaTypes", kit::Array{"png", "", 3, Value(), "gif"}}}), ok());
    EXPECT_EQ(KZSharedWebData::shared().allowedImageTypes(), (std::vector<std::string>{"png", "gif"}));
    EXPECT_EQ(KZSharedWebData::shared().latestReceivedType(), KZSharedWebData::ReceivedImage);

    EXPECT_EQ(call("SetFileMediaType", Dictionary{{"type", "doc"}, {"mediaTypes", kit::Array{"pdf", "txt"}}}), ok());
    EXPECT_EQ(KZSharedWebData::shared().allowedDocumentTypes(), (std::vector<std::string>{"pdf", "txt"}));
    EXPECT_EQ(KZSharedWebData::shared().latestReceivedAllowedTypes(), (std::vector<std::string>{"pdf", "txt"}));
    env.advance(3.5);
    EXPECT_EQ(KZSharedWebData::shared().latestReceivedAllowedTypes(), std::nullopt);

    // Nothing usable, another type or no list: nothing changes, the page is still answered.
    EXPECT_EQ(call("SetFileMediaType", Dictionary{{"type", "img"}, {"mediaTypes", kit::Array{"", 7}}}), ok());
    EXPECT_EQ(call("SetFileMediaType", Dictionary{{"type", "pdf"}, {"mediaTypes", kit::Array{"pdf"}}}), ok());
    EXPECT_EQ(call("SetFileMediaType", Dictionary{{"type", "img"}, {"mediaTypes", "png"}}), ok());
    EXPECT_EQ(KZSharedWebData::shared().allowedImageTypes(), (std::vector<std::string>{"png", "gif"}));
    EXPECT_EQ(KZSharedWebData::shared().latestReceivedType(), KZSharedWebData::ReceivedDocument);
    EXPECT_EQ(KZSharedWebData::shared().supportedNativeDragTypes(), (std::vector<std::string>{"png", "gif", "pdf", "txt"}));
}

TEST_F(KZAIWebViewTest, PagesOfOtherOriginsGetNothing) {
    for (const char* foreign : {"https://evil.example/chat", "http://ai.quarn.test/chat", "https://ai.quarn.test:8443/chat",
                                "https://sub.ai.quarn.test/chat"}) {
        SCOPED_TRACE(foreign);
        openPage(foreign);
        EXPECT_TRUE(ignored("WebIsReady", Dictionary{{"from", "main"}}));
        EXPECT_TRUE(ignored("GetGuid"));
        EXPECT_TRUE(ignored("ReportData", Dictionary{{"params", Dictionary{{"cmd", 24100}}}}));
        EXPECT_TRUE(ignored("ReportAuthUser", Dictionary{{"state", 0}}));
        EXPECT_TRUE(HXReport::recordedEvents().empty());
    }
    EXPECT_FALSE(view->isAIWebReady());
    EXPECT_TRUE(delegate->events.empty());
    EXPECT_TRUE(loginStates.empty());
    EXPECT_TRUE(env.log().contains("WebViewJavascriptBridge: refused the page script from a page that may not use the bridge"));
    EXPECT_TRUE(env.log().contains("WebViewJavascriptBridge: refused the page's queue from a page that may not use the bridge"));

    // The service's own origin, with its default port spelled out and in capitals, is trusted.
    view = makeView();
    openPage("HTTPS://AI.quarn.test:443/chat");
    EXPECT_EQ(call("GetVersion"), (Value(Dictionary{{"code", 0}, {"version", 6}})));
}

TEST_F(KZAIWebViewTest, TrustFollowsTheDocumentShownNotTheAddressBeingLoaded) {
    // A foreign page that starts loading the service's address is still the foreign page.
    openPage("https://evil.example/chat");
    page().startProvisionalNavigation(webtest::kChatPage);
    ASSERT_EQ(view->webView()->url(), webtest::kChatPage);
    EXPECT_TRUE(ignored("GetVersion"));
    page().commitNavigation();
    page().requestBridgeLoaded();
    EXPECT_EQ(call("GetVersion"), (Value(Dictionary{{"code", 0}, {"version", 6}})));

    // The service's page keeps its trust while a foreign page is only being loaded, and loses it
    // when that page replaces it.
    page().finishNavigation("Chat");
    page().startProvisionalNavigation("https://evil.example/next");
    EXPECT_EQ(call("GetVersion"), (Value(Dictionary{{"code", 0}, {"version", 6}})));
    page().commitNavigation();
    page().requestBridgeLoaded();
    EXPECT_TRUE(ignored("GetVersion"));
}

// ---- Application-to-page calls -------------------------------------------------------------------

TEST_F(KZAIWebViewTest, CallsSendTheirPayloads) {
    openPage();
    view->native2js_requestAuthUser();
    view->native2js_requestLogout();
    view->native2js_swipeWindowClose(KZWebWindowTypeTranslate);
    view->native2js_swipeWindowClose(KZWebWindowTypeSearch);
    view->native2js_sendMessageToJSWithType(KZWebWindowTypeSearch, "what's \"new\"\n\u2028/");
    view->native2js_sendMessageToJSWithType(4, std::nullopt);
    view->native2js_webShow(KZWebWindowTypeExplain, true);
    view->native2js_webShow(KZWebWindowTypeSearch, false);
    view->native2js_commitContinueAsk(KZWebWindowTypeTranslate, "s-1");
    view->native2js_commitContinueAsk(KZWebWindowTypeSearch, std::nullopt);
    view->native2js_systemDragFile(true);
    view->native2js_systemDragFile(false);
    view->native2js_currentPageIsSaved();
    view->native2js_loginEventNotify(true);
    view->native2js_loginEventNotify(false);
    view->native2js_clientUserChange(true, false);
    view->native2js_clientUserChange(false, true);
    view->native2js_cancelLogin();
    view->native2js_handleFile(Dictionary{{"action", "open"}, {"files", kit::Array{"/tmp/a.png"}}});
    view->native2js_windowHide();

    const std::vector<std::pair<std::string, Value>> expected{
        {"RequestAuthUser", Dictionary{}},
        {"RequestLogout", Dictionary{}},
        {"SwipeWindowClose", Dictionary{{"type", "translate"}}},
        {"SwipeWindowClose", Dictionary{{"type", ""}}},
        {"SwipeOverMessage", Dictionary{{"type", "search"}, {"message", "what's \"new\"\n\u2028/"}}},
        {"SwipeOverMessage", Dictionary{{"type", ""}, {"message", ""}}},
        {"WebShow", Dictionary{{"type", "explain"}, {"visible", true}}},
        {"WebShow", Dictionary{{"type", "search"}, {"visible", false}}},
        {"CommitContinueAsk", Dictionary{{"type", "translate"}, {"session_id", "s-1"}}},
        {"CommitContinueAsk", Dictionary{{"type", ""}, {"session_id", ""}}},
        {"SystemDragFile", Dictionary{{"onDrag", 1}}},
        {"SystemDragFile", Dictionary{{"onDrag", 0}}},
        {"IsSaved", Dictionary{}},
        {"LoginEventNotify", Dictionary{{"type", "loginin"}}},
        {"LoginEventNotify", Dictionary{{"type", "loginout"}}},
        {"ClientUserChange", Dictionary{{"type", "loginin"}, {"visible", false}}},
        {"ClientUserChange", Dictionary{{"type", "loginout"}, {"visible", true}}},
        {"CancelLogin", Dictionary{}},
        {"HandleFile", Dictionary{{"action", "open"}, {"files", kit::Array{"/tmp/a.png"}}}},
        {"WindowHide", Dictionary{}},
    };
    const auto sent = sentToPage();
    ASSERT_EQ(sent.size(), expected.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(sent[i]["handlerName"], Value(expected[i].first));
        EXPECT_EQ(sent[i]["data"], expected[i].second);
        EXPECT_EQ(sent[i]["callbackId"], Value("objc_cb_" + std::to_string(i + 1)));
    }
    // Pages tell these apart: "visible" is a JSON boolean, "onDrag" a number.
    EXPECT_TRUE(sent[6]["data"]["visible"].isBool());
    EXPECT_TRUE(sent[15]["data"]["visible"].isBool());
    EXPECT_TRUE(sent[10]["data"]["onDrag"].isInteger());

    EXPECT_TRUE(env.log().contains("[WebView] native2js_requestAuthUser, url : https://ai.quarn.test/chat?version=6"));
    EXPECT_TRUE(env.log().contains("[WebView] native2js_sendMessageToJSWithType: 3, message length: 15, url : https://ai.quarn.test/chat?version=6"));
    EXPECT_TRUE(env.log().contains("[WebView] native2js_swipeWindowClose windowtype: 3, url : https://ai.quarn.test/chat?version=6"));
    EXPECT_TRUE(env.log().contains("[WebView] native2js_commitContinueAsk: 2, sessionID: s-1, url : https://ai.quarn.test/chat?version=6"));
    EXPECT_TRUE(env.log().contains("[WebView] native2js_systemDragFile, url : https://ai.quarn.test/chat?version=6, dragging: 1"));
    EXPECT_TRUE(env.log().contains("[WebView] native2js_WindowHide, url : https://ai.quarn.test/chat?version=6"));
    // The message text itself is not logged.
    EXPECT_FALSE(env.log().contains("what's"));
}

TEST_F(KZAIWebViewTest, AnswersToCallsAreOnlyLogged) {
    openPage();
    view->native2js_handleFile(Dictionary{{"action", "open"}});
    view->native2js_windowHide();
    view->native2js_cancelLogin();
    const auto sent = sentToPage();
    ASSERT_EQ(sent.size(), 3u);
    answerCall(sent[0], Dictionary{{"code", 0}});
    answerCall(sent[1], Value());
    answerCall(sent[2], "done");
    EXPECT_TRUE(env.log().contains("[WebView] native2js_handleFile Get Callback : " +
                                   kit::describe(Dictionary{{"code", 0}})));
    EXPECT_TRUE(env.log().contains("[WebView] native2js_windowHide Get Callback : (null)"));
    EXPECT_TRUE(env.log().contains("[WebView] N2J_CancelLogin Get Callback : done"));
    EXPECT_EQ(view->bridge()->base().waitingCallbackCount(), 0u);
}

// Base64 text back to bytes (the test's own reading of the page's data address).
std::vector<std::uint8_t> decodeBase64(std::string_view text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const auto at = alphabet.find(c);
        if (at == std::string::npos) {
            ADD_FAILURE() << "not base64: " << c;
            return {};
        }
        buffer = (buffer << 6) | static_cast<std::uint32_t>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

TEST_F(KZAIWebViewTest, FileForAnalyzeSendsThePngAsADataAddress) {
    openPage();
    const kit::Image screenshot = kit::Image::filled(7, 5, kit::Color::fromHex(0x3366CC));
    view->native2js_fileForAnalyze(screenshot);
    const auto sent = sentToPage();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["handlerName"], Value("OnFileForAnalyze"));
    const Value& data = sent[0]["data"];
    EXPECT_EQ(data["filePurpose"], Value(14));
    EXPECT_EQ(data["filePath"], Value("/mac/screenshot.png"));
    const std::string* address = data["requestUrl"].asString();
    ASSERT_NE(address, nullptr);
    const std::string prefix = "data:image/png;base64,";
    ASSERT_EQ(address->substr(0, prefix.size()), prefix);
    EXPECT_EQ(address->find('\n'), std::string::npos);
    const auto png = decodeBase64(std::string_view(*address).substr(prefix.size()));
    EXPECT_EQ(data["fileSize"], Value(static_cast<long>(png.size())));
    auto decoded = kit::Image::fromData(png);
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    EXPECT_EQ(decoded->pixelWidth(), 7);
    EXPECT_EQ(decoded->pixelHeight(), 5);
    EXPECT_EQ(decoded->pixelAt(3, 2).hex(), 0x3366CCu);
}

// Files dropped on the page from another program: what the page receives, once it is ready, or
// what the user is told, in one alert.
TEST_F(KZAIWebViewTest, DroppedFilesReachThePageWithTheirBytesOrTheUserHearsWhy) {
    namespace fs = std::filesystem;
    const fs::path folder = env.root() / "dropped files";
    fs::create_directories(folder / "a folder.pdf");
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).string();
    };
    const std::string notes = write("Notes 1.txt", std::string("line one\r\nz\xE9ro \0 end", 20));
    const std::string report = write("Report.PDF", "%PDF-1.4 fake");
    const std::string justUnder = write("big.csv", "");
    fs::resize_file(justUnder, KZAIWebView::kDroppedFileSizeLimit);
    const std::string tooLarge = write("huge.pdf", "");
    fs::resize_file(tooLarge, KZAIWebView::kDroppedFileSizeLimit + 1);
    // Nobody writes to it: opening it must not wait.
    const std::string pipe = (folder / "pipe.txt").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    struct Sent {
        std::string name;
        std::string type;
        std::uintmax_t size;
    };
    struct Case {
        const char* what;
        std::vector<std::string> dropped;
        std::vector<Sent> sent;
        std::vector<std::string> alerts;  // "title | detail"
        const char* pageUrl = webtest::kChatPage;
        bool readyFirst = true;  // the page says it is ready before the drop
    };
    const std::string tooLargeText =
        "“huge.pdf”有 10.0 MB (10,485,761 字节)，AI助手只能接收不超过 10.0 MB (10,485,760 字节) 的文件。";
    const std::string notHere = "不是这台电脑上的文件，只能发送这台电脑上的文件。";
    const std::vector<Case> cases{
        {"two files, in order",
         {notes, report},
         {{"Notes 1.txt", "text/plain", 20}, {"Report.PDF", "application/pdf", 13}},
         {}},
        {"exactly at the limit", {justUnder}, {{"big.csv", "text/csv", KZAIWebView::kDroppedFileSizeLimit}}, {}},
        {"over the limit by a byte, beside a small one",
         {tooLarge, notes},
         {{"Notes 1.txt", "text/plain", 20}},
         {"文件太大，无法发送给AI | " + tooLargeText}},
        // A file that says it is empty and never ends is read to the limit and a byte.
        {"a file that grows while read",
         {"/proc/self/pagemap"},
         {},
         {"文件太大，无法发送给AI | “pagemap”有 10.0 MB (10,485,761 字节)，AI助手只能接收不超过 10.0 MB "
          "(10,485,760 字节) 的文件。"}},
        {"a folder, a file gone, a FIFO and one too large: one alert",
         {(folder / "a folder.pdf").string(), (folder / "gone.pdf").string(), pipe, tooLarge},
         {},
         {"无法发送文件 | “a folder.pdf”不是可以读取的文件。\n“gone.pdf”不是可以读取的文件。\n"
          "“pipe.txt”不是可以读取的文件。\n" +
          tooLargeText}},
        {"addresses of no file of this computer",
         {"https://example.com/a.pdf", "file://elsewhere.example/b.pdf", report},
         {{"Report.PDF", "application/pdf", 13}},
         {"无法发送文件 | “https://example.com/a.pdf”" + notHere + "\n“file://elsewhere.example/b.pdf”" + notHere}},
        {"before the page is ready", {notes}, {{"Notes 1.txt", "text/plain", 20}}, {}, webtest::kChatPage, false},
        {"a page of another origin", {notes}, {}, {}, "https://evil.example/chat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ui.backend().alertsShown.clear();
        ui.backend().alertDetailsShown.clear();
        view = makeView();
        openPage(c.pageUrl);
        if (c.readyFirst && c.pageUrl == std::string(webtest::kChatPage))
            call("WebIsReady", Dictionary{{"from", "main"}});
        sentToPage();
        page().dropFiles(c.dropped);
        env.runUntilIdle();
        if (!c.readyFirst) {
            EXPECT_TRUE(sentToPage().empty()) << "handed over before the page was ready";
            EXPECT_EQ(view->waitingDrop(), c.dropped);
            page().queueBridgeMessage(Dictionary{{"handlerName", "WebIsReady"}, {"callbackId", "cb_ready"}});
            page().signalBridgeQueue();
        }
        std::vector<Value> sent;
        for (auto& message : sentToPage())
            if (message["handlerName"].isString()) sent.push_back(std::move(message));
        ASSERT_EQ(sent.size(), c.sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const Value& data = sent[i]["data"];
            EXPECT_EQ(sent[i]["handlerName"], Value("OnFileForAnalyze"));
            EXPECT_EQ(data["filePath"], Value(c.sent[i].name));
            EXPECT_EQ(data["fileSize"], Value(static_cast<long>(c.sent[i].size)));
            EXPECT_EQ(data["filePurpose"], Value(14));
            const std::string* address = data["requestUrl"].asString();
            ASSERT_NE(address, nullptr);
            const std::string prefix = "data:" + c.sent[i].type + ";base64,";
            ASSERT_EQ(address->substr(0, prefix.size()), prefix);
            const auto bytes = decodeBase64(std::string_view(*address).substr(prefix.size()));
            std::ifstream in(folder / c.sent[i].name, std::ios::binary);
            const std::vector<std::uint8_t> expected((std::istreambuf_iterator<char>(in)),
                                                     std::istreambuf_iterator<char>());
            EXPECT_TRUE(bytes == expected) << c.sent[i].name << ": " << bytes.size() << " bytes arrived";
        }
        std::vector<std::string> alerts;
        for (std::size_t i = 0; i < ui.backend().alertsShown.size(); ++i)
            alerts.push_back(ui.backend().alertsShown[i] + " | " + ui.backend().alertDetailsShown[i]);
        EXPECT_EQ(alerts, c.alerts);
    }
}

TEST_F(KZAIWebViewTest, ImageThatCannotBeEncodedIsNotSent) {
    openPage();
    view->native2js_fileForAnalyze(kit::Image());
    EXPECT_TRUE(sentToPage().empty());
    EXPECT_TRUE(env.log().contains("[WebView] native2js_fileForAnalyze: the image cannot be encoded as PNG, nothing sent"));
}

TEST_F(KZAIWebViewTest, CallsBeforeThePageAsksForTheBridgeWaitForIt) {
    view->loadRequestWithURL(webtest::kChatPage);
    ASSERT_TRUE(page().completePendingLoad("Chat"));
    view->native2js_loginEventNotify(true);
    view->native2js_webShow(KZWebWindowTypeSearch, true);
    EXPECT_TRUE(sentToPage().empty());
    page().requestBridgeLoaded();
    const auto sent = sentToPage();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["handlerName"], Value("LoginEventNotify"));
    EXPECT_EQ(sent[1]["handlerName"], Value("WebShow"));

    // A new page starts with a new queue: a call made before it asks for the bridge reaches it.
    ASSERT_TRUE(page().loadPage("https://ai.quarn.test/chat?version=6&session=2", "Chat"));
    view->native2js_cancelLogin();
    EXPECT_TRUE(sentToPage().empty());
    page().requestBridgeLoaded();
    const auto later = sentToPage();
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0]["handlerName"], Value("CancelLogin"));
    EXPECT_EQ(later[0]["callbackId"], Value("objc_cb_1"));
}

TEST_F(KZAIWebViewTest, CallsReachOnlyAPageOfTheService) {
    const kit::Image screenshot = kit::Image::filled(4, 4, kit::Color::fromHex(0x3366CC));
    // What a user's selection, a screen capture and a file action give the page.
    auto makeCalls = [&] {
        view->native2js_sendMessageToJSWithType(KZWebWindowTypeExplain, std::string("selected secret"));
        view->native2js_fileForAnalyze(screenshot);
        view->native2js_handleFile(Dictionary{{"path", "/home/user/private.pdf"}});
    };
    auto names = [](const std::vector<Value>& sent) {
        std::vector<std::string> out;
        out.reserve(sent.size());
        for (const Value& message : sent) out.push_back(message["handlerName"].asString() ? *message["handlerName"].asString() : "?");
        return out;
    };
    const std::vector<std::string> allThree{"SwipeOverMessage", "OnFileForAnalyze", "HandleFile"};
    struct Case {
        const char* name;
        std::function<void()> replaceWithForeignPage;
        bool callsBeforeTheForeignPage;
    };
    const std::vector<Case> cases{
        // The service's address redirects elsewhere before anything asked for the bridge.
        {"redirected load", [&] {
             view->loadRequestWithURL(webtest::kChatPage);
             page().startProvisionalNavigation(webtest::kChatPage);
             page().receiveServerRedirect("https://evil.example/landing");
             page().commitNavigation();
             page().finishNavigation("Landing");
         }, true},
        // The service's page, bridge and all, is replaced by a page of another origin.
        {"navigated away", [&] {
             openPage();
             ASSERT_TRUE(page().loadPage("https://evil.example/next", "Next"));
         }, false},
        // A foreign page with the service's origin as a subdomain of its own.
        {"look-alike host", [&] {
             openPage();
             ASSERT_TRUE(page().loadPage("https://ai.quarn.test.evil.example/chat", "Chat"));
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = makeView();
        if (c.callsBeforeTheForeignPage) {
            view->loadRequestWithURL(webtest::kChatPage);
            makeCalls();
        }
        c.replaceWithForeignPage();
        if (!c.callsBeforeTheForeignPage) makeCalls();
        page().requestBridgeLoaded();
        EXPECT_TRUE(sentToPage().empty());
        for (const std::string& script : page().takeEvaluatedScripts())
            EXPECT_EQ(script.find("selected secret"), std::string::npos);
        EXPECT_EQ(bridge().startupQueueSize(), c.callsBeforeTheForeignPage ? 0u : 3u);

        // Back on the service's page: what waited for the foreign page was dropped; what was
        // called while it was shown reaches the service's page, once.
        ASSERT_TRUE(page().loadPage(webtest::kChatPage, "Chat"));
        page().requestBridgeLoaded();
        EXPECT_EQ(names(sentToPage()), c.callsBeforeTheForeignPage ? std::vector<std::string>{} : allThree);
    }
    EXPECT_TRUE(env.log().contains("[WebView] dropped 3 waiting call(s): the page shown is not the AI service's, origin: https://evil.example"));
}

TEST_F(KZAIWebViewTest, CallsCheckTheOriginInThePageTheyReach) {
    // The page process has moved on to another document before the view hears of the commit:
    // calls made in between run in that document, and only the service's may take them.
    struct Case {
        const char* document;
        bool delivered;
    };
    for (const Case& c : {Case{"https://evil.example/next", false}, Case{"http://ai.quarn.test/chat", false},
                          Case{"https://ai.quarn.test.evil.example/", false},
                          Case{"https://ai.quarn.test:443/other", true}, Case{"https://AI.Quarn.test/again", true}}) {
        SCOPED_TRACE(c.document);
        view = makeView();
        openPage();
        page().commitInPageProcessOnly(c.document);
        view->native2js_sendMessageToJSWithType(KZWebWindowTypeExplain, std::string("selected secret"));
        view->native2js_handleFile(Dictionary{{"path", "/home/user/private.pdf"}});
        const auto sent = sentToPage();
        ASSERT_EQ(sent.size(), c.delivered ? 2u : 0u);
        if (c.delivered) {
            EXPECT_EQ(sent[0]["data"]["message"], Value("selected secret"));
        }
    }
}

TEST_F(KZAIWebViewTest, CallsWaitingForThePageAreBoundedAndKeepTheLatestState) {
    using Call = std::function<void(KZAIWebView&)>;
    auto webShow = [](int type, bool visible) -> Call { return [=](KZAIWebView& v) { v.native2js_webShow(type, visible); }; };
    auto swipe = [](int type, const char* text) -> Call {
        return [=](KZAIWebView& v) { v.native2js_sendMessageToJSWithType(type, std::string(text)); };
    };
    auto summary = [](const Value& m) {
        std::string out = m["handlerName"].asString() ? *m["handlerName"].asString() : "?";
        const Value& data = m["data"];
        if (data["visible"].isBool()) out += data["visible"].boolValue() ? " shown" : " hidden";
        if (const std::string* text = data["message"].asString()) out += " " + *text;
        if (const std::string* type = data["type"].asString()) out += " (" + *type + ")";
        return out;
    };
    struct Case {
        const char* name;
        std::vector<Call> calls;
        std::vector<std::string> delivered;
    };
    const std::vector<Case> cases{
        {"shown then hidden", {webShow(1, true), swipe(1, "a"), webShow(1, false)},
         {"SwipeOverMessage a (explain)", "WebShow hidden (explain)"}},
        {"side window shown then hidden", {webShow(3, true), [](KZAIWebView& v) { v.native2js_windowHide(); }},
         {"WindowHide"}},
        {"two panels keep their own state", {webShow(1, true), webShow(2, true)},
         {"WebShow shown (explain)", "WebShow shown (translate)"}},
        {"latest text", {swipe(2, "first"), swipe(2, "second")}, {"SwipeOverMessage second (translate)"}},
        {"drag and login state", {[](KZAIWebView& v) { v.native2js_systemDragFile(true); },
                                  [](KZAIWebView& v) { v.native2js_loginEventNotify(true); },
                                  [](KZAIWebView& v) { v.native2js_systemDragFile(false); },
                                  [](KZAIWebView& v) { v.native2js_loginEventNotify(false); }},
         {"SystemDragFile", "LoginEventNotify (loginout)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = makeView();
        view->loadRequestWithURL(webtest::kChatPage);
        ASSERT_TRUE(page().completePendingLoad("Chat"));
        for (const auto& call : c.calls) call(*view);
        page().requestBridgeLoaded();
        std::vector<std::string> delivered;
        for (const Value& m : sentToPage()) delivered.push_back(summary(m));
        EXPECT_EQ(delivered, c.delivered);
    }

    // Past the limit the oldest go first, and their answer callbacks with them.
    view = makeView();
    view->loadRequestWithURL(webtest::kChatPage);
    ASSERT_TRUE(page().completePendingLoad("Chat"));
    const std::size_t extra = 5;
    for (std::size_t i = 0; i < KZAIWebView::kStartupQueueLimit + extra; ++i)
        view->native2js_handleFile(Dictionary{{"index", static_cast<std::int64_t>(i)}});
    EXPECT_EQ(bridge().startupQueueSize(), KZAIWebView::kStartupQueueLimit);
    EXPECT_EQ(bridge().waitingCallbackCount(), KZAIWebView::kStartupQueueLimit);
    page().requestBridgeLoaded();
    const auto sent = sentToPage();
    ASSERT_EQ(sent.size(), KZAIWebView::kStartupQueueLimit);
    EXPECT_EQ(sent.front()["data"]["index"], Value(static_cast<std::int64_t>(extra)));
    EXPECT_EQ(sent.back()["data"]["index"], Value(static_cast<std::int64_t>(KZAIWebView::kStartupQueueLimit + extra - 1)));
    EXPECT_TRUE(env.log().contains("WebViewJavascriptBridge: dropped a waiting message for \"HandleFile\": the start-up queue is full"));
}

// ---- Readiness and timing --------------------------------------------------------------------------

TEST_F(KZAIWebViewTest, MissingReadySignalShowsTheTimeoutErrorAfterFiveSeconds) {
    openPage();
    env.advance(4.9);
    EXPECT_FALSE(view->isErrorViewShowing());
    env.advance(0.1);
    ASSERT_TRUE(view->isErrorViewShowing());
    EXPECT_EQ(view->networkErrorView()->descText(), "加载超时，请稍后再试");
    EXPECT_TRUE(env.log().contains("[WebView] Check Web Ready Failed !!"));

    // The ready signal takes the error view away.
    EXPECT_EQ(call("WebIsReady", Dictionary{{"from", "main"}}), ok());
    EXPECT_FALSE(view->isErrorViewShowing());
}

TEST_F(KZAIWebViewTest, ReadySignalInTimeCancelsTheCheck) {
    openPage();
    env.advance(2);
    EXPECT_EQ(call("WebIsReady", Dictionary{{"from", "main"}}), ok());
    env.advance(10);
    EXPECT_FALSE(view->isErrorViewShowing());
    EXPECT_FALSE(env.log().contains("Check Web Ready Failed"));
}

TEST_F(KZAIWebViewTest, ReadyCheckRespectsTheSwitchAndLoading) {
    view->setShowsErrorViewIfAIWebReadyTimeout(false);
    openPage();
    env.advance(6);
    EXPECT_FALSE(view->isErrorViewShowing());

    // Every finished navigation schedules a check; a load request cancels them all.
    view->setShowsErrorViewIfAIWebReadyTimeout(true);
    page().loadPage("https://ai.quarn.test/chat?version=6#a");
    page().loadPage("https://ai.quarn.test/chat?version=6#b");
    EXPECT_EQ(kit::RunLoop::main().pendingPerforms(view.get(), KZAIWebView::kReadyCheckSelector), 2u);
    view->loadRequestWithURL(webtest::kChatPage);
    EXPECT_EQ(kit::RunLoop::main().pendingPerforms(view.get(), KZAIWebView::kReadyCheckSelector), 0u);

    // A check that finds a load under way does nothing.
    page().loadPage(webtest::kChatPage);
    view->reload();
    ASSERT_TRUE(view->isLoading());
    env.advance(5);
    EXPECT_FALSE(view->isErrorViewShowing());
}

TEST_F(KZAIWebViewTest, NotReadyReportCarriesTheScene) {
    openPage();
    view->_reportWebViewIsNotReadyWhenUserEnter(KZWebViewSceneSide);
    view->_reportWebViewIsNotReadyWhenUserEnter(KZWebViewSceneTranslate);
    EXPECT_EQ(reports(24012), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;3",
                                                        "https://ai.quarn.test/chat?version=6;2"}));
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] _WebViewIsNotReadyWhenUserEnter: 3"));
}

TEST_F(KZAIWebViewTest, SecondTimedMessageOverwritesTheFirst) {
    openPage();
    view->native2js_requestAuthUser();
    env.advance(1);
    view->native2js_requestAuthUser();
    env.advance(0.3);
    EXPECT_EQ(call("ReportAuthUser", Dictionary{{"state", 0}}), ok());
    EXPECT_EQ(reports(24013), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;3",
                                                        "https://ai.quarn.test/chat?version=6;3"}));
    EXPECT_EQ(reports(24014), (std::vector<std::string>{"https://ai.quarn.test/chat?version=6;3;300"}));
    EXPECT_TRUE(view->didSendJSMessageDateDictionary().empty());
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] WebViewDidSendJSMessage: 3"));
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] WebViewDidReceiveJSMessage: 3"));
}

// ---- Window, navigation and lifetime ---------------------------------------------------------------

TEST_F(KZAIWebViewTest, FullScreenChangesOfAnyWindowReachTheDelegate) {
    auto window = kit::create<kit::Window>(kit::Rect{100, 100, 500, 400}, kit::WindowStyleTitled | kit::WindowStyleResizable);
    window->setCollectionBehavior(kit::CollectionFullScreenPrimary);
    window->makeKeyAndOrderFront();
    window->toggleFullScreen();
    window->toggleFullScreen();
    EXPECT_EQ(delegate->take(), (std::vector<std::string>{"will enter full screen", "did exit full screen"}));
    EXPECT_EQ(delegate->notificationObject, window.get());
    EXPECT_TRUE(env.log().contains("[KZBaseWebView]  will Enter Full Screen --  <Window: "));
    EXPECT_TRUE(env.log().contains("(null) -- {{0, 0}, {0, 0}}"));
    EXPECT_TRUE(env.log().contains("[KZBaseWebView] Did Exit Full Screen --  <Window: "));

    auto& center = kit::NotificationCenter::defaultCenter();
    const auto before = center.observerCount();
    view.reset();
    EXPECT_LT(center.observerCount(), before);
    window->toggleFullScreen();
    EXPECT_TRUE(delegate->take().empty());
    window->close();
}

TEST_F(KZAIWebViewTest, NavigationKeepsTheBasePolicies) {
    openPage();
    EXPECT_EQ(page().requestNavigation("BLOB:https://ai.quarn.test/x"), kit::NavigationActionPolicy::Cancel);
    EXPECT_EQ(page().requestNavigation("https://ai.quarn.test/other"), kit::NavigationActionPolicy::Allow);
    // Bridge addresses stay with the bridge.
    EXPECT_EQ(page().signalBridgeQueue(), kit::NavigationActionPolicy::Cancel);
    EXPECT_FALSE(env.log().contains("to url : wvjbscheme"));

    EXPECT_EQ(page().openNewWindow("https://example.com/doc"), nullptr);
    EXPECT_EQ(page().openNewWindow("ftp://example.com/doc"), nullptr);
    EXPECT_EQ(env.workspace().openedURLs(), (std::vector<std::string>{"https://example.com/doc"}));
    EXPECT_TRUE(env.log().contains("[WebView] createWebViewWithConfiguration origin url: https://ai.quarn.test/chat?version=6, to url: ftp://example.com/doc"));

    // Base behaviour through the bridge: failures show the error view, trust needs a valid
    // certificate.
    page().failNavigation({kit::kURLErrorDomain, kit::kURLErrorNetworkConnectionLost});
    EXPECT_TRUE(view->isErrorViewShowing());
    auto invalid = page().receiveServerTrustChallenge(false);
    ASSERT_TRUE(invalid);
    EXPECT_EQ(invalid->first, kit::AuthChallengeDisposition::CancelAuthenticationChallenge);
}

TEST_F(KZAIWebViewTest, ViewGoesWithPendingCheckAndBridge) {
    openPage();
    std::weak_ptr<WKWebViewJavascriptBridge> bridge = view->bridge();
    EXPECT_EQ(kit::RunLoop::main().pendingPerforms(view.get(), KZAIWebView::kReadyCheckSelector), 1u);
    const void* address = view.get();
    view.reset();
    EXPECT_TRUE(bridge.expired());
    EXPECT_EQ(kit::RunLoop::main().pendingPerforms(address, KZAIWebView::kReadyCheckSelector), 0u);
    env.advance(6);
}

TEST_F(KZAIWebViewTest, InitialState) {
    EXPECT_FALSE(view->isAIWebReady());
    EXPECT_FALSE(view->hasOpenFile());
    EXPECT_FALSE(view->isShowPanel());
    EXPECT_EQ(view->saveImageIndex(), 1);
    EXPECT_TRUE(view->didSendJSMessageDateDictionary().empty());
    ASSERT_NE(view->bridge(), nullptr);
    EXPECT_EQ(view->webView()->navigationDelegate().get(), static_cast<kit::WebNavigationDelegate*>(view->bridge().get()));
    for (const char* name : {"WebViewSizeNotify", "WebIsReady", "ContinueAsk", "RequestLogin", "ReportAuthUser", "GetVersion",
                             "ReportData", "OpenFileNotify", "ClientIsSaved", "StartCapture", "FileAction",
                             "SetFileMediaType", "GetGuid"})
        EXPECT_TRUE(view->bridge()->base().hasHandler(name)) << name;
}

}  // namespace
