#include "kit/desktop/capture/CaptureOverlay.h"

#include <gdk/gdkkeysyms.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/ImageData.h"

namespace kit::desktop {

namespace {

constexpr double kDimAlpha = 0.45;
constexpr double kHandleSize = 6;
constexpr int kGrabAttempts = 20;
constexpr double kGrabRetryDelay = 0.1;

int toPixel(double value) { return static_cast<int>(std::lround(value)); }

const char* cursorNameFor(CaptureOverlaySelection::Grip grip) {
    using Grip = CaptureOverlaySelection::Grip;
    switch (grip) {
    case Grip::New: return "crosshair";
    case Grip::Move: return "move";
    case Grip::Left: return "w-resize";
    case Grip::Right: return "e-resize";
    case Grip::Top: return "n-resize";
    case Grip::Bottom: return "s-resize";
    case Grip::TopLeft: return "nw-resize";
    case Grip::TopRight: return "ne-resize";
    case Grip::BottomLeft: return "sw-resize";
    case Grip::BottomRight: return "se-resize";
    }
    return "crosshair";
}

// A line of text in a dark rounded box whose top-left corner is at (x, y).
void drawLabel(cairo_t* cr, const std::string& text, double x, double y, double* widthOut = nullptr, double* heightOut = nullptr,
               bool measureOnly = false) {
    auto ownedLayout = GRef<PangoLayout>::adopt(pango_cairo_create_layout(cr));
    PangoLayout* layout = ownedLayout.get();
    PangoFontDescription* font = pango_font_description_from_string("Sans 11");
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, text.c_str(), -1);
    int textWidth = 0;
    int textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    const double padX = 8;
    const double padY = 4;
    const double width = textWidth + 2 * padX;
    const double height = textHeight + 2 * padY;
    if (widthOut) *widthOut = width;
    if (heightOut) *heightOut = height;
    if (!measureOnly) {
        const double radius = 4;
        cairo_new_sub_path(cr);
        cairo_arc(cr, x + width - radius, y + radius, radius, -M_PI / 2, 0);
        cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, M_PI / 2);
        cairo_arc(cr, x + radius, y + height - radius, radius, M_PI / 2, M_PI);
        cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr);
        cairo_set_source_rgba(cr, 0.1, 0.1, 0.1, 0.85);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_move_to(cr, x + padX, y + padY);
        pango_cairo_show_layout(cr, layout);
    }
}

}  // namespace

struct CaptureOverlay::Surface {
    CaptureOverlay* owner = nullptr;
    std::size_t index = 0;
    GtkWidget* window = nullptr;
    const char* cursor = nullptr;
    // On window.
    SignalConnections signals;
};

Result<std::unique_ptr<CaptureOverlay>> CaptureOverlay::begin(GdkDisplay* display, Completion completion) {
    if (!display) return Error{"no display"};
    auto frames = CaptureOverlayFrames::grab(display);
    if (!frames) return Error{frames.error()};
    std::unique_ptr<CaptureOverlay> overlay(new CaptureOverlay(display, std::move(*frames), std::move(completion)));
    overlay->open();
    return overlay;
}

CaptureOverlay::CaptureOverlay(GdkDisplay* display, CaptureOverlayFrames frames, Completion completion)
    : display_(display), frames_(std::move(frames)), selection_(frames_.bounds()), completion_(std::move(completion)) {}

CaptureOverlay::~CaptureOverlay() { close(); }

void CaptureOverlay::setHint(std::string hint) {
    hint_ = std::move(hint);
    redraw();
}

std::vector<GtkWidget*> CaptureOverlay::windows() const {
    std::vector<GtkWidget*> result;
    for (const auto& surface : surfaces_) {
        if (surface->window) result.push_back(surface->window);
    }
    return result;
}

void CaptureOverlay::open() {
    const auto& frames = frames_.frames();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const DisplayRect& monitor = frames[i].monitor;
        auto surface = std::make_unique<Surface>();
        surface->owner = this;
        surface->index = i;
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        surface->window = window;
        gtk_window_set_title(GTK_WINDOW(window), "Screen Capture");
        gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
        gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
        gtk_window_set_skip_pager_hint(GTK_WINDOW(window), TRUE);
        gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
        gtk_widget_set_app_paintable(window, TRUE);
        gtk_widget_set_size_request(window, monitor.width, monitor.height);
        gtk_window_move(GTK_WINDOW(window), monitor.x, monitor.y);
        if (frames[i].monitorIndex >= 0) {
            gtk_window_fullscreen_on_monitor(GTK_WINDOW(window), gdk_display_get_default_screen(display_), frames[i].monitorIndex);
        }
        gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                          GDK_KEY_PRESS_MASK | GDK_STRUCTURE_MASK);

        // An exception in an event handler counts the event as handled.
        Surface* s = surface.get();
        SignalConnections& signals = s->signals;
        signals.connect(window, "draw", [this, s](GtkWidget*, cairo_t* cr) -> gboolean { return onDraw(*s, cr); }, TRUE);
        signals.connect(
            window, "button-press-event", [this](GtkWidget*, GdkEventButton* e) -> gboolean { return onButtonPress(e); },
            TRUE);
        signals.connect(
            window, "button-release-event",
            [this](GtkWidget*, GdkEventButton* e) -> gboolean { return onButtonRelease(e); }, TRUE);
        signals.connect(
            window, "motion-notify-event",
            [this](GtkWidget* w, GdkEventMotion* e) -> gboolean { return onMotion(w, e); }, TRUE);
        signals.connect(
            window, "key-press-event", [this](GtkWidget*, GdkEventKey* e) -> gboolean { return onKeyPress(e); }, TRUE);
        signals.connect(window, "map-event", [this](GtkWidget* w, GdkEvent*) -> gboolean {
            grabInput(w);
            return FALSE;
        });
        // The window manager may close the window (or another client destroy it): a cancel.
        signals.connect(
            window, "delete-event",
            [this](GtkWidget*, GdkEvent*) -> gboolean {
                cancel();
                return TRUE;
            },
            TRUE);
        // Destroyed by someone else: the capture cannot go on.
        signals.connect(window, "destroy", [this, s](GtkWidget*) {
            s->window = nullptr;
            cancel();
        });
        surfaces_.push_back(std::move(surface));
    }
    for (const auto& surface : surfaces_) {
        gtk_widget_show(surface->window);
        gtk_window_present(GTK_WINDOW(surface->window));
    }
    gdk_display_flush(display_);
}

void CaptureOverlay::grabInput(GtkWidget* window) {
    if (grabbedSeat_ || finished_) return;
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (!gdkWindow) return;
    GdkSeat* seat = gdk_display_get_default_seat(display_);
    auto cursor = GRef<GdkCursor>::adopt(gdk_cursor_new_from_name(display_, "crosshair"));
    // Owner events: presses over another overlay go to that overlay as usual; presses anywhere
    // else (and every key) come to this one.
    const GdkGrabStatus status =
        gdk_seat_grab(seat, gdkWindow, GDK_SEAT_CAPABILITY_ALL, TRUE, cursor.get(), nullptr, nullptr, nullptr);
    gtk_window_present(GTK_WINDOW(window));
    if (status == GDK_GRAB_SUCCESS) {
        grabbedSeat_ = seat;
        return;
    }
    // Another client holds the pointer or the keyboard for a moment (a menu, a drag). Without
    // them Escape could not end the capture, so after a while it ends by itself.
    if (++grabAttempts_ >= kGrabAttempts) {
        logf("The capture overlay could not hold the pointer and keyboard (grab status %d)", static_cast<int>(status));
        cancel();
        return;
    }
    LifetimeWatch alive = alive_.watch();
    RunLoop::main().postAfter(kGrabRetryDelay, [this, alive, window] {
        if (alive.expired() || finished_) return;
        for (GtkWidget* shown : windows()) {
            if (shown == window) grabInput(window);
        }
    });
}

void CaptureOverlay::close() {
    if (grabbedSeat_) {
        gdk_seat_ungrab(grabbedSeat_);
        grabbedSeat_ = nullptr;
    }
    // Taken out first: destroying a window must not find the list half gone.
    auto surfaces = std::move(surfaces_);
    surfaces_.clear();
    for (auto& surface : surfaces) {
        if (!surface->window) continue;
        surface->signals.disconnectAll();
        gtk_widget_destroy(surface->window);
    }
    if (display_) gdk_display_flush(display_);
}

void CaptureOverlay::finish(Image image) {
    if (finished_) return;
    finished_ = true;
    close();
    auto completion = std::move(completion_);
    completion_ = nullptr;
    if (!completion) return;
    RunLoop::main().post([completion = std::move(completion), image = std::move(image)] { completion(image); });
}

void CaptureOverlay::confirm() {
    if (finished_) return;
    const auto rect = selection_.rect();
    if (!rect) return;
    Image image = frames_.cutOut(*rect);
    if (!image) return;
    finish(std::move(image));
}

void CaptureOverlay::cancel() { finish({}); }

void CaptureOverlay::redraw() {
    for (const auto& surface : surfaces_) {
        if (surface->window) gtk_widget_queue_draw(surface->window);
    }
}

void CaptureOverlay::updateCursor(GtkWidget* window, double rootX, double rootY) {
    const char* name = cursorNameFor(selection_.gripAt(toPixel(rootX), toPixel(rootY)));
    for (const auto& surface : surfaces_) {
        if (surface->window != window || surface->cursor == name) continue;
        surface->cursor = name;
        GdkWindow* gdkWindow = gtk_widget_get_window(window);
        if (!gdkWindow) continue;
        auto cursor = GRef<GdkCursor>::adopt(gdk_cursor_new_from_name(display_, name));
        gdk_window_set_cursor(gdkWindow, cursor.get());
    }
}

gboolean CaptureOverlay::onDraw(const Surface& surface, cairo_t* cr) {
    const CaptureFrame& frame = frames_.frames()[surface.index];
    const DisplayRect& monitor = frame.monitor;
    cairo_save(cr);
    const double scale = frame.pixels.scale();
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_surface(cr, frame.pixels.data()->surface, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);

    const auto selected = selection_.rect();
    cairo_set_source_rgba(cr, 0, 0, 0, kDimAlpha);
    cairo_rectangle(cr, 0, 0, monitor.width, monitor.height);
    if (selected) {
        cairo_rectangle(cr, selected->x - monitor.x, selected->y - monitor.y, selected->width, selected->height);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    }
    cairo_fill(cr);

    if (!selected) {
        if (!selection_.isTracking() && !hint_.empty()) {
            double width = 0;
            double height = 0;
            drawLabel(cr, hint_, 0, 0, &width, &height, true);
            drawLabel(cr, hint_, (monitor.width - width) / 2, (monitor.height - height) / 2);
        }
        return TRUE;
    }

    const double x = selected->x - monitor.x;
    const double y = selected->y - monitor.y;
    const double w = selected->width;
    const double h = selected->height;
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.2, 0.55, 1.0);
    cairo_rectangle(cr, x + 0.5, y + 0.5, std::max(0.0, w - 1), std::max(0.0, h - 1));
    cairo_stroke(cr);
    for (double hx : {x, x + w / 2, x + w}) {
        for (double hy : {y, y + h / 2, y + h}) {
            if (hx == x + w / 2 && hy == y + h / 2) continue;
            cairo_rectangle(cr, std::round(hx - kHandleSize / 2) + 0.5, std::round(hy - kHandleSize / 2) + 0.5, kHandleSize - 1,
                            kHandleSize - 1);
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_fill_preserve(cr);
            cairo_set_source_rgb(cr, 0.2, 0.55, 1.0);
            cairo_stroke(cr);
        }
    }

    // The size in the pixels the image will have.
    const double pixelScale = frame.pixels.scale();
    char size[64];
    std::snprintf(size, sizeof size, "%d \xC3\x97 %d", static_cast<int>(w * pixelScale), static_cast<int>(h * pixelScale));
    double labelWidth = 0;
    double labelHeight = 0;
    drawLabel(cr, size, 0, 0, &labelWidth, &labelHeight, true);
    double labelY = y - labelHeight - 4;
    if (selected->y - labelHeight - 4 < frames_.bounds().y) labelY = y + 4;
    drawLabel(cr, size, x, labelY);
    return TRUE;
}

gboolean CaptureOverlay::onButtonPress(GdkEventButton* event) {
    if (finished_) return TRUE;
    const int x = toPixel(event->x_root);
    const int y = toPixel(event->y_root);
    if (event->button == GDK_BUTTON_SECONDARY) {
        if (event->type == GDK_BUTTON_PRESS) cancel();
        return TRUE;
    }
    if (event->button != GDK_BUTTON_PRIMARY) return TRUE;
    if (event->type == GDK_2BUTTON_PRESS) {
        const auto selected = selection_.rect();
        if (selected && x >= selected->x && x < selected->x + selected->width && y >= selected->y && y < selected->y + selected->height) {
            confirm();
        }
        return TRUE;
    }
    if (event->type != GDK_BUTTON_PRESS) return TRUE;
    selection_.press(x, y);
    redraw();
    return TRUE;
}

gboolean CaptureOverlay::onButtonRelease(GdkEventButton* event) {
    if (finished_ || event->button != GDK_BUTTON_PRIMARY || !selection_.isTracking()) return TRUE;
    selection_.release(toPixel(event->x_root), toPixel(event->y_root));
    redraw();
    return TRUE;
}

gboolean CaptureOverlay::onMotion(GtkWidget* window, GdkEventMotion* event) {
    if (finished_) return TRUE;
    if (selection_.isTracking()) {
        selection_.drag(toPixel(event->x_root), toPixel(event->y_root));
        redraw();
    } else {
        updateCursor(window, event->x_root, event->y_root);
    }
    return TRUE;
}

gboolean CaptureOverlay::onKeyPress(GdkEventKey* event) {
    switch (event->keyval) {
    case GDK_KEY_Escape:
        cancel();
        return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        if (!selection_.isTracking()) confirm();
        return TRUE;
    default:
        return TRUE;
    }
}

}  // namespace kit::desktop
