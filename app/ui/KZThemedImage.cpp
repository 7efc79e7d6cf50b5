#include "app/ui/KZThemedImage.h"

#include <string>

kit::Image imageNamedForAppearance(std::string_view name, bool dark) {
    if (dark) {
        if (auto variant = kit::Image::named(std::string(name) + "_dark")) return variant;
    }
    return kit::Image::named(name);
}
