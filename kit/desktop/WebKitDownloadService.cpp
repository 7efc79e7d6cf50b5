#include "kit/desktop/WebKitDownloadService.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <optional>
#include <string>
#include <system_error>

#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/WebKitConversions.h"
#include "kit/desktop/WebKitErrors.h"
#include "kit/desktop/WebKitGlue.h"
#include "kit/desktop/WebKitWebsiteData.h"

namespace kit::desktop {

namespace {

// A name the server suggested, made safe as one file name in our folder.
std::string safeFileName(const char* suggested) {
    std::string name = suggested ? suggested : "";
    for (char& c : name) {
        if (c == '/' || c == '\0') c = '_';
    }
    if (name.empty() || name == "." || name == "..") name = "download";
    return name;
}

std::filesystem::path defaultStagingRoot() {
    const std::string& bundle = process::bundleIdentifier();
    return paths::home() / "Library" / "Caches" / (bundle.empty() ? std::string("kit") : bundle) / "downloads" /
           ".staging";
}

// "<pid>.XXXXXX" of a process that no longer runs.
bool isLeftover(const std::string& name) {
    char* end = nullptr;
    const long pid = std::strtol(name.c_str(), &end, 10);
    if (end == name.c_str() || *end != '.' || pid <= 0) return false;
    if (pid == ::getpid()) return false;
    return kit::process::processHasEnded(pid);
}

// The root and the folders above it up to the home's caches, each the user's own and no link.
Status ensureStagingRoot(const std::filesystem::path& root) {
    const std::filesystem::path caches = paths::home() / "Library" / "Caches";
    std::vector<std::filesystem::path> chain;
    for (auto folder = root; !folder.empty() && folder != caches && folder != folder.parent_path();
         folder = folder.parent_path()) {
        chain.push_back(folder);
        if (folder.parent_path() == caches) break;
    }
    if (chain.empty() || chain.back().parent_path() != caches) {
        // A root elsewhere: only itself is checked; its parents must exist.
        chain = {root};
    } else if (auto made = createPrivateFolders(caches); !made) {
        return made;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (auto status = ensureOwnFolder(*it); !status) return status;
    }
    return Status::success();
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

WebKitDownloadService::WebKitDownloadService() : WebKitDownloadService(defaultStagingRoot()) {}

WebKitDownloadService::WebKitDownloadService(std::filesystem::path stagingRoot) : stagingRoot_(std::move(stagingRoot)) {
    removeSharedLeftovers();
    // Left by runs that ended without cleaning up. Only inside a root that is the user's alone:
    // removal never follows a link out of it.
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(stagingRoot_, error)) ||
        !ensureStagingRoot(stagingRoot_)) {
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(stagingRoot_, error)) {
        if (!isLeftover(entry.path().filename().string())) continue;
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

void WebKitDownloadService::removeSharedLeftovers() {
    // Earlier versions staged in "<temp>/QuarnAI-Downloads-<pid>". Only real folders of this
    // user's go; anything else there (another user's folder, a link) stays untouched.
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) return;
    for (const auto& entry : std::filesystem::directory_iterator(temporary, error)) {
        if (entry.path().filename().string().rfind("QuarnAI-Downloads-", 0) != 0) continue;
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

Result<std::filesystem::path> WebKitDownloadService::runFolder() {
    if (!folder_.empty()) {
        // Still ours: a folder made with mkdtemp that only this user can reach.
        if (auto status = ensureOwnFolder(folder_)) return folder_;
        folder_.clear();
    }
    if (auto status = ensureStagingRoot(stagingRoot_); !status) return Error{status.error()};
    std::string pattern = (stagingRoot_ / (std::to_string(::getpid()) + ".XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        return Error{"cannot create a staging folder: " + std::string(std::strerror(errno))};
    folder_ = pattern;
    return folder_;
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
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
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
