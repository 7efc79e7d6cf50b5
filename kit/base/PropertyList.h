#pragma once
// Property-list files: XML and binary in, XML out.

#include <filesystem>
#include <string>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

namespace kit {

// Parses XML or binary property-list bytes. Corrupt, truncated or empty input gives an error.
Result<Value> parsePropertyList(std::string_view bytes);

// Reads a property-list file; a missing or unreadable file gives an error.
Result<Value> readPropertyListFile(const std::filesystem::path& path);

// The XML text of a value. Null cannot be represented: a null value, or one that holds a null
// anywhere inside, gives an error.
Result<std::string> propertyListXml(const Value& value);

// Writes the XML form atomically: a temporary file beside the target, flushed, then renamed over
// it. On any failure the old file is left whole and no temporary file remains.
Status writePropertyListFile(const std::filesystem::path& path, const Value& value);

// Writes bytes to a file atomically, as above.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kit
