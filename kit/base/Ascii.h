#pragma once
// Lower-casing and comparing ASCII text (schemes, keywords, file extensions) without regard to case,
// whatever the locale.

#include <algorithm>
#include <string>
#include <string_view>

namespace kit {

inline constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII lower-casing, as addresses, schemes and extensions are compared; other bytes stay as they are.
inline std::string asciiLowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

// True when `a` and `b` are the same text once ASCII letters are lower-cased; other bytes compare as they are.
inline constexpr bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace kit
