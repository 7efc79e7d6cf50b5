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

}  // namespace

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
    line.append(message);
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
