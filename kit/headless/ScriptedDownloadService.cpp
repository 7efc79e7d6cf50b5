#include "kit/headless/ScriptedDownloadService.h"

#include <fstream>
#include <system_error>
#include <unistd.h>

#include "kit/base/RunLoop.h"

namespace kit {

ScriptedDownloadService::ScriptedDownloadService() {
    static int instance = 0;
    folder_ = std::filesystem::temp_directory_path() /
              ("quarn-scripted-downloads-" + std::to_string(::getpid()) + "-" + std::to_string(++instance));
}

ScriptedDownloadService::~ScriptedDownloadService() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void ScriptedDownloadService::startDownload(const std::shared_ptr<DownloadTask>& task) { tasks_.push_back(task); }

void ScriptedDownloadService::cancelDownload(DownloadTask& task) {
    ++cancelCount_;
    auto self = task.shared_from_this();
    RunLoop::main().post([self] {
        self->serviceDidComplete(
            WebError{kURLErrorDomain, kURLErrorCancelled, "cancelled", self->originalRequest().url});
    });
}

void ScriptedDownloadService::finish(DownloadTask& task, std::string_view bytes, const std::string& suggestedFilename,
                                     int statusCode) {
    auto keep = task.shared_from_this();
    UrlResponse response;
    response.url = task.originalRequest().url;
    response.statusCode = statusCode;
    response.suggestedFilename = suggestedFilename;
    response.expectedContentLength = static_cast<std::int64_t>(bytes.size());
    task.serviceDidReceiveResponse(response);
    task.serviceDidWriteData(static_cast<std::int64_t>(bytes.size()), static_cast<std::int64_t>(bytes.size()));

    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    const auto location = folder_ / ("download-" + std::to_string(task.taskIdentifier()) + ".tmp");
    {
        std::ofstream file(location, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    task.serviceDidFinishDownloadingTo(location);
    task.serviceDidComplete(std::nullopt);
}

void ScriptedDownloadService::fail(DownloadTask& task, const WebError& error) {
    auto keep = task.shared_from_this();
    task.serviceDidComplete(error);
}

}  // namespace kit
