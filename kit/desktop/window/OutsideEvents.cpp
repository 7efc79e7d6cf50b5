#include "kit/desktop/window/OutsideEvents.h"

#include <exception>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/window/GtkWindowPeer.h"
#include "kit/ui/Application.h"
#include "kit/ui/Event.h"

namespace kit::desktop {

namespace {
// Points scrolled per wheel step, as in the application's own windows.
constexpr double kPointsPerWheelStep = 16;

void selectRawButtons(Display* display, bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
    }
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof(bits);
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XFlush(display);
}
}  // namespace

Result<std::unique_ptr<OutsideEvents>> OutsideEvents::start(GdkDisplay* display) {
    if (!GDK_IS_X11_DISPLAY(display)) return Error{"not an X11 display"};
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    int opcode = 0;
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(xdisplay, "XInputExtension", &opcode, &firstEvent, &firstError)) {
        return Error{"the X server has no XInput extension"};
    }
    // GDK has announced its own XInput version on this connection; asking again for another
    // one is an error, and what matters is only that the server speaks version 2.
    int major = 2;
    int minor = 2;
    gdk_x11_display_error_trap_push(display);
    const int answer = XIQueryVersion(xdisplay, &major, &minor);
    const int error = gdk_x11_display_error_trap_pop(display);
    if (error == 0 && (answer != Success || major < 2)) return Error{"the X server has no XInput 2"};
    return std::unique_ptr<OutsideEvents>(new OutsideEvents(display, opcode));
}

OutsideEvents::OutsideEvents(GdkDisplay* display, int opcode) : display_(display), opcode_(opcode) {
    selectRawButtons(GDK_DISPLAY_XDISPLAY(display_), true);
    gdk_window_add_filter(nullptr, &OutsideEvents::filter, this);
}

OutsideEvents::~OutsideEvents() {
    gdk_window_remove_filter(nullptr, &OutsideEvents::filter, this);
    selectRawButtons(GDK_DISPLAY_XDISPLAY(display_), false);
}

GdkFilterReturn OutsideEvents::filter(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* event = static_cast<XEvent*>(xevent);
    auto* self = static_cast<OutsideEvents*>(data);
    if (event->type != GenericEvent || event->xcookie.extension != self->opcode_) return GDK_FILTER_CONTINUE;
    const int type = event->xcookie.evtype;
    if (type != XI_RawButtonPress && type != XI_RawButtonRelease) return GDK_FILTER_CONTINUE;
    Display* display = GDK_DISPLAY_XDISPLAY(self->display_);
    XGenericEventCookie* cookie = &event->xcookie;
    const bool fetched = cookie->data == nullptr && XGetEventData(display, cookie);
    if (cookie->data) {
        const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
        try {
            self->handleRaw(type, raw->detail);
        } catch (const std::exception& e) {
            logf("Uncaught exception in a global monitor: %s", e.what());
        } catch (...) {
            logLine("Uncaught exception in a global monitor");
        }
    }
    if (fetched) XFreeEventData(display, cookie);
    return GDK_FILTER_REMOVE;
}

void OutsideEvents::handleRaw(int type, int button) {
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display_));
    double x = 0;
    double y = 0;
    // Over one of our own windows the press is ours, not another application's.
    if (gdk_device_get_window_at_position_double(pointer, nullptr, nullptr)) return;
    GdkModifierType mask = GdkModifierType(0);
    gdk_window_get_device_position_double(gdk_get_default_root_window(), pointer, &x, &y, &mask);
    const bool down = type == XI_RawButtonPress;
    // The other application takes the focus with the press (the window manager moves it a few
    // round trips later); what the monitors check sees the application as it will be.
    if (down && (button < 4 || button > 7)) GtkWindowPeer::pressWentElsewhere();
    Event event;
    event.locationInWindow = CoordinateSpace::current().toKit(x, y);
    event.timestamp = RunLoop::main().now();
    event.modifierFlags = modifierFlagsFromGdkState(mask);
    event.clickCount = 1;
    if (button >= 4 && button <= 7) {
        if (!down) return;
        event.type = EventType::ScrollWheel;
        if (button == 4) event.scrollingDeltaY = kPointsPerWheelStep;
        if (button == 5) event.scrollingDeltaY = -kPointsPerWheelStep;
        if (button == 6) event.scrollingDeltaX = kPointsPerWheelStep;
        if (button == 7) event.scrollingDeltaX = -kPointsPerWheelStep;
    } else if (button == 1) {
        event.type = down ? EventType::LeftMouseDown : EventType::LeftMouseUp;
    } else if (button == 3) {
        event.type = down ? EventType::RightMouseDown : EventType::RightMouseUp;
        event.buttonNumber = 1;
    } else {
        event.type = down ? EventType::OtherMouseDown : EventType::OtherMouseUp;
        event.buttonNumber = button == 2 ? 2 : button - 5;
    }
    Application::shared().sendOutsideEvent(event);
}

}  // namespace kit::desktop
