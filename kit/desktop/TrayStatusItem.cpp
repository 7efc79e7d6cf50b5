#include "kit/desktop/TrayStatusItem.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstring>
#include <string>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/Dialogs.h"
#include "kit/ui/Application.h"
#include "kit/desktop/X11.h"

// GtkStatusIcon is deprecated in GTK 3 but remains the tray protocol X11 panels speak.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace kit::desktop {

namespace {
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

TrayStatusItemPeer::TrayStatusItemPeer(StatusItem& item) : item_(item), icon_(gtk_status_icon_new()) {
    quietTrayMapReport();
    gtk_status_icon_set_visible(icon_, FALSE);
    g_signal_connect(icon_, "activate", G_CALLBACK(+[](GtkStatusIcon*, gpointer self) {
        try {
            auto* peer = static_cast<TrayStatusItemPeer*>(self);
            if (!peer->removed_) peer->item_.performClick();
        } catch (...) {
            logLine("Uncaught exception in a status item's action");
        }
    }), this);
    auto report = G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) { static_cast<TrayStatusItemPeer*>(self)->reportState(); });
    g_signal_connect(icon_, "notify::embedded", report, this);
    g_signal_connect(icon_, "notify::size", report, this);
    g_signal_connect(icon_, "notify::orientation", report, this);
}

TrayStatusItemPeer::~TrayStatusItemPeer() {
    g_signal_handlers_disconnect_by_data(icon_, this);
    gtk_status_icon_set_visible(icon_, FALSE);
    g_object_unref(icon_);
}

void TrayStatusItemPeer::statusItemChanged(StatusItem& item) {
    if (removed_) return;
    const auto& button = item.button();
    Image image = Image::named(button.imageName);
    if (image && button.imageSize.width > 0 && button.imageSize.height > 0) image = image.resized(button.imageSize);
    if (image && (button.imageIsTemplate || image.isTemplate())) {
        // Template images take the colour of the panel's text.
        image = image.tinted(Application::shared().isDarkMode() ? Color::white() : Color::black());
    }
    if (auto pixbuf = GRef<GdkPixbuf>::adopt(pixbufFromImage(image))) {
        gtk_status_icon_set_from_pixbuf(icon_, pixbuf.get());
    } else {
        gtk_status_icon_set_from_icon_name(icon_, "application-x-executable");
    }
    gtk_status_icon_set_tooltip_text(icon_, button.toolTip.empty() ? nullptr : button.toolTip.c_str());
    gtk_status_icon_set_title(icon_, button.toolTip.c_str());
    if (!gtk_status_icon_get_visible(icon_)) {
        if (!trayAvailable() && !loggedNoTray()) {
            loggedNoTray() = true;
            logLine("No system tray on this display: the status item is not shown");
        }
        gtk_status_icon_set_visible(icon_, TRUE);
    }
    reportState();
}

void TrayStatusItemPeer::statusItemRemoved(StatusItem&) {
    removed_ = true;
    gtk_status_icon_set_visible(icon_, FALSE);
}

void TrayStatusItemPeer::reportState() {
    if (removed_) return;
    if (!gtk_status_icon_is_embedded(icon_)) {
        item_.setWindowState(false, 0);
        return;
    }
    GdkRectangle area{};
    Rect frame;
    if (gtk_status_icon_get_geometry(icon_, nullptr, &area, nullptr)) {
        frame = CoordinateSpace::current().toKit(DisplayRect{area.x, area.y, area.width, area.height});
    }
    item_.setWindowState(true, kWindowOcclusionStateVisible, frame);
}

}  // namespace kit::desktop

G_GNUC_END_IGNORE_DEPRECATIONS
