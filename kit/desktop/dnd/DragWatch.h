#pragma once
// Drags anywhere on the display, whichever application they start in, through the XDND
// protocol: a drag source takes the "XdndSelection" selection when a drag begins. The watch hears
// of every change of its owner (XFixes); when the owner takes it while a mouse button is down, a
// drag has begun, and the watch asks the source for the "text/uri-list" of what is dragged,
// converted to a window of its own. Once the source has answered (or failed to), the drag is a
// new drag-pasteboard change: the change count goes up and the local paths of the "file:"
// addresses are what the pasteboard carries (none for a drag of something else). From then on the
// watch follows the pointer and reports a Dragged event wherever it moves, and a MouseUp when the
// buttons are released or the source lets the selection go.
//
// Events come on the main run loop, locations in the platform's coordinates.

#include <gtk/gtk.h>

#include <memory>

#include "kit/base/Result.h"
#include "kit/sys/GlobalDragMonitor.h"

namespace kit::desktop {

class DragWatch final : public GlobalDragMonitor {
public:
    // An error when the server lacks the XFixes extension.
    static Result<std::shared_ptr<DragWatch>> make(GdkDisplay* display);
    ~DragWatch() override;
    DragWatch(const DragWatch&) = delete;
    DragWatch& operator=(const DragWatch&) = delete;

    void start(Handler handler) override;
    void stop() override;
    bool isRunning() const override;

    // Desktop only: whether a drag is being reported now.
    bool isDragging() const;

    struct State;

private:
    explicit DragWatch(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
};

}  // namespace kit::desktop
