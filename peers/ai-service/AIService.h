#pragma once
// The stand-in AI service: its pages, its small JSON interface and its memory of what was asked
// of it. Free of any HTTP library, so that tests can ask it directly; AIServiceServer puts it on
// a socket. Thread-safe: a server thread handles requests while a test reads the status.
//
// Addresses (query strings are ignored for routing):
//   the AI pages (pageRoutes())            HTML pages that speak the bridge
//   /                                      an index of the pages
//   /__status                              JSON: pages requested, requests, page traffic, login state
//   /__api/auth (GET)                      the login state as a page reports it
//   /__api/login, /__api/logout (POST)     logs the test user in or out
//   /__api/event (POST)                    a page reports one bridge message (see AIPage.js)
//   /__reset (POST)                        forgets requests and traffic, logs out
//   /__files/avatar.png, /__files/sample.pdf
//   /__bridge/WebViewJavascriptBridge.js   the bridge's page script, for pages opened outside the
//                                          application with "standalone=1"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kit/base/Value.h"

namespace peers::aiservice {

struct PageRoute {
    const char* kind;   // "chat"
    const char* path;   // "/thirdParty/dorvaka/pmChat"
    const char* from;   // the "from" of the page's ready signal
    const char* title;
};

// Every page address that the assistant loads, with version 6 in its query.
const std::vector<PageRoute>& pageRoutes();
// The page at a path (no query; a trailing slash is accepted); nullptr when none.
const PageRoute* routeForPath(std::string_view path);

struct ServiceOptions {
    int readyDelayMs = 0;
    // Milliseconds after which the login page logs in by itself; negative: never.
    int autoLoginMs = -1;
    bool startLoggedIn = false;
    std::string userName = "Test User";
    // Empty: the service's own avatar image.
    std::string avatar;
    std::filesystem::path bridgeScript;
    std::size_t historyLimit = 2000;
    // Whether the image and document pages' "work saved" box starts checked (their answer to
    // "IsSaved").
    bool workSavedAtFirst = true;
    // Whether the pages ask for commands (GET /__api/commands, four times a second); without
    // them a page is idle once loaded, as the real service's pages are.
    bool pagesTakeCommands = true;
};

struct HttpRequest {
    std::string method;
    std::string path;
    std::string query;
    std::string body;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class AIService {
public:
    // Receives one machine-readable line per request, page message and login change.
    using LineSink = std::function<void(const std::string& line)>;

    explicit AIService(ServiceOptions options, LineSink log = {});

    // The port the service listens on, for the addresses it hands out.
    void setPort(int port);
    std::string baseAddress() const;

    HttpResponse handle(const HttpRequest& request);

    kit::Value status() const;
    // {"state": 0 logged in or 1 logged out, "avatar", "userName"}
    kit::Value authUser() const;

private:
    HttpResponse page(const PageRoute& route, const HttpRequest& request);
    HttpResponse event(const HttpRequest& request);
    HttpResponse setLoggedIn(bool loggedIn, const HttpRequest& request);
    // Commands for the pages, which take them with /__api/commands.
    HttpResponse queueCommand(const HttpRequest& request);
    HttpResponse takeCommands(const HttpRequest& request);
    kit::Value authUserLocked() const;
    void record(const HttpRequest& request, int status, const PageRoute* route);
    void emit(const std::string& line) const;

    const ServiceOptions options_;
    const LineSink log_;
    mutable std::mutex mutex_;
    int port_ = 0;
    bool loggedIn_;
    std::string userName_;
    kit::Array requests_;
    kit::Array events_;
    std::map<std::string, std::int64_t> pageCounts_;
    std::int64_t nextEventId_ = 1;
    std::map<std::string, kit::Array> commands_;
};

// Query parameters, percent-decoded ("+" is a blank); a later key replaces an earlier one.
std::map<std::string, std::string> parseQuery(std::string_view query);

// The HTML of a page: its configuration, style and script inline; with `standalone` it also
// loads the bridge's page script from the service.
std::string renderPage(const PageRoute& route, const kit::Value& config, bool standalone);

}  // namespace peers::aiservice
