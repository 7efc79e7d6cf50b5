#include "peers/ai-service/AIService.h"

#include <algorithm>
#include <utility>

#include <glib.h>

#include <fstream>
#include <sstream>

#include "kit/base/Json.h"
#include "peers/ai-service/AIPageAssets.h"
#include "peers/common/PeerOutput.h"

namespace peers::aiservice {
namespace {

// A 1 x 1 PNG: the avatar and the image that pages offer for saving.
constexpr const char* kSamplePngBase64 =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";

constexpr const char* kSamplePdf =
    "%PDF-1.4\n"
    "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
    "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
    "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >> endobj\n"
    "trailer << /Root 1 0 R >>\n"
    "%%EOF\n";

const char* kJson = "application/json; charset=utf-8";
const char* kHtml = "text/html; charset=utf-8";

HttpResponse json(const kit::Value& value, int status = 200) {
    HttpResponse response;
    response.status = status;
    response.contentType = kJson;
    response.body = kit::toJson(value);
    return response;
}

HttpResponse text(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

HttpResponse methodNotAllowed(const char* allowed) {
    HttpResponse response = text(405, std::string("use ") + allowed + "\n");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

std::string htmlEscaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string samplePng() {
    gsize length = 0;
    guchar* bytes = g_base64_decode(kSamplePngBase64, &length);
    std::string png(reinterpret_cast<const char*>(bytes), length);
    g_free(bytes);
    return png;
}

bool isRead(const std::string& method) { return method == "GET" || method == "HEAD"; }

std::string normalizedPath(std::string_view path) {
    std::string p(path.empty() ? "/" : path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

}  // namespace

const std::vector<PageRoute>& pageRoutes() {
    static const std::vector<PageRoute> routes{
        {"chat", "/thirdParty/dorvaka/pmChat", "main", "Quarn AI chat"},
        {"home", "/thirdParty/dorvaka/pmChatHome", "home", "Quarn AI keep-alive"},
        {"login", "/thirdParty/quarn/login", "login", "Quarn AI login"},
        {"write", "/thirdParty/dorvaka/write", "write", "Quarn AI writing"},
        {"picture", "/thirdParty/dorvaka/picture", "image", "Quarn AI image"},
        {"file", "/thirdParty/dorvaka/file", "document", "Quarn AI document"},
        {"explain", "/embed/chat/explain", "minipage", "Quarn AI explain"},
        {"translate", "/embed/chat/translate", "minipage", "Quarn AI translate"},
    };
    return routes;
}

const PageRoute* routeForPath(std::string_view path) {
    std::string p = normalizedPath(path);
    for (const auto& route : pageRoutes())
        if (p == route.path) return &route;
    return nullptr;
}

std::map<std::string, std::string> parseQuery(std::string_view query) {
    auto decode = [](std::string_view part) {
        std::string out;
        for (std::size_t i = 0; i < part.size(); ++i) {
            char c = part[i];
            if (c == '+') {
                out.push_back(' ');
            } else if (c == '%' && i + 2 < part.size() && g_ascii_isxdigit(part[i + 1]) && g_ascii_isxdigit(part[i + 2])) {
                out.push_back(static_cast<char>(g_ascii_xdigit_value(part[i + 1]) * 16 + g_ascii_xdigit_value(part[i + 2])));
                i += 2;
            } else {
                out.push_back(c);
            }
        }
        return out;
    };
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        std::string_view pair = query.substr(start, end - start);
        if (!pair.empty()) {
            std::size_t equals = pair.find('=');
            std::string key = decode(pair.substr(0, equals));
            values[key] = equals == std::string_view::npos ? std::string() : decode(pair.substr(equals + 1));
        }
        start = end + 1;
    }
    return values;
}

std::string renderPage(const PageRoute& route, const kit::Value& config, bool standalone) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         << "<title>" << htmlEscaped(route.title) << "</title>\n<style>\n"
         << kPageStyle << "</style>\n</head>\n<body>\n"
         // JSON made safe for a script element: no "<", ">" or "&" outside escapes.
         << "<script>window.QUARN_PAGE_CONFIG = " << scriptSafeJson(config) << ";</script>\n"
         << "<script>\n" << kPageScript << "</script>\n";
    if (standalone) html << "<script src=\"/__bridge/WebViewJavascriptBridge.js\"></script>\n";
    html << "</body>\n</html>\n";
    return html.str();
}

AIService::AIService(ServiceOptions options, LineSink log)
    : options_(std::move(options)), log_(std::move(log)), loggedIn_(options_.startLoggedIn),
      userName_(options_.userName) {
    for (const auto& route : pageRoutes()) pageCounts_[route.kind] = 0;
}

void AIService::setPort(int port) {
    std::lock_guard lock(mutex_);
    port_ = port;
}

std::string AIService::baseAddress() const {
    std::lock_guard lock(mutex_);
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

kit::Value AIService::authUser() const {
    std::lock_guard lock(mutex_);
    return authUserLocked();
}

kit::Value AIService::authUserLocked() const {
    if (!loggedIn_) return kit::Dictionary{{"state", 1}, {"avatar", ""}, {"userName", ""}};
    std::string avatar = options_.avatar.empty()
                             ? "http://127.0.0.1:" + std::to_string(port_) + "/__files/avatar.png"
                             : options_.avatar;
    return kit::Dictionary{{"state", 0}, {"avatar", avatar}, {"userName", userName_}};
}

kit::Value AIService::status() const {
    std::lock_guard lock(mutex_);
    kit::Dictionary pages;
    for (const auto& route : pageRoutes()) pages.set(route.kind, pageCounts_.at(route.kind));
    return kit::Dictionary{
        {"port", port_},
        {"auth", authUserLocked()},
        {"pages", std::move(pages)},
        {"requests", requests_},
        {"events", events_},
    };
}

void AIService::emit(const std::string& line) const {
    if (log_) log_(line);
}

void AIService::record(const HttpRequest& request, int status, const PageRoute* route) {
    kit::Dictionary entry{
        {"method", request.method},
        {"path", request.path},
        {"query", request.query},
        {"status", status},
        {"page", route ? kit::Value(route->kind) : kit::Value()},
    };
    std::string line = "request " + kit::toJson(entry);
    {
        std::lock_guard lock(mutex_);
        if (route) ++pageCounts_[route->kind];
        requests_.emplace_back(std::move(entry));
        if (requests_.size() > options_.historyLimit) requests_.erase(requests_.begin());
    }
    emit(line);
}

HttpResponse AIService::handle(const HttpRequest& request) {
    std::string path = normalizedPath(request.path);
    if (path == "/__status") {
        if (!isRead(request.method)) return methodNotAllowed("GET");
        return json(status());
    }
    if (path == "/__api/event") {
        if (request.method != "POST") return methodNotAllowed("POST");
        return event(request);
    }
    // The pages poll for commands several times a second: not worth a line each.
    if (path == "/__api/commands") {
        if (!isRead(request.method)) return methodNotAllowed("GET");
        return takeCommands(request);
    }
    if (path == "/__page/commands") {
        if (request.method != "POST") return methodNotAllowed("POST");
        return queueCommand(request);
    }

    HttpResponse response;
    const PageRoute* route = routeForPath(path);
    if (route) {
        response = isRead(request.method) ? page(*route, request) : methodNotAllowed("GET, HEAD");
    } else if (path == "/") {
        if (!isRead(request.method)) {
            response = methodNotAllowed("GET, HEAD");
        } else {
            std::ostringstream html;
            html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Quarn AI service stand-in</title>"
                 << "</head><body><h1>Quarn AI service stand-in</h1><ul>\n";
            for (const auto& r : pageRoutes())
                html << "<li><a href=\"" << r.path << "?version=6&amp;standalone=1\">" << htmlEscaped(r.title) << "</a> <code>"
                     << r.path << "</code></li>\n";
            html << "</ul><p><a href=\"/__status\">status</a></p></body></html>\n";
            response.contentType = kHtml;
            response.body = html.str();
        }
    } else if (path == "/__api/auth") {
        response = isRead(request.method) ? json(authUser()) : methodNotAllowed("GET");
    } else if (path == "/__api/login" || path == "/__api/logout") {
        response = request.method == "POST" ? setLoggedIn(path == "/__api/login", request) : methodNotAllowed("POST");
    } else if (path == "/__reset") {
        if (request.method != "POST") {
            response = methodNotAllowed("POST");
        } else {
            {
                std::lock_guard lock(mutex_);
                requests_.clear();
                events_.clear();
                commands_.clear();
                for (auto& [kind, count] : pageCounts_) count = 0;
                loggedIn_ = options_.startLoggedIn;
                userName_ = options_.userName;
            }
            emit("reset");
            return json(kit::Dictionary{{"ok", true}});
        }
    } else if (path == "/__popups" && isRead(request.method)) {
        // A page of another site, when reached under another host name than the service's: it
        // asks for five windows as it loads and for one on every click anywhere on it.
        response.contentType = kHtml;
        response.body =
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Pop-ups</title></head>"
            "<body style=\"margin:0;height:100vh;background:#c0392b\" "
            "onclick=\"window.open('/opened/click-' + (++window.clicks), '_blank')\">"
            "<script>window.clicks = 0; for (var i = 0; i < 5; i++) window.open('/opened/load-' + i, '_blank');"
            "</script></body></html>\n";
    } else if (path == "/__files/avatar.png" && isRead(request.method)) {
        response.contentType = "image/png";
        response.body = samplePng();
    } else if (path == "/__files/sample.pdf" && isRead(request.method)) {
        response.contentType = "application/pdf";
        response.body = kSamplePdf;
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"sample.pdf\"");
    } else if (path == "/__bridge/WebViewJavascriptBridge.js" && isRead(request.method)) {
        std::ifstream file(options_.bridgeScript, std::ios::binary);
        if (options_.bridgeScript.empty() || !file) {
            response = text(404, "the bridge's page script was not found (--bridge-script)\n");
        } else {
            std::ostringstream content;
            content << file.rdbuf();
            response.contentType = "text/javascript; charset=utf-8";
            response.body = content.str();
        }
    } else {
        response = text(404, "no page at " + path + "\n");
    }
    record(request, response.status, route && response.status == 200 ? route : nullptr);
    return response;
}

HttpResponse AIService::page(const PageRoute& route, const HttpRequest& request) {
    auto query = parseQuery(request.query);
    kit::Value version;
    if (auto it = query.find("version"); it != query.end()) version = kit::integerValueOfString(it->second);
    std::string sample = std::string("data:image/png;base64,") + kSamplePngBase64;
    kit::Dictionary config{
        {"kind", route.kind},
        {"from", route.from},
        {"title", route.title},
        {"version", version},
        {"readyDelayMs", options_.readyDelayMs},
        {"autoLoginMs", options_.autoLoginMs >= 0 ? kit::Value(options_.autoLoginMs) : kit::Value()},
        {"sampleImage", sample},
        {"workSaved", options_.workSavedAtFirst},
        {"commands", options_.pagesTakeCommands},
    };
    auto standalone = query.find("standalone");
    HttpResponse response;
    response.contentType = kHtml;
    response.body = renderPage(route, kit::Value(std::move(config)),
                               standalone != query.end() && kit::boolValueOfString(standalone->second));
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

HttpResponse AIService::queueCommand(const HttpRequest& request) {
    auto parsed = kit::parseJson(request.body);
    if (!parsed || !parsed->isDictionary()) return text(400, "expected a JSON object\n");
    const std::string* page = (*parsed)["page"].asString();
    const bool known = page && std::any_of(pageRoutes().begin(), pageRoutes().end(),
                                           [&](const PageRoute& route) { return route.kind == *page; });
    if (!known) return text(400, "a command needs the \"page\" it is for, one of the page kinds\n");
    std::string line = "command " + kit::toJson(*parsed);
    {
        std::lock_guard lock(mutex_);
        commands_[*page].push_back(*parsed);
    }
    emit(line);
    return json(kit::Dictionary{{"ok", true}});
}

HttpResponse AIService::takeCommands(const HttpRequest& request) {
    auto query = parseQuery(request.query);
    auto page = query.find("page");
    kit::Array taken;
    if (page != query.end()) {
        std::lock_guard lock(mutex_);
        auto found = commands_.find(page->second);
        if (found != commands_.end()) taken = std::exchange(found->second, {});
    }
    HttpResponse response = json(kit::Value(std::move(taken)));
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

HttpResponse AIService::event(const HttpRequest& request) {
    auto parsed = kit::parseJson(request.body);
    if (!parsed || !parsed->isDictionary()) return text(400, "expected a JSON object\n");
    const kit::Value& message = *parsed;
    auto stringOf = [&](const char* key) {
        const std::string* s = message[key].asString();
        return s ? *s : std::string();
    };
    std::string page = stringOf("page");
    std::string direction = stringOf("direction");
    std::string handlerName = stringOf("handlerName");
    if (page.empty() || direction.empty() || handlerName.empty())
        return text(400, "an event needs \"page\", \"direction\" and \"handlerName\"\n");
    std::int64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextEventId_++;
        events_.emplace_back(kit::Dictionary{{"id", id},
                                             {"page", page},
                                             {"direction", direction},
                                             {"handlerName", handlerName},
                                             {"data", message["data"]}});
        if (events_.size() > options_.historyLimit) events_.erase(events_.begin());
    }
    emit("page " + page + " " + direction + " " + handlerName + " " + kit::toJson(message["data"]));
    return json(kit::Dictionary{{"id", id}});
}

HttpResponse AIService::setLoggedIn(bool loggedIn, const HttpRequest& request) {
    kit::Value state;
    {
        std::lock_guard lock(mutex_);
        loggedIn_ = loggedIn;
        if (loggedIn) {
            auto body = kit::parseJson(request.body);
            const std::string* name = body ? (*body)["userName"].asString() : nullptr;
            userName_ = name && !name->empty() ? *name : options_.userName;
        }
        state = authUserLocked();
    }
    emit("auth " + kit::toJson(state));
    return json(state);
}

}  // namespace peers::aiservice
