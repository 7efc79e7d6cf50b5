#include "app/core/KZBundleInfo.h"

#include <cstdlib>
#include <mutex>
#include <optional>

#include "kit/base/Paths.h"
#include "kit/base/PropertyList.h"

namespace {

std::mutex& infoMutex() {
    static std::mutex m;
    return m;
}

std::optional<kit::Value>& cached() {
    static std::optional<kit::Value> value;
    return value;
}

kit::Value load() {
    auto value = kit::readPropertyListFile(kit::paths::resourcesDirectory() / "Info.plist");
    if (value && value->isDictionary()) return *value;
    return kit::Dictionary{};
}

}  // namespace

std::string KZBundleInfo::string(std::string_view key, std::string_view fallback) {
    std::lock_guard lock(infoMutex());
    auto& info = cached();
    if (!info) info = load();
    if (const auto* text = (*info)[key].asString(); text && !text->empty()) return *text;
    return std::string(fallback);
}

void KZBundleInfo::reload() {
    std::lock_guard lock(infoMutex());
    cached().reset();
}

std::string KZBundleInfo::frolkAppId() { return string("FrolkAppIDString", "5be0c3a91d"); }

std::string KZBundleInfo::reachabilityProbeHost() { return string("KZReachabilityProbeHost", "www.example.com"); }

std::string KZBundleInfo::aiBaseURL() {
    std::string base;
    if (const char* overridden = std::getenv("QUARN_AI_BASE_URL"); overridden && *overridden) {
        base = overridden;
    } else {
        base = string("KZAIBaseURL", "http://127.0.0.1:8765/");
    }
    // Page paths are appended as they stand.
    if (base.back() != '/') base += '/';
    return base;
}

std::string KZBundleInfo::aiPageURL(std::string_view pathFormat, int version) {
    std::string path(pathFormat);
    if (const auto at = path.find("%d"); at != std::string::npos) path.replace(at, 2, std::to_string(version));
    return aiBaseURL() + path;
}
