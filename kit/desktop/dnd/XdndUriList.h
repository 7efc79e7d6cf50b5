#pragma once
// The "text/uri-list" form a drag source offers for the files it drags: one address per line,
// lines ended by CR LF (bare LF accepted), "#" lines are comments.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit::desktop {

// The addresses of a list, in order, without blank or comment lines.
std::vector<std::string> parseUriList(std::string_view list);

// The local path of a "file:" address (percent-escapes decoded; host empty, "localhost" or this
// machine's name); nullopt for other addresses and malformed ones.
std::optional<std::string> localPathFromFileUri(const std::string& address);

}  // namespace kit::desktop
