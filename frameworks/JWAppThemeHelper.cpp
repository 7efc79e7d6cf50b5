#include "frameworks/JWAppThemeHelper.h"

#include "kit/base/NotificationCenter.h"

namespace {

struct PaletteEntry {
    int index;
    kit::Color light;
    kit::Color dark;
};

constexpr kit::Color hex(std::uint32_t rgb, double alpha = 1.0) { return kit::Color::fromHex(rgb, alpha); }

// 3 accent, 10 icon-and-text titles, 11 text, 12 pressed text, 14 pressed fill, 15 hover fill and
// borders, 18 and 19 hover and pressed fills of icon buttons.
constexpr PaletteEntry kPalette[] = {
    {3, hex(0x07A36F), hex(0x58CE9B)},
    {10, hex(0x333333), hex(0xE6E6E6)},
    {11, hex(0x1F1F1F), hex(0xF2F2F2)},
    {12, hex(0x666666), hex(0xB3B3B3)},
    {14, hex(0xE5E5E5), hex(0x3D3D3D)},
    {15, hex(0xF0F0F0), hex(0x333333)},
    {18, hex(0x000000, 0.06), hex(0xFFFFFF, 0.08)},
    {19, hex(0x000000, 0.12), hex(0xFFFFFF, 0.16)},
};

struct ThemeState {
    kit::AppearancePreference appearance = kit::AppearancePreference::System;
    bool systemDark = false;
};

ThemeState& state() {
    static ThemeState s;
    return s;
}

const PaletteEntry& entry(int index) {
    for (const auto& e : kPalette)
        if (e.index == index) return e;
    return kPalette[2];
}

template <class Change>
void changeNotifying(Change change) {
    bool before = JWAppThemeHelper::isDarkMode();
    change();
    if (JWAppThemeHelper::isDarkMode() != before)
        kit::NotificationCenter::defaultCenter().post(JWAppThemeHelper::kAppearanceDidChangeNotification);
}

}  // namespace

void JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference appearance) {
    changeNotifying([&] { state().appearance = appearance; });
}

kit::AppearancePreference JWAppThemeHelper::applicationAppearance() { return state().appearance; }

void JWAppThemeHelper::setSystemDarkMode(bool dark) {
    changeNotifying([&] { state().systemDark = dark; });
}

bool JWAppThemeHelper::systemDarkMode() { return state().systemDark; }

bool JWAppThemeHelper::isDarkMode() {
    switch (state().appearance) {
        case kit::AppearancePreference::Light: return false;
        case kit::AppearancePreference::Dark: return true;
        case kit::AppearancePreference::System: break;
    }
    return state().systemDark;
}

kit::Color JWAppThemeHelper::getColor(int index) { return getColor(index, false); }

kit::Color JWAppThemeHelper::getColor(int index, bool lightModeOnly) {
    const auto& e = entry(index);
    return (!lightModeOnly && isDarkMode()) ? e.dark : e.light;
}

kit::Color JWAppThemeHelper::getAiTitleColor() { return isDarkMode() ? hex(0xF2F2F2) : hex(0x1F1F1F); }

kit::Color JWAppThemeHelper::getAiTipTextColor() { return isDarkMode() ? hex(0xA6A6A6) : hex(0x666666); }

kit::Color JWAppThemeHelper::divideLineColor() {
    return isDarkMode() ? hex(0xFFFFFF, 0.1) : hex(0xE6E6E6);
}

bool JWAppThemeHelper::isKnownColorIndex(int index) {
    for (const auto& e : kPalette)
        if (e.index == index) return true;
    return false;
}

void JWAppThemeHelper::resetForTesting() { state() = ThemeState{}; }
