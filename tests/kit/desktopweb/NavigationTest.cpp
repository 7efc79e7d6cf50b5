// Loads through WebKitGTK from a local server: the navigation delegate's events in order, the
// failures with the platform's domains and codes, the request timeout, observed properties and
// the user agent the server sees.

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include "WebTestSupport.h"

namespace kit::testing {
namespace {

using NavigationTest = WebEngineTest;

// A port nothing listens on.
int closedPort() {
    GSocket* socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr);
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* any = g_inet_socket_address_new(loopback, 0);
    g_socket_bind(socket, any, TRUE, nullptr);
    GSocketAddress* bound = g_socket_get_local_address(socket, nullptr);
    const int port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    g_object_unref(bound);
    g_object_unref(any);
    g_object_unref(loopback);
    g_socket_close(socket, nullptr);
    g_object_unref(socket);
    return port;
}

TEST_F(NavigationTest, ALoadReportsItsStepsInOrderAndTheViewFollowsThePage) {
    server.page("/page.html", "<html><head><title>First page</title></head><body>hello</body></html>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    std::vector<double> progress;
    std::vector<bool> loading;
    auto progressToken = view->observe(WebViewProperty::EstimatedProgress, [&](WebView& v) { progress.push_back(v.estimatedProgress()); });
    auto loadingToken = view->observe(WebViewProperty::Loading, [&](WebView& v) { loading.push_back(v.isLoading()); });

    ASSERT_TRUE(loadAndWait(*view, server.url("/page.html"), *delegate));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"action " + server.url("/page.html"), "start", "response 200",
                                                          "commit", "finish"}));
    ASSERT_FALSE(delegate->actions.empty());
    EXPECT_TRUE(delegate->actions[0].targetsMainFrame);
    EXPECT_FALSE(delegate->actions[0].targetsNewWindow);
    EXPECT_EQ(view->url(), server.url("/page.html"));
    ASSERT_TRUE(waitFor([&] { return view->title() == "First page"; }));
    EXPECT_FALSE(view->isLoading());
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_EQ(loading, (std::vector<bool>{true, false}));
}

TEST_F(NavigationTest, AServerRedirectIsReportedWithinTheSameNavigation) {
    server.route("/old", TestServer::Response{302, "text/plain", "", {{"Location", "/new"}}});
    server.page("/new", "<title>New</title>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    ASSERT_TRUE(loadAndWait(*view, server.url("/old"), *delegate));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "redirect", "commit", "finish"}));
    EXPECT_EQ(view->url(), server.url("/new"));
}

TEST_F(NavigationTest, FailuresCarryThePlatformsDomainsAndCodes) {
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);

    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/";
    ASSERT_TRUE(loadAndWait(*view, refused, *delegate));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "fail provisional NSURLErrorDomain -1004"}));
    ASSERT_TRUE(delegate->lastError);
    EXPECT_EQ(delegate->lastError->failingUrl, refused);
    EXPECT_FALSE(view->isLoading());

    // A response the delegate refuses interrupts the load, as the platform's engine reports it.
    server.page("/refused.html", "<title>no</title>");
    delegate->responsePolicy = NavigationResponsePolicy::Cancel;
    ASSERT_TRUE(loadAndWait(*view, server.url("/refused.html"), *delegate));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "fail provisional WebKitErrorDomain 102"}));
}

TEST_F(NavigationTest, AnActionTheDelegateCancelsNeverStarts) {
    server.page("/page.html", "<title>x</title>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    delegate->actionPolicy = NavigationActionPolicy::Cancel;
    auto view = makeWebView(delegate);
    view->loadRequest(UrlRequest(server.url("/page.html")));
    ASSERT_TRUE(waitFor([&] { return !delegate->actions.empty(); }));
    pump(0.3);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"action " + server.url("/page.html")}));
    EXPECT_EQ(server.count("/page.html"), 0);
}

TEST_F(NavigationTest, ARequestThatOutlivesItsTimeoutFailsAsTimedOut) {
    server.route("/slow", TestServer::Response{200, "text/html", "", {}, true});
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    view->loadRequest(UrlRequest(server.url("/slow"), UrlRequestCachePolicy::UseProtocolCachePolicy, 2.0));
    ASSERT_TRUE(waitFor([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "fail provisional NSURLErrorDomain -1001"}));
    EXPECT_EQ(delegate->lastError->failingUrl, server.url("/slow"));

    // A load replaced by another is cancelled; the new one keeps its own time limit.
    server.route("/slow2", TestServer::Response{200, "text/html", "", {}, true});
    view->loadRequest(UrlRequest(server.url("/slow")));
    delegate->events.clear();
    ASSERT_TRUE(waitFor([&] { return delegate->has("start"); }));
    view->loadRequest(UrlRequest(server.url("/slow2"), UrlRequestCachePolicy::UseProtocolCachePolicy, 2.0));
    ASSERT_TRUE(waitFor([&] { return delegate->has("fail provisional NSURLErrorDomain -1001"); }));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "fail provisional NSURLErrorDomain -999", "start",
                                                                "fail provisional NSURLErrorDomain -1001"}));
    EXPECT_EQ(delegate->lastError->failingUrl, server.url("/slow2"));

    // A page that answered and then hangs: a reload re-issues its request with its time limit.
    server.page("/answers", "<title>answers</title>");
    delegate->events.clear();
    view->loadRequest(UrlRequest(server.url("/answers"), UrlRequestCachePolicy::UseProtocolCachePolicy, 2.0));
    ASSERT_TRUE(waitFor([&] { return delegate->has("finish"); }));
    server.route("/answers", TestServer::Response{200, "text/html", "", {}, true});
    delegate->events.clear();
    view->reload();
    ASSERT_TRUE(waitFor([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "fail provisional NSURLErrorDomain -1001"}));
    EXPECT_EQ(delegate->lastError->failingUrl, server.url("/answers"));
    EXPECT_FALSE(view->isLoading());

    // Stopping a load by hand is a cancellation, not a time-out.
    view->loadRequest(UrlRequest(server.url("/slow")));
    delegate->events.clear();
    ASSERT_TRUE(waitFor([&] { return delegate->has("start"); }));
    view->stopLoading();
    ASSERT_TRUE(waitFor([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "fail provisional NSURLErrorDomain -999"}));
}

TEST_F(NavigationTest, TheUserAgentReachesTheServer) {
    server.page("/ua", "<title>ua</title>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();

    WebViewConfiguration configuration;
    configuration.applicationNameForUserAgent = "QuarnAIAssistant";
    auto view = makeWebView(delegate, nullptr, configuration);
    ASSERT_TRUE(loadAndWait(*view, server.url("/ua"), *delegate));
    const std::string withName = server.lastRequest("/ua")->headers["User-Agent"];
    EXPECT_TRUE(withName.ends_with(" QuarnAIAssistant")) << withName;
    EXPECT_NE(withName.find("AppleWebKit/"), std::string::npos) << withName;

    // A custom agent replaces the whole string, for the server and for the page.
    view->setCustomUserAgent("Chrome/109.1.18.0/Morvane QuarnAI/MAC");
    ASSERT_TRUE(loadAndWait(*view, server.url("/ua"), *delegate));
    EXPECT_EQ(server.lastRequest("/ua")->headers["User-Agent"], "Chrome/109.1.18.0/Morvane QuarnAI/MAC");
    auto seen = evaluate(*view, "navigator.userAgent");
    ASSERT_TRUE(seen && seen->ok());
    EXPECT_EQ(**seen, Value("Chrome/109.1.18.0/Morvane QuarnAI/MAC"));

    // Clearing it brings the engine's own agent back.
    view->setCustomUserAgent("");
    ASSERT_TRUE(loadAndWait(*view, server.url("/ua"), *delegate));
    EXPECT_EQ(server.lastRequest("/ua")->headers["User-Agent"], withName);
}

TEST_F(NavigationTest, AnAgentWebKitRefusesReachesWhatThePageProcessSendsAndReadsNearlySoElsewhere) {
    server.page("/agents", R"(<title>agents</title><script>
        var worker = new Worker('/worker.js');
        worker.onmessage = function (e) { window.workerAgent = e.data; };
        try { new WebSocket(location.origin.replace('http', 'ws') + '/socket'); } catch (e) {}
        fetch('/fetched');
    </script>)");
    server.route("/worker.js", TestServer::Response{200, "text/javascript",
                                                    "fetch('/from-worker'); postMessage(navigator.userAgent);", {}, false});
    for (const char* path : {"/fetched", "/from-worker", "/socket"}) server.page(path, "x");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    const std::string agent = "Chrome/109.1.18.0/Morvane QuarnAI/MAC";
    view->setCustomUserAgent(agent);
    ASSERT_TRUE(loadAndWait(*view, server.url("/agents"), *delegate));
    std::string workerAgent;
    ASSERT_TRUE(waitFor([&] {
        auto seen = evaluate(*view, "window.workerAgent || ''");
        if (seen && seen->ok() && (*seen)->isString()) workerAgent = *(*seen)->asString();
        return !workerAgent.empty() && server.lastRequest("/from-worker") && server.lastRequest("/socket");
    }));
    auto header = [&](const char* path) { return server.lastRequest(path)->headers["User-Agent"]; };
    for (const char* path : {"/agents", "/worker.js", "/fetched", "/from-worker"}) EXPECT_EQ(header(path), agent) << path;
    auto page = evaluate(*view, "navigator.userAgent");
    ASSERT_TRUE(page && page->ok());
    EXPECT_EQ(**page, Value(agent));
    // What WebKit builds without the page process: the agent with its refused slash escaped.
    EXPECT_EQ(header("/socket"), "Chrome/109.1.18.0%2FMorvane QuarnAI/MAC");
    EXPECT_EQ(workerAgent, "Chrome/109.1.18.0%2FMorvane QuarnAI/MAC");
}

TEST_F(NavigationTest, AnUntrustedCertificateIsRefusedWhateverTheDelegateAnswers) {
    TestServer secure(true);
    ASSERT_TRUE(secure.ok());
    secure.page("/secret.html", "<title>secret</title>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    ASSERT_TRUE(loadAndWait(*view, secure.url("/secret.html"), *delegate));
    // The delegate answers "use the credential"; the page still does not load.
    EXPECT_EQ(delegate->mainEvents(), (std::vector<std::string>{"start", "challenge NSURLAuthenticationMethodServerTrust",
                                                                "fail provisional NSURLErrorDomain -1202"}));
    ASSERT_EQ(delegate->challenges.size(), 1u);
    const auto& trust = delegate->challenges[0].protectionSpace.serverTrust;
    ASSERT_TRUE(trust);
    EXPECT_FALSE(trust->validates);
    EXPECT_EQ(trust->host, "127.0.0.1");
    EXPECT_FALSE(trust->failureReason.empty());
    EXPECT_EQ(secure.count("/secret.html"), 0);
    EXPECT_NE(view->title(), "secret");
}

TEST_F(NavigationTest, ALoginRequestReachesTheDelegateAsAChallenge) {
    server.route("/private",
                 TestServer::Response{
                     401, "text/html", "<title>denied</title>", {{"WWW-Authenticate", "Basic realm=\"staff\""}}});
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    ASSERT_TRUE(loadAndWait(*view, server.url("/private"), *delegate));
    // Without a login to give, the page goes on without one and shows the server's answer.
    EXPECT_EQ(delegate->mainEvents(),
              (std::vector<std::string>{"start", "challenge NSURLAuthenticationMethodHTTPBasic", "commit", "finish"}));
    ASSERT_EQ(delegate->challenges.size(), 1u);
    const auto& space = delegate->challenges[0].protectionSpace;
    EXPECT_EQ(space.host, "127.0.0.1");
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(space.port) + "/private", server.url("/private"));
    EXPECT_EQ(space.protocol, "http");
    EXPECT_FALSE(space.serverTrust);
    ASSERT_TRUE(waitFor([&] { return view->title() == "denied"; }));
}

TEST_F(NavigationTest, ADeadContentProcessIsReported) {
    server.page("/page.html", "<title>alive</title>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    ASSERT_TRUE(loadAndWait(*view, server.url("/page.html"), *delegate));
    webkit_web_view_terminate_web_process(WEBKIT_WEB_VIEW(desktop::webKitWidgetFor(*view)));
    EXPECT_TRUE(waitFor([&] { return delegate->has("terminated"); }));
}

// Views named alike share one page process, so ending it ends both pages; others keep their own.
TEST_F(NavigationTest, ViewsOfOneSharedProcessLiveAndEndInIt) {
    server.page("/page.html", "<title>alive</title>");
    struct Case {
        const char* first;
        const char* second;
        bool shared;
    };
    for (const Case& c : {Case{"pages", "pages", true}, Case{"", "", false}, Case{"pages", "others", false}}) {
        SCOPED_TRACE(std::string(c.first) + "/" + c.second);
        WebViewConfiguration a, b;
        a.sharedProcessName = c.first;
        b.sharedProcessName = c.second;
        auto first = std::make_shared<RecordingNavigationDelegate>();
        auto second = std::make_shared<RecordingNavigationDelegate>();
        auto firstView = makeWebView(first, nullptr, a);
        auto secondView = makeWebView(second, nullptr, b);
        ASSERT_TRUE(loadAndWait(*firstView, server.url("/page.html"), *first));
        ASSERT_TRUE(loadAndWait(*secondView, server.url("/page.html"), *second));
        webkit_web_view_terminate_web_process(WEBKIT_WEB_VIEW(desktop::webKitWidgetFor(*firstView)));
        ASSERT_TRUE(waitFor([&] { return first->has("terminated"); }));
        if (c.shared) {
            EXPECT_TRUE(waitFor([&] { return second->has("terminated"); }));
        } else {
            pump(0.5);
            EXPECT_FALSE(second->has("terminated"));
            auto title = evaluate(*secondView, "document.title");
            ASSERT_TRUE(title && title->ok());
            EXPECT_EQ(title->value(), Value("alive"));
        }
    }
}

// The views of one shared process, loaded at once as the application does at start: every
// page loads, and a view's navigation is asked for only after the one before it has started
// (a page that loads a site before the network process knows its process may, gets the
// process ended). A stopped or refused load, a view that goes, or a load that never starts (its
// decision held) does not hold the others up for good.
TEST_F(NavigationTest, LoadsInASharedProcessStartOneAtATime) {
    server.page("/page.html", "<title>page</title>");
    // One log for all views: "<view> action" when a navigation is asked for, "<view> start".
    struct Logging : RecordingNavigationDelegate {
        Logging(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
        void decidePolicyForNavigationAction(WebView& view, const NavigationAction& action,
                                             NavigationActionDecision decision) override {
            log.push_back(name + " action");
            if (hold) {
                held = std::move(decision);
                return;
            }
            RecordingNavigationDelegate::decidePolicyForNavigationAction(view, action, std::move(decision));
        }
        void didStartProvisionalNavigation(WebView& view, NavigationId id) override {
            log.push_back(name + " start");
            RecordingNavigationDelegate::didStartProvisionalNavigation(view, id);
        }
        std::vector<std::string>& log;
        std::string name;
        bool hold = false;
        NavigationActionDecision held;
    };
    enum class Twist { None, StopSecond, RefuseFirst, DropSecond, HoldFirst };
    for (Twist twist : {Twist::None, Twist::StopSecond, Twist::RefuseFirst, Twist::DropSecond, Twist::HoldFirst}) {
        SCOPED_TRACE(static_cast<int>(twist));
        std::vector<std::string> log;
        std::vector<std::shared_ptr<WebView>> views;
        std::vector<std::shared_ptr<Logging>> delegates;
        WebViewConfiguration configuration;
        configuration.sharedProcessName = "pages-" + std::to_string(static_cast<int>(twist));
        for (int i = 0; i < 4; ++i) {
            delegates.push_back(std::make_shared<Logging>(log, std::to_string(i)));
            views.push_back(makeWebView(delegates.back(), nullptr, configuration));
        }
        if (twist == Twist::RefuseFirst) delegates[0]->actionPolicy = NavigationActionPolicy::Cancel;
        delegates[0]->hold = twist == Twist::HoldFirst;
        for (auto& view : views) view->loadRequest(UrlRequest(server.url("/page.html")));
        if (twist == Twist::StopSecond) views[1]->stopLoading();
        if (twist == Twist::DropSecond) views[1].reset();

        std::vector<int> expected;
        for (int i = 0; i < 4; ++i) {
            const bool loads = !(i == 1 && (twist == Twist::StopSecond || twist == Twist::DropSecond)) &&
                               !(i == 0 && (twist == Twist::RefuseFirst || twist == Twist::HoldFirst));
            if (loads) expected.push_back(i);
        }
        ASSERT_TRUE(waitFor(
            [&] {
                return std::all_of(expected.begin(), expected.end(),
                                   [&](int i) { return delegates[i]->has("finish"); });
            },
            20));
        if (twist == Twist::HoldFirst) {
            delegates[0]->held(NavigationActionPolicy::Allow);
            ASSERT_TRUE(waitFor([&] { return delegates[0]->has("finish"); }));
            continue;
        }
        // Between a view's action and its start, no other view's action.
        std::string open;
        for (const auto& entry : log) {
            const std::string who = entry.substr(0, entry.find(' '));
            if (entry.ends_with(" action")) {
                EXPECT_TRUE(open.empty() || open == who)
                    << "view " << who << " asked while " << open << " had not started";
                open = (twist == Twist::RefuseFirst && who == "0") ? "" : who;
            } else if (who == open) {
                open.clear();
            }
        }
    }
}

}  // namespace
}  // namespace kit::testing
