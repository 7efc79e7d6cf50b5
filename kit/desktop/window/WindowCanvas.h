#pragma once
// The widget that fills every desktop window: a drawing area that the window peer paints and
// takes events on, whose accessible object lists the accessible views of the kit window (label,
// role, extents on screen and the press action) as its children.

#include <gtk/gtk.h>

#include <string_view>

namespace kit {
class Window;
}

namespace kit::desktop {

GtkWidget* newWindowCanvas(kit::Window* window);
// Forgets the window (it is going away); the accessible then has no children.
void windowCanvasDetach(GtkWidget* canvas);
// The accessible views may have changed; they are collected again on the next request.
void windowCanvasAccessibilityChanged(GtkWidget* canvas);

// The ATK role of a view's accessibility role ("button", "AXButton", "text", ...).
AtkRole atkRoleForAccessibilityRole(std::string_view role);

}  // namespace kit::desktop
