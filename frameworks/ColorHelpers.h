#pragma once
// Colour constructors of the host family's interface framework.

#include <cstdint>

#include "kit/base/Color.h"

// The opaque colour of 0xRRGGBB.
inline kit::Color colorWithHex(std::uint32_t rgb) { return kit::Color::fromHex(rgb); }
// The colour of 0xRRGGBB with an alpha, clamped to 0...1.
inline kit::Color colorWithHex(std::uint32_t rgb, double alpha) {
    if (!(alpha >= 0)) alpha = 0;  // NaN too
    if (alpha > 1) alpha = 1;
    return kit::Color::fromHex(rgb, alpha);
}
// The theme's accent green.
inline kit::Color intlGreenColor() { return kit::Color::fromHex(0x07A36F); }
