#pragma once
// Tinting images (the image category KZColor).

#include "kit/base/Color.h"
#include "kit/ui/Image.h"

// A new image: `image` with `tint` laid over it by source-atop compositing, so every pixel keeps
// its own opacity. An opaque tint replaces the colour of every visible pixel; a partly
// transparent one is blended over it. The receiver is unchanged; a null image gives a null one.
kit::Image imageWithTintColor(const kit::Image& image, kit::Color tint);
