#pragma once
// Xlib and GDK's X11 headers for the backend's sources. Xlib defines a macro named Status,
// which would replace kit::Status; it goes once the headers are in.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <gdk/gdkx.h>

#undef Status
