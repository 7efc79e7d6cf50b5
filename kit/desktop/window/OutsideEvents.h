#pragma once
// Mouse buttons and scrolling in other applications, for kit's global monitors: XInput2 raw
// events on the root window, which the server sends whichever client the pointer is over.
// Presses over this application's own windows are left to those windows (a web page's own
// presses reach the local monitors through GtkWindowPeer::pageTookEvent). A button pressed in
// another application resigns this one before the monitors run, as the focus goes with it.

#include <gtk/gtk.h>

#include <memory>

#include "kit/base/Result.h"

namespace kit::desktop {

class OutsideEvents {
public:
    // Starts listening; an error when the server lacks XInput 2.
    static Result<std::unique_ptr<OutsideEvents>> start(GdkDisplay* display);
    ~OutsideEvents();
    OutsideEvents(const OutsideEvents&) = delete;
    OutsideEvents& operator=(const OutsideEvents&) = delete;

private:
    OutsideEvents(GdkDisplay* display, int opcode);
    static GdkFilterReturn filter(GdkXEvent* xevent, GdkEvent* event, gpointer data);
    void handleRaw(int type, int button);

    GdkDisplay* display_;
    int opcode_;
};

}  // namespace kit::desktop
