#include "kit/base/Color.h"

#include <algorithm>
#include <cmath>

namespace kit {

namespace {
double linear(double component) {
    return component <= 0.04045 ? component / 12.92 : std::pow((component + 0.055) / 1.055, 2.4);
}
}  // namespace

double Color::luminance() const { return 0.2126 * linear(red) + 0.7152 * linear(green) + 0.0722 * linear(blue); }

double Color::contrastRatio(Color a, Color b) {
    const double la = a.luminance();
    const double lb = b.luminance();
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Color Color::readableOn(Color background) {
    return contrastRatio(white(), background) >= contrastRatio(black(), background) ? white() : black();
}

}  // namespace kit
