#pragma once
// The machine-readable lines a stand-in writes on its standard output, one per event, flushed at
// once so that a test reading the pipe sees each line as it happens:
//   ready {"busName": ..., "pid": ...}
//   sent <notification name> <user information as JSON, or null>
//   received <notification name> <user information as JSON, or null>
//   error <text>
// A copy of every line can go to a file too (appended), for a stand-in that another program
// started with its output elsewhere.

#include <cstdio>
#include <string>
#include <string_view>

#include "kit/base/Value.h"

namespace peers {

// "<verb> <name> <json>", the JSON compact and on one line.
std::string notificationLine(std::string_view verb, std::string_view name, const kit::Value& userInfo);

// JSON text that is safe inside an HTML script element: "<", ">", "&", U+2028 and U+2029 are
// written as \u escapes.
std::string scriptSafeJson(const kit::Value& value);

class PeerOutput {
public:
    PeerOutput() = default;
    ~PeerOutput();
    PeerOutput(const PeerOutput&) = delete;
    PeerOutput& operator=(const PeerOutput&) = delete;

    // Appends a copy of every line to the file; false (with the reason) when it cannot be opened.
    bool copyTo(const std::string& path, std::string* whyNot);
    void line(std::string_view text);
    void error(std::string_view text) { line("error " + std::string(text)); }

private:
    std::FILE* copy_ = nullptr;
};

}  // namespace peers
