#pragma once
// Downloads through WebKit (WebKitDownload), in the shared website data store's context so that
// they carry the pages' cookies. Each transfer writes to a folder of its own inside this run's
// staging folder, "<staging root>/<pid>.XXXXXX", which only the user can reach: the root is
// refused (and nothing is downloaded) when it or a folder above it up to the home's caches is a
// link or another user's. The task's delegate gets the file there when it finishes and moves it
// away. Staging folders that earlier runs left (a crash, a kill) are removed when the service
// starts, and so are this user's own folders that earlier versions staged in the shared
// temporary folder. A transfer that receives
// nothing for the request's timeout interval is stopped and completes with a time-out error.
// Everything is reported on the main loop.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>

#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/web/Download.h"

namespace kit::desktop {

class WebKitDownloadService final : public DownloadService {
public:
    // The default root is "Library/Caches/<bundle identifier>/downloads/.staging" in the home.
    WebKitDownloadService();
    explicit WebKitDownloadService(std::filesystem::path stagingRoot);
    ~WebKitDownloadService() override;

    void startDownload(const std::shared_ptr<DownloadTask>& task) override;
    void cancelDownload(DownloadTask& task) override;

    // Transfers under way.
    std::size_t activeCount() const { return transfers_.size(); }

private:
    struct Transfer;
    void finish(std::uint64_t identifier);
    // This run's staging folder, made on first use; empty with an error when it cannot be.
    Result<std::filesystem::path> runFolder();
    void removeSharedLeftovers();

    std::filesystem::path stagingRoot_;
    std::filesystem::path folder_;
    std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers_;
    // Expires with the service: tasks it posted check it.
    Lifetime lifetime_;
};

}  // namespace kit::desktop
