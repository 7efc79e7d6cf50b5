#include "kit/desktop/TrayStatusItem.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstring>
#include <string>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/Dialogs.h"
#include "kit/desktop/TrayColors.h"
#include "kit/desktop/X11.h"
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
}

TrayStatusItemPeer::~TrayStatusItemPeer() {
    alive_.end();
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
    gtk_status_icon_set_visible(icon_.get(), FALSE);
}

void TrayStatusItemPeer::reportState() {
    if (removed_) return;
    if (!gtk_status_icon_is_embedded(icon_.get())) {
        embedded_ = false;
        item_.setWindowState(false, 0);
        return;
    }
    if (!embedded_) {
        // Newly embedded, perhaps in another tray: its colours are read afresh.
        embedded_ = true;
        LifetimeWatch alive = alive_.watch();
        RunLoop::main().postAfter(kTraySampleInterval, [this, alive] {
            if (!alive.expired()) sampleTrayColours(kTraySamples);
        });
    }
    GdkRectangle area{};
    Rect frame;
    if (gtk_status_icon_get_geometry(icon_.get(), nullptr, &area, nullptr)) {
        frame = CoordinateSpace::current().toKit(DisplayRect{area.x, area.y, area.width, area.height});
    }
    item_.setWindowState(true, kWindowOcclusionStateVisible, frame);
}

}  // namespace kit::desktop

G_GNUC_END_IGNORE_DEPRECATIONS
