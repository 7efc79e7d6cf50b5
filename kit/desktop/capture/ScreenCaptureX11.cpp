#include "kit/desktop/capture/ScreenCaptureX11.h"

#include <utility>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/capture/CaptureOverlay.h"
#include "kit/ui/Pasteboard.h"

namespace kit::desktop {

ScreenCaptureX11::ScreenCaptureX11(GdkDisplay* display) : display_(display) {}

ScreenCaptureX11::~ScreenCaptureX11() {
    alive_.end();
    if (overlay_) overlay_->cancel();
}

void ScreenCaptureX11::selectRegion(Completion completion) {
    if (overlay_) {
        RunLoop::main().post([completion = std::move(completion)] {
            if (completion) completion(std::nullopt);
        });
        return;
    }
    LifetimeWatch alive = alive_.watch();
    auto overlay = CaptureOverlay::begin(display_, [this, alive, completion](const Image& image) {
        // On a later turn of the loop than the overlay's own handlers: it can go now.
        if (!alive.expired()) overlay_.reset();
        std::optional<std::vector<std::uint8_t>> png;
        if (image) {
            if (auto encoded = image.encode(ImageFormat::Png)) {
                png = std::move(*encoded);
                auto& pasteboard = Pasteboard::general();
                pasteboard.clearContents();
                pasteboard.setData(*png, kPasteboardTypePNG);
            } else {
                logf("The captured image could not be encoded: %s", encoded.error().c_str());
            }
        }
        if (completion) completion(std::move(png));
    });
    if (!overlay) {
        logf("The screen cannot be captured: %s", overlay.error().c_str());
        RunLoop::main().post([completion = std::move(completion)] {
            if (completion) completion(std::nullopt);
        });
        return;
    }
    overlay_ = std::move(*overlay);
    overlay_->setHint(selectionHint());
}

void ScreenCaptureX11::cancelSelection() {
    if (overlay_) overlay_->cancel();
}

}  // namespace kit::desktop
