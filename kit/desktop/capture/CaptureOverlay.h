#pragma once
// One interactive capture of the screen. begin() freezes what every monitor shows and covers
// each monitor with a full-screen, undecorated, keep-above window that shows its frozen frame
// dimmed. The user drags a rectangle (across monitors if need be), shown undimmed with its
// outline and its size in pixels; a press on its edges resizes it, inside it moves it, outside
// it draws a new one. Return or a double-click inside confirms; Escape or a right click
// cancels. The overlay holds the pointer and the keyboard while it is up; when another client
// keeps them from it for two seconds, the capture ends as cancelled.
//
// The completion runs once, on a later turn of the main run loop, after the windows are gone:
// with the cut-out image (at the frames' pixel scale) or a null image when cancelled. Destroying
// the overlay before it finished closes it without calling the completion.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/desktop/capture/CaptureOverlayFrames.h"
#include "kit/desktop/capture/CaptureOverlaySelection.h"
#include "kit/ui/Image.h"

namespace kit::desktop {

class CaptureOverlay {
public:
    using Completion = std::function<void(Image)>;

    static Result<std::unique_ptr<CaptureOverlay>> begin(GdkDisplay* display, Completion completion);
    ~CaptureOverlay();
    CaptureOverlay(const CaptureOverlay&) = delete;
    CaptureOverlay& operator=(const CaptureOverlay&) = delete;

    // What the keys and the mouse do, for callers that end a capture themselves. confirm() does
    // nothing while no rectangle is selected.
    void confirm();
    void cancel();
    // The line drawn in the middle of each screen until a selection starts.
    void setHint(std::string hint);

    bool isFinished() const { return finished_; }
    const CaptureOverlaySelection& selection() const { return selection_; }
    const CaptureOverlayFrames& frames() const { return frames_; }
    // The overlay windows, one per monitor in the frames' order (empty once finished).
    std::vector<GtkWidget*> windows() const;

private:
    struct Surface;

    CaptureOverlay(GdkDisplay* display, CaptureOverlayFrames frames, Completion completion);
    void open();
    void close();
    void finish(Image image);
    void grabInput(GtkWidget* window);
    void redraw();
    void updateCursor(GtkWidget* window, double rootX, double rootY);

    gboolean onDraw(const Surface& surface, cairo_t* cr);
    gboolean onButtonPress(GdkEventButton* event);
    gboolean onButtonRelease(GdkEventButton* event);
    gboolean onMotion(GtkWidget* window, GdkEventMotion* event);
    gboolean onKeyPress(GdkEventKey* event);

    GdkDisplay* display_;
    CaptureOverlayFrames frames_;
    CaptureOverlaySelection selection_;
    Completion completion_;
    std::string hint_;
    std::vector<std::unique_ptr<Surface>> surfaces_;
    GdkSeat* grabbedSeat_ = nullptr;
    int grabAttempts_ = 0;
    bool finished_ = false;
    Lifetime alive_;
};

}  // namespace kit::desktop
