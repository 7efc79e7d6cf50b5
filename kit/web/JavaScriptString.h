#pragma once
// Reading JavaScript string literals, as an engine would read the scripts the application sends.

#include <optional>
#include <string>
#include <string_view>

namespace kit {

// Decodes the body of a single-quoted JavaScript string literal (without its quotes) to UTF-8.
// Fails on what would end or break the literal: an unescaped quote, a raw line feed or carriage
// return, or a malformed \u or \x escape. A lone surrogate becomes U+FFFD.
std::optional<std::string> decodeSingleQuotedJavaScript(std::string_view body);

}  // namespace kit
