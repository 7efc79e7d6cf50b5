#pragma once
// The one place where the platform's global coordinates (points, origin at the bottom left of
// the main screen, y up) meet the display's (origin at the top left of the root window, y down).

#include "kit/base/Geometry.h"

namespace kit::desktop {

// A rectangle on the display, in GDK's logical pixels.
struct DisplayRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const DisplayRect&, const DisplayRect&) = default;
};

class CoordinateSpace {
public:
    CoordinateSpace() = default;
    // `mainScreen`: where the main screen lies on the display.
    explicit CoordinateSpace(DisplayRect mainScreen) : main_(mainScreen) {}

    DisplayRect mainScreen() const { return main_; }

    Rect toKit(const DisplayRect& rect) const;
    Point toKit(double displayX, double displayY) const;
    // Edges are rounded to whole pixels, so adjacent rectangles stay adjacent; a width or height
    // of zero stays zero.
    DisplayRect toDisplay(const Rect& rect) const;
    // Display coordinates, unrounded.
    Point toDisplay(Point point) const;

    // The space of the screens the backend reported last.
    static const CoordinateSpace& current();
    static void setCurrent(const CoordinateSpace& space);

private:
    DisplayRect main_;
};

}  // namespace kit::desktop
