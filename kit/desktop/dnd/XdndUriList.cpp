#include "kit/desktop/dnd/XdndUriList.h"

#include <glib.h>

namespace kit::desktop {

std::vector<std::string> parseUriList(std::string_view list) {
    std::vector<std::string> addresses;
    while (!list.empty()) {
        const auto end = list.find('\n');
        std::string_view line = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        // Some sources end the list with a NUL.
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0' || line.back() == ' ')) line.remove_suffix(1);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        addresses.emplace_back(line);
    }
    return addresses;
}

std::optional<std::string> localPathFromFileUri(const std::string& address) {
    gchar* hostname = nullptr;
    gchar* path = g_filename_from_uri(address.c_str(), &hostname, nullptr);
    std::optional<std::string> result;
    const bool local = !hostname || !*hostname || g_ascii_strcasecmp(hostname, "localhost") == 0 ||
                       g_ascii_strcasecmp(hostname, g_get_host_name()) == 0;
    if (path && local) result = std::string(path);
    g_free(path);
    g_free(hostname);
    return result;
}

}  // namespace kit::desktop
