#include "kit/web/JavaScriptString.h"

#include <cstddef>
#include <cstdint>

#include "kit/base/Utf8.h"

namespace kit {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> decodeSingleQuotedJavaScript(std::string_view body) {
    std::string out;
    std::uint32_t highSurrogate = 0;
    auto flushSurrogate = [&] {
        if (highSurrogate) appendUtf8(out, 0xFFFD);
        highSurrogate = 0;
    };
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\'' || c == '\n' || c == '\r') return std::nullopt;
        if (c != '\\') {
            flushSurrogate();
            out += c;
            continue;
        }
        if (++i >= body.size()) return std::nullopt;
        const char e = body[i];
        if (e == 'u' || e == 'x') {
            const int digits = e == 'u' ? 4 : 2;
            if (i + static_cast<std::size_t>(digits) >= body.size()) return std::nullopt;
            std::uint32_t cp = 0;
            for (int k = 1; k <= digits; ++k) {
                const int d = hexValue(body[i + static_cast<std::size_t>(k)]);
                if (d < 0) return std::nullopt;
                cp = cp * 16 + static_cast<std::uint32_t>(d);
            }
            i += static_cast<std::size_t>(digits);
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                flushSurrogate();
                highSurrogate = cp;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF && highSurrogate) {
                appendUtf8(out, 0x10000 + ((highSurrogate - 0xD800) << 10) + (cp - 0xDC00));
                highSurrogate = 0;
            } else {
                flushSurrogate();
                appendUtf8(out, cp);
            }
            continue;
        }
        flushSurrogate();
        switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 'f': out += '\f'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'v': out += '\v'; break;
            case '0': out += '\0'; break;
            default: out += e;
        }
    }
    flushSurrogate();
    return out;
}

}  // namespace kit
