#pragma once
// Cookies and site storage. The default store is persistent and shared by every web view of the
// process (a login on one page is seen by all of them); its data lives under the application's
// support folder. Non-persistent stores keep everything in memory and are for private pages.
// Completions arrive on the main run loop.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

struct HttpCookie {
    std::string name;
    std::string value;
    // ".example.com" matches subdomains; "example.com" only the host.
    std::string domain;
    std::string path = "/";
    // Seconds since 1970; none for a session cookie.
    std::optional<double> expiresDate;
    bool isSecure = false;
    bool isHttpOnly = false;

    friend bool operator==(const HttpCookie&, const HttpCookie&) = default;
};

class HttpCookieStore {
public:
    virtual ~HttpCookieStore() = default;
    virtual void getAllCookies(std::function<void(std::vector<HttpCookie>)> completion) = 0;
    // Replaces a cookie with the same name, domain and path.
    virtual void setCookie(const HttpCookie& cookie, std::function<void()> completion = {}) = 0;
    virtual void deleteCookie(const HttpCookie& cookie, std::function<void()> completion = {}) = 0;
};

class WebsiteDataStore {
public:
    // The persistent store shared by every web view.
    static std::shared_ptr<WebsiteDataStore> defaultDataStore();
    static std::shared_ptr<WebsiteDataStore> nonPersistentDataStore();

    bool isPersistent() const { return persistent_; }
    // Where a persistent store keeps its data (cookies, local storage, caches); for the default
    // store the application support folder's "QuarnAI/WebData", where the desktop web engine
    // keeps it. Empty for a non-persistent store.
    const std::filesystem::path& dataDirectory() const { return directory_; }

    // The cookies; the backend installs its own store (the desktop one keeps them on disk), an
    // in-memory one serves until then.
    HttpCookieStore& httpCookieStore();
    void setHttpCookieStore(std::shared_ptr<HttpCookieStore> store);

    // Forgets the shared store, so the next defaultDataStore() makes a new one (tests change HOME).
    static void resetDefaultDataStore();

    WebsiteDataStore(bool persistent, std::filesystem::path directory);

private:
    bool persistent_;
    std::filesystem::path directory_;
    std::shared_ptr<HttpCookieStore> cookies_;
};

// Cookies in memory, matched by name, domain and path.
class InMemoryHttpCookieStore : public HttpCookieStore {
public:
    void getAllCookies(std::function<void(std::vector<HttpCookie>)> completion) override;
    void setCookie(const HttpCookie& cookie, std::function<void()> completion = {}) override;
    void deleteCookie(const HttpCookie& cookie, std::function<void()> completion = {}) override;
    const std::vector<HttpCookie>& cookies() const { return cookies_; }

private:
    std::vector<HttpCookie> cookies_;
};

}  // namespace kit
