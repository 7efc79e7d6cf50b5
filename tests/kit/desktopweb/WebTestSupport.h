#pragma once
// Fixture for the WebKitGTK engine on a real X server: installs the desktop backend and the web
// engine once per process (with HOME in a private folder), pumps the GLib loop until a condition
// holds, serves pages from a local HTTP(S) server, and records what a web view's delegates hear.

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kit/base/Paths.h"
#include "kit/base/Value.h"
#include "kit/desktop/Desktop.h"
#include "kit/desktop/web/WebKitEngine.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Window.h"
#include "kit/web/WebView.h"
#include "kit/web/WebsiteDataStore.h"
#include "tests/support/DesktopLoop.h"

namespace kit::testing {

// The loop is pumped with a longer deadline here: pages load in their own processes.
inline bool waitFor(const std::function<bool()>& done, double seconds = 15) { return pumpUntil(done, seconds); }
inline void pump(double seconds) { pumpFor(seconds); }

// A local server on 127.0.0.1 with fixed answers per path; it records every request.
class TestServer {
public:
    struct Response {
        int status = 200;
        std::string contentType = "text/html";
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        // Never answers (until the server goes).
        bool hang = false;
    };
    struct Request {
        std::string path;
        std::map<std::string, std::string> headers;
    };

    // With `tls`, HTTPS with a self-signed certificate that no one trusts.
    explicit TestServer(bool tls = false) {
        GError* error = nullptr;
        if (tls) {
            GTlsCertificate* certificate = selfSignedCertificate();
            if (!certificate) return;
            server_ = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", certificate, nullptr));
            g_object_unref(certificate);
        } else {
            server_ = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, nullptr));
        }
        soup_server_add_handler(server_, nullptr, &TestServer::handle, this, nullptr);
        const auto options = SoupServerListenOptions(SOUP_SERVER_LISTEN_IPV4_ONLY | (tls ? SOUP_SERVER_LISTEN_HTTPS : 0));
        if (!soup_server_listen_local(server_, 0, options, &error)) {
            ADD_FAILURE() << "cannot listen: " << error->message;
            g_error_free(error);
            return;
        }
        GSList* uris = soup_server_get_uris(server_);
        if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        scheme_ = tls ? "https" : "http";
    }

    ~TestServer() {
        if (!server_) return;
        for (SoupServerMessage* message : hung_) {
            soup_server_message_set_status(message, 503, nullptr);
            soup_server_message_unpause(message);
        }
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }

    bool ok() const { return server_ && port_ > 0; }
    void route(const std::string& path, Response response) { routes_[path] = std::move(response); }
    void page(const std::string& path, const std::string& html) { route(path, Response{200, "text/html", html, {}, false}); }
    std::string url(const std::string& path) const {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    const std::vector<Request>& requests() const { return requests_; }
    std::optional<Request> lastRequest(const std::string& path) const {
        for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
            if (it->path == path) return *it;
        }
        return std::nullopt;
    }
    int count(const std::string& path) const {
        int n = 0;
        for (const auto& request : requests_) n += request.path == path;
        return n;
    }

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<TestServer*>(data);
        Request request;
        request.path = path;
        SoupMessageHeadersIter it;
        const char* name = nullptr;
        const char* value = nullptr;
        soup_message_headers_iter_init(&it, soup_server_message_get_request_headers(message));
        while (soup_message_headers_iter_next(&it, &name, &value)) request.headers[name] = value;
        self->requests_.push_back(std::move(request));

        auto route = self->routes_.find(path);
        if (route == self->routes_.end()) {
            soup_server_message_set_status(message, 404, nullptr);
            soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, "not found", 9);
            return;
        }
        const Response& response = route->second;
        if (response.hang) {
            soup_server_message_pause(message);
            self->hung_.push_back(message);
            return;
        }
        soup_server_message_set_status(message, response.status, nullptr);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        for (const auto& [headerName, headerValue] : response.headers) {
            soup_message_headers_append(headers, headerName.c_str(), headerValue.c_str());
        }
        soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY,
                                         response.body.data(), response.body.size());
    }

    static GTlsCertificate* selfSignedCertificate() {
        const auto folder = std::filesystem::temp_directory_path() / ("desktopweb-tls-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const std::string cert = (folder / "cert.pem").string();
        const std::string key = (folder / "key.pem").string();
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout " +
                                    key + " -out " + cert;
        gint status = 0;
        if (!g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, &status, nullptr) ||
            !g_spawn_check_wait_status(status, nullptr)) {
            ADD_FAILURE() << "openssl could not make a certificate";
            return nullptr;
        }
        GError* error = nullptr;
        GTlsCertificate* certificate = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), &error);
        if (!certificate) {
            ADD_FAILURE() << "cannot read the certificate: " << error->message;
            g_error_free(error);
        }
        return certificate;
    }

    SoupServer* server_ = nullptr;
    int port_ = 0;
    std::string scheme_;
    std::map<std::string, Response> routes_;
    std::vector<Request> requests_;
    std::vector<SoupServerMessage*> hung_;
};

// A navigation delegate that writes down what it hears, one line per event, and answers with
// what the test set.
class RecordingNavigationDelegate : public WebNavigationDelegate {
public:
    std::vector<std::string> events;
    std::vector<NavigationAction> actions;
    std::vector<AuthenticationChallenge> challenges;
    std::optional<WebError> lastError;
    NavigationActionPolicy actionPolicy = NavigationActionPolicy::Allow;
    NavigationResponsePolicy responsePolicy = NavigationResponsePolicy::Allow;

    void decidePolicyForNavigationAction(WebView&, const NavigationAction& action,
                                         NavigationActionDecision decisionHandler) override {
        actions.push_back(action);
        events.push_back("action " + action.request.url);
        decisionHandler(actionPolicy);
    }
    void decidePolicyForNavigationResponse(WebView&, const NavigationResponse& response,
                                           NavigationResponseDecision decisionHandler) override {
        events.push_back("response " + std::to_string(response.response.statusCode));
        decisionHandler(responsePolicy);
    }
    void didStartProvisionalNavigation(WebView&, NavigationId) override { events.push_back("start"); }
    void didReceiveServerRedirectForProvisionalNavigation(WebView&, NavigationId) override {
        events.push_back("redirect");
    }
    void didFailProvisionalNavigation(WebView&, NavigationId, const WebError& error) override {
        lastError = error;
        events.push_back("fail provisional " + error.domain + " " + std::to_string(error.code));
    }
    void didCommitNavigation(WebView&, NavigationId) override { events.push_back("commit"); }
    void didFinishNavigation(WebView&, NavigationId) override { events.push_back("finish"); }
    void didFailNavigation(WebView&, NavigationId, const WebError& error) override {
        lastError = error;
        events.push_back("fail " + error.domain + " " + std::to_string(error.code));
    }
    void didReceiveAuthenticationChallenge(WebView&, const AuthenticationChallenge& challenge,
                                           AuthenticationDecision completionHandler) override {
        challenges.push_back(challenge);
        events.push_back("challenge " + challenge.protectionSpace.authenticationMethod);
        // Even an answer that trusts the server must not make a bad certificate trusted.
        auto credential = std::make_shared<Credential>();
        credential->serverTrust = challenge.protectionSpace.serverTrust;
        completionHandler(AuthChallengeDisposition::UseCredential, credential);
    }
    void webContentProcessDidTerminate(WebView&) override { events.push_back("terminated"); }

    bool has(const std::string& event) const {
        for (const auto& e : events) {
            if (e == event) return true;
        }
        return false;
    }
    bool ended() const {
        for (const auto& e : events) {
            if (e == "finish" || e.starts_with("fail")) return true;
        }
        return false;
    }
    // The events other than the actions and responses of subresources and frames.
    std::vector<std::string> mainEvents() const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (e.starts_with("action ") || e.starts_with("response ")) continue;
            out.push_back(e);
        }
        return out;
    }
};

class WebEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_getenv("DISPLAY")) return;
        static bool prepared = false;
        if (!prepared) {
            prepared = true;
            // Everything the pages store lands in a private home.
            const auto home = std::filesystem::temp_directory_path() / ("desktopweb-home-" + std::to_string(::getpid()));
            std::filesystem::remove_all(home);
            std::filesystem::create_directories(home);
            g_setenv("HOME", home.c_str(), TRUE);
            WebsiteDataStore::resetDefaultDataStore();
        }
        auto status = desktop::install();
        ASSERT_TRUE(status.ok()) << status.error();
        auto web = desktop::installWebEngine({paths::home() / "Library/Caches", "desktopweb/downloads"});
        ASSERT_TRUE(web.ok()) << web.error();
    }

    void SetUp() override {
        if (!desktop::isWebEngineInstalled()) GTEST_SKIP() << "no X display (run through run-under-xvfb.sh)";
        ASSERT_TRUE(server.ok());
        Application::shared().reset();
    }

    void TearDown() override {
        if (!desktop::isWebEngineInstalled()) return;
        Application::shared().reset();
        pump(0.02);
    }

    static std::shared_ptr<WebView> makeWebView(WebViewConfiguration configuration = {}) {
        return create<WebView>(Rect{0, 0, 400, 300}, std::move(configuration));
    }
    // The same, telling `navigation` (and `ui`, when given) what its pages do.
    static std::shared_ptr<WebView> makeWebView(const std::shared_ptr<WebNavigationDelegate>& navigation,
                                                const std::shared_ptr<WebUIDelegate>& ui = nullptr,
                                                WebViewConfiguration configuration = {}) {
        auto view = makeWebView(std::move(configuration));
        view->setNavigationDelegate(navigation);
        if (ui) view->setUIDelegate(ui);
        return view;
    }

    // A window at `frame` (titled and resizable unless `style` says otherwise) filled by `page` (a
    // new web view when none is given) with a recording navigation delegate (and `ui`, when given),
    // brought to the front; the test loads its page.
    struct PageWindow {
        std::shared_ptr<Window> window;
        std::shared_ptr<WebView> page;
        std::shared_ptr<RecordingNavigationDelegate> navigation;
    };
    static PageWindow openPageWindow(const Rect& frame, const std::shared_ptr<WebUIDelegate>& ui = nullptr,
                                     unsigned style = WindowStyleTitled | WindowStyleResizable,
                                     std::shared_ptr<WebView> page = nullptr) {
        if (!page) page = create<WebView>(Rect{{}, frame.size});
        PageWindow shown{create<Window>(frame, style), std::move(page),
                         std::make_shared<RecordingNavigationDelegate>()};
        shown.window->setFrame(frame);
        shown.window->contentView()->addSubview(shown.page);
        shown.page->setNavigationDelegate(shown.navigation);
        if (ui) shown.page->setUIDelegate(ui);
        shown.window->makeKeyAndOrderFront();
        return shown;
    }

    // The window's X window once the page in it is mapped and has settled (0 when it never was).
    static unsigned long mappedXWindow(Window& window, WebView& page) {
        const unsigned long xid = desktop::xWindowFor(window);
        if (!xid || !waitFor([&] { return gtk_widget_get_mapped(desktop::webKitWidgetFor(page)) != 0; })) return 0;
        pump(0.3);
        return xid;
    }

    // Loads an address and waits for the load to end; false when it did not end in time.
    static bool loadAndWait(WebView& view, const std::string& url, RecordingNavigationDelegate& delegate) {
        delegate.events.clear();
        view.loadRequest(UrlRequest(url));
        return waitFor([&] { return delegate.ended(); });
    }

    // Evaluates a script and waits for its result.
    static std::optional<ScriptResult> evaluate(WebView& view, const std::string& script) {
        std::optional<ScriptResult> result;
        view.evaluateJavaScript(script, [&](const ScriptResult& r) { result = r; });
        if (!waitFor([&] { return result.has_value(); })) return std::nullopt;
        return result;
    }

    TestServer server;
};

}  // namespace kit::testing
