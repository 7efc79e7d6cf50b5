#pragma once
// Named images with a dark-appearance variant: "<name>_dark" when the dark theme is on and such
// an image exists, "<name>" otherwise (the platform's asset catalogues pick the same way).

#include <string_view>

#include "kit/ui/Image.h"

kit::Image imageNamedForAppearance(std::string_view name, bool dark);

// Whether `image` is the named image `name` in the variant of either appearance (a tinted or
// resized copy keeps the name it was loaded by).
bool isImageNamedForAppearance(const kit::Image& image, std::string_view name);
