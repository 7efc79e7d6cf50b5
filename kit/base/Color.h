#pragma once
// An sRGB colour with alpha, components 0...1. Colours in the application are 0xRRGGBB integers
// with an optional alpha, as the host family's colour helpers take them.

#include <cstdint>

namespace kit {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static constexpr Color fromHex(std::uint32_t rgb, double alpha = 1.0) {
        return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha};
    }
    static constexpr Color clear() { return {0, 0, 0, 0}; }
    static constexpr Color white() { return {1, 1, 1, 1}; }
    static constexpr Color black() { return {0, 0, 0, 1}; }

    constexpr Color withAlpha(double a) const { return {red, green, blue, a}; }
    // 0xRRGGBB, components rounded.
    constexpr std::uint32_t hex() const {
        // Components are 0...1, where adding a half rounds; std::lround is not constexpr.
        // NOLINTNEXTLINE(bugprone-incorrect-roundings)
        auto c = [](double v) { return static_cast<std::uint32_t>(v * 255.0 + 0.5) & 0xFF; };
        return (c(red) << 16) | (c(green) << 8) | c(blue);
    }
    // Relative luminance of the sRGB components, 0 (black) to 1 (white); alpha is ignored.
    double luminance() const;
    // (lighter + 0.05) / (darker + 0.05) of two luminances: 1 for equals, 21 for black on white.
    static double contrastRatio(Color a, Color b);
    // Black or white, whichever contrasts more with the background (a shape tinted with it stays
    // readable on any background).
    static Color readableOn(Color background);

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

}  // namespace kit
