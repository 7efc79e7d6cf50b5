#include "kit/desktop/web/WebViewHost.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "kit/desktop/Desktop.h"
#include "kit/desktop/web/WebKitGlue.h"
#include "kit/desktop/window/GtkWindowPeer.h"
#include "kit/ui/GraphicsContext.h"
#include "kit/ui/ViewRenderer.h"
#include "kit/ui/Window.h"
#include "kit/web/WebView.h"

namespace kit::desktop {

namespace {

struct Layer;

struct Entry {
    Layer* layer = nullptr;
    std::weak_ptr<View> view;
    GtkWidget* widget = nullptr;
    GtkWidget* parking = nullptr;
    // Both belong to the overlay.
    GtkWidget* clip = nullptr;
    GtkWidget* painter = nullptr;
    GdkRectangle clipRect{0, 0, 0, 0};
    GdkRectangle frameRect{0, 0, 0, 0};
    bool shown = false;
    bool paintsAbove = false;
    bool fillsWindow = false;
    // Where the painter takes the mouse: over the views drawn above the page, in its own pixels.
    std::vector<GdkRectangle> inputRects;
    // On the painter: gone with it when detach() destroys it.
    SignalConnections signals;
    // On the page's widget, which outlives the entry: disconnected with the entry.
    SignalConnections pageSignals;
};

// What one GTK top-level holds for its web views.
struct Layer {
    GtkWidget* toplevel = nullptr;
    GtkWidget* overlay = nullptr;
    GtkWidget* canvas = nullptr;
    std::vector<std::unique_ptr<Entry>> entries;
    SignalConnections signals;
    SignalConnections clockSignals;
};

std::vector<std::unique_ptr<Layer>>& layers() {
    static std::vector<std::unique_ptr<Layer>> all;
    return all;
}

Entry* findEntry(GtkWidget* widget) {
    for (auto& layer : layers()) {
        for (auto& entry : layer->entries) {
            if (entry->widget == widget) return entry.get();
        }
    }
    return nullptr;
}

void reparent(GtkWidget* widget, GtkWidget* into) {
    GtkWidget* parent = gtk_widget_get_parent(widget);
    if (parent == into) return;
    g_object_ref(widget);
    if (parent) gtk_container_remove(GTK_CONTAINER(parent), widget);
    if (into) gtk_container_add(GTK_CONTAINER(into), widget);
    g_object_unref(widget);
}

// Window base coordinates (y up) to the top-level's (y down), whole pixels.
GdkRectangle toGtk(const Rect& rect, double windowHeight) {
    const int x0 = static_cast<int>(std::lround(rect.minX()));
    const int x1 = static_cast<int>(std::lround(rect.maxX()));
    const int y0 = static_cast<int>(std::lround(windowHeight - rect.maxY()));
    const int y1 = static_cast<int>(std::lround(windowHeight - rect.minY()));
    return GdkRectangle{x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

bool sameRect(const GdkRectangle& a, const GdkRectangle& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

double effectiveAlpha(const View& view) {
    double alpha = 1;
    for (const View* v = &view; v; v = v->superview()) alpha *= v->alphaValue();
    return alpha;
}

// The views drawn after the web view (later siblings of it and of its ancestors) that cover part
// of `area` (window base coordinates), in drawing order.
std::vector<View*> viewsAbove(const View& view, const Rect& area) {
    std::vector<View*> above;
    for (const View* child = &view; child->superview(); child = child->superview()) {
        const View* parent = child->superview();
        const auto& siblings = parent->subviews();
        auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& s) { return s.get() == child; });
        if (it == siblings.end()) continue;
        std::vector<View*> level;
        for (++it; it != siblings.end(); ++it) {
            View* sibling = it->get();
            if (sibling->isHidden() || sibling->alphaValue() <= 0) continue;
            const Rect inWindow = sibling->convertRectToView(sibling->bounds(), nullptr);
            if (!inWindow.intersection(area).isEmpty()) level.push_back(sibling);
        }
        // Nearer ancestors' siblings are drawn before farther ones'.
        above.insert(above.end(), level.begin(), level.end());
    }
    return above;
}

void paintAbove(Entry& entry, cairo_t* cr) {
    auto view = entry.view.lock();
    if (!view) return;
    auto window = view->window();
    if (!window) return;
    const double height = window->frame().height();
    const Rect visible = view->convertRectToView(view->visibleRect(), nullptr);
    for (View* above : viewsAbove(*view, visible)) {
        View* parent = above->superview();
        if (!parent) continue;
        // The superview's coordinates to this layer's pixels: an affine map found from three points.
        const Point o = parent->convertPointToView({0, 0}, nullptr);
        const Point ex = parent->convertPointToView({1, 0}, nullptr);
        const Point ey = parent->convertPointToView({0, 1}, nullptr);
        cairo_matrix_t matrix;
        cairo_matrix_init(&matrix, ex.x - o.x, -(ex.y - o.y), ey.x - o.x, -(ey.y - o.y), o.x - entry.clipRect.x,
                          height - o.y - entry.clipRect.y);
        cairo_save(cr);
        cairo_transform(cr, &matrix);
        GraphicsContext context(cr, parent->isFlipped());
        drawViewTree(*above, context);
        cairo_restore(cr);
    }
}

// The painter takes clicks only where window views lie over the page; everywhere else they go
// through to the page below.
void updatePainterInput(Entry& entry, const std::vector<View*>& viewsOver, double windowHeight, const Rect& visible) {
    std::vector<GdkRectangle> rects;
    if (entry.paintsAbove) {
        for (View* above : viewsOver) {
            GdkRectangle r = toGtk(above->convertRectToView(above->bounds(), nullptr).intersection(visible), windowHeight);
            r.x -= entry.clipRect.x;
            r.y -= entry.clipRect.y;
            if (r.width > 0 && r.height > 0) rects.push_back(r);
        }
    }
    GdkWindow* window = gtk_widget_get_window(entry.painter);
    const bool same = rects.size() == entry.inputRects.size() &&
                      std::equal(rects.begin(), rects.end(), entry.inputRects.begin(), sameRect);
    if (!window || !gtk_widget_get_has_window(entry.painter) || same) return;
    cairo_region_t* region = cairo_region_create();
    for (const auto& r : rects) {
        cairo_rectangle_int_t rect{r.x, r.y, r.width, r.height};
        cairo_region_union_rectangle(region, &rect);
    }
    gdk_window_input_shape_combine_region(window, region, 0, 0);
    cairo_region_destroy(region);
    entry.inputRects = std::move(rects);
}

// Mouse events the painter takes belong to the window's views: they go on to the canvas, moved
// into its coordinates.
gboolean forwardToCanvas(GtkWidget*, GdkEvent* event, gpointer data) {
    auto* entry = static_cast<Entry*>(data);
    GtkWidget* canvas = entry->layer->canvas;
    if (!canvas || !gtk_widget_get_window(canvas)) return FALSE;
    double* x = nullptr;
    double* y = nullptr;
    GdkEvent* copy = gdk_event_copy(event);
    switch (copy->type) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
        x = &copy->button.x;
        y = &copy->button.y;
        break;
    case GDK_MOTION_NOTIFY:
        x = &copy->motion.x;
        y = &copy->motion.y;
        break;
    case GDK_SCROLL:
        x = &copy->scroll.x;
        y = &copy->scroll.y;
        break;
    default:
        gdk_event_free(copy);
        return FALSE;
    }
    int ox = 0, oy = 0;
    gtk_widget_translate_coordinates(entry->painter, canvas, 0, 0, &ox, &oy);
    *x += ox;
    *y += oy;
    g_object_unref(copy->any.window);
    copy->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(canvas)));
    gtk_widget_event(canvas, copy);
    gdk_event_free(copy);
    return TRUE;
}

void sync(Entry& entry) {
    auto view = entry.view.lock();
    std::shared_ptr<Window> window = view ? view->window() : nullptr;
    bool show = view && window && gtkWindowFor(*window) == entry.layer->toplevel && !view->isHiddenOrHasHiddenAncestor();
    double alpha = 1;
    if (show) {
        const double height = window->frame().height();
        const Rect frame = view->convertRectToView(view->bounds(), nullptr);
        const Rect visible = view->convertRectToView(view->visibleRect(), nullptr);
        GdkRectangle frameRect = toGtk(frame, height);
        GdkRectangle clipRect = toGtk(visible, height);
        if (entry.fillsWindow) {
            GtkAllocation all;
            gtk_widget_get_allocation(entry.layer->overlay, &all);
            frameRect = clipRect = GdkRectangle{0, 0, all.width, all.height};
        }
        alpha = effectiveAlpha(*view);
        show = clipRect.width > 0 && clipRect.height > 0 && alpha > 0;
        if (show) {
            if (!sameRect(frameRect, entry.frameRect) || !sameRect(clipRect, entry.clipRect)) {
                gtk_widget_set_size_request(entry.widget, std::max(1, frameRect.width), std::max(1, frameRect.height));
                gtk_layout_move(GTK_LAYOUT(entry.clip), entry.widget, frameRect.x - clipRect.x, frameRect.y - clipRect.y);
                entry.frameRect = frameRect;
                entry.clipRect = clipRect;
                gtk_widget_queue_resize(entry.clip);
                gtk_widget_queue_resize(entry.painter);
            }
            const std::vector<View*> viewsOver = entry.fillsWindow ? std::vector<View*>{} : viewsAbove(*view, visible);
            entry.paintsAbove = !viewsOver.empty();
            updatePainterInput(entry, viewsOver, height, visible);
        }
    }
    if (show) gtk_widget_set_opacity(entry.clip, alpha);
    gtk_widget_set_visible(entry.clip, show);
    // The painter needs no redraw of its own: a redraw of the window's canvas covers the layers
    // over it.
    gtk_widget_set_visible(entry.painter, show && entry.paintsAbove);
    entry.shown = show;
}

void detach(Entry& entry) {
    Layer& layer = *entry.layer;
    reparent(entry.widget, entry.parking);
    gtk_widget_destroy(entry.clip);
    gtk_widget_destroy(entry.painter);
    std::erase_if(layer.entries, [&](const auto& e) { return e.get() == &entry; });
}

void dropLayer(Layer& layer) {
    layer.clockSignals.disconnectAll();
    layer.signals.disconnectAll();
    while (!layer.entries.empty()) detach(*layer.entries.back());
    std::erase_if(layers(), [&](const auto& l) { return l.get() == &layer; });
}

void watchFrameClock(Layer& layer) {
    layer.clockSignals.disconnectAll();
    GdkFrameClock* clock = gtk_widget_get_frame_clock(layer.overlay);
    if (!clock) return;
    // Every frame of the window places its web views where the model has them now, before the
    // window lays out and paints.
    layer.clockSignals.connect(clock, "before-paint", [&layer](GdkFrameClock*) {
        for (auto& entry : layer.entries) sync(*entry);
    });
}

gboolean onKeyEvent(GtkWidget* toplevel, GdkEvent* event, gpointer data) {
    if (event->type != GDK_KEY_PRESS && event->type != GDK_KEY_RELEASE) return FALSE;
    auto* layer = static_cast<Layer*>(data);
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(toplevel));
    if (!focus) return FALSE;
    const bool inPage = std::any_of(layer->entries.begin(), layer->entries.end(), [&](const auto& entry) {
        return focus == entry->widget || gtk_widget_is_ancestor(focus, entry->widget);
    });
    if (!inPage) return FALSE;
    // The page first; a key it leaves alone comes back here from WebKit and, unhandled by the
    // widget then, goes on to the window's own key handling.
    return gtk_window_propagate_key_event(GTK_WINDOW(toplevel), reinterpret_cast<GdkEventKey*>(event));
}

Layer& layerFor(GtkWidget* toplevel) {
    for (auto& layer : layers()) {
        if (layer->toplevel == toplevel) return *layer;
    }
    auto layer = std::make_unique<Layer>();
    layer->toplevel = toplevel;
    layer->canvas = gtk_bin_get_child(GTK_BIN(toplevel));
    layer->overlay = gtk_overlay_new();
    gtk_widget_set_app_paintable(layer->overlay, TRUE);
    if (layer->canvas) {
        reparent(layer->canvas, layer->overlay);
    }
    gtk_container_add(GTK_CONTAINER(toplevel), layer->overlay);
    gtk_widget_show(layer->overlay);

    Layer* raw = layer.get();
    raw->signals.connect(raw->overlay, "get-child-position",
                         [raw](GtkOverlay*, GtkWidget* child, GdkRectangle* allocation) -> gboolean {
                             for (auto& entry : raw->entries) {
                                 if (child == entry->clip || child == entry->painter) {
                                     *allocation = entry->clipRect;
                                     return TRUE;
                                 }
                             }
                             return FALSE;
                         });
    raw->signals.connect(raw->overlay, "realize", [raw](GtkWidget*) { watchFrameClock(*raw); }, G_CONNECT_AFTER);
    raw->signals.connect(raw->overlay, "unrealize", [raw](GtkWidget*) { raw->clockSignals.disconnectAll(); });
    // The window is going: its web views go back to their parking places before GTK destroys
    // the window's children.
    raw->signals.connect(toplevel, "destroy", [raw](GtkWidget*) { dropLayer(*raw); });
    raw->signals.connect(toplevel, "event",
                         [raw](GtkWidget* widget, GdkEvent* event) -> gboolean { return onKeyEvent(widget, event, raw); });
    if (raw->canvas) {
        // A click on the window's own views takes the keyboard back from the page.
        raw->signals.connect(raw->canvas, "event", [](GtkWidget* canvas, GdkEvent* event) -> gboolean {
            if (event->type == GDK_BUTTON_PRESS && !gtk_widget_has_focus(canvas) && gtk_widget_get_can_focus(canvas)) {
                gtk_widget_grab_focus(canvas);
            }
            return FALSE;
        });
    }
    if (gtk_widget_get_realized(raw->overlay)) watchFrameClock(*raw);
    layers().push_back(std::move(layer));
    return *raw;
}

void onPainterRealized(GtkWidget*, gpointer data) {
    auto* entry = static_cast<Entry*>(data);
    // A new window takes every click until its shape is set again.
    entry->inputRects = {GdkRectangle{-1, -1, -1, -1}};
    guarded("placing web views", [&] { sync(*entry); });
}

// GTK looks for the target of a drag from another program among the widgets under the pointer,
// input shapes aside, so the painter would take the drops meant for the page: it hands the drag
// on to the page's widget, in the widget's coordinates.
// Re-emits a drag signal that carries a position on the page's widget, in its coordinates.
gboolean emitPositionedOnPage(const char* signal, Entry* e, GdkDragContext* context, gint x, gint y, guint time) {
    gboolean handled = FALSE;
    g_signal_emit_by_name(e->widget, signal, context, x + e->clipRect.x - e->frameRect.x,
                          y + e->clipRect.y - e->frameRect.y, time, &handled);
    return handled;
}

void forwardDragsToPage(Entry& entry) {
    gtk_drag_dest_set(entry.painter, GtkDestDefaults(0), nullptr, 0,
                      GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK | GDK_ACTION_PRIVATE));
    Entry* raw = &entry;
    entry.signals.connect(entry.painter, "drag-motion",
                          [raw](GtkWidget*, GdkDragContext* context, gint x, gint y, guint time) -> gboolean {
                              return emitPositionedOnPage("drag-motion", raw, context, x, y, time);
                          });
    entry.signals.connect(entry.painter, "drag-leave", [raw](GtkWidget*, GdkDragContext* context, guint time) {
        g_signal_emit_by_name(raw->widget, "drag-leave", context, time);
    });
    entry.signals.connect(entry.painter, "drag-drop",
                          [raw](GtkWidget*, GdkDragContext* context, gint x, gint y, guint time) -> gboolean {
                              return emitPositionedOnPage("drag-drop", raw, context, x, y, time);
                          });
}

Entry& attach(Layer& layer, WebView& view, GtkWidget* widget, GtkWidget* parking) {
    auto entry = std::make_unique<Entry>();
    entry->layer = &layer;
    entry->view = view.weak_from_this();
    entry->widget = widget;
    entry->parking = parking;
    entry->clip = gtk_layout_new(nullptr, nullptr);
    entry->painter = gtk_drawing_area_new();
    reparent(widget, nullptr);
    gtk_layout_put(GTK_LAYOUT(entry->clip), widget, 0, 0);
    gtk_overlay_add_overlay(GTK_OVERLAY(layer.overlay), entry->clip);
    gtk_overlay_add_overlay(GTK_OVERLAY(layer.overlay), entry->painter);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(layer.overlay), entry->painter, TRUE);
    gtk_widget_add_events(entry->painter, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                              GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
    Entry* raw = entry.get();
    raw->signals.connect(raw->painter, "event",
                         [raw](GtkWidget* painter, GdkEvent* event) -> gboolean { return forwardToCanvas(painter, event, raw); });
    raw->signals.connect(raw->painter, "realize", [raw](GtkWidget* painter) { onPainterRealized(painter, raw); });
    forwardDragsToPage(*raw);
    // The page takes its clicks and scrolls itself; the application's monitors see them first.
    for (const char* signal : {"button-press-event", "button-release-event", "scroll-event"}) {
        raw->pageSignals.connect(raw->widget, signal, [raw](GtkWidget*, GdkEvent* event) -> gboolean {
            for (GtkWindowPeer* peer : GtkWindowPeer::all()) {
                if (peer->gtkWindow() == raw->layer->toplevel) peer->pageTookEvent(event);
            }
            return FALSE;
        });
    }
    raw->signals.connect(
        raw->painter, "draw",
        [raw](GtkWidget*, cairo_t* cr) -> gboolean {
            paintAbove(*raw, cr);
            return TRUE;
        },
        TRUE);
    layer.entries.push_back(std::move(entry));
    return *raw;
}

// A length of a view in whole pixels of its widget, which is never empty.
int widgetPixels(double length) { return std::max(1, static_cast<int>(std::lround(length))); }

// GTK sizes a widget only once its window is shown, and WebKit lays a page out at the size its
// widget was given: a page in a window not shown yet, or parked, would be laid out at no size at
// all, its content overflowing and its overlay scroll bars fading in and out at 60 frames a
// second. Until its window is shown it gets the size of its view.
void layOutUnshown(GtkWidget* widget, Size size) {
    if (gtk_widget_get_mapped(widget)) return;
    GtkAllocation allocation{0, 0, widgetPixels(size.width), widgetPixels(size.height)};
    gtk_widget_get_preferred_size(widget, nullptr, nullptr);
    gtk_widget_size_allocate(widget, &allocation);
}

}  // namespace

void WebViewHost::place(WebView& view, GtkWidget* widget, GtkWidget* parking) {
    auto window = view.window();
    GtkWidget* toplevel = window ? gtkWindowFor(*window) : nullptr;
    Entry* entry = findEntry(widget);
    if (entry && entry->layer->toplevel != toplevel) {
        detach(*entry);
        entry = nullptr;
    }
    if (!toplevel) {
        reparent(widget, parking);
        const Size size = view.frame().size;
        gtk_widget_set_size_request(widget, widgetPixels(size.width), widgetPixels(size.height));
    } else {
        if (!entry) entry = &attach(layerFor(toplevel), view, widget, parking);
        sync(*entry);
    }
    layOutUnshown(widget, view.frame().size);
}

void WebViewHost::remove(GtkWidget* widget) {
    if (Entry* entry = findEntry(widget)) {
        entry->parking = nullptr;
        detach(*entry);
    }
}

void WebViewHost::setFillsWindow(GtkWidget* widget, bool fills) {
    Entry* entry = findEntry(widget);
    if (!entry || entry->fillsWindow == fills) return;
    entry->fillsWindow = fills;
    sync(*entry);
}

std::optional<WebViewHost::Placement> WebViewHost::placementOf(GtkWidget* widget) {
    Entry* entry = findEntry(widget);
    if (!entry || !entry->shown) return std::nullopt;
    return Placement{entry->clipRect, entry->frameRect, entry->paintsAbove};
}

}  // namespace kit::desktop
