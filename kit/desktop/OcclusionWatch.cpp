#include "kit/desktop/OcclusionWatch.h"

#include <cairo.h>

#include <algorithm>
#include <vector>

#include "kit/desktop/GtkWindowPeer.h"
#include "kit/desktop/X11.h"

namespace kit::desktop {

namespace {

bool gWatching = false;
bool gScheduled = false;

struct Box {
    ::Window xid;
    bool viewable;
    cairo_rectangle_int_t rect;
};

// The child of the root that holds `xid` (the window itself, or a window manager's frame).
::Window topLevelOf(Display* display, ::Window root, ::Window xid) {
    ::Window current = xid;
    for (int depth = 0; depth < 16; ++depth) {
        ::Window rootReturn = 0;
        ::Window parent = 0;
        ::Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count)) return 0;
        if (children) XFree(children);
        if (parent == root) return current;
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

    // Windows may go away while they are asked about.
    gdk_x11_display_error_trap_push(gdkDisplay);
    std::vector<Box> stack;  // bottom to top
    ::Window rootReturn = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        stack.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes)) continue;
            const int border = attributes.border_width;
            stack.push_back({children[i], attributes.map_state == IsViewable && attributes.c_class == InputOutput,
                             {attributes.x, attributes.y, attributes.width + 2 * border, attributes.height + 2 * border}});
        }
        if (children) XFree(children);
    }
    std::vector<std::pair<GtkWindowPeer*, bool>> results;
    for (GtkWindowPeer* peer : peers) {
        GdkWindow* gdkWindow = gtk_widget_get_window(peer->gtkWindow());
        if (!gdkWindow || !gtk_widget_get_mapped(peer->gtkWindow())) continue;
        const ::Window top = topLevelOf(display, root, GDK_WINDOW_XID(gdkWindow));
        auto at = std::find_if(stack.begin(), stack.end(), [&](const Box& box) { return box.xid == top; });
        bool covered = false;
        if (at != stack.end() && at->viewable) {
            cairo_region_t* seen = cairo_region_create_rectangle(&at->rect);
            for (auto above = at + 1; above != stack.end() && !cairo_region_is_empty(seen); ++above) {
                if (above->viewable) cairo_region_subtract_rectangle(seen, &above->rect);
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

GdkFilterReturn rootFilter(GdkXEvent* xevent, GdkEvent*, gpointer) {
    const auto* event = static_cast<XEvent*>(xevent);
    switch (event->type) {
        case MapNotify:
        case UnmapNotify:
        case ConfigureNotify:
        case CirculateNotify:
        case DestroyNotify:
        case ReparentNotify:
            scheduleOcclusionUpdate();
            break;
        default:
            break;
    }
    return GDK_FILTER_CONTINUE;
}

}  // namespace

void watchOcclusion() {
    if (gWatching) return;
    GdkWindow* root = gdk_get_default_root_window();
    if (!root || !GDK_IS_X11_WINDOW(root)) return;
    gWatching = true;
    gdk_window_set_events(root, GdkEventMask(gdk_window_get_events(root) | GDK_SUBSTRUCTURE_MASK));
    gdk_window_add_filter(root, &rootFilter, nullptr);
}

void scheduleOcclusionUpdate() {
    if (gScheduled) return;
    gScheduled = true;
    g_idle_add_full(G_PRIORITY_DEFAULT, [](gpointer) -> gboolean {
        gScheduled = false;
        try {
            update();
        } catch (...) {
        }
        return G_SOURCE_REMOVE;
    }, nullptr, nullptr);
}

}  // namespace kit::desktop
