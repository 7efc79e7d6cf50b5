#pragma once
// Draws windows and views into images off screen, with the drawing code the desktop uses, for
// tests and for looking at (writeWindowPng).

#include <filesystem>

#include "kit/base/Result.h"
#include "kit/ui/Image.h"

namespace kit {

class Window;
class View;

// The window as it would appear: its background, views and title bar, with its alpha applied,
// at `scale` pixels per point. A window of zero width or height gives a null image.
Image renderWindow(Window& window, double scale = 1.0);
// One view and its subviews, in its own bounds.
Image renderView(View& view, double scale = 1.0);
Status writeWindowPng(Window& window, const std::filesystem::path& path, double scale = 1.0);

// The colour of a rendering at a point in window (or view) coordinates, origin at the bottom left.
Color colorAtPoint(const Image& rendering, Point point);

}  // namespace kit
