#include "kit/web/WebsiteDataStore.h"

#include <algorithm>
#include <mutex>

#include "kit/base/Paths.h"
#include "kit/base/RunLoop.h"

namespace kit {

namespace {

std::mutex gStoreMutex;
std::shared_ptr<WebsiteDataStore> gDefaultStore;

bool sameCookie(const HttpCookie& a, const HttpCookie& b) {
    return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

void later(std::function<void()> completion) {
    if (completion) RunLoop::main().post(std::move(completion));
}

}  // namespace

WebsiteDataStore::WebsiteDataStore(bool persistent, std::filesystem::path directory)
    : persistent_(persistent), directory_(std::move(directory)), cookies_(std::make_shared<InMemoryHttpCookieStore>()) {}

std::shared_ptr<WebsiteDataStore> WebsiteDataStore::defaultDataStore() {
    std::lock_guard lock(gStoreMutex);
    if (!gDefaultStore) {
        gDefaultStore = std::make_shared<WebsiteDataStore>(
            true, paths::applicationSupport() / "QuarnAI" / "WebData");
    }
    return gDefaultStore;
}

std::shared_ptr<WebsiteDataStore> WebsiteDataStore::nonPersistentDataStore() {
    return std::make_shared<WebsiteDataStore>(false, std::filesystem::path());
}

void WebsiteDataStore::resetDefaultDataStore() {
    std::lock_guard lock(gStoreMutex);
    gDefaultStore.reset();
}

HttpCookieStore& WebsiteDataStore::httpCookieStore() { return *cookies_; }

void WebsiteDataStore::setHttpCookieStore(std::shared_ptr<HttpCookieStore> store) {
    if (store) cookies_ = std::move(store);
}

void InMemoryHttpCookieStore::getAllCookies(std::function<void(std::vector<HttpCookie>)> completion) {
    if (!completion) return;
    RunLoop::main().post([completion = std::move(completion), cookies = cookies_] { completion(cookies); });
}

void InMemoryHttpCookieStore::setCookie(const HttpCookie& cookie, std::function<void()> completion) {
    auto it = std::find_if(cookies_.begin(), cookies_.end(), [&](const HttpCookie& c) { return sameCookie(c, cookie); });
    if (it != cookies_.end()) *it = cookie;
    else cookies_.push_back(cookie);
    later(std::move(completion));
}

void InMemoryHttpCookieStore::deleteCookie(const HttpCookie& cookie, std::function<void()> completion) {
    std::erase_if(cookies_, [&](const HttpCookie& c) { return sameCookie(c, cookie); });
    later(std::move(completion));
}

}  // namespace kit
