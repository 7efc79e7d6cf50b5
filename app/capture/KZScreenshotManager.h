#pragma once
// The screenshot tool's entry points. Until the capture tool exists it never selects and every
// capture ends at once as cancelled.

#include <functional>
#include <memory>

namespace kit {
class Image;
}

enum KZScreenshotResultCode : int {
    KZScreenshotResultCodeFinished = 0,
    KZScreenshotResultCodeSelecting = 1,
    KZScreenshotResultCodeNoPermission = 2,
};

class KZScreenshotManager {
public:
    using CompleteHandler = std::function<void(std::shared_ptr<kit::Image> image, int code)>;

    static KZScreenshotManager& shared();

    bool isSelecting() const { return false; }
    void startScreenshotWithCompleteHandler(const CompleteHandler& handler);
};
