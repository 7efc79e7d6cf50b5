#include "kit/desktop/GtkBackend.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "kit/base/Ascii.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/dnd/DesktopClipboard.h"
#include "kit/desktop/window/Dialogs.h"
#include "kit/desktop/window/GtkWindowPeer.h"
#include "kit/ui/Application.h"

namespace kit::desktop {

namespace {

DisplayRect fromGdk(const GdkRectangle& r) { return {r.x, r.y, r.width, r.height}; }

DisplayRect intersect(const DisplayRect& a, const DisplayRect& b) {
    const int left = std::max(a.x, b.x);
    const int top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width);
    const int bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

GdkDevice* pointerOf(GdkDisplay* display) { return gdk_seat_get_pointer(gdk_display_get_default_seat(display)); }

}  // namespace

GtkBackend::GtkBackend(GdkDisplay* display) : display_(display), root_(gdk_get_default_root_window()) {
    clipboard_ = std::make_unique<DesktopClipboard>(backendBadge(), display);
    for (const char* signal : {"monitor-added", "monitor-removed"}) {
        signals_.connect(display_, signal, [this](GdkDisplay*, GdkMonitor*) { scheduleScreenRefresh(); });
    }
    GdkScreen* screen = gdk_display_get_default_screen(display_);
    for (const char* signal : {"monitors-changed", "size-changed"}) {
        signals_.connect(screen, signal, [this](GdkScreen*) { scheduleScreenRefresh(); });
    }
    // The work area lives in root window properties that the window manager or panels set.
    gdk_window_set_events(root_, GdkEventMask(gdk_window_get_events(root_) | GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(root_, &GtkBackend::rootFilter, this);

    signals_.connect(screen, "composited-changed", [](GdkScreen*) {
        GtkWindowPeer::compositingChanged();
        Application::shared().windowShadowsDidChange(backendBadge());
    });

    GtkSettings* settings = gtk_settings_get_for_screen(screen);
    for (const char* signal : {"notify::gtk-theme-name", "notify::gtk-application-prefer-dark-theme"}) {
        signals_.connect(settings, signal, [](GObject*, GParamSpec*) { Application::shared().systemAppearanceDidChange(backendBadge()); });
    }
    if (auto scheme =
            PortalColorScheme::make([] { Application::shared().systemAppearanceDidChange(backendBadge()); })) {
        colorScheme_ = std::move(*scheme);
    } else {
        logf("The desktop's colour scheme is read from GTK's settings alone: %s", scheme.error().c_str());
    }
}

GtkBackend::~GtkBackend() {
    alive_.end();
    gdk_window_remove_filter(root_, &GtkBackend::rootFilter, this);
    signals_.disconnectAll();
}

std::unique_ptr<WindowPeer> GtkBackend::makeWindowPeer(Window& window) { return std::make_unique<GtkWindowPeer>(window); }

bool GtkBackend::drawsWindowShadows() const {
    return gdk_screen_is_composited(gdk_display_get_default_screen(display_));
}

Point GtkBackend::mouseLocation() const {
    double x = 0;
    double y = 0;
    gdk_device_get_position_double(pointerOf(display_), nullptr, &x, &y);
    return CoordinateSpace::current().toKit(x, y);
}

unsigned GtkBackend::pressedMouseButtons() const {
    GdkModifierType mask = GdkModifierType(0);
    gdk_window_get_device_position(root_, pointerOf(display_), nullptr, nullptr, &mask);
    unsigned buttons = 0;
    if (mask & GDK_BUTTON1_MASK) buttons |= 1u << 0;
    if (mask & GDK_BUTTON3_MASK) buttons |= 1u << 1;
    if (mask & GDK_BUTTON2_MASK) buttons |= 1u << 2;
    return buttons;
}

unsigned GtkBackend::modifierFlags() const {
    GdkModifierType mask = GdkModifierType(0);
    gdk_window_get_device_position(root_, pointerOf(display_), nullptr, nullptr, &mask);
    return modifierFlagsFromGdkState(mask);
}

Appearance GtkBackend::systemAppearance() const {
    // The portal speaks for the desktop where it states a preference; GTK's settings otherwise.
    if (colorScheme_) {
        if (auto preference = colorScheme_->preference()) return *preference;
    }
    GtkSettings* settings = gtk_settings_get_for_screen(gdk_display_get_default_screen(display_));
    gboolean preferDark = FALSE;
    gchar* theme = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &preferDark, "gtk-theme-name", &theme, nullptr);
    const std::string name = theme ? asciiLowercase(theme) : std::string();
    g_free(theme);
    // GTK_THEME names a theme and, after a colon, its variant: "Adwaita:dark".
    const char* forced = std::getenv("GTK_THEME");
    const std::string forcedName = forced ? asciiLowercase(forced) : std::string();
    const bool darkTheme = name.ends_with("-dark") || forcedName.ends_with(":dark") || forcedName.ends_with("-dark");
    return preferDark || darkTheme ? Appearance::Dark : Appearance::Light;
}

PanelAnswer GtkBackend::runOpenPanel(const OpenPanel& panel) { return runFileChooser(panel); }
PanelAnswer GtkBackend::runSavePanel(const SavePanel& panel) { return runFileChooser(panel); }

void GtkBackend::pasteboardDidChange(const Pasteboard& pasteboard) { clipboard_->pasteboardDidChange(pasteboard); }

// Screens.

GdkFilterReturn GtkBackend::rootFilter(GdkXEvent* xevent, GdkEvent*, gpointer self) {
    auto* event = static_cast<XEvent*>(xevent);
    if (event->type != PropertyNotify) return GDK_FILTER_CONTINUE;
    auto* backend = static_cast<GtkBackend*>(self);
    Display* display = GDK_DISPLAY_XDISPLAY(backend->display_);
    const Atom workArea = XInternAtom(display, "_NET_WORKAREA", False);
    const Atom desktop = XInternAtom(display, "_NET_CURRENT_DESKTOP", False);
    if (event->xproperty.atom == workArea || event->xproperty.atom == desktop) backend->scheduleScreenRefresh();
    return GDK_FILTER_CONTINUE;
}

void GtkBackend::scheduleScreenRefresh() {
    if (refreshScheduled_) return;
    refreshScheduled_ = true;
    LifetimeWatch alive = alive_.watch();
    RunLoop::main().post([this, alive] {
        if (alive.expired()) return;
        refreshScheduled_ = false;
        refreshScreens();
    });
}

std::optional<DisplayRect> GtkBackend::workAreaFromProperty(const DisplayRect& monitor, int scale) const {
    Display* display = GDK_DISPLAY_XDISPLAY(display_);
    const ::Window root = GDK_WINDOW_XID(root_);
    auto readCardinals = [&](const char* name) {
        std::vector<long> values;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        gdk_x11_display_error_trap_push(display_);
        const int status = XGetWindowProperty(display, root, XInternAtom(display, name, False), 0, 1024, False,
                                              XA_CARDINAL, &type, &format, &count, &remaining, &data);
        gdk_x11_display_error_trap_pop_ignored(display_);
        if (status == Success && type == XA_CARDINAL && format == 32 && data) {
            auto* longs = reinterpret_cast<long*>(data);
            values.assign(longs, longs + count);
        }
        if (data) XFree(data);
        return values;
    };
    const std::vector<long> areas = readCardinals("_NET_WORKAREA");
    if (areas.size() < 4) return std::nullopt;
    std::size_t desktop = 0;
    const std::vector<long> current = readCardinals("_NET_CURRENT_DESKTOP");
    if (!current.empty() && current[0] >= 0) desktop = static_cast<std::size_t>(current[0]);
    if (desktop * 4 + 4 > areas.size()) desktop = 0;
    const long* a = &areas[desktop * 4];
    const int divisor = std::max(scale, 1);
    const DisplayRect area{static_cast<int>(a[0] / divisor), static_cast<int>(a[1] / divisor),
                           static_cast<int>(a[2] / divisor), static_cast<int>(a[3] / divisor)};
    const DisplayRect clipped = intersect(area, monitor);
    if (clipped.width <= 0 || clipped.height <= 0) return monitor;
    return clipped;
}

std::vector<ScreenDescription> GtkBackend::describeScreens(CoordinateSpace& space) const {
    const int count = gdk_display_get_n_monitors(display_);
    std::vector<GdkMonitor*> monitors;
    monitors.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) monitors.push_back(gdk_display_get_monitor(display_, i));
    GdkMonitor* primary = gdk_display_get_primary_monitor(display_);
    if (!primary && !monitors.empty()) primary = monitors.front();
    std::vector<ScreenDescription> screens;
    if (!primary) return screens;
    GdkRectangle mainGeometry;
    gdk_monitor_get_geometry(primary, &mainGeometry);
    space = CoordinateSpace(fromGdk(mainGeometry));
    // The main screen first, then the others in the display's order.
    std::vector<GdkMonitor*> ordered{primary};
    for (GdkMonitor* monitor : monitors) {
        if (monitor != primary) ordered.push_back(monitor);
    }
    for (GdkMonitor* monitor : ordered) {
        const int index = static_cast<int>(std::find(monitors.begin(), monitors.end(), monitor) - monitors.begin());
        GdkRectangle geometry;
        gdk_monitor_get_geometry(monitor, &geometry);
        const int scale = gdk_monitor_get_scale_factor(monitor);
        DisplayRect workArea;
        if (auto fromProperty = workAreaFromProperty(fromGdk(geometry), scale)) {
            workArea = *fromProperty;
        } else {
            GdkRectangle area;
            gdk_monitor_get_workarea(monitor, &area);
            workArea = fromGdk(area);
        }
        const char* manufacturer = gdk_monitor_get_manufacturer(monitor);
        const char* model = gdk_monitor_get_model(monitor);
        ScreenDescription description;
        description.identifier = "monitor-" + std::to_string(index) + (model ? std::string(":") + model : std::string());
        std::string name;
        if (manufacturer && *manufacturer) name = manufacturer;
        if (model && *model) name += (name.empty() ? "" : " ") + std::string(model);
        description.name = name.empty() ? "Display " + std::to_string(index + 1) : name;
        description.frame = space.toKit(fromGdk(geometry));
        description.visibleFrame = space.toKit(workArea);
        description.backingScaleFactor = scale;
        screens.push_back(std::move(description));
    }
    return screens;
}

void GtkBackend::refreshScreens() const {
    CoordinateSpace space;
    auto screens = describeScreens(space);
    const bool moved = !(space.mainScreen() == CoordinateSpace::current().mainScreen());
    CoordinateSpace::setCurrent(space);
    if (moved) {
        for (GtkWindowPeer* peer : GtkWindowPeer::all()) peer->screensChanged();
    }
    Screen::updateScreens(backendBadge(), screens);
}

}  // namespace kit::desktop
