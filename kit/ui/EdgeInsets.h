#pragma once
// Margins in points, in the platform's order: top, left, bottom, right.

namespace kit {

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    static constexpr EdgeInsets all(double inset) { return {inset, inset, inset, inset}; }
    friend constexpr bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

}  // namespace kit
