#include "kit/desktop/web/WebKitWebsiteData.h"

#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/PrivateFiles.h"

namespace kit::desktop {

namespace {

struct Contexts {
    // Persistent contexts by folder: two WebKit contexts must never share one.
    std::map<std::filesystem::path, GRef<WebKitWebContext>> persistent;
    // Non-persistent ones by store, for as long as the store lives.
    std::map<const WebsiteDataStore*, std::pair<std::weak_ptr<WebsiteDataStore>, GRef<WebKitWebContext>>> ephemeral;
};

Contexts& contexts() {
    static Contexts table;
    return table;
}

GRef<WebKitWebContext> withExtension(GRef<WebKitWebContext> context) {
    if (auto folder = pageExtensionDirectory()) {
        webkit_web_context_set_web_extensions_directory(context.get(), folder->c_str());
    }
    return context;
}

GRef<WebKitWebContext> makePersistentContext(const std::filesystem::path& folder) {
    if (auto made = createPrivateFolders(folder); !made) logf("[WebView] %s", made.error().c_str());
    const std::string data = folder.string();
    const std::string cache = (folder / "Caches").string();
    auto manager = GRef<WebKitWebsiteDataManager>::adopt(webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
    // Only a certificate that validates is trusted; a page never gets an exception.
    webkit_website_data_manager_set_tls_errors_policy(manager.get(), WEBKIT_TLS_ERRORS_POLICY_FAIL);
    const std::string cookies = (folder / "Cookies.sqlite").string();
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager.get()),
                                                 cookies.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return withExtension(GRef<WebKitWebContext>::adopt(webkit_web_context_new_with_website_data_manager(manager.get())));
}

GRef<WebKitWebContext> makeEphemeralContext() {
    auto manager = GRef<WebKitWebsiteDataManager>::adopt(webkit_website_data_manager_new_ephemeral());
    webkit_website_data_manager_set_tls_errors_policy(manager.get(), WEBKIT_TLS_ERRORS_POLICY_FAIL);
    return withExtension(GRef<WebKitWebContext>::adopt(webkit_web_context_new_with_website_data_manager(manager.get())));
}

void giveCookieStore(WebsiteDataStore& store, WebKitWebContext* context) {
    if (dynamic_cast<WebKitCookieStore*>(&store.httpCookieStore())) return;
    store.setHttpCookieStore(std::make_shared<WebKitCookieStore>(context));
}

SoupCookie* soupCookieFrom(const HttpCookie& cookie) {
    SoupCookie* soup = soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(), cookie.domain.c_str(),
                                       cookie.path.empty() ? "/" : cookie.path.c_str(), -1);
    if (cookie.expiresDate) {
        GDateTime* expires = g_date_time_new_from_unix_utc(static_cast<gint64>(*cookie.expiresDate));
        if (expires) {
            soup_cookie_set_expires(soup, expires);
            g_date_time_unref(expires);
        }
    }
    soup_cookie_set_secure(soup, cookie.isSecure);
    soup_cookie_set_http_only(soup, cookie.isHttpOnly);
    return soup;
}

HttpCookie httpCookieFrom(SoupCookie* soup) {
    HttpCookie cookie;
    cookie.name = soup_cookie_get_name(soup) ? soup_cookie_get_name(soup) : "";
    cookie.value = soup_cookie_get_value(soup) ? soup_cookie_get_value(soup) : "";
    cookie.domain = soup_cookie_get_domain(soup) ? soup_cookie_get_domain(soup) : "";
    cookie.path = soup_cookie_get_path(soup) ? soup_cookie_get_path(soup) : "/";
    if (GDateTime* expires = soup_cookie_get_expires(soup)) {
        cookie.expiresDate = static_cast<double>(g_date_time_to_unix(expires));
    }
    cookie.isSecure = soup_cookie_get_secure(soup);
    cookie.isHttpOnly = soup_cookie_get_http_only(soup);
    return cookie;
}

// What an asynchronous cookie call keeps until GLib calls back.
template <class Completion>
struct CookieCall {
    GRef<WebKitWebsiteDataManager> manager;
    Completion completion;
};

}  // namespace

std::optional<std::filesystem::path> pageExtensionDirectory() {
    static const std::optional<std::filesystem::path> found = []() -> std::optional<std::filesystem::path> {
        const char* given = g_getenv("QUARN_WEBKIT_EXTENSIONS_DIR");
        std::vector<std::filesystem::path> candidates;
        if (given && *given) {
            candidates.emplace_back(given);
        } else {
            // A build folder keeps it beside the executables; an installed one under lib/<name>.
            const auto bin = paths::executablePath().parent_path();
            candidates.push_back(bin / "webkit-extensions");
            candidates.push_back(bin.parent_path() / "lib" / std::string(paths::kInstalledName));
        }
        std::error_code ignored;
        for (const auto& folder : candidates) {
            if (std::filesystem::exists(folder / "quarn-webkit-page-extension.so", ignored)) return folder;
        }
        logf("The web pages' extension is missing from %s: agent strings WebKit refuses cannot be sent",
             candidates.front().c_str());
        return std::nullopt;
    }();
    return found;
}

// The shared store names the folder, so what it reports is where WebKit keeps the data.
std::filesystem::path sharedWebDataDirectory() { return WebsiteDataStore::defaultDataStore()->dataDirectory(); }

WebKitWebContext* webKitContextFor(const std::shared_ptr<WebsiteDataStore>& given) {
    auto store = given ? given : WebsiteDataStore::defaultDataStore();
    auto& table = contexts();
    WebKitWebContext* context = nullptr;
    if (store->isPersistent()) {
        // The shared store lives where the application keeps its support files; another
        // persistent store in its own folder.
        const bool shared = store == WebsiteDataStore::defaultDataStore();
        const auto folder = shared || store->dataDirectory().empty() ? sharedWebDataDirectory() : store->dataDirectory();
        auto& slot = table.persistent[folder];
        if (!slot) slot = makePersistentContext(folder);
        context = slot.get();
    } else {
        std::erase_if(table.ephemeral, [](const auto& entry) { return entry.second.first.expired(); });
        auto& slot = table.ephemeral[store.get()];
        if (!slot.second) slot = {store, makeEphemeralContext()};
        context = slot.second.get();
    }
    giveCookieStore(*store, context);
    return context;
}

void releaseWebKitContexts() {
    auto& table = contexts();
    table.persistent.clear();
    table.ephemeral.clear();
}

WebKitCookieStore::WebKitCookieStore(WebKitWebContext* context)
    : manager_(GRef<WebKitWebsiteDataManager>::retain(webkit_web_context_get_website_data_manager(context))) {}

void WebKitCookieStore::getAllCookies(std::function<void(std::vector<HttpCookie>)> completion) {
    using Call = CookieCall<std::function<void(std::vector<HttpCookie>)>>;
    auto* call = new Call{manager_, std::move(completion)};
    webkit_cookie_manager_get_all_cookies(
        webkit_website_data_manager_get_cookie_manager(manager_.get()), nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
            std::vector<HttpCookie> cookies;
            for (GList* it = list; it; it = it->next) cookies.push_back(httpCookieFrom(static_cast<SoupCookie*>(it->data)));
            g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
            if (error) {
                logf("Cannot read the cookies: %s", error->message);
                g_error_free(error);
            }
            guarded("a cookie completion", [&] {
                if (call->completion) call->completion(std::move(cookies));
            });
        },
        call);
}

void WebKitCookieStore::setCookie(const HttpCookie& cookie, std::function<void()> completion) {
    using Call = CookieCall<std::function<void()>>;
    auto* call = new Call{manager_, std::move(completion)};
    SoupCookie* soup = soupCookieFrom(cookie);
    webkit_cookie_manager_add_cookie(
        webkit_website_data_manager_get_cookie_manager(manager_.get()), soup, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            if (!webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, &error) && error) {
                logf("Cannot store a cookie: %s", error->message);
            }
            if (error) g_error_free(error);
            guarded("a cookie completion", [&] {
                if (call->completion) call->completion();
            });
        },
        call);
    soup_cookie_free(soup);
}

void WebKitCookieStore::deleteCookie(const HttpCookie& cookie, std::function<void()> completion) {
    using Call = CookieCall<std::function<void()>>;
    auto* call = new Call{manager_, std::move(completion)};
    SoupCookie* soup = soupCookieFrom(cookie);
    webkit_cookie_manager_delete_cookie(
        webkit_website_data_manager_get_cookie_manager(manager_.get()), soup, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            if (!webkit_cookie_manager_delete_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, &error) && error) {
                logf("Cannot delete a cookie: %s", error->message);
            }
            if (error) g_error_free(error);
            guarded("a cookie completion", [&] {
                if (call->completion) call->completion();
            });
        },
        call);
    soup_cookie_free(soup);
}

}  // namespace kit::desktop
