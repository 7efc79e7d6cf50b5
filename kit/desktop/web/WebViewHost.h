#pragma once
// Shows the widgets of web views in the GTK windows of their kit windows. The first web view of
// a window puts an overlay between the window and its canvas; each web view then gets, on that
// overlay, a clipping box at the part of its frame that its ancestors leave visible (the widget
// inside keeps its whole size), and above it a pass-through layer that paints the kit views that
// lie over the page (loading view, error view, progress bar). Positions follow the model on every
// frame the window draws. Keys go to the page while it has the focus; what the page does not
// handle goes on to the kit window. A web view in no desktop window has its widget in the
// engine's private offscreen window.

#include <gtk/gtk.h>

#include <optional>

namespace kit {
class WebView;
}

namespace kit::desktop {

class WebViewHost {
public:
    // Puts the widget where the view is: in its window at its frame, or in `parking`.
    static void place(WebView& view, GtkWidget* widget, GtkWidget* parking);
    // Takes the widget out of any window and leaves it unparented (its engine is going).
    static void remove(GtkWidget* widget);

    // While a page's element is in full screen its widget fills its whole window.
    static void setFillsWindow(GtkWidget* widget, bool fills);

    // For tests: the part of the window (GTK coordinates, y down) where the widget shows, and the
    // widget's offset inside it; nullopt when it is in no window or not shown.
    struct Placement {
        GdkRectangle clip;
        GdkRectangle frame;
        bool paintsViewsAbove = false;
    };
    static std::optional<Placement> placementOf(GtkWidget* widget);
};

}  // namespace kit::desktop
