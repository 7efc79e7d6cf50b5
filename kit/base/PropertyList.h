#pragma once
// Property-list files: XML and binary in, XML out.

#include <filesystem>
#include <string>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

namespace kit {

// Deepest nesting of arrays and dictionaries that is read or written.
inline constexpr int kMaxPropertyListDepth = 512;

// Parses XML or binary property-list bytes (binary when they begin with "bplist00"). Corrupt,
// truncated or empty input, ill-formed UTF-8 in a string, nesting deeper than
// kMaxPropertyListDepth and binary object graphs with cycles give an error. Binary keyed-archive
// references read as the dictionary {"CF$UID": n}, as the XML form spells them. Integers are
// signed 64-bit. Dates keep microseconds (XML keeps whole seconds) between December 1932 and
// January 2069, the range of the library's 32-bit seconds; dates beyond are clamped to it.
Result<Value> parsePropertyList(std::string_view bytes);

// Reads a property-list file; a missing or unreadable file gives an error.
Result<Value> readPropertyListFile(const std::filesystem::path& path);

// The XML text of a value. Null cannot be represented: a null value, or one that holds a null
// anywhere inside, gives an error; so do strings or keys that are not UTF-8 or hold a NUL
// character, and nesting deeper than kMaxPropertyListDepth.
Result<std::string> propertyListXml(const Value& value);

// Writes the XML form atomically: a temporary file beside the target, flushed, then renamed over
// it. On any failure the old file is left whole and no temporary file remains. A symbolic link
// at the path is followed. A new file is private (0600); an existing file keeps its permission
// bits, less group and other permissions when it is the user's own.
Status writePropertyListFile(const std::filesystem::path& path, const Value& value);

// Writes bytes to a file atomically, as above.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kit
