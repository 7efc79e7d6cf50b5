#include "kit/desktop/web/WebKitDownloadService.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <optional>
#include <string>
#include <system_error>

#include "kit/base/Log.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/RunLoop.h"
#include "kit/base/Utf8.h"
#include "kit/desktop/web/WebKitConversions.h"
#include "kit/desktop/web/WebKitErrors.h"
#include "kit/desktop/web/WebKitGlue.h"
#include "kit/desktop/web/WebKitWebsiteData.h"

namespace kit::desktop {

namespace {

// What WebKit adds to the destination's name while it writes.
constexpr std::string_view kPartialSuffix = ".wkdownload";

// A name the server suggested, made safe as one file name in our folder, short enough for one
// while it is written.
std::string safeFileName(const char* suggested) {
    std::string name = suggested ? suggested : "";
    for (char& c : name) {
        if (c == '/' || c == '\0') c = '_';
    }
    name = fittedFileName(name, kMaxFileNameBytes - kPartialSuffix.size());
    if (name.empty() || name == "." || name == "..") name = "download";
    return name;
}

// "<number>.XXXXXX": a run's staging folder. Whether it is still in use is for its lock to say.
bool isRunFolderName(const std::string& name) {
    std::size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    return digits > 0 && name.size() == digits + 7 && name[digits] == '.';
}

// "QuarnAI-Downloads-<number>", the staging folders of earlier versions in the shared temporary
// folder, and nothing else.
bool isSharedLeftoverName(const std::string& name) {
    static constexpr std::string_view kPrefix = "QuarnAI-Downloads-";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kPrefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// One transfer. Members are destroyed in reverse order: the signal connections go before the
// download they are connected to.
struct WebKitDownloadService::Transfer {
    WebKitDownloadService* service = nullptr;
    std::shared_ptr<DownloadTask> task;
    GRef<WebKitDownload> download;
    SignalConnections signals;
    std::filesystem::path folder;
    std::filesystem::path destination;
    bool responded = false;
    bool timedOut = false;
    bool done = false;
    std::optional<WebError> error;
    double timeoutInterval = 0;
    double lastActivity = 0;
    TaskId timeoutTask = 0;

    ~Transfer() {
        if (timeoutTask) RunLoop::main().cancel(timeoutTask);
    }

    void deliverResponse() {
        if (responded) return;
        WebKitURIResponse* response = webkit_download_get_response(download.get());
        if (!response) return;
        responded = true;
        task->serviceDidReceiveResponse(urlResponseFrom(response, task->originalRequest().url));
    }

    void touch() { lastActivity = RunLoop::main().now(); }

    void armTimeout(double delay) {
        if (timeoutInterval <= 0) return;
        const std::uint64_t id = task->taskIdentifier();
        WebKitDownloadService* owner = service;
        timeoutTask = RunLoop::main().postAfter(delay, [owner, alive = service->lifetime_.watch(), id] {
            if (alive.expired()) return;
            auto it = owner->transfers_.find(id);
            if (it == owner->transfers_.end()) return;
            Transfer& transfer = *it->second;
            transfer.timeoutTask = 0;
            if (transfer.done) return;
            const double idle = RunLoop::main().now() - transfer.lastActivity;
            if (idle < transfer.timeoutInterval) {
                transfer.armTimeout(transfer.timeoutInterval - idle);
                return;
            }
            transfer.timedOut = true;
            webkit_download_cancel(transfer.download.get());
        });
    }
};

WebKitDownloadService::WebKitDownloadService(const FolderChain& downloadFolder)
    : staging_(downloadFolder.inside(".staging")) {}

void WebKitDownloadService::removeLeftovers() {
    if (leftoversRemoved_) return;
    leftoversRemoved_ = true;
    removeSharedLeftovers();
    // Left by runs that ended without cleaning up (a crash, a kill). A running instance holds
    // the lock of its folder, whatever PID namespace it runs in, so a folder whose lock can be
    // taken is nobody's. Only inside a root that passes the rule: removal never follows a link.
    auto root = ensureFolderChain(staging_);
    if (!root) return;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(*root, error)) {
        if (!isRunFolderName(entry.path().filename().string())) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::error_code ignored;
            std::filesystem::remove_all(entry.path(), ignored);
            logf("[Download] removed the staging folder of an earlier run: %s", entry.path().c_str());
        }
        ::close(fd);
    }
}

void WebKitDownloadService::removeSharedLeftovers() {
    // Only real folders of this user's with the exact old name go; anything else there (another
    // user's folder, a link, a name that merely looks alike) stays untouched.
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) return;
    for (const auto& entry : std::filesystem::directory_iterator(temporary, error)) {
        if (!isSharedLeftoverName(entry.path().filename().string())) continue;
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

Result<std::filesystem::path> WebKitDownloadService::runFolder() {
    removeLeftovers();
    // The chain is checked before every transfer: it may have changed since the last one.
    auto root = ensureFolderChain(staging_);
    if (!root) return Error{root.error()};
    if (!folder_.empty()) {
        // Still ours: a folder made with mkdtemp that only this user can reach.
        if (auto status = ensureOwnFolder(folder_)) return folder_;
        releaseRunFolder();
    }
    // Locked for as long as this service runs; a folder removed by another instance's clean-up
    // between its making and its locking is made anew.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string pattern = (*root / (std::to_string(::getpid()) + ".XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            return Error{"cannot create a staging folder: " + std::string(std::strerror(errno))};
        const int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &info) == 0 && info.st_nlink > 0) {
            folder_ = pattern;
            folderLock_ = fd;
            return folder_;
        }
        if (fd >= 0) ::close(fd);
    }
    return Error{"cannot lock a staging folder in " + root->string()};
}

void WebKitDownloadService::releaseRunFolder() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    folder_.clear();
    if (folderLock_ >= 0) ::close(folderLock_);
    folderLock_ = -1;
}

WebKitDownloadService::~WebKitDownloadService() {
    lifetime_.end();
    for (auto& [id, transfer] : transfers_) {
        transfer->signals.disconnectAll();
        webkit_download_cancel(transfer->download.get());
        // The delegate still hears that the transfer ended.
        RunLoop::main().post([task = transfer->task] {
            task->serviceDidComplete(WebError{kURLErrorDomain, kURLErrorCancelled, "cancelled", task->originalRequest().url});
        });
    }
    transfers_.clear();
    releaseRunFolder();
}

void WebKitDownloadService::startDownload(const std::shared_ptr<DownloadTask>& task) {
    const UrlRequest& request = task->originalRequest();
    auto transfer = std::make_unique<Transfer>();
    transfer->service = this;
    transfer->task = task;
    transfer->timeoutInterval = request.timeoutInterval;
    auto run = runFolder();
    std::string failure = run ? std::string() : run.error();
    if (run) {
        transfer->folder = *run / std::to_string(task->taskIdentifier());
        if (::mkdir(transfer->folder.c_str(), 0700) != 0) failure = std::strerror(errno);
    }
    if (!failure.empty()) {
        logf("[Download] not started: %s", failure.c_str());
        RunLoop::main().post([task, url = request.url, message = failure] {
            task->serviceDidComplete(
                WebError{kURLErrorDomain, kURLErrorCannotCreateFile, "cannot create the download folder: " + message, url});
        });
        return;
    }
    WebKitWebContext* context = webKitContextFor(nullptr);
    transfer->download = GRef<WebKitDownload>::adopt(webkit_web_context_download_uri(context, request.url.c_str()));
    webkit_download_set_allow_overwrite(transfer->download.get(), TRUE);
    Transfer* t = transfer.get();

    gpointer download = t->download.get();
    t->signals.connect(
        download, "decide-destination",
        [t](WebKitDownload* download, gchar* suggested) -> gboolean {
            t->destination = t->folder / safeFileName(suggested);
            gchar* uri = g_filename_to_uri(t->destination.c_str(), nullptr, nullptr);
            webkit_download_set_destination(download, uri ? uri : t->destination.c_str());
            g_free(uri);
            return TRUE;
        },
        TRUE);
    t->signals.connect(download, "notify::response", [t](GObject*, GParamSpec*) {
        t->touch();
        t->deliverResponse();
    });
    t->signals.connect(download, "received-data", [t](WebKitDownload* download, guint64 length) {
        t->touch();
        t->deliverResponse();
        std::int64_t expected = -1;
        if (WebKitURIResponse* response = webkit_download_get_response(download)) {
            const guint64 total = webkit_uri_response_get_content_length(response);
            if (total > 0) expected = static_cast<std::int64_t>(total);
        }
        t->task->serviceDidWriteData(static_cast<std::int64_t>(length), expected);
    });
    t->signals.connect(download, "failed", [t](WebKitDownload*, GError* error) {
        const std::string& url = t->task->originalRequest().url;
        t->error = t->timedOut ? timedOutError(url) : webErrorFromGError(error, url);
    });
    t->signals.connect(download, "finished", [t](WebKitDownload*) {
        if (t->done) return;
        t->done = true;
        // Completed on a later turn: a cancel() never hears back inside itself.
        RunLoop::main().post([service = t->service, alive = t->service->lifetime_.watch(),
                              id = t->task->taskIdentifier()] {
            if (!alive.expired()) service->finish(id);
        });
    });
    t->touch();
    t->armTimeout(t->timeoutInterval);
    transfers_[task->taskIdentifier()] = std::move(transfer);
}

void WebKitDownloadService::finish(std::uint64_t identifier) {
    auto it = transfers_.find(identifier);
    if (it == transfers_.end()) return;
    std::unique_ptr<Transfer> transfer = std::move(it->second);
    transfers_.erase(it);
    transfer->signals.disconnectAll();
    auto task = transfer->task;
    guarded("a download completion", [&] {
        if (!transfer->error) {
            transfer->deliverResponse();
            task->serviceDidFinishDownloadingTo(transfer->destination);
        }
        task->serviceDidComplete(transfer->error);
    });
    std::error_code ignored;
    std::filesystem::remove_all(transfer->folder, ignored);
}

void WebKitDownloadService::cancelDownload(DownloadTask& task) {
    auto it = transfers_.find(task.taskIdentifier());
    if (it == transfers_.end() || it->second->done) return;
    webkit_download_cancel(it->second->download.get());
}

}  // namespace kit::desktop
