#pragma once
// How a web view is set up when it is made; later changes have no effect on it.

#include <memory>
#include <string>

namespace kit {

class WebsiteDataStore;

struct WebPreferences {
    bool javaScriptEnabled = true;
    bool javaScriptCanOpenWindowsAutomatically = false;
    // Pages may put an element into full screen (the Fullscreen API).
    bool elementFullscreenEnabled = false;
    bool developerExtrasEnabled = false;
};

struct WebViewConfiguration {
    // Appended to the default user agent ("... <name>"); a custom user agent replaces both.
    std::string applicationNameForUserAgent;
    WebPreferences preferences;
    // Cookies and storage; the shared persistent store when not set.
    std::shared_ptr<WebsiteDataStore> websiteDataStore;
    // Views made with the same non-empty name and the same store share one page process (and
    // its memory) while one of them lives; a crash of that process ends the pages of all.
    std::string sharedProcessName;
};

}  // namespace kit
