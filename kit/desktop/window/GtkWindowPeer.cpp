#include "kit/desktop/window/GtkWindowPeer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/FrameTrace.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/window/OcclusionWatch.h"
#include "kit/desktop/window/WindowCanvas.h"
#include "kit/ui/Application.h"
#include "kit/ui/GraphicsContext.h"
#include "kit/ui/ViewRenderer.h"
#include "kit/ui/Window.h"

#include <X11/extensions/shapeconst.h>
#include <X11/keysym.h>

namespace kit::desktop {

namespace {

// A wheel notch; scroll views turn it into a step of their own size.
constexpr double kPointsPerWheelStep = kWheelNotchDelta;
// A requested geometry that the display has not confirmed in this time is given up on.
constexpr std::int64_t kConfigureWaitMicroseconds = std::int64_t{500} * 1000;

std::vector<GtkWindowPeer*>& registry() {
    static std::vector<GtkWindowPeer*> peers;
    return peers;
}

std::function<void(Window&)>& frameObserver() {
    static std::function<void(Window&)> observer;
    return observer;
}

bool isComposited(GtkWidget* widget) { return gdk_screen_is_composited(gtk_widget_get_screen(widget)); }

// Without a window manager that reports hidden windows, GDK takes any unmapping it did not
// expect (a quick hide and show) for iconifying; only a reported state can be trusted.
bool iconifyingIsReported(GtkWidget* widget) {
    GdkScreen* screen = gtk_widget_get_screen(widget);
    if (!GDK_IS_X11_SCREEN(screen)) return true;
    return gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_WM_STATE_HIDDEN"));
}

// Counts the windows made key or shown to take the focus; the activation check compares it.
unsigned long& focusRequests() {
    static unsigned long count = 0;
    return count;
}

EventType downType(unsigned button) {
    if (button == 1) return EventType::LeftMouseDown;
    if (button == 3) return EventType::RightMouseDown;
    return EventType::OtherMouseDown;
}

EventType upType(unsigned button) {
    if (button == 1) return EventType::LeftMouseUp;
    if (button == 3) return EventType::RightMouseUp;
    return EventType::OtherMouseUp;
}

int buttonNumber(unsigned button) {
    // The platform numbers buttons from 0: left, right, middle, then the others.
    if (button == 1) return 0;
    if (button == 3) return 1;
    if (button == 2) return 2;
    return static_cast<int>(button) - 5;  // 8, 9 (back, forward) become 3, 4
}

// Whether the user may resize the window through the window manager: a titled, resizable window
// that can become key, is no sheet, and whose size limits leave room. Every other window keeps
// the size the application gives it.
bool userResizable(const Window& window) {
    return (window.styleMask() & WindowStyleResizable) && window.hasTitleBar() && window.canBecomeKeyWindow() &&
           !window.isSheet() && window.minSize() != window.maxSize();
}

// What the window manager is told the window is. Tiling window managers tile only normal windows
// and float the others at their own size and place; all managers keep the others out of the way
// of the windows the user works in.
GdkWindowTypeHint typeHintFor(const Window& window) {
    if (window.isSheet()) return GDK_WINDOW_TYPE_HINT_DIALOG;
    // Non-activating panels: palettes that never take the focus.
    if (!window.canBecomeKeyWindow()) return GDK_WINDOW_TYPE_HINT_UTILITY;
    // Frameless windows that go when the user clicks elsewhere (popovers).
    if (!window.hasTitleBar()) return GDK_WINDOW_TYPE_HINT_POPUP_MENU;
    if (!userResizable(window) || window.level() > WindowLevel::Normal) return GDK_WINDOW_TYPE_HINT_DIALOG;
    return GDK_WINDOW_TYPE_HINT_NORMAL;
}

int displayLength(double points) {
    constexpr double kLargest = 32767;  // the largest window the X server makes
    return static_cast<int>(std::lround(std::clamp(points, 0.0, kLargest)));
}

// Escape for the windows that never take the keyboard (panels floated over another application's
// work): while one with a cancel operation is on screen, the key is taken from the whole display
// (with Caps Lock and Num Lock either way) and closes it, as it closes a window that has the focus.
KeyCode& escapeGrabbed() {
    static KeyCode keycode = 0;
    return keycode;
}

std::vector<unsigned> lockVariants() { return {0u, LockMask, Mod2Mask, LockMask | Mod2Mask}; }

void grabEscape(bool grab) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display) || grab == (escapeGrabbed() != 0)) return;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    const ::Window root = DefaultRootWindow(xdisplay);
    gdk_x11_display_error_trap_push(display);
    if (grab) {
        escapeGrabbed() = XKeysymToKeycode(xdisplay, XK_Escape);
        for (unsigned variant : lockVariants())
            XGrabKey(xdisplay, escapeGrabbed(), variant, root, False, GrabModeAsync, GrabModeAsync);
    } else {
        for (unsigned variant : lockVariants()) XUngrabKey(xdisplay, escapeGrabbed(), variant, root);
        escapeGrabbed() = 0;
    }
    // Another application holding the key leaves it to that application.
    gdk_x11_display_error_trap_pop_ignored(display);
}

// Turns every pixel that is at least half covered into the opaque colour it stands for (colours
// are stored premultiplied by their coverage), and leaves the rest as it is.
void makeOpaqueWhereShown(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = row[x];
            const std::uint32_t alpha = pixel >> 24;
            if (alpha == 255 || alpha < 128) continue;
            auto channel = [&](int shift) {
                return std::min<std::uint32_t>(255, ((pixel >> shift) & 0xFF) * 255 / alpha);
            };
            row[x] = 0xFF000000u | (channel(16) << 16) | (channel(8) << 8) | channel(0);
        }
    }
    cairo_surface_mark_dirty(surface);
}

// Cuts a top-level window to a region (in its coordinates; null: the whole window). GDK keeps
// the bounding shape of a top-level to itself and does not pass it on to the X server, so on X11
// the server is told directly.
void setBoundingShape(GtkWidget* widget, const cairo_region_t* region) {
    GdkWindow* window = gtk_widget_get_window(widget);
    if (!window || !GDK_IS_X11_WINDOW(window)) {
        gtk_widget_shape_combine_region(widget, const_cast<cairo_region_t*>(region));
        return;
    }
    Display* display = GDK_WINDOW_XDISPLAY(window);
    if (!region) {
        XFixesSetWindowShapeRegion(display, GDK_WINDOW_XID(window), ShapeBounding, 0, 0, None);
        return;
    }
    const int scale = gdk_window_get_scale_factor(window);
    std::vector<XRectangle> rects;
    for (int i = 0; i < cairo_region_num_rectangles(region); ++i) {
        cairo_rectangle_int_t r;
        cairo_region_get_rectangle(region, i, &r);
        rects.push_back({static_cast<short>(r.x * scale), static_cast<short>(r.y * scale),
                         static_cast<unsigned short>(r.width * scale), static_cast<unsigned short>(r.height * scale)});
    }
    const XserverRegion shape = XFixesCreateRegion(display, rects.data(), static_cast<int>(rects.size()));
    XFixesSetWindowShapeRegion(display, GDK_WINDOW_XID(window), ShapeBounding, 0, 0, shape);
    XFixesDestroyRegion(display, shape);
}

}  // namespace

// Activation follows focus: once no window of the process has it, the application resigns. The
// check waits a moment: focus moving between two windows of the process (a panel closing as the
// side window is presented) leaves neither active for a few round trips, and resigning then
// would hide what was just shown. A window made key or shown while the check waits has not had
// its focus yet either: the check then waits once more from there.
void GtkWindowPeer::scheduleActivationCheck() {
    constexpr guint kSettleMilliseconds = 150;
    static bool scheduled = false;
    if (scheduled) return;
    scheduled = true;
    g_timeout_add(
        kSettleMilliseconds,
        [](gpointer data) -> gboolean {
            scheduled = false;
            bool anyActive = false;
            GList* toplevels = gtk_window_list_toplevels();
            for (GList* it = toplevels; it; it = it->next) {
                if (gtk_window_is_active(GTK_WINDOW(it->data))) anyActive = true;
            }
            g_list_free(toplevels);
            if (anyActive) return G_SOURCE_REMOVE;
            if (GPOINTER_TO_SIZE(data) != static_cast<gsize>(focusRequests())) {
                scheduleActivationCheck();
                return G_SOURCE_REMOVE;
            }
            auto& app = Application::shared();
            if (app.isActive()) app.setActiveFromBackend(backendBadge(), false);
            return G_SOURCE_REMOVE;
        },
        GSIZE_TO_POINTER(static_cast<gsize>(focusRequests())));
}

GtkWindowPeer::GtkWindowPeer(Window& window) : model_(window) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_widget_set_app_paintable(window_, TRUE);
    if (GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
        gtk_widget_set_visual(window_, visual);
    }
    gtk_window_set_title(GTK_WINDOW(window_), model_.title().c_str());

    canvas_ = newWindowCanvas(&model_);
    gtk_widget_set_can_focus(canvas_, TRUE);
    gtk_widget_add_events(canvas_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                       GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_ENTER_NOTIFY_MASK |
                                       GDK_LEAVE_NOTIFY_MASK);
    gtk_widget_add_events(window_, GDK_STRUCTURE_MASK);
    gtk_container_add(GTK_CONTAINER(window_), canvas_);
    gtk_widget_show(canvas_);

    // An exception in an event handler counts the event as handled.
    signals_.connect(canvas_, "draw", [this](GtkWidget*, cairo_t* cr) -> gboolean { return onDraw(cr); }, TRUE);
    for (const char* signal : {"button-press-event", "button-release-event"}) {
        signals_.connect(canvas_, signal, [this](GtkWidget*, GdkEventButton* e) -> gboolean { return onButton(e); }, TRUE);
    }
    signals_.connect(
        canvas_, "motion-notify-event", [this](GtkWidget*, GdkEventMotion* e) -> gboolean { return onMotion(e); }, TRUE);
    signals_.connect(canvas_, "scroll-event", [this](GtkWidget*, GdkEventScroll* e) -> gboolean { return onScroll(e); }, TRUE);
    for (const char* signal : {"enter-notify-event", "leave-notify-event"}) {
        signals_.connect(canvas_, signal, [this](GtkWidget*, GdkEventCrossing* e) -> gboolean { return onCrossing(e); }, TRUE);
    }
    for (const char* signal : {"key-press-event", "key-release-event"}) {
        signals_.connect(window_, signal, [this](GtkWidget*, GdkEventKey* e) -> gboolean { return onKey(e); }, TRUE);
    }
    signals_.connect(
        window_, "configure-event", [this](GtkWidget*, GdkEventConfigure* e) -> gboolean { return onConfigure(e); }, TRUE);
    signals_.connect(
        window_, "window-state-event", [this](GtkWidget*, GdkEventWindowState* e) -> gboolean { return onWindowState(e); },
        TRUE);
    for (const char* signal : {"map-event", "unmap-event"}) {
        signals_.connect(window_, signal, [this](GtkWidget*, GdkEvent* e) -> gboolean { return onMapChange(e); }, TRUE);
    }
    // Each window leads a window group of its own. With the toolkit's one group for all of the
    // application's windows, window managers keep a dialog or menu without a parent above every
    // window of the group, so the side window (a dialog to them) covered the popovers opened on it.
    signals_.connect(window_, "realize", [](GtkWidget* widget) {
        GdkWindow* gdkWindow = gtk_widget_get_window(widget);
        gdk_window_set_group(gdkWindow, gdkWindow);
    });
    // Showing, the toolkit writes the window's size limits, then maps it: in between, the window
    // manager learns where the window comes to rest.
    signals_.connect(
        window_, "check-resize",
        [this](GtkContainer*) {
            if (std::exchange(announceRest_, false)) announceRestingPlace();
        },
        G_CONNECT_AFTER);
    signals_.connect(window_, "delete-event", [this](GtkWidget*, GdkEvent*) -> gboolean { return onDelete(); }, TRUE);
    signals_.connect(window_, "notify::is-active", [this](GObject*, GParamSpec*) { onActiveChanged(); });

    registry().push_back(this);
    watchOcclusion();
    applyStyle();
    applyLevel();
    applyLook();
    applyGeometry();
}

GtkWindowPeer::~GtkWindowPeer() {
    RunLoop::main().cancelPerforms(this);
    auto& peers = registry();
    peers.erase(std::remove(peers.begin(), peers.end(), this), peers.end());
    updateEscapeGrab();
    for (GtkWindowPeer* other : peers) {
        if (other->transientParent_ == window_) {
            gtk_window_set_transient_for(GTK_WINDOW(other->window_), nullptr);
            other->transientParent_ = nullptr;
        }
    }
    signals_.disconnectAll();
    windowCanvasDetach(canvas_);
    if (shape_) cairo_region_destroy(shape_);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
}

const std::vector<GtkWindowPeer*>& GtkWindowPeer::all() { return registry(); }

GtkWindowPeer* GtkWindowPeer::forWindow(const Window& window) {
    for (GtkWindowPeer* peer : registry()) {
        if (&peer->model_ == &window) return peer;
    }
    return nullptr;
}

void GtkWindowPeer::setFrameObserver(std::function<void(Window&)> observer) { frameObserver() = std::move(observer); }

bool GtkWindowPeer::takesEscapeFromDisplay() const {
    return mapped_ && model_.isVisible() && !model_.canBecomeKeyWindow() && model_.hasCancelOperation();
}

void GtkWindowPeer::updateEscapeGrab() {
    static bool filtering = false;
    const auto& peers = registry();
    const bool wanted =
        std::any_of(peers.begin(), peers.end(), [](const GtkWindowPeer* p) { return p->takesEscapeFromDisplay(); });
    if (wanted && !filtering && GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
        filtering = true;
        gdk_window_add_filter(
            gdk_get_default_root_window(),
            [](GdkXEvent* xevent, GdkEvent*, gpointer) -> GdkFilterReturn {
                auto* event = static_cast<XEvent*>(xevent);
                if ((event->type != KeyPress && event->type != KeyRelease) || escapeGrabbed() == 0 ||
                    event->xkey.keycode != escapeGrabbed() || (event->xkey.state & ~(LockMask | Mod2Mask)) != 0)
                    return GDK_FILTER_CONTINUE;
                if (event->type == KeyPress) {
                    std::vector<std::weak_ptr<Window>> windows;
                    for (GtkWindowPeer* peer : registry())
                        if (peer->takesEscapeFromDisplay()) windows.push_back(peer->model_.weak_from_this());
                    RunLoop::main().post([windows] {
                        for (const auto& weak : windows)
                            if (auto window = weak.lock()) window->performCancelOperation();
                    });
                }
                return GDK_FILTER_REMOVE;
            },
            nullptr);
    }
    grabEscape(wanted);
}

// Model to display.

void GtkWindowPeer::windowDidChange(WindowChange change) {
    switch (change) {
        case WindowChange::Frame:
            applyGeometry();
            break;
        case WindowChange::Visibility:
            if (model_.isVisible()) {
                if (state_ & GDK_WINDOW_STATE_ICONIFIED) gtk_window_deiconify(GTK_WINDOW(window_));
                applyStyle();
                applySheet();
                applyGeometry();
            } else {
                applySheet();
                // Minimising orders the window out first and marks it minimised after; a window
                // that ends up minimised is iconified rather than withdrawn.
                std::weak_ptr<Window> weak = model_.weak_from_this();
                RunLoop::main().post([weak] {
                    auto window = weak.lock();
                    if (!window || !window->isMiniaturized()) return;
                    auto* peer = forWindow(*window);
                    if (!peer || (peer->state_ & GDK_WINDOW_STATE_ICONIFIED) || !iconifyingIsReported(peer->window_)) return;
                    gtk_window_iconify(GTK_WINDOW(peer->window_));
                    gtk_widget_show(peer->window_);
                });
            }
            syncVisibility();
            break;
        case WindowChange::Level:
            applyLevel();
            break;
        case WindowChange::Style:
            applyStyle();
            break;
        case WindowChange::Title:
            gtk_window_set_title(GTK_WINDOW(window_), model_.title().c_str());
            break;
        case WindowChange::Look:
            applyLook();
            syncVisibility();
            gtk_widget_queue_draw(canvas_);
            break;
        case WindowChange::KeyStatus:
            // Made key before it is mapped, it gets the focus once shown.
            if (model_.isKeyWindow()) ++focusRequests();
            if (model_.isKeyWindow() && gtk_widget_get_mapped(window_) && gtk_window_get_accept_focus(GTK_WINDOW(window_)) &&
                !gtk_window_is_active(GTK_WINDOW(window_))) {
                gtk_window_present(GTK_WINDOW(window_));
            }
            break;
        case WindowChange::Sheet:
            applySheet();
            if (auto sheet = model_.attachedSheet()) {
                if (auto* peer = forWindow(*sheet)) peer->applySheet();
            }
            break;
        case WindowChange::Closed:
            syncVisibility();
            break;
        case WindowChange::Prepare:
            // The display's window, the drawing set-up and the web views' back ends exist from
            // now on; showing only maps them.
            gtk_widget_realize(window_);
            break;
        case WindowChange::Order:
            // Raised only: focus follows key status, so a panel that can never be key stays
            // out of the focus.
            if (GdkWindow* gdkWindow = gtk_widget_get_window(window_); gdkWindow && gtk_widget_get_mapped(window_)) {
                gdk_window_raise(gdkWindow);
            }
            break;
    }
}

void GtkWindowPeer::windowNeedsDisplay() {
    windowCanvasAccessibilityChanged(canvas_);
    if (gtk_widget_get_mapped(window_)) gtk_widget_queue_draw(canvas_);
}

void GtkWindowPeer::screensChanged() {
    requested_.reset();
    applyGeometry();
}

void GtkWindowPeer::applyWindowManagerHints() {
    // The type counts when the window is mapped; a mapped window keeps its type until it is
    // shown again.
    const GdkWindowTypeHint type = typeHintFor(model_);
    if (type != gtk_window_get_type_hint(GTK_WINDOW(window_)) && !gtk_widget_get_mapped(window_)) {
        gtk_window_set_type_hint(GTK_WINDOW(window_), type);
    }
    const int width = ownWidth_;
    const int height = ownHeight_;
    // While the window manager takes in a window being mapped, its size limits stay as they were:
    // the toolkit would write them over the place the window comes to rest at.
    if (width <= 0 || height <= 0 || awaitingMap_) return;
    // A window the user does not resize has equal minimum and maximum sizes, which also tells
    // tiling window managers to float it. The limits never exclude the size the application
    // itself gives the window: they bind only the user's resizing.
    SizeHints hints{width, height, width, height};
    if (userResizable(model_)) {
        hints.minWidth = std::min(width, displayLength(model_.minSize().width));
        hints.minHeight = std::min(height, displayLength(model_.minSize().height));
        hints.maxWidth = std::max(width, displayLength(model_.maxSize().width));
        hints.maxHeight = std::max(height, displayLength(model_.maxSize().height));
    }
    if (hints == sizeHints_) return;
    sizeHints_ = hints;
    GdkGeometry geometry{};
    geometry.min_width = hints.minWidth;
    geometry.min_height = hints.minHeight;
    geometry.max_width = hints.maxWidth;
    geometry.max_height = hints.maxHeight;
    gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &geometry,
                                  GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

void GtkWindowPeer::applyGeometry() {
    const DisplayRect rect = CoordinateSpace::current().toDisplay(model_.frame());
    // A frame other than the one last asked for or placed is the application's own.
    if (rect != requested_ && rect.width > 0 && rect.height > 0) {
        ownWidth_ = rect.width;
        ownHeight_ = rect.height;
    }
    // First: the toolkit holds a requested size to the hints.
    applyWindowManagerHints();
    if (rect.width > 0 && rect.height > 0 && rect != requested_) {
        gtk_window_move(GTK_WINDOW(window_), rect.x, rect.y);
        gtk_window_resize(GTK_WINDOW(window_), rect.width, rect.height);
        requested_ = rect;
        pendingConfigures_.push_back(rect);
        lastRequestTime_ = g_get_monotonic_time();
    }
    if (model_.isFullScreen() != fullScreen_) {
        fullScreen_ = model_.isFullScreen();
        if (fullScreen_) {
            gtk_window_fullscreen(GTK_WINDOW(window_));
        } else {
            gtk_window_unfullscreen(GTK_WINDOW(window_));
        }
    }
    syncVisibility();
    gtk_widget_queue_draw(canvas_);
}

void GtkWindowPeer::applyStyle() {
    auto* window = GTK_WINDOW(window_);
    // Windows that can never be key (non-activating panels, borderless popovers) never take
    // the focus from the application in front.
    const bool canBeKey = model_.canBecomeKeyWindow();
    gtk_window_set_accept_focus(window, canBeKey);
    gtk_window_set_focus_on_map(window, canBeKey);
    gtk_window_set_skip_taskbar_hint(window, !model_.canBecomeMainWindow());
    gtk_window_set_skip_pager_hint(window, !model_.canBecomeMainWindow());
    gtk_window_set_resizable(window, TRUE);
    if (model_.collectionBehavior() & CollectionCanJoinAllSpaces) {
        gtk_window_stick(window);
    } else {
        gtk_window_unstick(window);
    }
    applyWindowManagerHints();
}

void GtkWindowPeer::applyLevel() {
    gtk_window_set_keep_above(GTK_WINDOW(window_), model_.level() > WindowLevel::Normal);
    applyWindowManagerHints();
}

void GtkWindowPeer::applyLook() {
    // Without a compositor opacity has no effect; such windows are only shown or not.
    if (isComposited(window_)) gtk_widget_set_opacity(window_, model_.alphaValue());
    if (!drawsShaped()) clearShape();
}

void GtkWindowPeer::clearShape() {
    if (!shape_) return;
    setBoundingShape(window_, nullptr);
    gtk_widget_input_shape_combine_region(window_, nullptr);
    cairo_region_destroy(shape_);
    shape_ = nullptr;
}

bool GtkWindowPeer::drawsShaped() const {
    // Without a compositor, an opaque window whose background is clear (rounded corners drawn by
    // its views) would show black where it draws nothing: it is cut to what it draws.
    return !model_.isOpaque() || (model_.backgroundColor().alpha < 1 && !isComposited(window_));
}

void GtkWindowPeer::compositingChanged() {
    for (GtkWindowPeer* peer : registry()) {
        peer->clearShape();
        gtk_widget_queue_draw(peer->canvas_);
    }
}

void GtkWindowPeer::applySheet() {
    GtkWidget* parent = nullptr;
    if (auto sheetParent = model_.sheetParent(); sheetParent && model_.isVisible()) {
        if (auto* peer = forWindow(*sheetParent)) parent = peer->window_;
    }
    if (parent == transientParent_) return;
    // A sheet is modal to its own window only: the two share a window group of their own while
    // it is up, so its grab leaves the application's other windows usable.
    if (transientParent_) {
        gtk_window_set_modal(GTK_WINDOW(window_), FALSE);
        for (GtkWidget* member : {window_, transientParent_}) {
            GtkWindow* w = GTK_WINDOW(member);
            if (gtk_window_has_group(w)) gtk_window_group_remove_window(gtk_window_get_group(w), w);
        }
    }
    if (parent) {
        GtkWindowGroup* group = gtk_window_group_new();
        gtk_window_group_add_window(group, GTK_WINDOW(parent));
        gtk_window_group_add_window(group, GTK_WINDOW(window_));
        g_object_unref(group);  // held by its windows
    }
    transientParent_ = parent;
    gtk_window_set_transient_for(GTK_WINDOW(window_), parent ? GTK_WINDOW(parent) : nullptr);
    gtk_window_set_modal(GTK_WINDOW(window_), parent != nullptr);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(window_), FALSE);
    applyWindowManagerHints();
}

bool GtkWindowPeer::shouldBeMapped() const {
    if (!model_.isVisible() || model_.isClosed()) return false;
    // A zero-width (or zero-height) frame has nothing to show; the model keeps reporting it.
    const DisplayRect rect = CoordinateSpace::current().toDisplay(model_.frame());
    if (rect.width <= 0 || rect.height <= 0) return false;
    if (model_.alphaValue() <= 0 && !isComposited(window_)) return false;
    return true;
}

void GtkWindowPeer::syncVisibility() {
    const bool wanted = shouldBeMapped();
    const bool shown = gtk_widget_get_visible(window_);
    if (wanted && !shown) {
        shownAt_ = g_get_monotonic_time();
        if (gtk_window_get_focus_on_map(GTK_WINDOW(window_))) ++focusRequests();
        announceRest_ = true;
        gtk_widget_show(window_);
        announceRest_ = false;
        // A window manager places a window as it maps it, from where the window stood on the
        // display (i3 frames a floating window there and moves it by its border and title; where
        // it left a window it unmapped is where the next mapping starts). Asked again once it
        // manages the window, the window goes where the model says, whatever happened to it before.
        if (GdkWindow* gdkWindow = gtk_widget_get_window(window_)) {
            const DisplayRect rect = CoordinateSpace::current().toDisplay(model_.frame());
            gdk_window_move_resize(gdkWindow, rect.x, rect.y, rect.width, rect.height);
            requested_ = rect;
            pendingConfigures_.push_back(rect);
            lastRequestTime_ = g_get_monotonic_time();
        }
        if (model_.isKeyWindow() && gtk_window_get_accept_focus(GTK_WINDOW(window_))) gtk_window_present(GTK_WINDOW(window_));
    } else if (!wanted && shown && !(state_ & GDK_WINDOW_STATE_ICONIFIED)) {
        gtk_widget_hide(window_);
        awaitingMap_ = false;
    }
}

// Window managers that remember a window's place and size from when it was mapped (i3 floats a
// window there again after the user tiled it) learn where it comes to rest: a window that slides
// in is mapped as the first sliver of its slide. Read as the window is taken in; the size limits
// the toolkit writes later replace them.
void GtkWindowPeer::announceRestingPlace() {
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow)) return;
    const DisplayRect rest = CoordinateSpace::current().toDisplay(model_.restingFrame());
    if (rest.width <= 0 || rest.height <= 0) return;
    const int scale = gdk_window_get_scale_factor(gdkWindow);
    ::Display* display = GDK_WINDOW_XDISPLAY(gdkWindow);
    const ::Window xid = GDK_WINDOW_XID(gdkWindow);
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    long supplied = 0;
    if (!XGetWMNormalHints(display, xid, hints, &supplied)) hints->flags = 0;
    hints->flags |= PPosition | PSize;
    hints->x = rest.x * scale;
    hints->y = rest.y * scale;
    hints->width = rest.width * scale;
    hints->height = rest.height * scale;
    XSetWMNormalHints(display, xid, hints);
    XFree(hints);
    awaitingMap_ = true;
}

// Drawing.

gboolean GtkWindowPeer::onDraw(cairo_t* cr) {
    auto keep = model_.weak_from_this().lock();
    if (!keep) return TRUE;
    model_.layoutIfNeeded();
    const double height = model_.frame().height();
    auto paint = [&](cairo_t* target) {
        cairo_save(target);
        cairo_set_operator(target, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(target, 0, 0, 0, 0);
        cairo_paint(target);
        cairo_set_operator(target, CAIRO_OPERATOR_OVER);
        // The window's base coordinates: origin at the bottom left, y up.
        cairo_translate(target, 0, height);
        cairo_scale(target, 1, -1);
        GraphicsContext context(target, false);
        drawWindow(model_, context);
        cairo_restore(target);
    };
    if (!drawsShaped()) {
        paint(cr);
    } else {
        // Drawn off screen first: its alpha gives the window's shape (rounded corners, cut-outs).
        const int scale = gtk_widget_get_scale_factor(canvas_);
        const int width = gtk_widget_get_allocated_width(canvas_);
        const int allocatedHeight = gtk_widget_get_allocated_height(canvas_);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width * scale, allocatedHeight * scale);
        cairo_surface_set_device_scale(surface, scale, scale);
        cairo_t* offscreen = cairo_create(surface);
        paint(offscreen);
        cairo_destroy(offscreen);
        // The display shows a pixel's colour channels as they are: without a compositor to blend
        // them, the half-covered pixels of rounded corners kept by the shape would show darkened.
        if (!isComposited(window_)) makeOpaqueWhereShown(surface);
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, surface, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        updateShape(surface);
        cairo_surface_destroy(surface);
    }
    model_.displayIfNeeded();
    ++framesDrawn_;
    if (shownAt_) {
        traceFirstFrame(model_, shownAt_);
        shownAt_ = 0;
    }
    if (auto& observer = frameObserver()) {
        auto copy = observer;
        copy(model_);
    }
    return TRUE;
}

void GtkWindowPeer::updateShape(cairo_surface_t* surface) {
    cairo_region_t* region = gdk_cairo_region_create_from_surface(surface);
    if (shape_ && cairo_region_equal(shape_, region)) {
        cairo_region_destroy(region);
        return;
    }
    // Clicks on fully transparent parts go to what lies below, as they do on the platform;
    // without a compositor the transparent parts are cut out of the window as well.
    gtk_widget_input_shape_combine_region(window_, region);
    setBoundingShape(window_, isComposited(window_) ? nullptr : region);
    if (shape_) cairo_region_destroy(shape_);
    shape_ = region;
}

// Display to model: events.

Event GtkWindowPeer::mouseEvent(EventType type, double x, double y, unsigned state) const {
    Event event;
    event.type = type;
    event.window = model_.weak_from_this();
    event.locationInWindow = {x, model_.frame().height() - y};
    event.timestamp = RunLoop::main().now();
    event.modifierFlags = modifierFlagsFromGdkState(state);
    return event;
}

void GtkWindowPeer::send(Event event) {
    auto keep = model_.weak_from_this().lock();
    if (!keep) return;
    Application::shared().sendEvent(std::move(event));
}

gboolean GtkWindowPeer::onButton(GdkEventButton* event) {
    // GTK repeats double and triple clicks as extra events; the counts are kept here.
    if (event->type == GDK_2BUTTON_PRESS || event->type == GDK_3BUTTON_PRESS) return TRUE;
    if (event->button >= 4 && event->button <= 7) return TRUE;
    const bool down = event->type == GDK_BUTTON_PRESS;
    if (down) {
        GtkSettings* settings = gtk_widget_get_settings(window_);
        int interval = 400;
        int distance = 5;
        g_object_get(settings, "gtk-double-click-time", &interval, "gtk-double-click-distance", &distance, nullptr);
        const bool repeat = event->button == lastButton_ && event->time - lastPressTime_ <= static_cast<std::uint32_t>(interval) &&
                            std::abs(event->x - lastPressX_) <= distance && std::abs(event->y - lastPressY_) <= distance;
        clickCount_ = repeat ? clickCount_ + 1 : 1;
        lastButton_ = event->button;
        lastPressTime_ = event->time;
        lastPressX_ = event->x;
        lastPressY_ = event->y;
    }
    Event kitEvent = mouseEvent(down ? downType(event->button) : upType(event->button), event->x, event->y, event->state);
    kitEvent.clickCount = event->button == lastButton_ ? clickCount_ : 1;
    kitEvent.buttonNumber = buttonNumber(event->button);
    send(std::move(kitEvent));
    return TRUE;
}

void GtkWindowPeer::pageTookEvent(const GdkEvent* event) {
    auto keep = model_.weak_from_this().lock();
    if (!keep) return;
    GdkWindow* own = gtk_widget_get_window(window_);
    double rootX = 0;
    double rootY = 0;
    if (!own || !gdk_event_get_root_coords(event, &rootX, &rootY)) return;
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(own, &originX, &originY);
    Event kitEvent;
    GdkModifierType state = GdkModifierType(0);
    gdk_event_get_state(event, &state);
    if (event->type == GDK_SCROLL) {
        kitEvent = mouseEvent(EventType::ScrollWheel, rootX - originX, rootY - originY, state);
    } else if (event->type == GDK_BUTTON_PRESS || event->type == GDK_BUTTON_RELEASE) {
        const unsigned button = event->button.button;
        if (button >= 4 && button <= 7) return;
        const bool down = event->type == GDK_BUTTON_PRESS;
        kitEvent = mouseEvent(down ? downType(button) : upType(button), rootX - originX, rootY - originY, state);
        kitEvent.buttonNumber = buttonNumber(button);
        kitEvent.clickCount = 1;
    } else {
        return;
    }
    auto& app = Application::shared();
    app.sendEventTakenByBackend(backendBadge(), kitEvent);
    // The window kept the focus through a press elsewhere that resigned the application.
    if (kitEvent.type == EventType::LeftMouseDown && !app.isActive() && gtk_window_is_active(GTK_WINDOW(window_))) {
        app.setActiveFromBackend(backendBadge(), true);
        if (model_.isVisible() && !model_.isKeyWindow() && model_.canBecomeKeyWindow()) model_.makeKeyWindow();
    }
}

void GtkWindowPeer::pressWentElsewhere() {
    auto& app = Application::shared();
    if (app.isActive()) app.setActiveFromBackend(backendBadge(), false);
}

gboolean GtkWindowPeer::onMotion(GdkEventMotion* event) {
    EventType type = EventType::MouseMoved;
    int button = 0;
    if (event->state & GDK_BUTTON1_MASK) {
        type = EventType::LeftMouseDragged;
    } else if (event->state & GDK_BUTTON3_MASK) {
        type = EventType::RightMouseDragged;
        button = 1;
    } else if (event->state & GDK_BUTTON2_MASK) {
        type = EventType::OtherMouseDragged;
        button = 2;
    }
    Event kitEvent = mouseEvent(type, event->x, event->y, event->state);
    kitEvent.buttonNumber = button;
    send(std::move(kitEvent));
    return TRUE;
}

gboolean GtkWindowPeer::onScroll(GdkEventScroll* event) {
    Event kitEvent = mouseEvent(EventType::ScrollWheel, event->x, event->y, event->state);
    // Positive deltas scroll towards the top (up) and the left, as on the platform.
    switch (event->direction) {
        case GDK_SCROLL_UP: kitEvent.scrollingDeltaY = kPointsPerWheelStep; break;
        case GDK_SCROLL_DOWN: kitEvent.scrollingDeltaY = -kPointsPerWheelStep; break;
        case GDK_SCROLL_LEFT: kitEvent.scrollingDeltaX = kPointsPerWheelStep; break;
        case GDK_SCROLL_RIGHT: kitEvent.scrollingDeltaX = -kPointsPerWheelStep; break;
        case GDK_SCROLL_SMOOTH: {
            double dx = 0;
            double dy = 0;
            gdk_event_get_scroll_deltas(reinterpret_cast<GdkEvent*>(event), &dx, &dy);
            GdkDevice* source = gdk_event_get_source_device(reinterpret_cast<GdkEvent*>(event));
            const bool precise = source && gdk_device_get_source(source) == GDK_SOURCE_TOUCHPAD;
            kitEvent.scrollingDeltaX = -dx * kPointsPerWheelStep;
            kitEvent.scrollingDeltaY = -dy * kPointsPerWheelStep;
            kitEvent.hasPreciseScrollingDeltas = precise;
            break;
        }
    }
    if (kitEvent.scrollingDeltaX == 0 && kitEvent.scrollingDeltaY == 0) return TRUE;
    send(std::move(kitEvent));
    return TRUE;
}

gboolean GtkWindowPeer::onCrossing(GdkEventCrossing* event) {
    // Tracking areas follow mouse moves; entering and leaving are moves to the new place.
    if (event->mode != GDK_CROSSING_NORMAL && event->mode != GDK_CROSSING_UNGRAB) return FALSE;
    Event kitEvent = mouseEvent(EventType::MouseMoved, event->x, event->y, event->state);
    if (event->type == GDK_LEAVE_NOTIFY) {
        // Located on the screen where the pointer went, so no area of this window holds it.
        const Point screenPoint = CoordinateSpace::current().toKit(event->x_root, event->y_root);
        kitEvent.locationInWindow = model_.convertPointFromScreen(screenPoint);
        if (model_.frame().contains(screenPoint)) {
            // Left for a window on top of this one.
            kitEvent.window.reset();
            kitEvent.locationInWindow = screenPoint;
        }
    }
    send(std::move(kitEvent));
    return FALSE;
}

gboolean GtkWindowPeer::onKey(GdkEventKey* event) {
    const bool down = event->type == GDK_KEY_PRESS;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(window_));
    guint plain = event->keyval;
    guint shifted = event->keyval;
    gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0), event->group, &plain,
                                        nullptr, nullptr, nullptr);
    gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(event->state & GDK_SHIFT_MASK),
                                        event->group, &shifted, nullptr, nullptr, nullptr);
    Event kitEvent;
    kitEvent.window = model_.weak_from_this();
    kitEvent.timestamp = RunLoop::main().now();
    kitEvent.locationInWindow = model_.mouseLocationOutsideOfEventStream();
    kitEvent.keyCode = virtualKeyForKeysym(plain).value_or(0xFFFF);
    unsigned state = event->state;
    if (isModifierKeysym(event->keyval)) {
        // Modifier keys change flags; the state GTK reports is the one before the change.
        GdkModifierType own = GdkModifierType(0);
        switch (event->keyval) {
            case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: own = GDK_SHIFT_MASK; break;
            case GDK_KEY_Control_L: case GDK_KEY_Control_R: own = GDK_CONTROL_MASK; break;
            case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: own = GDK_MOD1_MASK; break;
            case GDK_KEY_Super_L: case GDK_KEY_Super_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R: own = GDK_SUPER_MASK; break;
            case GDK_KEY_Caps_Lock: own = GDK_LOCK_MASK; break;
            default: break;
        }
        if (event->keyval == GDK_KEY_Caps_Lock) {
            if (!down) return TRUE;
            state ^= own;
        } else {
            state = down ? (state | own) : (state & ~static_cast<unsigned>(own));
        }
        kitEvent.type = EventType::FlagsChanged;
        kitEvent.modifierFlags = modifierFlagsFromGdkState(state);
        send(std::move(kitEvent));
        return TRUE;
    }
    kitEvent.type = down ? EventType::KeyDown : EventType::KeyUp;
    kitEvent.modifierFlags = modifierFlagsFromGdkState(state);
    kitEvent.characters = charactersForKeysym(event->keyval);
    kitEvent.charactersIgnoringModifiers = charactersForKeysym(shifted);
    if (down) {
        kitEvent.isARepeat = !keysDown_.insert(event->hardware_keycode).second;
    } else {
        keysDown_.erase(event->hardware_keycode);
    }
    send(std::move(kitEvent));
    return TRUE;
}

// Display to model: the window manager and the user.

gboolean GtkWindowPeer::onConfigure(GdkEventConfigure* event) {
    static constexpr std::string_view kLatePlacement = "latePlacement";
    const DisplayRect got{event->x, event->y, event->width, event->height};
    auto match = std::find(pendingConfigures_.begin(), pendingConfigures_.end(), got);
    if (match != pendingConfigures_.end()) {
        pendingConfigures_.erase(pendingConfigures_.begin(), match + 1);
        RunLoop::main().cancelPerforms(this, kLatePlacement);
        return FALSE;
    }
    if (!pendingConfigures_.empty()) {
        const std::int64_t waited = g_get_monotonic_time() - lastRequestTime_;
        if (waited < kConfigureWaitMicroseconds) {
            // Our own requests are still on their way, and what arrives now is an older state,
            // unless it is the window manager's answer to them (a tiling or decorating manager
            // puts the window elsewhere): when none of our requests comes back meanwhile, it stands.
            RunLoop::main().cancelPerforms(this, kLatePlacement);
            RunLoop::main().performAfterDelay(this, std::string(kLatePlacement),
                                              double(kConfigureWaitMicroseconds - waited) / 1e6, [this, got] {
                                                  pendingConfigures_.clear();
                                                  displayPlaced(got);
                                              });
            return FALSE;
        }
        pendingConfigures_.clear();
    }
    displayPlaced(got);
    return FALSE;
}

void GtkWindowPeer::displayPlaced(const DisplayRect& got) {
    const auto& space = CoordinateSpace::current();
    const DisplayRect wanted = space.toDisplay(model_.frame());
    if (wanted == got || !model_.isVisible()) return;
    // A frame less than a pixel wide or high is never asked of the display (the window keeps its
    // last size until one that is not): what arrives meanwhile is that older state, not the user's.
    if (wanted.width <= 0 || wanted.height <= 0) return;
    // Moved or resized by the user or the window manager (tiled, maximised, full screen): the
    // window has that frame now, whatever was asked, and is laid out and drawn at it.
    auto keep = model_.weak_from_this().lock();
    if (!keep) return;
    requested_ = got;
    model_.displayDidPlace(backendBadge(), space.toKit(got));
}

gboolean GtkWindowPeer::onWindowState(GdkEventWindowState* event) {
    auto keep = model_.weak_from_this().lock();
    if (!keep) return FALSE;
    state_ = event->new_window_state;
    auto changed = event->changed_mask;
    if (!iconifyingIsReported(window_)) {
        state_ = GdkWindowState(state_ & ~GDK_WINDOW_STATE_ICONIFIED);
        changed = GdkWindowState(changed & ~GDK_WINDOW_STATE_ICONIFIED);
    }
    if (changed & GDK_WINDOW_STATE_ICONIFIED) {
        const bool iconified = state_ & GDK_WINDOW_STATE_ICONIFIED;
        if (iconified && model_.isVisible() && !model_.isMiniaturized()) model_.miniaturize();
        if (!iconified && model_.isMiniaturized()) model_.deminiaturize();
    }
    if (changed & GDK_WINDOW_STATE_ICONIFIED) reportOcclusion();
    if (changed & GDK_WINDOW_STATE_FULLSCREEN) {
        const bool full = state_ & GDK_WINDOW_STATE_FULLSCREEN;
        fullScreen_ = full;
        if (full != model_.isFullScreen()) model_.toggleFullScreen();
    }
    return FALSE;
}

void GtkWindowPeer::setFullyObscured(bool obscured) {
    fullyObscured_ = obscured;
    reportOcclusion();
}

gboolean GtkWindowPeer::onMapChange(GdkEvent* event) {
    mapped_ = event->type == GDK_MAP;
    if (event->type == GDK_MAP && std::exchange(awaitingMap_, false)) applyWindowManagerHints();
    updateEscapeGrab();
    // A mapped window is reported once the stacking is known.
    if (mapped_) {
        scheduleOcclusionUpdate();
    } else {
        reportOcclusion();
    }
    return FALSE;
}

void GtkWindowPeer::reportOcclusion() {
    auto keep = model_.weak_from_this().lock();
    if (!keep) return;
    const bool seen = mapped_ && !fullyObscured_ && !(state_ & GDK_WINDOW_STATE_ICONIFIED) && model_.isVisible();
    model_.setOcclusionState(backendBadge(), seen ? kWindowOcclusionStateVisible : 0);
}

gboolean GtkWindowPeer::onDelete() {
    auto keep = model_.weak_from_this().lock();
    if (keep) model_.performClose();
    // The window goes away when the model closes it, never on the window manager's say.
    return TRUE;
}

void GtkWindowPeer::onActiveChanged() {
    auto keep = model_.weak_from_this().lock();
    if (!keep) return;
    if (!gtk_window_is_active(GTK_WINDOW(window_))) {
        scheduleActivationCheck();
        return;
    }
    auto& app = Application::shared();
    if (!app.isActive()) app.setActiveFromBackend(backendBadge(), true);
    if (model_.isVisible() && !model_.isKeyWindow() && model_.canBecomeKeyWindow() && !model_.attachedSheet()) {
        model_.makeKeyWindow();
    }
}

}  // namespace kit::desktop
