#include "kit/base/Geometry.h"

#include <algorithm>
#include <cstddef>

#include "kit/base/Value.h"

namespace kit {

Rect Rect::standardized() const {
    Rect r = *this;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

double Rect::minX() const { return standardized().origin.x; }
double Rect::midX() const {
    const Rect r = standardized();
    return r.origin.x + r.size.width / 2;
}
double Rect::maxX() const {
    const Rect r = standardized();
    return r.origin.x + r.size.width;
}
double Rect::minY() const { return standardized().origin.y; }
double Rect::midY() const {
    const Rect r = standardized();
    return r.origin.y + r.size.height / 2;
}
double Rect::maxY() const {
    const Rect r = standardized();
    return r.origin.y + r.size.height;
}

bool Rect::contains(Point p) const {
    // Unflipped: the bottom edge is outside and the top edge inside, so a point on the line
    // between two stacked rectangles belongs to exactly one of them.
    return p.x >= minX() && p.x < maxX() && p.y > minY() && p.y <= maxY();
}

bool Rect::containsPointWithMinimumEdges(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& r) const {
    if (r.isEmpty() || isEmpty()) return false;
    return r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() && r.maxY() <= maxY();
}

bool Rect::intersects(const Rect& r) const { return !intersection(r).isEmpty(); }

Rect Rect::intersection(const Rect& r) const {
    const double x0 = std::max(minX(), r.minX());
    const double x1 = std::min(maxX(), r.maxX());
    const double y0 = std::max(minY(), r.minY());
    const double y1 = std::min(maxY(), r.maxY());
    if (!(x1 > x0) || !(y1 > y0)) return Rect();
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& r) const {
    if (isEmpty()) return r.isEmpty() ? Rect() : r.standardized();
    if (r.isEmpty()) return standardized();
    const double x0 = std::min(minX(), r.minX());
    const double x1 = std::max(maxX(), r.maxX());
    const double y0 = std::min(minY(), r.minY());
    const double y1 = std::max(maxY(), r.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::insetBy(double dx, double dy) const {
    return Rect(origin.x + dx, origin.y + dy, size.width - 2 * dx, size.height - 2 * dy);
}

Rect Rect::offsetBy(double dx, double dy) const {
    return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
}

// ---- Text forms ----

std::string stringFromPoint(Point p) {
    return "{" + shortestNumberText(p.x) + ", " + shortestNumberText(p.y) + "}";
}

std::string stringFromSize(Size s) {
    return "{" + shortestNumberText(s.width) + ", " + shortestNumberText(s.height) + "}";
}

std::string stringFromRect(const Rect& r) {
    return "{" + stringFromPoint(r.origin) + ", " + stringFromSize(r.size) + "}";
}

namespace {

// Fills numbers with the decimal numbers of text, in order, skipping whatever lies between
// them; slots without a number stay 0.
template <std::size_t N>
void scanNumbers(std::string_view text, double (&numbers)[N]) {
    std::size_t found = 0;
    std::size_t i = 0;
    while (i < text.size() && found < N) {
        double value = 0;
        const std::size_t used = scanDecimalNumber(text.substr(i), value);
        if (used == 0) {
            ++i;
            continue;
        }
        numbers[found++] = value;
        i += used;
    }
}

}  // namespace

Point pointFromString(std::string_view text) {
    double n[2] = {0, 0};
    scanNumbers(text, n);
    return {n[0], n[1]};
}

Size sizeFromString(std::string_view text) {
    double n[2] = {0, 0};
    scanNumbers(text, n);
    return {n[0], n[1]};
}

Rect rectFromString(std::string_view text) {
    double n[4] = {0, 0, 0, 0};
    scanNumbers(text, n);
    return Rect(n[0], n[1], n[2], n[3]);
}

}  // namespace kit
