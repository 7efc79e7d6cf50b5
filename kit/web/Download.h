#pragma once
// Downloading an address to a file, as a task with a delegate. The backend's download service
// does the transfer; events reach the delegate (held weakly) on the main run loop, in the order
// response, data written..., finished (the file is at the given place only during that call:
// move it away to keep it), completed (last, with or without an error).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "kit/web/UrlRequest.h"
#include "kit/web/WebError.h"

namespace kit {

class DownloadTask;

class DownloadDelegate {
public:
    virtual ~DownloadDelegate() = default;
    virtual void downloadDidReceiveResponse(DownloadTask& task, const UrlResponse& response);
    virtual void downloadDidWriteData(DownloadTask& task, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                      std::int64_t totalBytesExpectedToWrite);
    virtual void downloadDidFinishDownloadingTo(DownloadTask& task, const std::filesystem::path& location);
    virtual void downloadDidComplete(DownloadTask& task, const std::optional<WebError>& error);
};

class DownloadTask : public std::enable_shared_from_this<DownloadTask> {
public:
    enum class State { Running, Canceling, Completed };

    // Starts a download at once. The task lives until it completes, whoever else holds it.
    static std::shared_ptr<DownloadTask> start(UrlRequest request, std::weak_ptr<DownloadDelegate> delegate);

    std::uint64_t taskIdentifier() const { return identifier_; }
    const UrlRequest& originalRequest() const { return request_; }
    // Set once the server answered.
    const std::optional<UrlResponse>& response() const { return response_; }
    State state() const { return state_; }
    std::int64_t countOfBytesReceived() const { return bytesReceived_; }
    // Stops the transfer; the task completes with a cancellation error.
    void cancel();

    // ---- For download services. ----------------------------------------------------------
    void serviceDidReceiveResponse(UrlResponse response);
    void serviceDidWriteData(std::int64_t bytesWritten, std::int64_t totalBytesExpectedToWrite);
    // Removes the file afterwards when the delegate left it there.
    void serviceDidFinishDownloadingTo(const std::filesystem::path& location);
    void serviceDidComplete(const std::optional<WebError>& error);

    DownloadTask(std::uint64_t identifier, UrlRequest request, std::weak_ptr<DownloadDelegate> delegate);

private:
    std::uint64_t identifier_;
    UrlRequest request_;
    std::weak_ptr<DownloadDelegate> delegate_;
    std::optional<UrlResponse> response_;
    State state_ = State::Running;
    std::int64_t bytesReceived_ = 0;
};

class DownloadService {
public:
    virtual ~DownloadService() = default;
    // Begins the transfer; reports through the task's service... operations on the main loop.
    virtual void startDownload(const std::shared_ptr<DownloadTask>& task) = 0;
    // Stops it; the service then completes the task with the cancellation error.
    virtual void cancelDownload(DownloadTask& task) = 0;

    // Without an installed service every download fails.
    static void install(std::shared_ptr<DownloadService> service);
    static void uninstall();
    static std::shared_ptr<DownloadService> current();
};

}  // namespace kit
