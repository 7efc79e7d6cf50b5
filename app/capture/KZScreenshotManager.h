#pragma once
// The screenshot tool: checks the screen-recording permission, lets the user select a region
// over every screen (the capture windows and the overlay belong to kit::ScreenCapture) and hands
// the cut-out image back. Main thread only.

#include <functional>
#include <memory>

#include "kit/ui/Image.h"

enum KZScreenshotResultCode : int {
    KZScreenshotResultCodeFinished = 0,
    KZScreenshotResultCodeSelecting = 1,
    KZScreenshotResultCodeNoPermission = 2,
};

class KZScreenshotManager : public std::enable_shared_from_this<KZScreenshotManager> {
public:
    // The image is null when there is none (cancelled, refused, or another capture running).
    using CompleteHandler = std::function<void(std::shared_ptr<kit::Image> image, int code)>;

    static KZScreenshotManager& shared();
    // Forgets the instance (tests); a selection still running ends unanswered.
    static void resetShared();

    bool isSelecting() const { return selecting_; }
    // With another capture selecting: nil and 1 at once. Without the permission: nil and 2 at
    // once, then the permission is requested and the side window slides in with the permission
    // tip as a sheet. Otherwise the handler is called later, once, with code 0 and the image, or
    // nil when the user cancels.
    void startScreenshotWithCompleteHandler(const CompleteHandler& handler);

private:
    bool selecting_ = false;
};
