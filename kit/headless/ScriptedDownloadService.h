#pragma once
// The headless download service: it records the downloads started and lets the test finish or
// fail each one. finish() and fail() deliver the task's events at once (tests run on the main
// loop); a cancelled download completes with the cancellation error on a later turn.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kit/web/Download.h"

namespace kit {

class ScriptedDownloadService : public DownloadService {
public:
    ScriptedDownloadService();
    ~ScriptedDownloadService() override;

    // Every task started, in order.
    const std::vector<std::shared_ptr<DownloadTask>>& tasks() const { return tasks_; }
    std::shared_ptr<DownloadTask> lastTask() const { return tasks_.empty() ? nullptr : tasks_.back(); }
    int cancelCount() const { return cancelCount_; }

    // The server answers with `bytes` as a file named `suggestedFilename`: response, data
    // written, finished (the file in a temporary folder), completed without error.
    void finish(DownloadTask& task, std::string_view bytes, const std::string& suggestedFilename,
                int statusCode = 200);
    // The transfer fails: completed with the error.
    void fail(DownloadTask& task, const WebError& error);

    void startDownload(const std::shared_ptr<DownloadTask>& task) override;
    void cancelDownload(DownloadTask& task) override;

private:
    std::vector<std::shared_ptr<DownloadTask>> tasks_;
    std::filesystem::path folder_;
    int cancelCount_ = 0;
};

}  // namespace kit
