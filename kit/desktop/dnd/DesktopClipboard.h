#pragma once
// The general pasteboard on the desktop's clipboard (the CLIPBOARD selection). Changes made by
// the application are offered to other applications (text and PNG images, rendered when asked
// for); what another application copies replaces the pasteboard's contents.

#include <gtk/gtk.h>

#include <memory>

#include "kit/base/GSignal.h"
#include "kit/ui/BackendBadge.h"

namespace kit {
class Pasteboard;
}

namespace kit::desktop {

class DesktopClipboard {
public:
    // The badge: what another application copies replaces the pasteboard's contents.
    DesktopClipboard(BackendBadge badge, GdkDisplay* display);
    ~DesktopClipboard();
    DesktopClipboard(const DesktopClipboard&) = delete;
    DesktopClipboard& operator=(const DesktopClipboard&) = delete;

    // The application changed the pasteboard; offered on the next turn of the loop (one
    // offer for a burst of changes).
    void pasteboardDidChange(const Pasteboard& pasteboard);
    // Offers the pasteboard's contents now.
    void offer();

    struct State;

private:
    GtkClipboard* clipboard_;
    SignalConnection ownerChangeSignal_;
    std::shared_ptr<State> state_;
};

}  // namespace kit::desktop
