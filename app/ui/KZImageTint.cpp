#include "app/ui/KZImageTint.h"

kit::Image imageWithTintColor(const kit::Image& image, kit::Color tint) {
    if (image.isNull()) return {};
    return image.tinted(tint);
}
