// The application's JavaScript bridge over real WebKitGTK pages: calls answered in both
// directions, and the bridge's signal addresses caught in the navigation policy, iframes
// included, so that the application's delegate never sees them.

#include "WebTestSupport.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWKWebView.h"
#include "app/web/WKWebViewJavascriptBridge.h"
#include "kit/ui/Create.h"
#include "kit/base/Json.h"
#include "kit/web/Url.h"

namespace kit::testing {
namespace {

using BridgeTest = WebEngineTest;

// The page side as the AI service's pages write it: ask for the bridge once, then register a
// handler and call the application's.
constexpr const char* kBridgePage = R"(<!DOCTYPE html>
<html><head><title>Bridge page</title><script>
function setupWebViewJavascriptBridge(callback) {
  if (window.WebViewJavascriptBridge) { return callback(WebViewJavascriptBridge); }
  if (window.WVJBCallbacks) { return window.WVJBCallbacks.push(callback); }
  window.WVJBCallbacks = [callback];
  var frame = document.createElement('iframe');
  frame.style.display = 'none';
  frame.src = 'https://__bridge_loaded__';
  document.documentElement.appendChild(frame);
  setTimeout(function () { document.documentElement.removeChild(frame); }, 0);
}
setupWebViewJavascriptBridge(function (bridge) {
  bridge.registerHandler('Echo', function (data, respond) {
    respond({ echoed: data, by: 'page' });
  });
  bridge.callHandler('AskNative', { question: "it's \"quoted\" \\ and\nsplit\u2028here" }, function (answer) {
    window.nativeAnswer = answer;
  });
});
</script></head><body>bridge</body></html>)";

TEST_F(BridgeTest, ACallGoesEachWayAndIsAnswered) {
    server.page("/bridge.html", kBridgePage);
    auto view = makeWebView();
    auto bridge = WKWebViewJavascriptBridge::bridgeForWebView(view);
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    bridge->setWebViewDelegate(delegate);

    std::optional<Value> askedWith;
    bridge->registerHandler("AskNative", [&](const Value& data, const WVJBResponseCallback& respond) {
        askedWith = data;
        respond(Dictionary{{"answer", 42}, {"text", "from native: 'ok' \\ \"done\""}});
    });
    // Sent before the page exists: it waits for the page to ask for the bridge.
    std::optional<Value> echoed;
    bridge->callHandler("Echo", Dictionary{{"payload", "x'y\"z\\\n</script>"}}, [&](const Value& answer) { echoed = answer; });

    view->loadRequest(UrlRequest(server.url("/bridge.html")));
    ASSERT_TRUE(waitFor([&] { return askedWith.has_value() && echoed.has_value(); }));

    // Page to native: the data arrived unchanged.
    EXPECT_EQ(*askedWith, Value(Dictionary{{"question", "it's \"quoted\" \\ and\nsplit\u2028here"}}));
    // Native to page and back: the page's answer reached the callback.
    EXPECT_EQ(*echoed, Value(Dictionary{{"echoed", Dictionary{{"payload", "x'y\"z\\\n</script>"}}}, {"by", "page"}}));
    // The native answer reached the page's callback.
    ASSERT_TRUE(waitFor([&] {
        auto answer = evaluate(*view, "window.nativeAnswer ? JSON.stringify(window.nativeAnswer) : ''");
        return answer && answer->ok() && (*answer)->asString() && !(*answer)->asString()->empty();
    }));
    auto answer = evaluate(*view, "JSON.stringify(window.nativeAnswer)");
    ASSERT_TRUE(answer && answer->ok());
    auto parsed = parseJson(*(*answer)->asString());
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(*parsed, Value(Dictionary{{"answer", 42}, {"text", "from native: 'ok' \\ \"done\""}}));

    // A second round on the same page goes straight through.
    std::optional<Value> second;
    bridge->callHandler("Echo", Value(7), [&](const Value& v) { second = v; });
    ASSERT_TRUE(waitFor([&] { return second.has_value(); }));
    EXPECT_EQ(*second, Value(Dictionary{{"echoed", 7}, {"by", "page"}}));

    // None of the bridge's own addresses reached the application's delegate.
    for (const auto& action : delegate->actions) {
        EXPECT_EQ(action.request.url.find("__bridge_loaded__"), std::string::npos) << action.request.url;
        EXPECT_EQ(action.request.url.find("__wvjb_queue_message__"), std::string::npos) << action.request.url;
    }
    EXPECT_TRUE(delegate->has("finish"));
}

TEST_F(BridgeTest, SignalAddressesFromAnIframeAreCancelledAndNeverReachTheDelegate) {
    // A child frame asks for the bridge and signals the queue by navigating itself; a second
    // child navigates normally, so the delegate does see frame navigations.
    server.page("/child.html", "<title>child</title><p>child</p>");
    server.page("/frames.html", R"(<!DOCTYPE html><html><head><title>Frames</title></head><body>
<iframe id="signal" src="/child.html"></iframe>
<iframe id="plain" src="about:blank"></iframe>
<script>
window.addEventListener('load', function () {
  var signal = document.getElementById('signal');
  signal.contentWindow.location.href = 'HTTPS://__BRIDGE_LOADED__/';
  setTimeout(function () {
    signal.contentWindow.location.href = 'wvjbscheme://__wvjb_queue_message__';
    document.getElementById('plain').src = '/child.html?plain';
  }, 50);
});
</script></body></html>)");
    auto view = makeWebView();
    auto bridge = WKWebViewJavascriptBridge::bridgeForWebView(view);
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    bridge->setWebViewDelegate(delegate);

    view->loadRequest(UrlRequest(server.url("/frames.html")));
    ASSERT_TRUE(waitFor([&] { return server.count("/child.html") >= 2; }));
    // The frame's request for the bridge injected the page script into the page.
    ASSERT_TRUE(waitFor([&] {
        auto injected = evaluate(*view, "typeof WebViewJavascriptBridge == 'object'");
        return injected && injected->ok() && **injected == Value(true);
    }));
    pump(0.3);

    bool sawChildNavigation = false;
    for (const auto& action : delegate->actions) {
        const std::string lower = asciiLowercase(action.request.url);
        EXPECT_EQ(lower.find("__bridge_loaded__"), std::string::npos) << action.request.url;
        EXPECT_EQ(lower.find("__wvjb_queue_message__"), std::string::npos) << action.request.url;
        if (action.request.url == server.url("/child.html?plain")) sawChildNavigation = true;
    }
    EXPECT_TRUE(sawChildNavigation);
    // The cancelled navigations left the frame on its page.
    auto location = evaluate(*view, "document.getElementById('signal').contentWindow.location.href");
    ASSERT_TRUE(location && location->ok());
    EXPECT_EQ(**location, Value(server.url("/child.html")));
    EXPECT_FALSE(delegate->has("fail provisional WebKitErrorDomain 102"));
}

// The probe of a page of another origin in the AI web view: it asks for the bridge as the
// service's pages do and listens for what the application sends. It must get nothing: not the
// page script, not the user's selected text, not a screen capture, not a file action.
constexpr const char* kListeningPage = R"(<!DOCTYPE html>
<html><head><title>Listening page</title><script>
window.received = [];
function setupWebViewJavascriptBridge(callback) {
  if (window.WebViewJavascriptBridge) { return callback(WebViewJavascriptBridge); }
  window.WVJBCallbacks = [callback];
  var frame = document.createElement('iframe');
  frame.style.display = 'none';
  frame.src = 'https://__bridge_loaded__';
  document.documentElement.appendChild(frame);
}
setupWebViewJavascriptBridge(function (bridge) {
  ['SwipeOverMessage', 'OnFileForAnalyze', 'HandleFile'].forEach(function (name) {
    bridge.registerHandler(name, function (data, respond) { window.received.push(name); respond({code: 0}); });
  });
});
</script></head><body>listening</body></html>)";

TEST_F(BridgeTest, TheAIWebViewGivesNothingToAPageOfAnotherOrigin) {
    TestServer foreign;
    ASSERT_TRUE(foreign.ok());
    server.page("/chat.html", kListeningPage);
    foreign.page("/probe.html", kListeningPage);
    const char* previousBase = g_getenv("QUARN_AI_BASE_URL");
    const std::string previous = previousBase ? previousBase : "";
    g_setenv("QUARN_AI_BASE_URL", server.url("/").c_str(), TRUE);

    auto view = create<KZAIWebView>(Rect{0, 0, 400, 300});
    kit::WebView& page = *view->webView();
    auto received = [&]() -> std::string {
        auto answer = evaluate(page, "JSON.stringify(window.received || null)");
        return answer && answer->ok() && (*answer)->asString() ? *(*answer)->asString() : "?";
    };
    auto sendAll = [&](const std::string& text) {
        view->native2js_sendMessageToJSWithType(KZWebWindowTypeExplain, text);
        view->native2js_fileForAnalyze(Image::filled(4, 4, Color::fromHex(0x3366CC)));
        view->native2js_handleFile(Dictionary{{"path", "/home/someone/private.pdf"}});
    };
    const std::string all = R"(["SwipeOverMessage","OnFileForAnalyze","HandleFile"])";

    // The service's page gets the calls.
    view->loadRequestWithURL(server.url("/chat.html"));
    sendAll("for the service");
    ASSERT_TRUE(waitFor([&] { return received() == all; })) << received();

    // The page goes to another origin by itself; calls made meanwhile and afterwards stay away
    // from it.
    page.evaluateJavaScript("location.href = " + toJson(Value(foreign.url("/probe.html"))) + ";");
    sendAll("selected secret");
    ASSERT_TRUE(waitFor([&] { return foreign.count("/probe.html") == 1 && !page.isLoading() &&
                                     page.url() == foreign.url("/probe.html"); }));
    sendAll("selected secret");
    pump(1.0);
    EXPECT_EQ(received(), "[]");
    auto bridgeObject = evaluate(page, "typeof window.WebViewJavascriptBridge");
    ASSERT_TRUE(bridgeObject && bridgeObject->ok());
    EXPECT_EQ(**bridgeObject, Value("undefined"));
    EXPECT_EQ(view->committedOrigin(), Url::parse(foreign.url("/"))->origin());

    view.reset();
    pump(0.05);
    if (previousBase) {
        g_setenv("QUARN_AI_BASE_URL", previous.c_str(), TRUE);
    } else {
        g_unsetenv("QUARN_AI_BASE_URL");
    }
}

// A page that takes the carrier's entry point for itself and tries to pass for another origin,
// then asks for the bridge.
std::string pageTakingMessages(const std::string& pretendedOrigin) {
    const std::string origin = toJson(Value(pretendedOrigin));
    return R"(<!DOCTYPE html><html><head><title>taker</title><script>
window.taken = [];
window.WebViewJavascriptBridge = { _handleMessageFromObjC: function (m) { window.taken.push(JSON.parse(m)); } };
var pretend = { get: function () { return )" +
           origin + R"(; } };
try { Object.defineProperty(Location.prototype, 'origin', pretend); } catch (e) {}
try { Object.defineProperty(location, 'origin', pretend); } catch (e) {}
try { Object.defineProperty(window, 'location', { get: function () { return { origin: )" +
           origin + R"( }; } }); } catch (e) {}
var frame = document.createElement('iframe');
frame.style.display = 'none';
frame.src = 'https://__bridge_loaded__';
document.documentElement.appendChild(frame);
</script></head><body>taker</body></html>)";
}

TEST_F(BridgeTest, MessagesReachOnlyADocumentOfThePageOrigin) {
    TestServer foreign;
    ASSERT_TRUE(foreign.ok());
    const std::string serviceOrigin = Url::parse(server.url("/"))->webOrigin();
    server.page("/taker.html", pageTakingMessages(serviceOrigin));
    foreign.page("/taker.html", pageTakingMessages(serviceOrigin));
    struct Case {
        TestServer& host;
        bool delivered;
    };
    for (const Case& c : {Case{foreign, false}, Case{server, true}}) {
        SCOPED_TRACE(c.host.url("/taker.html"));
        auto view = makeWebView();
        auto bridge = WKWebViewJavascriptBridge::bridgeForWebView(view);
        bridge->base().setPageOrigin(serviceOrigin);
        bridge->callHandler("Echo", Dictionary{{"secret", "selected text"}});
        auto navigation = std::make_shared<RecordingNavigationDelegate>();
        bridge->setWebViewDelegate(navigation);
        ASSERT_TRUE(loadAndWait(*view, c.host.url("/taker.html"), *navigation));
        // The start-up queue goes out once the page has asked for the bridge.
        ASSERT_TRUE(waitFor([&] { return !bridge->base().hasStartupQueue(); }));
        bridge->callHandler("Echo", Value(2));
        const std::string expected =
            c.delivered
                ? R"([{"data":{"secret":"selected text"},"handlerName":"Echo"},{"data":2,"handlerName":"Echo"}])"
                : "[]";
        // Scripts run in the order given: this one runs after the messages' scripts.
        auto answer = evaluate(*view, "JSON.stringify(window.taken)");
        ASSERT_TRUE(answer && answer->ok() && (*answer)->asString());
        EXPECT_EQ(*(*answer)->asString(), expected);
    }
}

}  // namespace
}  // namespace kit::testing
