#pragma once
// Points, sizes and rectangles in points, origin at the bottom left, y up, with the platform's
// text forms: "{x, y}", "{w, h}", "{{x, y}, {w, h}}".

#include <string>
#include <string_view>

namespace kit {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(Point o, Size s) : origin(o), size(s) {}
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

    double minX() const;
    double midX() const;
    double maxX() const;
    double minY() const;
    double midY() const;
    double maxY() const;
    double width() const { return size.width; }
    double height() const { return size.height; }
    // Zero or negative width or height.
    bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
    // Origin and size with negative sizes flipped to positive.
    Rect standardized() const;
    // Half-open containment, as the platform's mouse-in-rect for an unflipped view.
    bool contains(Point p) const;
    // The platform's point-in-rect: the minimum edges inside, the maximum edges outside, so a
    // point on the line between two stacked rectangles belongs to the upper one.
    bool containsPointWithMinimumEdges(Point p) const;
    bool contains(const Rect& r) const;
    bool intersects(const Rect& r) const;
    // The overlap; an all-zero rectangle when there is none.
    Rect intersection(const Rect& r) const;
    // The smallest rectangle holding both; an empty one is ignored.
    Rect unionWith(const Rect& r) const;
    Rect insetBy(double dx, double dy) const;
    Rect offsetBy(double dx, double dy) const;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Text forms. Numbers print without decimals when whole ("{400, 324}"), else in the shortest
// form that reads back the same.
std::string stringFromPoint(Point p);
std::string stringFromSize(Size s);
std::string stringFromRect(const Rect& r);

// Lenient parsing: numbers are taken in order wherever they appear; missing ones are 0. Garbage
// gives zeros, never an error.
Point pointFromString(std::string_view text);
Size sizeFromString(std::string_view text);
Rect rectFromString(std::string_view text);

}  // namespace kit
