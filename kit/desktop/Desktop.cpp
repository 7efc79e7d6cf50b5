#include "kit/desktop/Desktop.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <string_view>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/GtkBackend.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/capture/PortalScreenCapture.h"
#include "kit/desktop/capture/ScreenCaptureX11.h"
#include "kit/desktop/dnd/DragWatch.h"
#include "kit/desktop/services/DesktopPortal.h"
#include "kit/desktop/services/PortalGlobalHotKeys.h"
#include "kit/desktop/services/StatusNotifierItem.h"
#include "kit/desktop/services/X11GlobalHotKeys.h"
#include "kit/desktop/window/Dialogs.h"
#include "kit/desktop/window/GtkWindowPeer.h"
#include "kit/desktop/window/OutsideEvents.h"
#include "kit/sys/GlobalDragMonitor.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/sys/ScreenCapture.h"
#include "kit/ui/Alert.h"
#include "kit/ui/Image.h"
#include "kit/ui/StatusItem.h"

namespace kit::desktop {

namespace {

struct Installation {
    std::shared_ptr<GtkBackend> backend;
    std::shared_ptr<GlobalHotKeys> hotKeys;
    std::unique_ptr<OutsideEvents> outsideEvents;
    std::shared_ptr<ScreenCapture> screenCapture;
    std::shared_ptr<DragWatch> dragWatch;
};

std::unique_ptr<Installation>& installation() {
    static std::unique_ptr<Installation> current;
    return current;
}

// Why GTK could not open the X display, in the words of what is missing.
std::string noDisplayReason() {
    const char* display = g_getenv("DISPLAY");
    if (!display || !*display) {
        return "no X11 display: DISPLAY is not set (the desktop backend needs X11; on a Wayland session it runs "
               "on XWayland, which sets DISPLAY)";
    }
    return std::string("cannot open the X11 display \"") + display +
           "\" that DISPLAY names (no X server or XWayland answers there, or it refuses this user)";
}

}  // namespace

Status install() {
    if (installation()) return Status::success();
    // The backend speaks X11 directly (grabs, raw input, tray): no other GDK backend will do,
    // whatever GDK_BACKEND asks for (some Wayland sessions set it; XWayland serves them). The web
    // engine's processes open GTK as well and must reach the same display, so the variable says
    // X11 for them too.
    gdk_set_allowed_backends("x11");
    if (const char* asked = g_getenv("GDK_BACKEND"); asked && std::string_view(asked) != "x11") {
        logf("GDK_BACKEND=%s: the desktop backend runs on X11 (XWayland on a Wayland session)", asked);
        g_setenv("GDK_BACKEND", "x11", TRUE);
    }
    if (!gtk_init_check(nullptr, nullptr)) return Error{noDisplayReason()};
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) return Error{"the desktop backend needs an X11 display"};

    auto main = RunLoop::mainShared();
    if (dynamic_cast<VirtualRunLoop*>(main.get())) RunLoop::setMain(makeGlibRunLoop());

    auto state = std::make_unique<Installation>();
    state->backend = std::make_shared<GtkBackend>(display);
    UiBackend::install(state->backend);
    state->backend->refreshScreens();

    // On a Wayland session X grabs and the X root window see only XWayland's windows: hot keys
    // and capture go through the desktop portal there.
    const bool wayland = portal::isWaylandSession();
    if (wayland) {
        logLine("A Wayland session: global hot keys and screen capture go through the desktop portal");
        if (auto hotKeys = PortalGlobalHotKeys::make()) {
            state->hotKeys = std::move(*hotKeys);
        } else {
            logf("Global hot keys fall back to X key grabs: %s", hotKeys.error().c_str());
        }
        if (auto capture = PortalScreenCapture::make()) {
            state->screenCapture = std::move(*capture);
        } else {
            logf("Screen capture falls back to the X screen: %s", capture.error().c_str());
        }
    }
    if (!state->hotKeys) state->hotKeys = std::make_shared<X11GlobalHotKeys>(display);
    GlobalHotKeys::setShared(state->hotKeys);

    if (auto events = OutsideEvents::start(display)) {
        state->outsideEvents = std::move(*events);
    } else {
        logf("Global mouse monitors are unavailable: %s", events.error().c_str());
    }

    if (!state->screenCapture) state->screenCapture = std::make_shared<ScreenCaptureX11>(display);
    ScreenCapture::setShared(state->screenCapture);
    if (auto watch = DragWatch::make(display)) {
        state->dragWatch = std::move(*watch);
        GlobalDragMonitor::setShared(state->dragWatch);
    } else {
        logf("File drags in other applications cannot be followed: %s", watch.error().c_str());
    }

    Alert::setPresenter([](const Alert& alert) { return runAlert(alert); });
    StatusBar::system().setPeerFactory([](StatusItem& item) { return std::make_unique<DesktopStatusItemPeer>(item); });
    installation() = std::move(state);
    return Status::success();
}

void uninstall() {
    auto state = std::move(installation());
    if (!state) return;
    StatusBar::system().setPeerFactory({});
    Alert::setPresenter({});
    state->outsideEvents.reset();
    if (state->dragWatch) {
        state->dragWatch->stop();
        if (GlobalDragMonitor::installedShared() == state->dragWatch) GlobalDragMonitor::setShared(nullptr);
    }
    if (ScreenCapture::installedShared() == state->screenCapture) ScreenCapture::setShared(nullptr);
    if (GlobalHotKeys::sharedPointer() == state->hotKeys) GlobalHotKeys::setShared(nullptr);
    state->hotKeys->unregisterAll();
    if (&UiBackend::current() == state->backend.get()) UiBackend::uninstall();
}

bool isInstalled() { return installation() != nullptr; }

bool setDefaultWindowIcon(std::string_view imageName) {
    GList* icons = nullptr;
    const std::string name(imageName);
    for (const std::string& variant : {name, name + "@2x"}) {
        if (GdkPixbuf* pixbuf = pixbufFromImage(Image::named(variant))) icons = g_list_append(icons, pixbuf);
    }
    if (!icons) return false;
    gtk_window_set_default_icon_list(icons);
    g_list_free_full(icons, g_object_unref);
    return true;
}

GtkWidget* gtkWindowFor(const Window& window) {
    auto* peer = GtkWindowPeer::forWindow(window);
    return peer ? peer->gtkWindow() : nullptr;
}

std::uint64_t framesDrawn(const Window& window) {
    auto* peer = GtkWindowPeer::forWindow(window);
    return peer ? peer->framesDrawn() : 0;
}

void setFrameObserver(std::function<void(Window&)> observer) { GtkWindowPeer::setFrameObserver(std::move(observer)); }

unsigned long xWindowFor(const Window& window) {
    GtkWidget* widget = gtkWindowFor(window);
    if (!widget) return 0;
    GdkWindow* gdkWindow = gtk_widget_get_window(widget);
    return gdkWindow ? GDK_WINDOW_XID(gdkWindow) : 0;
}

}  // namespace kit::desktop
