#pragma once
// The analytics service. Every call is recorded in memory (tests read them back); the running
// application also appends each event as one JSON line to a file, written by a background
// thread so that a report never waits for the disk.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Value.h"

struct HXReportEvent {
    double time = 0;     // wall-clock seconds since 1970
    std::string method;  // "initialize", "reportButtonClick", "reportCommonKeyValue"
    std::int64_t key = 0;
    std::string value;
    kit::Value extra;

    friend bool operator==(const HXReportEvent&, const HXReportEvent&) = default;
};

class HXReport {
public:
    static void initialize();
    // A stable identifier of the current user, lower-case hexadecimal with dashes; created once
    // and kept in the user defaults.
    static std::optional<std::string> getCurrentUserGuid();
    static void reportButtonClick(std::int64_t key);
    static void reportCommonKeyValue(std::int64_t key, std::string_view value,
                                     const kit::Value& extra = {});

    // The latest calls are kept in memory, at most this many (the oldest go first).
    static constexpr std::size_t kRecordedEventLimit = 10000;
    // The calls recorded so far, oldest first.
    static std::vector<HXReportEvent> recordedEvents();
    // The recorded calls, and forgets them.
    static std::vector<HXReportEvent> takeRecordedEvents();
    static bool isInitialized();

    // Starts appending events to `file` (folders are created as needed). Events reported
    // before the call are not written. When the next lines would take the file past
    // `sizeLimit` bytes it is renamed to `file` + ".1" (replacing the one old generation) and
    // a new file begins.
    static constexpr std::uintmax_t kFileSizeLimit = std::uintmax_t{5} * 1024 * 1024;
    static void startFileLog(const std::filesystem::path& file, std::uintmax_t sizeLimit = kFileSizeLimit);
    // Waits until every event handed to the writer is on disk.
    static void flush();
    // Flushes, then stops the writer thread.
    static void stopFileLog();
    // home/Library/Application Support/QuarnAI/HXReport.jsonl
    static std::filesystem::path defaultFilePath();

    // One event as its JSON line (without the newline).
    static std::string jsonLine(const HXReportEvent& event);

    // Forgets recorded calls and the initialized state (tests).
    static void resetForTesting();
};
