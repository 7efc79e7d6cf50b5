#pragma once
// Writing Unicode scalar values as UTF-8, and cutting UTF-8 text (file names) to a length in bytes.

#include <cstddef>
#include <string>
#include <string_view>

namespace kit {

// Appends one code point as UTF-8 (1 to 4 bytes). The caller passes a value below 0x110000.
inline void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The length of the longest prefix of `text` of at most `limit` bytes that does not end inside a
// character.
inline std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

// The most bytes a file name may have on the usual file systems.
inline constexpr std::size_t kMaxFileNameBytes = 255;
// The longest extension (its dot included) that is kept when a file name is shortened.
inline constexpr std::size_t kMaxKeptExtensionBytes = 32;

// A file name cut to `limit` bytes, not inside a character: the extension (the last dot and at
// most 31 bytes after it) is kept, the part before it is shortened. Shorter names stay as they are.
inline std::string fittedFileName(std::string_view name, std::size_t limit = kMaxFileNameBytes) {
    if (name.size() <= limit) return std::string(name);
    const std::size_t dot = name.rfind('.');
    const std::size_t extensionBytes = dot == std::string_view::npos || dot == 0 ? 0 : name.size() - dot;
    if (extensionBytes == 0 || extensionBytes > kMaxKeptExtensionBytes || extensionBytes >= limit)
        return std::string(name.substr(0, utf8PrefixLength(name, limit)));
    const std::string_view stem = name.substr(0, dot);
    return std::string(stem.substr(0, utf8PrefixLength(stem, limit - extensionBytes))) + std::string(name.substr(dot));
}

}  // namespace kit
