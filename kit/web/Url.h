#pragma once
// An absolute address and its parts, as written (percent-escapes are kept, not decoded).

#include <optional>
#include <string>
#include <string_view>

#include "kit/base/Ascii.h"

namespace kit {

class Url {
public:
    // An absolute address (with a scheme); nullopt for relative or malformed text.
    static std::optional<Url> parse(std::string_view text);

    const std::string& absoluteString() const { return absolute_; }
    // Lower-cased.
    const std::string& scheme() const { return scheme_; }
    // As written; empty when the address has none ("about:blank", "data:...").
    const std::string& host() const { return host_; }
    // -1 when none is written.
    int port() const { return port_; }
    const std::string& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    // "scheme://host[:port]" with scheme and host lower-cased; empty when there is no host.
    std::string origin() const;
    // The same with the scheme's default port (80 for http, 443 for https) left out, as a page's
    // location.origin writes it; addresses that differ only in spelling the port out compare equal.
    std::string webOrigin() const;

    friend bool operator==(const Url& a, const Url& b) { return a.absolute_ == b.absolute_; }

private:
    std::string absolute_;
    std::string scheme_;
    std::string host_;
    int port_ = -1;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

}  // namespace kit
