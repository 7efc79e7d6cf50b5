#pragma once
// Draws views with cairo: a view's layer (shadow, background, border, corner clipping, mask), its own
// drawing and its subviews, recursively. Both backends draw windows with it.

#include "kit/base/Geometry.h"

namespace kit {

class View;
class Window;
class GraphicsContext;

// Draws `view` and its subviews into a context whose origin and y direction are those of the
// view's superview (the window's base coordinates for a top view).
void drawViewTree(View& view, GraphicsContext& context);

// Draws a whole window (background, views, title bar) into a context of the window's size, in
// the window's base coordinates (y up).
void drawWindow(Window& window, GraphicsContext& context);

}  // namespace kit
