#include "app/ui/KZThemedImage.h"

#include <string>

namespace {
constexpr std::string_view kDarkSuffix = "_dark";
}

kit::Image imageNamedForAppearance(std::string_view name, bool dark) {
    if (dark) {
        if (auto variant = kit::Image::named(std::string(name) + std::string(kDarkSuffix))) return variant;
    }
    return kit::Image::named(name);
}

bool isImageNamedForAppearance(const kit::Image& image, std::string_view name) {
    const std::string_view shown = image.name();
    if (image.isNull() || name.empty()) return false;
    if (shown == name) return true;
    return shown.size() == name.size() + kDarkSuffix.size() && shown.starts_with(name) && shown.ends_with(kDarkSuffix);
}
