#include "kit/desktop/dnd/DragWatch.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/dnd/XdndUriList.h"

#include <X11/extensions/Xfixes.h>

namespace kit::desktop {

namespace {

// The pointer is followed at the display's usual frame rate while a drag goes on.
constexpr double kPointerPollInterval = 1.0 / 60;
// A source that does not answer in this time is not asked again for this drag.
constexpr double kConversionTimeout = 2.0;
constexpr unsigned kAnyButtonMask = Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask;

}  // namespace

struct DragWatch::State : std::enable_shared_from_this<DragWatch::State> {
    GdkDisplay* gdkDisplay = nullptr;
    Display* display = nullptr;
    ::Window root = 0;
    ::Window requestor = 0;
    int fixesEventBase = 0;
    Atom xdndSelection = 0;
    Atom uriListTarget = 0;
    Atom property = 0;
    Atom incr = 0;
    bool watching = false;
    Handler handler;
    // Bumped by every start and stop, so an event posted for an earlier handler is dropped.
    unsigned generation = 0;
    long changeCount = 0;

    // The drag going on: from a new owner taken while a button is down to the release.
    bool active = false;
    Time ownerTime = 0;
    bool converting = false;
    bool incremental = false;
    std::string received;
    // Once the source has answered: the drag is reported with these paths.
    bool reported = false;
    std::vector<std::string> filePaths;
    std::optional<Point> lastLocation;
    std::shared_ptr<Timer> pollTimer;
    TaskId conversionTimeout = 0;

    static GdkFilterReturn filter(GdkXEvent* xevent, GdkEvent*, gpointer data);
    GdkFilterReturn handle(XEvent* event);

    void ownerChanged(const XFixesSelectionNotifyEvent& event);
    void selectionArrived(const XSelectionEvent& event);
    void propertyChanged(const XPropertyEvent& event);
    bool readProperty(std::string& into, Atom* type) const;
    void conversionDone();
    void stopConverting();

    struct Pointer {
        Point location;
        bool buttonDown = false;
    };
    Pointer pointer() const;
    void poll();
    void begin(Time time);
    void end();

    void watch(bool on);
    void send(GlobalDragEvent::Type type, Point location);
};

Result<std::shared_ptr<DragWatch>> DragWatch::make(GdkDisplay* gdkDisplay) {
    if (!gdkDisplay || !GDK_IS_X11_DISPLAY(gdkDisplay)) return Error{"not an X11 display"};
    Display* display = GDK_DISPLAY_XDISPLAY(gdkDisplay);
    int eventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) return Error{"the X server has no XFixes extension"};
    int major = 0;
    int minor = 0;
    if (!XFixesQueryVersion(display, &major, &minor) || major < 1) return Error{"the X server's XFixes is older than version 1"};

    auto state = std::make_shared<State>();
    state->gdkDisplay = gdkDisplay;
    state->display = display;
    state->root = DefaultRootWindow(display);
    state->fixesEventBase = eventBase;
    state->xdndSelection = XInternAtom(display, "XdndSelection", False);
    state->uriListTarget = XInternAtom(display, "text/uri-list", False);
    state->property = XInternAtom(display, "_QUARN_DRAG_WATCH", False);
    state->incr = XInternAtom(display, "INCR", False);
    // Never mapped: it only receives the converted selection.
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    state->requestor = XCreateWindow(display, state->root, -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                                     CWEventMask, &attributes);
    XFlush(display);
    return std::shared_ptr<DragWatch>(new DragWatch(std::move(state)));
}

DragWatch::DragWatch(std::shared_ptr<State> state) : state_(std::move(state)) {}

DragWatch::~DragWatch() {
    state_->watch(false);
    XDestroyWindow(state_->display, state_->requestor);
    XFlush(state_->display);
}

void DragWatch::start(Handler handler) {
    ++state_->generation;
    state_->handler = std::move(handler);
    state_->watch(true);
}

void DragWatch::stop() {
    ++state_->generation;
    state_->handler = nullptr;
    state_->watch(false);
}

bool DragWatch::isRunning() const { return state_->watching; }

bool DragWatch::isDragging() const { return state_->active && state_->reported; }

void DragWatch::State::watch(bool on) {
    if (on == watching) return;
    watching = on;
    if (on) {
        gdk_window_add_filter(nullptr, &State::filter, this);
        XFixesSelectSelectionInput(display, root, xdndSelection,
                                   XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    } else {
        gdk_window_remove_filter(nullptr, &State::filter, this);
        XFixesSelectSelectionInput(display, root, xdndSelection, 0);
        // Forgotten without a report: nobody listens any more.
        reported = false;
        end();
    }
    XFlush(display);
}

GdkFilterReturn DragWatch::State::filter(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* self = static_cast<State*>(data);
    try {
        return self->handle(static_cast<XEvent*>(xevent));
    } catch (const std::exception& e) {
        logf("Uncaught exception in the drag watch: %s", e.what());
    } catch (...) {
        logLine("Uncaught exception in the drag watch");
    }
    return GDK_FILTER_CONTINUE;
}

GdkFilterReturn DragWatch::State::handle(XEvent* event) {
    if (event->type == fixesEventBase + XFixesSelectionNotify) {
        const auto& notify = *reinterpret_cast<XFixesSelectionNotifyEvent*>(event);
        // GDK may watch the same selection for its own reasons: the event stays with it too.
        if (notify.selection == xdndSelection) ownerChanged(notify);
        return GDK_FILTER_CONTINUE;
    }
    if (event->type == SelectionNotify && event->xselection.requestor == requestor) {
        selectionArrived(event->xselection);
        return GDK_FILTER_REMOVE;
    }
    if (event->type == PropertyNotify && event->xproperty.window == requestor) {
        propertyChanged(event->xproperty);
        return GDK_FILTER_REMOVE;
    }
    return GDK_FILTER_CONTINUE;
}

void DragWatch::State::ownerChanged(const XFixesSelectionNotifyEvent& event) {
    if (event.subtype != XFixesSetSelectionOwnerNotify || event.owner == None) {
        // The source let the selection go or went away: whatever it dragged is over.
        end();
        return;
    }
    // A drag is taken with a button held; an owner set otherwise is no mouse drag.
    if (!pointer().buttonDown) {
        end();
        return;
    }
    begin(event.selection_timestamp);
}

void DragWatch::State::begin(Time time) {
    end();
    active = true;
    ownerTime = time;
    converting = true;
    incremental = false;
    received.clear();
    XDeleteProperty(display, requestor, property);
    XConvertSelection(display, xdndSelection, uriListTarget, property, requestor, time);
    XFlush(display);
    std::weak_ptr<State> weak = weak_from_this();
    conversionTimeout = RunLoop::main().postAfter(kConversionTimeout, [weak] {
        if (auto self = weak.lock()) {
            self->conversionTimeout = 0;
            if (self->converting) {
                logLine("A drag source did not give the addresses of its files in time");
                self->received.clear();
                self->conversionDone();
            }
        }
    });
    pollTimer = RunLoop::main().scheduleTimer(kPointerPollInterval, true, [weak](Timer&) {
        if (auto self = weak.lock()) self->poll();
    });
}

void DragWatch::State::stopConverting() {
    converting = false;
    incremental = false;
    received.clear();
    if (conversionTimeout) RunLoop::main().cancel(conversionTimeout);
    conversionTimeout = 0;
}

bool DragWatch::State::readProperty(std::string& into, Atom* typeOut) const {
    long offset = 0;
    for (;;) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        gdk_x11_display_error_trap_push(gdkDisplay);
        const int status = XGetWindowProperty(display, requestor, property, offset, 1 << 16, False, AnyPropertyType, &type, &format,
                                              &count, &remaining, &data);
        const int error = gdk_x11_display_error_trap_pop(gdkDisplay);
        if (status != Success || error) {
            if (data) XFree(data);
            return false;
        }
        if (typeOut) *typeOut = type;
        if (data && format == 8) into.append(reinterpret_cast<const char*>(data), count);
        if (data) XFree(data);
        if (remaining == 0 || format != 8) break;
        offset += static_cast<long>(count / 4);
    }
    XDeleteProperty(display, requestor, property);
    return true;
}

void DragWatch::State::selectionArrived(const XSelectionEvent& event) {
    if (!converting || event.selection != xdndSelection || event.time != ownerTime) return;
    received.clear();
    Atom type = None;
    // No property: the source has no list of addresses, so the drag carries no files.
    if (event.property == None || !readProperty(received, &type)) {
        received.clear();
        conversionDone();
        return;
    }
    if (type == incr) {
        // Deleting the property (done by the read) asks the source for the first piece.
        received.clear();
        incremental = true;
        XFlush(display);
        return;
    }
    conversionDone();
}

void DragWatch::State::propertyChanged(const XPropertyEvent& event) {
    if (!converting || !incremental || event.atom != property || event.state != PropertyNewValue) return;
    std::string chunk;
    Atom type = None;
    if (!readProperty(chunk, &type)) {
        received.clear();
        conversionDone();
        return;
    }
    XFlush(display);
    if (!chunk.empty()) {
        received += chunk;
        return;
    }
    // An empty piece ends the transfer.
    conversionDone();
}

void DragWatch::State::conversionDone() {
    std::vector<std::string> paths;
    for (const auto& address : parseUriList(received)) {
        if (auto path = localPathFromFileUri(address)) paths.push_back(std::move(*path));
    }
    stopConverting();
    const Pointer now = pointer();
    // The drag may have ended while the source answered.
    if (!active || !now.buttonDown) return;
    ++changeCount;
    filePaths = std::move(paths);
    reported = true;
    lastLocation = now.location;
    send(GlobalDragEvent::Type::Dragged, now.location);
}

DragWatch::State::Pointer DragWatch::State::pointer() const {
    GdkDevice* device = gdk_seat_get_pointer(gdk_display_get_default_seat(gdkDisplay));
    double x = 0;
    double y = 0;
    GdkModifierType mask = GdkModifierType(0);
    gdk_window_get_device_position_double(gdk_screen_get_root_window(gdk_display_get_default_screen(gdkDisplay)), device, &x, &y,
                                          &mask);
    return {CoordinateSpace::current().toKit(x, y), (mask & kAnyButtonMask) != 0};
}

void DragWatch::State::poll() {
    if (!active) return;
    const Pointer now = pointer();
    if (!now.buttonDown) {
        end();
        return;
    }
    if (!reported || (lastLocation && *lastLocation == now.location)) return;
    lastLocation = now.location;
    send(GlobalDragEvent::Type::Dragged, now.location);
}

void DragWatch::State::end() {
    if (!active) return;
    active = false;
    stopConverting();
    if (pollTimer) pollTimer->invalidate();
    pollTimer.reset();
    lastLocation.reset();
    if (reported) send(GlobalDragEvent::Type::MouseUp, pointer().location);
    reported = false;
}

void DragWatch::State::send(GlobalDragEvent::Type type, Point location) {
    GlobalDragEvent event;
    event.type = type;
    event.location = location;
    event.pasteboardChangeCount = changeCount;
    event.filePaths = filePaths;
    std::weak_ptr<State> weak = weak_from_this();
    RunLoop::main().post([weak, sentFor = generation, event = std::move(event)] {
        auto self = weak.lock();
        if (!self || self->generation != sentFor || !self->handler) return;
        // A copy: the handler may stop the watch or start it with another handler.
        auto handler = self->handler;
        try {
            handler(event);
        } catch (const std::exception& e) {
            logf("Uncaught exception in a drag handler: %s", e.what());
        }
    });
}

}  // namespace kit::desktop
