#include "kit/desktop/services/TrayStatusItem.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/services/TrayColors.h"
#include "kit/desktop/window/Dialogs.h"

#include "kit/ui/Application.h"

// GtkStatusIcon is deprecated in GTK 3 but remains the tray protocol X11 panels speak.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace kit::desktop {

namespace {
// The tray's colours are read this often after an embedding, this many times.
constexpr double kTraySampleInterval = 0.4;
constexpr int kTraySamples = 5;

bool& loggedNoTray() {
    static bool logged = false;
    return logged;
}

// The tray icon is an XEmbed plug that the tray maps, not GTK. GDK counts that map as the end of
// a freeze it never began and reports "gdk_window_thaw_toplevel_updates: assertion ... failed"
// (then ignores the thaw, so nothing is wrong on screen). Only that report is dropped; every
// other message of GDK goes on to the default handler.
void quietTrayMapReport() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    g_log_set_handler(
        "Gdk", G_LOG_LEVEL_CRITICAL,
        [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
            if (message && std::strstr(message, "gdk_window_thaw_toplevel_updates")) return;
            g_log_default_handler(domain, level, message, nullptr);
        },
        nullptr);
}
}  // namespace

bool TrayStatusItemPeer::trayAvailable() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) return false;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(xdisplay));
    return XGetSelectionOwner(xdisplay, XInternAtom(xdisplay, selection.c_str(), False)) != None;
}

TrayStatusItemPeer::TrayStatusItemPeer(StatusItem& item)
    : item_(item), icon_(GRef<GtkStatusIcon>::adopt(gtk_status_icon_new())) {
    quietTrayMapReport();
    gtk_status_icon_set_visible(icon_.get(), FALSE);
    signals_.connect(icon_.get(), "activate", [this](GtkStatusIcon*) {
        if (!removed_) item_.performClick();
    });
    for (const char* signal : {"notify::embedded", "notify::size", "notify::orientation"}) {
        signals_.connect(icon_.get(), signal, [this](GObject*, GParamSpec*) { reportState(); });
    }
    gdk_window_add_filter(nullptr, &TrayStatusItemPeer::filterTrayEvents, this);
}

TrayStatusItemPeer::~TrayStatusItemPeer() {
    alive_.end();
    gdk_window_remove_filter(nullptr, &TrayStatusItemPeer::filterTrayEvents, this);
    unwatchTray();
    signals_.disconnectAll();
    gtk_status_icon_set_visible(icon_.get(), FALSE);
}

void TrayStatusItemPeer::applyImage() {
    const auto& button = item_.button();
    Image image = Image::named(button.imageName);
    if (image && button.imageSize.width > 0 && button.imageSize.height > 0) image = image.resized(button.imageSize);
    if (image && (button.imageIsTemplate || image.isTemplate())) {
        const Color theme = Application::shared().isDarkMode() ? Color::white() : Color::black();
        image = image.tinted(trayTint_.value_or(theme));
    }
    if (auto pixbuf = GRef<GdkPixbuf>::adopt(pixbufFromImage(image))) {
        gtk_status_icon_set_from_pixbuf(icon_.get(), pixbuf.get());
    } else {
        gtk_status_icon_set_from_icon_name(icon_.get(), "application-x-executable");
    }
}

void TrayStatusItemPeer::sampleTrayColours(int remaining) {
    if (removed_ || !gtk_status_icon_is_embedded(icon_.get())) return;
    GdkScreen* screen = gtk_status_icon_get_screen(icon_.get());
    GdkDisplay* display = screen ? gdk_screen_get_display(screen) : nullptr;
    if (display && GDK_IS_X11_DISPLAY(display)) {
        const auto tint = trayTemplateTint(GDK_DISPLAY_XDISPLAY(display), gdk_x11_screen_get_screen_number(screen),
                                           static_cast<::Window>(gtk_status_icon_get_x11_window_id(icon_.get())));
        if (tint && tint != trayTint_) {
            trayTint_ = tint;
            applyImage();
        }
    }
    if (remaining <= 1) return;
    LifetimeWatch alive = alive_.watch();
    RunLoop::main().postAfter(kTraySampleInterval, [this, alive, remaining] {
        if (!alive.expired()) sampleTrayColours(remaining - 1);
    });
}

bool TrayStatusItemPeer::iconIsViewable() const {
    GdkDisplay* display = gdk_display_get_default();
    const auto icon = static_cast<::Window>(gtk_status_icon_get_x11_window_id(icon_.get()));
    if (!display || !GDK_IS_X11_DISPLAY(display) || icon == None) return true;
    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attributes{};
    const bool viewable =
        XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(display), icon, &attributes) && attributes.map_state == IsViewable;
    gdk_x11_display_error_trap_pop_ignored(display);
    return viewable;
}

void TrayStatusItemPeer::statusItemChanged(StatusItem& item) {
    if (removed_) return;
    const auto& button = item.button();
    applyImage();
    gtk_status_icon_set_tooltip_text(icon_.get(), button.toolTip.empty() ? nullptr : button.toolTip.c_str());
    gtk_status_icon_set_title(icon_.get(), button.toolTip.c_str());
    if (!gtk_status_icon_get_visible(icon_.get())) {
        if (!trayAvailable() && !loggedNoTray()) {
            loggedNoTray() = true;
            logLine("No system tray on this display: the status item is not shown");
        }
        gtk_status_icon_set_visible(icon_.get(), TRUE);
    }
    reportState();
}

void TrayStatusItemPeer::statusItemRemoved(StatusItem&) {
    removed_ = true;
    unwatchTray();
    gtk_status_icon_set_visible(icon_.get(), FALSE);
}

void TrayStatusItemPeer::watchTray() {
    unwatchTray();
    GdkDisplay* display = gdk_display_get_default();
    const auto icon = static_cast<::Window>(gtk_status_icon_get_x11_window_id(icon_.get()));
    if (!display || !GDK_IS_X11_DISPLAY(display) || icon == None) return;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    gdk_x11_display_error_trap_push(display);
    // Every window from the icon's parent up to the root's child: the tray's sockets, the tray,
    // a window manager's frame. Any of them moving moves the icon on the screen.
    const auto holders = windowsHolding(xdisplay, icon);
    if (!holders) {
        gdk_x11_display_error_trap_pop_ignored(display);
        return;
    }
    for (::Window holder : *holders) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(xdisplay, holder, &attributes)) {
            XSelectInput(xdisplay, holder, attributes.your_event_mask | StructureNotifyMask);
            watched_.push_back(holder);
        }
    }
    // The tray's painting: its colours are read again once it has drawn.
    int eventBase = 0;
    int errorBase = 0;
    const ::Window tray = trayWindowAmong(xdisplay, icon, *holders);
    if (tray != None && XDamageQueryExtension(xdisplay, &eventBase, &errorBase)) {
        damage_ = XDamageCreate(xdisplay, tray, XDamageReportNonEmpty);
        damageNotify_ = eventBase + XDamageNotify;
    }
    gdk_x11_display_error_trap_pop_ignored(display);
}

void TrayStatusItemPeer::unwatchTray() {
    watched_.clear();
    if (!damage_) return;
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_X11_DISPLAY(display)) {
        gdk_x11_display_error_trap_push(display);
        XDamageDestroy(GDK_DISPLAY_XDISPLAY(display), damage_);
        gdk_x11_display_error_trap_pop_ignored(display);
    }
    damage_ = 0;
}

GdkFilterReturn TrayStatusItemPeer::filterTrayEvents(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* self = static_cast<TrayStatusItemPeer*>(data);
    auto* event = static_cast<XEvent*>(xevent);
    if (self->removed_ || !self->embedded_) return GDK_FILTER_CONTINUE;
    if (self->damage_ && event->type == self->damageNotify_ &&
        reinterpret_cast<XDamageNotifyEvent*>(event)->damage == self->damage_) {
        XDamageSubtract(event->xany.display, self->damage_, None, None);
        self->scheduleUpdate(false, true);
        return GDK_FILTER_CONTINUE;
    }
    if (event->type != ConfigureNotify && event->type != ReparentNotify && event->type != MapNotify &&
        event->type != UnmapNotify)
        return GDK_FILTER_CONTINUE;
    const auto icon = static_cast<::Window>(gtk_status_icon_get_x11_window_id(self->icon_.get()));
    const ::Window about = event->xany.window;
    const bool watched =
        about == icon || std::find(self->watched_.begin(), self->watched_.end(), about) != self->watched_.end();
    if (watched) self->scheduleUpdate(event->type == ReparentNotify, event->type != UnmapNotify);
    return GDK_FILTER_CONTINUE;
}

void TrayStatusItemPeer::scheduleUpdate(bool rewatch, bool colours) {
    // A tray lays its icons out and paints in bursts of events: one update after the burst.
    constexpr double kSettle = 0.1;
    rewatchDue_ = rewatchDue_ || rewatch;
    coloursDue_ = coloursDue_ || colours;
    if (updateScheduled_) return;
    updateScheduled_ = true;
    LifetimeWatch alive = alive_.watch();
    RunLoop::main().postAfter(kSettle, [this, alive] {
        if (alive.expired()) return;
        updateScheduled_ = false;
        if (removed_ || !embedded_) return;
        if (rewatchDue_) watchTray();
        reportState();
        if (coloursDue_) sampleTrayColours(1);
        rewatchDue_ = coloursDue_ = false;
    });
}

void TrayStatusItemPeer::reportState() {
    if (removed_) return;
    if (!gtk_status_icon_is_embedded(icon_.get())) {
        embedded_ = false;
        unwatchTray();
        item_.setWindowState(false, 0);
        return;
    }
    if (!embedded_) {
        // Newly embedded, perhaps in another tray: its colours are read afresh.
        embedded_ = true;
        watchTray();
        LifetimeWatch alive = alive_.watch();
        RunLoop::main().postAfter(kTraySampleInterval, [this, alive] {
            if (!alive.expired()) sampleTrayColours(kTraySamples);
        });
    }
    // A frame only once the tray has placed the icon: embedded, the icon is first a 1 x 1 window
    // at the tray's origin, and shown only when laid out.
    GdkRectangle area{};
    Rect frame;
    if (gtk_status_icon_get_geometry(icon_.get(), nullptr, &area, nullptr) && area.width > 1 && area.height > 1 &&
        iconIsViewable()) {
        frame = CoordinateSpace::current().toKit(DisplayRect{area.x, area.y, area.width, area.height});
    }
    item_.setWindowState(true, kWindowOcclusionStateVisible, frame);
}

}  // namespace kit::desktop

G_GNUC_END_IGNORE_DEPRECATIONS
