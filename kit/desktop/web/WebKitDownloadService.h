#pragma once
// Downloads through WebKit (WebKitDownload), in the shared website data store's context so that
// they carry the pages' cookies. The application names its download folder; transfers are staged
// in "<download folder>/.staging/<pid>.XXXXXX", this run's folder, locked (flock) while the service
// lives, each transfer in a folder of its own there. The chain is checked with the one rule for
// folder chains (kit/base/FolderChain.h) before each transfer; when it is refused nothing is
// downloaded and the task completes with an error saying why. The task's delegate gets the file
// when it finishes and moves it away. Run folders whose lock nobody holds (a crash, a kill) are
// removed by removeLeftovers(), and so are this user's "QuarnAI-Downloads-<number>" folders
// that earlier versions staged in the shared temporary folder. A transfer that receives nothing
// for the request's timeout interval is stopped and completes with a time-out error. Everything
// is reported on the main loop.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>

#include "kit/base/FolderChain.h"
#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/web/Download.h"

namespace kit::desktop {

class WebKitDownloadService final : public DownloadService {
public:
    explicit WebKitDownloadService(const FolderChain& downloadFolder);
    ~WebKitDownloadService() override;

    void startDownload(const std::shared_ptr<DownloadTask>& task) override;
    void cancelDownload(DownloadTask& task) override;

    // Removes what ended runs left (see above), once: asked for when the application's launch is
    // over, and before the first transfer at the latest.
    void removeLeftovers();

    // Transfers under way.
    std::size_t activeCount() const { return transfers_.size(); }

private:
    struct Transfer;
    void finish(std::uint64_t identifier);
    // This run's staging folder, made on first use; empty with an error when it cannot be.
    Result<std::filesystem::path> runFolder();
    void removeSharedLeftovers();
    // This run's folder removed and its lock let go.
    void releaseRunFolder();

    FolderChain staging_;
    std::filesystem::path folder_;
    int folderLock_ = -1;
    bool leftoversRemoved_ = false;
    std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers_;
    // Expires with the service: tasks it posted check it.
    Lifetime lifetime_;
};

}  // namespace kit::desktop
