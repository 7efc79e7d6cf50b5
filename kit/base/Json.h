#pragma once
// JSON text to and from values.

#include <string>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

namespace kit {

struct JsonWriteOptions {
    // Writes "/" as "\/", as the platform's JSON writer does.
    bool escapeSlashes = false;
};

// Compact JSON text. Booleans stay true/false, integers stay integers; data is written as a
// base64 string and dates as seconds since 1970 (JSON has neither kind).
std::string toJson(const Value& value, JsonWriteOptions options = {});

// Parses JSON text; a top-level fragment ("3", "\"text\"", "null") is accepted. Booleans become
// bools, integers that fit 64 bits integers, other numbers reals.
Result<Value> parseJson(std::string_view text);

}  // namespace kit
