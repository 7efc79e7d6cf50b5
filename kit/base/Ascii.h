#pragma once
// Comparing ASCII text (schemes, keywords, file extensions) without regard to case, whatever the locale.

#include <algorithm>
#include <string_view>

namespace kit {

inline constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `a` and `b` are the same text once ASCII letters are lower-cased; other bytes compare as they are.
inline constexpr bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace kit
