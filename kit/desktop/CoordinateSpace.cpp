#include "kit/desktop/CoordinateSpace.h"

#include <cmath>

namespace kit::desktop {

namespace {
CoordinateSpace& currentSlot() {
    static CoordinateSpace space;
    return space;
}

int roundEdge(double value) { return static_cast<int>(std::lround(value)); }
}  // namespace

Rect CoordinateSpace::toKit(const DisplayRect& rect) const {
    const double bottom = main_.y + main_.height;
    return {static_cast<double>(rect.x - main_.x), bottom - (rect.y + rect.height), static_cast<double>(rect.width),
            static_cast<double>(rect.height)};
}

Point CoordinateSpace::toKit(double displayX, double displayY) const {
    return {displayX - main_.x, main_.y + main_.height - displayY};
}

DisplayRect CoordinateSpace::toDisplay(const Rect& rect) const {
    const Rect r = rect.standardized();
    const double bottom = main_.y + main_.height;
    const int left = roundEdge(main_.x + r.minX());
    const int right = roundEdge(main_.x + r.maxX());
    const int top = roundEdge(bottom - r.maxY());
    const int lower = roundEdge(bottom - r.minY());
    return {left, top, right - left, lower - top};
}

Point CoordinateSpace::toDisplay(Point point) const { return {main_.x + point.x, main_.y + main_.height - point.y}; }

const CoordinateSpace& CoordinateSpace::current() { return currentSlot(); }

void CoordinateSpace::setCurrent(const CoordinateSpace& space) { currentSlot() = space; }

}  // namespace kit::desktop
