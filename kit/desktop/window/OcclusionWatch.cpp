#include "kit/desktop/window/OcclusionWatch.h"

#include <cairo.h>

#include <algorithm>
#include <map>
#include <vector>

#include "kit/desktop/X11.h"
#include "kit/desktop/window/GtkWindowPeer.h"

namespace kit::desktop {

namespace {

// How long after a change of the stacking the check waits, so that a burst of changes (a window
// sliding in moves every frame) costs one check, and the frames go first.
constexpr guint kSettleMilliseconds = 50;

struct Box {
    ::Window xid;
    bool mapped;
    bool drawn;  // InputOutput: an InputOnly window covers nothing
    cairo_rectangle_int_t rect;
    bool classKnown = true;  // a window created since the read: its class is asked at the next check
};

// The children of the root, bottom to top, kept from the root's structure events after one
// query at the start: a check asks the server only about windows created since (their class)
// and about the application's windows it has not placed yet.
struct Watch {
    bool watching = false;
    bool scheduled = false;
    bool known = false;  // the stack was read from the server
    std::vector<Box> stack;
    // The child of the root holding each of the application's windows (itself or a window
    // manager's frame), forgotten when any window is reparented.
    std::map<::Window, ::Window> topLevels;
};

Watch& watch() {
    static Watch w;
    return w;
}

cairo_rectangle_int_t outerRect(int x, int y, int width, int height, int border) {
    return {x, y, width + 2 * border, height + 2 * border};
}

std::vector<Box>::iterator find(::Window xid) {
    auto& stack = watch().stack;
    return std::find_if(stack.begin(), stack.end(), [&](const Box& box) { return box.xid == xid; });
}

// Moves the box of `xid` just above `below` (0: to the bottom); unknown windows stay put.
void restack(::Window xid, ::Window below) {
    auto& stack = watch().stack;
    auto at = find(xid);
    if (at == stack.end()) return;
    const Box box = *at;
    stack.erase(at);
    auto under = below ? find(below) : stack.end();
    stack.insert(below && under != stack.end() ? under + 1 : stack.begin(), box);
}

void readStack(Display* display, ::Window root) {
    auto& w = watch();
    w.stack.clear();
    ::Window rootReturn = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return;
    w.stack.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes)) continue;
        w.stack.push_back({children[i], attributes.map_state != IsUnmapped, attributes.c_class == InputOutput,
                           outerRect(attributes.x, attributes.y, attributes.width, attributes.height,
                                     attributes.border_width)});
    }
    if (children) XFree(children);
    w.known = true;
}

// The child of the root that holds `xid`.
::Window topLevelOf(Display* display, ::Window root, ::Window xid) {
    auto& cache = watch().topLevels;
    if (auto it = cache.find(xid); it != cache.end()) return it->second;
    ::Window current = xid;
    for (int depth = 0; depth < 16; ++depth) {
        ::Window rootReturn = 0;
        ::Window parent = 0;
        ::Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count)) return 0;
        if (children) XFree(children);
        if (parent == root) return cache[xid] = current;
        if (parent == 0) return 0;
        current = parent;
    }
    return 0;
}

void update() {
    auto& peers = GtkWindowPeer::all();
    if (peers.empty()) return;
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    if (!gdkDisplay || !GDK_IS_X11_DISPLAY(gdkDisplay)) return;
    Display* display = GDK_DISPLAY_XDISPLAY(gdkDisplay);
    const ::Window root = GDK_WINDOW_XID(gdk_get_default_root_window());
    auto& w = watch();

    // Windows may go away while they are asked about.
    gdk_x11_display_error_trap_push(gdkDisplay);
    if (!w.known) readStack(display, root);
    for (auto& box : w.stack) {
        if (box.classKnown) continue;
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, box.xid, &attributes)) box.drawn = attributes.c_class == InputOutput;
        box.classKnown = true;
    }
    std::vector<std::pair<GtkWindowPeer*, bool>> results;
    for (GtkWindowPeer* peer : peers) {
        GdkWindow* gdkWindow = gtk_widget_get_window(peer->gtkWindow());
        if (!gdkWindow || !gtk_widget_get_mapped(peer->gtkWindow())) continue;
        const ::Window top = topLevelOf(display, root, GDK_WINDOW_XID(gdkWindow));
        auto at = find(top);
        bool covered = false;
        if (at != w.stack.end() && at->mapped && at->drawn) {
            cairo_region_t* seen = cairo_region_create_rectangle(&at->rect);
            for (auto above = at + 1; above != w.stack.end() && !cairo_region_is_empty(seen); ++above) {
                if (above->mapped && above->drawn) cairo_region_subtract_rectangle(seen, &above->rect);
            }
            covered = cairo_region_is_empty(seen);
            cairo_region_destroy(seen);
        }
        results.emplace_back(peer, covered);
    }
    gdk_x11_display_error_trap_pop_ignored(gdkDisplay);

    // Reporting runs model code that may close windows: only peers still alive hear of it.
    for (auto& [peer, covered] : results) {
        auto& live = GtkWindowPeer::all();
        if (std::find(live.begin(), live.end(), peer) != live.end()) peer->setFullyObscured(covered);
    }
}

// Keeps the stack as the server reports it. Events that arrive before the first read are
// already in what the read returns; the read happens at the next check.
void follow(const XEvent& event) {
    auto& w = watch();
    const ::Window root = GDK_WINDOW_XID(gdk_get_default_root_window());
    switch (event.type) {
        case CreateNotify: {
            const auto& e = event.xcreatewindow;
            if (e.parent != root || !w.known || find(e.window) != w.stack.end()) break;
            // New windows go on top; their class is not in the event.
            w.stack.push_back({e.window, false, true, outerRect(e.x, e.y, e.width, e.height, e.border_width), false});
            break;
        }
        case DestroyNotify:
            if (auto at = find(event.xdestroywindow.window); at != w.stack.end()) w.stack.erase(at);
            w.topLevels.erase(event.xdestroywindow.window);
            break;
        case MapNotify:
            if (auto at = find(event.xmap.window); at != w.stack.end()) at->mapped = true;
            break;
        case UnmapNotify:
            if (auto at = find(event.xunmap.window); at != w.stack.end()) at->mapped = false;
            break;
        case ConfigureNotify: {
            const auto& e = event.xconfigure;
            auto at = find(e.window);
            if (at == w.stack.end()) break;
            at->rect = outerRect(e.x, e.y, e.width, e.height, e.border_width);
            restack(e.window, e.above);
            break;
        }
        case CirculateNotify: {
            const auto& e = event.xcirculate;
            auto at = find(e.window);
            if (at == w.stack.end()) break;
            const Box box = *at;
            w.stack.erase(at);
            if (e.place == PlaceOnTop) {
                w.stack.push_back(box);
            } else {
                w.stack.insert(w.stack.begin(), box);
            }
            break;
        }
        case ReparentNotify: {
            const auto& e = event.xreparent;
            w.topLevels.clear();
            auto at = find(e.window);
            if (e.parent == root) {
                if (w.known && at == w.stack.end()) {
                    w.stack.push_back({e.window, false, true, outerRect(e.x, e.y, 0, 0, 0)});
                    // Its size is not in the event: read everything again at the next check.
                    w.known = false;
                }
            } else if (at != w.stack.end()) {
                w.stack.erase(at);
            }
            break;
        }
        default:
            return;
    }
    scheduleOcclusionUpdate();
}

GdkFilterReturn rootFilter(GdkXEvent* xevent, GdkEvent*, gpointer) {
    try {
        follow(*static_cast<XEvent*>(xevent));
    } catch (...) {
    }
    return GDK_FILTER_CONTINUE;
}

}  // namespace

void watchOcclusion() {
    auto& w = watch();
    if (w.watching) return;
    GdkWindow* root = gdk_get_default_root_window();
    if (!root || !GDK_IS_X11_WINDOW(root)) return;
    w.watching = true;
    gdk_window_set_events(root, GdkEventMask(gdk_window_get_events(root) | GDK_SUBSTRUCTURE_MASK));
    gdk_window_add_filter(root, &rootFilter, nullptr);
}

void scheduleOcclusionUpdate() {
    auto& w = watch();
    if (w.scheduled) return;
    w.scheduled = true;
    g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, kSettleMilliseconds, [](gpointer) -> gboolean {
        watch().scheduled = false;
        try {
            update();
        } catch (...) {
        }
        return G_SOURCE_REMOVE;
    }, nullptr, nullptr);
}

}  // namespace kit::desktop
