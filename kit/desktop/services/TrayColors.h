#pragma once
// The colours an XEmbed tray shows its icons on. A tray may publish the colour it wants icons
// drawn in (_NET_SYSTEM_TRAY_COLORS on the window that owns its selection); most do not, and then
// the panel's own pixels say what the icon stands on. Main thread; X11 displays only.

#include <optional>
#include <vector>

#include "kit/base/Color.h"
#include "kit/desktop/X11.h"

namespace kit::desktop {

// The foreground colour the tray of the screen publishes for its icons; nullopt when there is no
// tray or it publishes none.
std::optional<Color> publishedTrayForeground(Display* display, int screen);

// The windows that hold `window`, from its parent up to the root window's child; nothing when the
// server cannot say (the window went).
std::optional<std::vector<::Window>> windowsHolding(Display* display, ::Window window);

// The tray's window that holds an icon's X window (not a window manager's frame around it).
::Window trayWindowHolding(Display* display, ::Window icon);
// The same among the windows that hold the icon, as windowsHolding found them.
::Window trayWindowAmong(Display* display, ::Window icon, const std::vector<::Window>& holders);

// The colour behind an icon: the commonest brightness among the pixels of the tray's window that
// holds the icon's X window, outside the icon itself; nullopt when they cannot be read (not
// embedded, not mapped).
std::optional<Color> trayBackgroundBehind(Display* display, ::Window icon);

// The tint for a shape-only (template) icon in that tray: the published foreground, else black or
// white by the better contrast with the background, else nullopt.
std::optional<Color> trayTemplateTint(Display* display, int screen, ::Window icon);

}  // namespace kit::desktop
