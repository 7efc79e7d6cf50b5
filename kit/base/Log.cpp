#include "kit/base/Log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>

#include "kit/base/Paths.h"

namespace kit {
namespace {

std::mutex& captureMutex() {
    static std::mutex mutex;
    return mutex;
}

LogCapture*& currentCapture() {
    static LogCapture* capture = nullptr;
    return capture;
}

const std::string& processName() {
    static const std::string name = [] {
        auto n = paths::executableName();
        return n.empty() ? std::string("QuarnAI") : n;
    }();
    return name;
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at `at` (overlong forms, surrogates and values
// past U+10FFFF are not), or 0.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    const std::size_t left = text.size() - at;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && isContinuation(byte(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !isContinuation(byte(1)) || !isContinuation(byte(2))) return 0;
        if (lead == 0xE0 && byte(1) < 0xA0) return 0;
        if (lead == 0xED && byte(1) >= 0xA0) return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !isContinuation(byte(1)) || !isContinuation(byte(2)) || !isContinuation(byte(3))) return 0;
        if (lead == 0xF0 && byte(1) < 0x90) return 0;
        if (lead == 0xF4 && byte(1) >= 0x90) return 0;
        return 4;
    }
    return 0;
}

void appendHexEscape(std::string& out, const char* form, unsigned value) {
    char buffer[12];
    const int n = std::snprintf(buffer, sizeof buffer, form, value);
    out.append(buffer, static_cast<std::size_t>(n));
}

}  // namespace

std::string escapedForLog(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    for (std::size_t i = 0; i < message.size();) {
        const auto c = static_cast<unsigned char>(message[i]);
        const std::size_t length = sequenceLength(message, i);
        if (length == 0) {
            // Not UTF-8: a stray byte could still mean something to a terminal.
            appendHexEscape(out, "\\x%02X", c);
            ++i;
            continue;
        }
        if (length == 1) {
            if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c < 0x20 || c == 0x7F) {
                appendHexEscape(out, "\\x%02X", c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const auto second = static_cast<unsigned char>(message[i + 1]);
        if (length == 2 && c == 0xC2 && second < 0xA0) {
            // C1 controls, U+0080 to U+009F.
            appendHexEscape(out, "\\u%04X", second);
        } else if (length == 3 && c == 0xE2 && second == 0x80 &&
                   (static_cast<unsigned char>(message[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(message[i + 2]) == 0xA9)) {
            appendHexEscape(out, "\\u%04X", static_cast<unsigned char>(message[i + 2]) == 0xA8 ? 0x2028u : 0x2029u);
        } else {
            out.append(message.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string objectLogText(std::string_view kind, const void* object) {
    if (!object) return "(null)";
    char address[32];
    std::snprintf(address, sizeof address, "%p", object);
    return "<" + std::string(kind) + ": " + address + ">";
}

std::string logLinePrefix() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char stamp[64];
    std::size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    stamp[len] = '\0';
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%s.%03ld ", stamp, ts.tv_nsec / 1000000);
    std::string prefix = buffer;
    prefix += processName();
    std::snprintf(buffer, sizeof buffer, "[%d:%ld] ", static_cast<int>(::getpid()),
                  static_cast<long>(::syscall(SYS_gettid)));
    prefix += buffer;
    return prefix;
}

void logLine(std::string_view message) {
    bool toStream = true;
    {
        std::lock_guard lock(captureMutex());
        if (LogCapture* capture = currentCapture()) {
            capture->lines_.emplace_back(message);
            toStream = !capture->silent_;
        }
    }
    if (!toStream) return;
    std::string line = logLinePrefix();
    // Text from outside (pages, peers, the selection) must not start lines of its own nor reach
    // a terminal as control sequences.
    line.append(escapedForLog(message));
    line.push_back('\n');
    writeAll(STDERR_FILENO, line.data(), line.size());
}

void vlogf(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        logLine(format);
        return;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        logLine(std::string_view(small, static_cast<std::size_t>(needed)));
        return;
    }
    std::string text(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(needed));
    logLine(text);
}

void logf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlogf(format, args);
    va_end(args);
}

LogCapture::LogCapture(bool silent) : silent_(silent) {
    std::lock_guard lock(captureMutex());
    previous_ = std::exchange(currentCapture(), this);
}

LogCapture::~LogCapture() {
    std::lock_guard lock(captureMutex());
    // Captures normally end newest first; one that ends out of order is unlinked where it is.
    if (currentCapture() == this) {
        currentCapture() = previous_;
        return;
    }
    for (LogCapture* c = currentCapture(); c; c = c->previous_) {
        if (c->previous_ == this) {
            c->previous_ = previous_;
            return;
        }
    }
}

bool LogCapture::contains(std::string_view substring) const { return count(substring) > 0; }

std::size_t LogCapture::count(std::string_view substring) const {
    std::size_t n = 0;
    for (const auto& line : lines_)
        if (line.find(substring) != std::string_view::npos) ++n;
    return n;
}

void RepeatedLogLine::log(double now) {
    if (written_ && now - lastWritten_ < interval_) {
        ++heldBack_;
        return;
    }
    if (heldBack_ > 0) {
        // This one counts with those held back.
        ++heldBack_;
        writeHeldBack();
    } else {
        logLine(line_);
    }
    written_ = true;
    lastWritten_ = now;
}

void RepeatedLogLine::settled() {
    if (heldBack_ > 0) writeHeldBack();
    written_ = false;
}

void RepeatedLogLine::writeHeldBack() {
    logf("%s (%zu times since the last such line)", line_.c_str(), heldBack_);
    heldBack_ = 0;
}

}  // namespace kit
