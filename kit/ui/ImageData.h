#pragma once
// Internal to kit/ui and the backends: the pixel store behind kit::Image.

#include <cairo.h>

#include "kit/ui/Image.h"

namespace kit {

struct Image::Data {
    cairo_surface_t* surface = nullptr;
    double scale = 1;
    Data() = default;
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    ~Data() {
        if (surface) cairo_surface_destroy(surface);
    }
};

}  // namespace kit
