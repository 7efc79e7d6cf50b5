#pragma once
// The edge of a borderless window's white surface: where nothing draws a shadow under windows
// (a display without a compositor), white on a white page shows no edge at all, so the surface
// gets a 1-point border in the theme's divider colour; with shadows it has none.
//
// Main thread only.

#include <memory>

namespace kit {
class View;
}

// Sets or clears the border of the surface's layer for the display and appearance of now.
void KZApplyWindowEdge(kit::View& surface);
// Applies it now and again whenever the appearance or the display's shadows change, for as long
// as `owner` lives (the observations are registered under it).
void KZKeepWindowEdge(const std::shared_ptr<kit::View>& surface, const std::shared_ptr<const void>& owner);
