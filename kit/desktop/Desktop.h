#pragma once
// The desktop backend of the platform layer on GTK 3 and X11. install() puts it in place:
//   - GTK on the X11 display named by DISPLAY, whatever GDK_BACKEND asks for (the variable then
//     says x11 for this process and the ones it starts); an error naming what is missing when no
//     X display answers. A Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland)
//     runs on its XWayland display too;
//   - the GLib run loop as the main loop, unless one runs already;
//   - the GTK backend as kit::UiBackend: windows, screens, pointer, panels, clipboard;
//   - alerts as GTK dialogs, status items as StatusNotifierItems where the session bus has a
//     watcher, else in the XEmbed system tray;
//   - global monitors of mouse buttons and scrolling in other applications;
//   - global hot keys and screen capture: X11 grabs and the X screen, or on a Wayland session
//     (see services/DesktopPortal.h) the desktop portal's GlobalShortcuts and Screenshot
//     interfaces, X11 again for either the portal cannot serve.
// Call it on the main thread before any window is made. uninstall() puts the defaults back
// (the run loop stays).
//
// Where the backend finds and puts things (HOME is $HOME, else the password entry's):
//   - the web pages' extension module: QUARN_WEBKIT_EXTENSIONS_DIR, else the executable's folder's
//     "webkit-extensions" (a build), else its "../lib/quarnai" (an install);
//   - the shared web data store: HOME/Library/Application Support/QuarnAI/WebData (Cookies.sqlite,
//     WebKit's cache in Caches/);
//   - downloads staged in "<download folder>/.staging/<pid>.XXXXXX";
//   - status item icons in $XDG_RUNTIME_DIR/<application name>-status-icons;
//   - save panels open in HOME/Downloads, else HOME.
// It uses no XDG data, config or cache folder of its own.

#include <cstdint>
#include <functional>
#include <string_view>

#include "kit/base/Result.h"

typedef struct _GtkWidget GtkWidget;  // NOLINT(bugprone-reserved-identifier): GTK's own tag, declared ahead

namespace kit {
class Window;
}

namespace kit::desktop {

Status install();
void uninstall();
bool isInstalled();

// The GTK top-level of a window; nullptr when it has none (made before install()).
GtkWidget* gtkWindowFor(const Window& window);
// Frames the window has drawn so far.
std::uint64_t framesDrawn(const Window& window);
// Called after every frame any window draws (one observer; an empty function removes it).
void setFrameObserver(std::function<void(Window&)> observer);
// The icon of every window for the window manager and its switcher: the named image, with its
// "@2x" version when there is one. False when there is no such image.
bool setDefaultWindowIcon(std::string_view imageName);
// The X window id of a window, for outside tools; 0 when it is not realized.
unsigned long xWindowFor(const Window& window);

}  // namespace kit::desktop
