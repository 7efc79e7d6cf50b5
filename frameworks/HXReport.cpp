#include "frameworks/HXReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "kit/base/Json.h"
#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/RunLoop.h"
#include "kit/base/UserDefaults.h"

namespace {

constexpr const char* kUserGuidKey = "HXReportUserGuid";

// Appends lines to one file from its own thread. Lines are queued under a mutex and written in
// batches; flush() waits for the queue to drain.
class ReportFileWriter {
public:
    ReportFileWriter(std::filesystem::path file, std::uintmax_t sizeLimit)
        : file_(std::move(file)), sizeLimit_(sizeLimit) {
        thread_ = std::thread([this] { run(); });
    }
    ~ReportFileWriter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void append(std::string line) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(line));
            ++queued_;
        }
        wake_.notify_all();
    }

    void flush() {
        std::unique_lock lock(mutex_);
        drained_.wait(lock, [this] { return written_ == queued_; });
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty() && stopping_) break;
            std::deque<std::string> batch;
            batch.swap(queue_);
            lock.unlock();
            writeBatch(batch);
            lock.lock();
            written_ += batch.size();
            drained_.notify_all();
        }
    }

    void writeBatch(const std::deque<std::string>& batch) {
        std::string text;
        for (const auto& line : batch) {
            text += line;
            text += '\n';
        }
        kit::createPrivateFolders(file_.parent_path()).ok();
        int fd = kit::openPrivateFile(file_, O_WRONLY | O_CREAT | O_APPEND);
        if (fd < 0) return;  // analytics never disturbs the application
        // Past the size limit the file becomes the one old generation and a new one starts.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_size > 0 &&
            static_cast<std::uintmax_t>(info.st_size) + text.size() > sizeLimit_) {
            std::filesystem::path old = file_;
            old += ".1";
            if (::rename(file_.c_str(), old.c_str()) == 0) {
                ::close(fd);
                fd = kit::openPrivateFile(file_, O_WRONLY | O_CREAT | O_APPEND);
                if (fd < 0) return;
            }
        }
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            ssize_t n = ::write(fd, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::close(fd);
    }

    std::filesystem::path file_;
    std::uintmax_t sizeLimit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<std::string> queue_;
    std::uint64_t queued_ = 0;
    std::uint64_t written_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

struct ReportState {
    std::mutex mutex;
    std::deque<HXReportEvent> events;
    bool initialized = false;
    std::unique_ptr<ReportFileWriter> writer;
};

ReportState& state() {
    static ReportState* s = new ReportState;  // outlives static destructors that may report
    return *s;
}

double nowWallTime() { return kit::RunLoop::main().wallTime(); }

void record(HXReportEvent event) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.writer) s.writer->append(HXReport::jsonLine(event));
    s.events.push_back(std::move(event));
    if (s.events.size() > HXReport::kRecordedEventLimit) s.events.pop_front();
}

std::string makeGuid() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ device());
    std::uint64_t hi = generator(), lo = generator();
    hi = (hi & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;  // version 4
    lo = (lo & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;  // variant 1
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(hi >> 32),
                  static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                  static_cast<unsigned>(lo >> 48),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return text;
}

}  // namespace

void HXReport::initialize() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        s.initialized = true;
    }
    record({nowWallTime(), "initialize", 0, "", {}});
}

std::optional<std::string> HXReport::getCurrentUserGuid() {
    auto& defaults = kit::UserDefaults::standard();
    std::string guid = defaults.stringForKey(kUserGuidKey);
    if (guid.empty()) {
        guid = makeGuid();
        defaults.set(kUserGuidKey, guid);
    }
    return guid;
}

void HXReport::reportButtonClick(std::int64_t key) {
    record({nowWallTime(), "reportButtonClick", key, "", {}});
}

void HXReport::reportCommonKeyValue(std::int64_t key, std::string_view value, const kit::Value& extra) {
    record({nowWallTime(), "reportCommonKeyValue", key, std::string(value), extra});
}

std::vector<HXReportEvent> HXReport::recordedEvents() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return {s.events.begin(), s.events.end()};
}

std::vector<HXReportEvent> HXReport::takeRecordedEvents() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    std::vector<HXReportEvent> taken(std::make_move_iterator(s.events.begin()), std::make_move_iterator(s.events.end()));
    s.events.clear();
    return taken;
}

bool HXReport::isInitialized() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.initialized;
}

void HXReport::startFileLog(const std::filesystem::path& file, std::uintmax_t sizeLimit) {
    auto writer = std::make_unique<ReportFileWriter>(file, sizeLimit);
    std::unique_ptr<ReportFileWriter> previous;
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        previous = std::exchange(s.writer, std::move(writer));
    }
    // The previous writer drains and joins outside the lock.
}

void HXReport::flush() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.writer) s.writer->flush();
}

void HXReport::stopFileLog() {
    std::unique_ptr<ReportFileWriter> writer;
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        writer = std::move(s.writer);
    }
    if (writer) writer->flush();
}

std::filesystem::path HXReport::defaultFilePath() {
    return kit::paths::applicationSupport() / "QuarnAI" / "HXReport.jsonl";
}

std::string HXReport::jsonLine(const HXReportEvent& event) {
    kit::Dictionary line;
    line.set("time", event.time);
    line.set("method", event.method);
    line.set("key", event.key);
    line.set("value", event.value);
    line.set("extra", event.extra);
    return kit::toJson(kit::Value(std::move(line)));
}

void HXReport::resetForTesting() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.events.clear();
    s.initialized = false;
}
