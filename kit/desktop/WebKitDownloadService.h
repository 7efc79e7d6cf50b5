#pragma once
// Downloads through WebKit (WebKitDownload), in the shared website data store's context so that
// they carry the pages' cookies. Each transfer writes to a private temporary folder; the task's
// delegate gets the file there when it finishes and moves it away. A transfer that receives
// nothing for the request's timeout interval is stopped and completes with a time-out error.
// Everything is reported on the main loop.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>

#include "kit/base/Lifetime.h"
#include "kit/web/Download.h"

namespace kit::desktop {

class WebKitDownloadService final : public DownloadService {
public:
    WebKitDownloadService();
    ~WebKitDownloadService() override;

    void startDownload(const std::shared_ptr<DownloadTask>& task) override;
    void cancelDownload(DownloadTask& task) override;

    // Transfers under way.
    std::size_t activeCount() const { return transfers_.size(); }

private:
    struct Transfer;
    void finish(std::uint64_t identifier);

    std::filesystem::path folder_;
    std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers_;
    // Expires with the service: tasks it posted check it.
    Lifetime lifetime_;
};

}  // namespace kit::desktop
