#pragma once
// Log lines to the standard error stream, one write per line, in the platform's usual form:
//   2026-12-07 04:25:16.123 QuarnAI[1234:1234] message
// (local date and time with milliseconds, process name, process id and thread id). Tests capture
// lines with LogCapture instead of (or as well as) writing them.

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// Logs a message as one line: control characters (C0, DEL, C1, U+2028, U+2029) and bytes that
// are not UTF-8 are written as escapes ("\n", "\x1B", "\u0085", "\u2028"); the rest as it is.
void logLine(std::string_view message);
// The message as logLine writes it. (Captures below see the message as it was given.)
std::string escapedForLog(std::string_view message);
// printf-style formatting, then logLine.
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void vlogf(const char* format, va_list args);

// The prefix a line gets: date, time, process name and ids.
std::string logLinePrefix();
// An object named in a log line by its kind and address, "<Window: 0x55d0c3a1b2c0>"; "(null)" for none.
std::string objectLogText(std::string_view kind, const void* object);

// A line that may come again and again (a failure met on every tick while it lasts): written the
// first time, then at most once per interval with the number of times it came in between; when
// the condition is over (settled), a count still held back is written too.
class RepeatedLogLine {
public:
    RepeatedLogLine(std::string line, double interval) : line_(std::move(line)), interval_(interval) {}
    // The line came again at `now` (monotonic seconds).
    void log(double now);
    void settled();
    std::size_t heldBack() const { return heldBack_; }

private:
    void writeHeldBack();

    std::string line_;
    double interval_;
    double lastWritten_ = 0;
    bool written_ = false;
    std::size_t heldBack_ = 0;
};

// Collects the messages logged (without their prefix) while it lives. Captures nest: the newest
// sees the lines. Lines still go to the standard error stream unless `silent`.
class LogCapture {
public:
    explicit LogCapture(bool silent = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    bool contains(std::string_view substring) const;
    std::size_t count(std::string_view substring) const;
    void clear() { lines_.clear(); }

private:
    friend void logLine(std::string_view message);
    std::vector<std::string> lines_;
    bool silent_;
    LogCapture* previous_;
};

}  // namespace kit
