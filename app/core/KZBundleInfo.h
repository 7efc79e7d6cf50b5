#pragma once
// The bundle information file (resources/Info.plist): identifiers and configuration values fixed
// at build time. Missing or unreadable entries answer their built-in values.

#include <string>
#include <string_view>

#include "kit/base/Value.h"

class KZBundleInfo {
public:
    static constexpr const char* kBundleIdentifier = "com.morvane.QuarnAIAssistant";
    static constexpr const char* kHostBundleIdentifier = "com.morvane.Quarn";
    static constexpr const char* kHostApplicationPath = "/Applications/Morvane Quarn.app";

    // The crash-report service's application identifier ("FrolkAppIDString").
    static std::string frolkAppId();
    // The host probed for network reachability ("KZReachabilityProbeHost").
    static std::string reachabilityProbeHost();
    // The AI service's base address: the environment variable QUARN_AI_BASE_URL when it is set
    // and not empty, else "KZAIBaseURL"; always ending in a slash.
    static std::string aiBaseURL();
    // A page of the AI service: the base address followed by a path format whose "%d" is the page
    // version, e.g. aiPageURL("thirdParty/quarn/login?version=%d", 6).
    static std::string aiPageURL(std::string_view pathFormat, int version);

    // A string entry, or the fallback when it is absent or not a non-empty string.
    static std::string string(std::string_view key, std::string_view fallback);
    // Reads the file again (tests point the resources folder elsewhere).
    static void reload();
};
