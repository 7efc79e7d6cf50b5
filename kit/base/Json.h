#pragma once
// JSON text to and from values.

#include <string>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

namespace kit {

inline constexpr int kMaxJsonDepth = 512;

struct JsonWriteOptions {
    // Writes "/" as "\/", as the platform's JSON writer does.
    bool escapeSlashes = false;
    // Two-space indentation and " : " between keys and values, for log lines.
    bool prettyPrinted = false;
};

// JSON text, compact unless pretty-printed. Booleans stay true/false, integers stay integers;
// data is written as a base64 string and dates as seconds since 1970 (JSON has neither kind).
// Reals print in their shortest exact form, whole ones without decimals; non-finite reals are
// written as null.
// Control characters, quotes and backslashes in strings are escaped, other UTF-8 passes through
// as is; ill-formed UTF-8 is written as U+FFFD.
std::string toJson(const Value& value, JsonWriteOptions options = {});

// Parses JSON text; a top-level fragment ("3", "\"text\"", "null") is accepted. Booleans become
// bools, integers that fit 64 bits integers, other numbers reals. Ill-formed UTF-8, syntax
// errors, numbers beyond the range of a double and nesting deeper than kMaxJsonDepth give an
// error; a key given twice keeps its last value.
Result<Value> parseJson(std::string_view text);

}  // namespace kit
