#include "kit/web/Download.h"

#include <atomic>
#include <mutex>
#include <system_error>

#include "kit/base/RunLoop.h"

namespace kit {

namespace {

std::mutex gServiceMutex;
std::shared_ptr<DownloadService> gService;
std::atomic<std::uint64_t> gNextIdentifier{1};

}  // namespace

void DownloadDelegate::downloadDidReceiveResponse(DownloadTask&, const UrlResponse&) {}
void DownloadDelegate::downloadDidWriteData(DownloadTask&, std::int64_t, std::int64_t, std::int64_t) {}
void DownloadDelegate::downloadDidFinishDownloadingTo(DownloadTask&, const std::filesystem::path&) {}
void DownloadDelegate::downloadDidComplete(DownloadTask&, const std::optional<WebError>&) {}

void DownloadService::install(std::shared_ptr<DownloadService> service) {
    std::lock_guard lock(gServiceMutex);
    gService = std::move(service);
}

void DownloadService::uninstall() { install(nullptr); }

std::shared_ptr<DownloadService> DownloadService::current() {
    std::lock_guard lock(gServiceMutex);
    return gService;
}

DownloadTask::DownloadTask(std::uint64_t identifier, UrlRequest request, std::weak_ptr<DownloadDelegate> delegate)
    : identifier_(identifier), request_(std::move(request)), delegate_(std::move(delegate)) {}

std::shared_ptr<DownloadTask> DownloadTask::start(UrlRequest request, std::weak_ptr<DownloadDelegate> delegate) {
    auto task = std::make_shared<DownloadTask>(gNextIdentifier++, std::move(request), std::move(delegate));
    if (auto service = DownloadService::current()) {
        service->startDownload(task);
    } else {
        RunLoop::main().post([task] {
            task->serviceDidComplete(WebError{kURLErrorDomain, -1, "no download service is installed", task->request_.url});
        });
    }
    return task;
}

void DownloadTask::cancel() {
    if (state_ != State::Running) return;
    state_ = State::Canceling;
    if (auto service = DownloadService::current()) {
        service->cancelDownload(*this);
    } else {
        auto self = shared_from_this();
        RunLoop::main().post([self] {
            self->serviceDidComplete(WebError{kURLErrorDomain, kURLErrorCancelled, "cancelled", self->request_.url});
        });
    }
}

void DownloadTask::serviceDidReceiveResponse(UrlResponse response) {
    if (state_ == State::Completed) return;
    response_ = std::move(response);
    if (auto delegate = delegate_.lock()) delegate->downloadDidReceiveResponse(*this, *response_);
}

void DownloadTask::serviceDidWriteData(std::int64_t bytesWritten, std::int64_t totalBytesExpectedToWrite) {
    if (state_ == State::Completed) return;
    bytesReceived_ += bytesWritten;
    if (auto delegate = delegate_.lock()) {
        delegate->downloadDidWriteData(*this, bytesWritten, bytesReceived_, totalBytesExpectedToWrite);
    }
}

void DownloadTask::serviceDidFinishDownloadingTo(const std::filesystem::path& location) {
    if (state_ == State::Completed) return;
    auto keep = shared_from_this();
    if (auto delegate = delegate_.lock()) delegate->downloadDidFinishDownloadingTo(*this, location);
    std::error_code ignored;
    std::filesystem::remove(location, ignored);
}

void DownloadTask::serviceDidComplete(const std::optional<WebError>& error) {
    if (state_ == State::Completed) return;
    state_ = State::Completed;
    auto keep = shared_from_this();
    if (auto delegate = delegate_.lock()) delegate->downloadDidComplete(*this, error);
}

}  // namespace kit
