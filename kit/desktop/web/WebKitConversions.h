#pragma once
// WebKitGTK's values as the platform layer's: responses, navigation types, script results and
// the addresses of chosen files.

#include <webkit2/webkit2.h>

#include <optional>
#include <string>
#include <string_view>

#include "kit/desktop/web/UserAgentStandIn.h"
#include "kit/web/UrlRequest.h"
#include "kit/web/WebNavigation.h"
#include "kit/web/WebView.h"

namespace kit::desktop {

UrlResponse urlResponseFrom(WebKitURIResponse* response, const std::string& requestUrl = {});
UrlRequest urlRequestFrom(WebKitURIRequest* request);
NavigationType navigationTypeFrom(WebKitNavigationType type);

// A script's value: undefined is null, everything else goes through JSON (numbers, strings,
// booleans, arrays and objects as they are). A value JSON cannot carry (a function, a symbol, a
// cyclic object) is an error, as the platform reports an unsupported result.
ScriptResult scriptResultFrom(JSCValue* value);

// The last path component of an address (percent-escapes kept), as the platform suggests file
// names.
std::string lastPathComponent(const std::string& address);

// A file's path from what an open panel answered: a "file:" address or a plain path. nullopt for
// other addresses.
std::optional<std::string> filePathFromAnswer(const std::string& answer);

}  // namespace kit::desktop
