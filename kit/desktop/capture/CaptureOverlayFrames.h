#pragma once
// The frozen frames of a capture: what each monitor showed when the capture began, at the
// monitor's pixel scale, and the cut-out of a rectangle of the display from them.

#include <gdk/gdk.h>

#include <utility>
#include <vector>

#include "kit/base/Result.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/ui/Image.h"

namespace kit::desktop {

struct CaptureFrame {
    // Where the monitor lies on the display (logical pixels, y down).
    DisplayRect monitor;
    // Its pixels (the image's scale is the monitor's scale factor).
    Image pixels;
    // The GDK monitor's number; -1 when the frame comes from elsewhere.
    int monitorIndex = -1;
};

class CaptureOverlayFrames {
public:
    CaptureOverlayFrames() = default;
    explicit CaptureOverlayFrames(std::vector<CaptureFrame> frames) : frames_(std::move(frames)) {}

    // Reads the root window's pixels of every monitor of the display.
    static Result<CaptureOverlayFrames> grab(GdkDisplay* display);

    const std::vector<CaptureFrame>& frames() const { return frames_; }
    // The smallest rectangle that holds every monitor.
    DisplayRect bounds() const;
    // The pixels of `rect` at the largest scale among the monitors it touches; parts that lie on
    // no monitor are transparent. Null for an empty rectangle or one on no monitor.
    Image cutOut(const DisplayRect& rect) const;

private:
    std::vector<CaptureFrame> frames_;
};

}  // namespace kit::desktop
