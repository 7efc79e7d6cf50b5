#include "kit/web/Url.h"

#include <glib.h>

namespace kit {

namespace {

struct GFreeString {
    char* text = nullptr;
    ~GFreeString() { g_free(text); }
    std::string str() const { return text ? std::string(text) : std::string(); }
};

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    // GLib wants a terminated string; an embedded NUL is not a valid address.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    std::string owned(text);
    GFreeString scheme, userinfo, host, path, query, fragment;
    int port = -1;
    if (!g_uri_split(owned.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS),
                     &scheme.text, &userinfo.text, &host.text, &port, &path.text, &query.text,
                     &fragment.text, nullptr)) {
        return std::nullopt;
    }
    if (!scheme.text) return std::nullopt;
    Url url;
    url.absolute_ = std::move(owned);
    url.scheme_ = asciiLowercase(scheme.str());
    url.host_ = host.str();
    url.port_ = port;
    url.path_ = path.str();
    if (query.text) url.query_ = query.str();
    if (fragment.text) url.fragment_ = fragment.str();
    return url;
}

std::string Url::origin() const {
    if (host_.empty()) return {};
    std::string host = asciiLowercase(host_);
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    std::string out = scheme_ + "://" + host;
    if (port_ >= 0) out += ":" + std::to_string(port_);
    return out;
}

std::string Url::webOrigin() const {
    if ((scheme_ == "http" && port_ == 80) || (scheme_ == "https" && port_ == 443)) {
        Url defaultPort = *this;
        defaultPort.port_ = -1;
        return defaultPort.origin();
    }
    return origin();
}

}  // namespace kit
