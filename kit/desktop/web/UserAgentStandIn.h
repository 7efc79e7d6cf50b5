#pragma once
// User agents that WebKitGTK refuses, and the stand-ins that carry them. Header only: the
// engine (kit_desktop) makes stand-ins and the page processes' extension reads them back.
//
// WebKitGTK takes only agents made of HTTP product tokens ("product/version", at most one slash)
// and comments, separated by single spaces. Any other agent reaches WebKit as a stand-in that is
// the agent itself with just the refused bytes percent-escaped: "Chrome/109.1.18.0/Morvane
// QuarnAI/MAC" becomes "Chrome/109.1.18.0%2FMorvane QuarnAI/MAC". The extension puts the real
// agent back wherever it can reach; elsewhere (see WebKitWebEngine.h) the stand-in is what is
// seen, and it reads nearly as the agent. A stand-in is recognised as an agent WebKit accepts
// that holds percent-escapes, decodes to an agent it refuses, and is exactly that agent's
// stand-in; an agent given to WebKit as it is never looks like that unless it was made so.

#include <string>
#include <string_view>

namespace kit::desktop {

namespace useragent {

inline bool isTokenCharacter(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

inline bool isToken(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (!isTokenCharacter(c)) return false;
    }
    return true;
}

inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace useragent

// Whether WebKitGTK takes the agent as it is: products and versions that are HTTP tokens, and
// comments in parentheses, separated by single spaces.
inline bool isValidUserAgent(std::string_view agent) {
    if (agent.empty()) return false;
    for (unsigned char c : agent) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    bool inComment = false;
    std::size_t start = 0;
    while (start <= agent.size()) {
        std::size_t end = agent.find(' ', start);
        if (end == std::string_view::npos) end = agent.size();
        const std::string_view part = agent.substr(start, end - start);
        start = end + 1;
        if (inComment) {
            if (!part.empty() && part.back() == ')') inComment = false;
            continue;
        }
        if (!part.empty() && part.front() == '(') {
            inComment = part.size() < 2 || part.back() != ')';
            continue;
        }
        const std::size_t slash = part.find('/');
        if (!useragent::isToken(part.substr(0, slash))) return false;
        if (slash != std::string_view::npos && !useragent::isToken(part.substr(slash + 1))) return false;
    }
    return !inComment;
}

// The stand-in of an agent: token bytes as they are, one space between products and one slash
// inside a product where both sides are non-empty, every other byte (and "%") as "%XX". Always
// an agent WebKit takes.
inline std::string userAgentStandIn(std::string_view agent) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    bool slashUsed = false;
    for (std::size_t i = 0; i < agent.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(agent[i]);
        const bool hasNext = i + 1 < agent.size();
        const char next = hasNext ? agent[i + 1] : '\0';
        const bool partStarted = !out.empty() && out.back() != ' ';
        if (c == ' ' && partStarted && hasNext && next != ' ') {
            out += ' ';
            slashUsed = false;
        } else if (c == '/' && partStarted && !slashUsed && hasNext && next != ' ') {
            out += '/';
            slashUsed = true;
        } else if (c != '%' && useragent::isTokenCharacter(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0xF];
        }
    }
    return out;
}

// The agent behind a stand-in; empty when `agent` is not one.
inline std::string realUserAgent(std::string_view agent) {
    if (agent.find('%') == std::string_view::npos) return {};
    std::string real;
    real.reserve(agent.size());
    for (std::size_t i = 0; i < agent.size(); ++i) {
        if (agent[i] != '%') {
            real += agent[i];
            continue;
        }
        if (i + 2 >= agent.size()) return {};
        const int high = useragent::hexDigit(agent[i + 1]);
        const int low = useragent::hexDigit(agent[i + 2]);
        if (high < 0 || low < 0) return {};
        real += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (isValidUserAgent(real) || userAgentStandIn(real) != agent) return {};
    return real;
}

}  // namespace kit::desktop
