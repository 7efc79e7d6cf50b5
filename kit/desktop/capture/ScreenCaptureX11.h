#pragma once
// Screen capture on the X11 desktop: each selection is a CaptureOverlay over frozen frames of
// every monitor. The permission is always granted (X11 lets any client read the screen). A
// selected image is put on the general pasteboard as well as handed to the completion.

#include <gtk/gtk.h>

#include <memory>

#include "kit/base/Lifetime.h"
#include "kit/sys/ScreenCapture.h"

namespace kit::desktop {

class CaptureOverlay;

class ScreenCaptureX11 final : public ScreenCapture {
public:
    explicit ScreenCaptureX11(GdkDisplay* display);
    // A selection still open is cancelled (its completion still runs).
    ~ScreenCaptureX11() override;
    ScreenCaptureX11(const ScreenCaptureX11&) = delete;
    ScreenCaptureX11& operator=(const ScreenCaptureX11&) = delete;

    bool hasPermission() override { return true; }
    bool requestPermission() override { return true; }
    void selectRegion(Completion completion) override;
    void cancelSelection() override;
    // From the start of a selection until its completion has run.
    bool isSelecting() const override { return overlay_ != nullptr; }

    // Desktop only: the overlay of the selection going on (nullptr when none).
    CaptureOverlay* overlay() const { return overlay_.get(); }

private:
    GdkDisplay* display_;
    std::unique_ptr<CaptureOverlay> overlay_;
    Lifetime alive_;
};

}  // namespace kit::desktop
