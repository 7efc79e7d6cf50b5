#pragma once
// Where WebKit keeps cookies and site storage. Every web view of one website data store shares
// one WebKit context (and so one network process, cookie jar and storage). The shared persistent
// store keeps its data in the application's support folder ("QuarnAI/WebData"), cookies in an
// SQLite file there; a store made with another folder keeps them in that folder; non-persistent
// stores keep everything in memory. Main thread only.

#include <webkit2/webkit2.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "kit/desktop/web/WebKitGlue.h"
#include "kit/web/WebsiteDataStore.h"

namespace kit::desktop {

// home/Library/Application Support/QuarnAI/WebData
std::filesystem::path sharedWebDataDirectory();

// The context of the store's web views (the shared persistent one for nullptr), made on first
// use. It also gives the store a cookie store that reads and writes WebKit's cookie jar.
WebKitWebContext* webKitContextFor(const std::shared_ptr<WebsiteDataStore>& given);

// The folder of the page processes' extension (QUARN_WEBKIT_EXTENSIONS_DIR, else
// "webkit-extensions" beside the executable); nullopt when the module is not there, and then
// user agents that WebKitGTK refuses cannot be sent.
std::optional<std::filesystem::path> pageExtensionDirectory();

// Forgets every context (the web views that use one keep it alive).
void releaseWebKitContexts();

// The cookies of a WebKit context, for the platform layer's HttpCookieStore.
class WebKitCookieStore final : public HttpCookieStore {
public:
    explicit WebKitCookieStore(WebKitWebContext* context);

    void getAllCookies(std::function<void(std::vector<HttpCookie>)> completion) override;
    void setCookie(const HttpCookie& cookie, std::function<void()> completion = {}) override;
    void deleteCookie(const HttpCookie& cookie, std::function<void()> completion = {}) override;

private:
    GRef<WebKitWebsiteDataManager> manager_;
};

}  // namespace kit::desktop
