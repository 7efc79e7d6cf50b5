#include "kit/ui/Pasteboard.h"

#include <algorithm>

#include "kit/ui/Backend.h"

namespace kit {

Pasteboard& Pasteboard::general() {
    static Pasteboard pasteboard;
    return pasteboard;
}

long Pasteboard::clearContents() {
    items_.clear();
    changed();
    return changeCount_;
}

void Pasteboard::changed() {
    ++changeCount_;
    UiBackend::current().pasteboardDidChange(*this);
}

bool Pasteboard::setData(std::vector<std::uint8_t> data, const std::string& type) {
    if (type.empty()) return false;
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& item) { return item.first == type; });
    if (it != items_.end()) {
        it->second = std::move(data);
    } else {
        items_.emplace_back(type, std::move(data));
    }
    changed();
    return true;
}

std::optional<std::vector<std::uint8_t>> Pasteboard::dataForType(const std::string& type) const {
    for (const auto& item : items_) {
        if (item.first == type) return item.second;
    }
    return std::nullopt;
}

bool Pasteboard::setString(std::string text, const std::string& type) {
    return setData(std::vector<std::uint8_t>(text.begin(), text.end()), type);
}

std::optional<std::string> Pasteboard::stringForType(const std::string& type) const {
    auto data = dataForType(type);
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
}

bool Pasteboard::writeImage(const Image& image) {
    auto png = image.encode(ImageFormat::Png);
    if (!png) return false;
    return setData(std::move(*png), kPasteboardTypePNG);
}

Image Pasteboard::readImage() const {
    for (const char* type : {kPasteboardTypePNG, kPasteboardTypeTIFF}) {
        if (auto data = dataForType(type)) {
            if (auto image = Image::fromData(*data)) return *image;
        }
    }
    return {};
}

std::vector<std::string> Pasteboard::types() const {
    std::vector<std::string> names;
    for (const auto& item : items_) names.push_back(item.first);
    return names;
}

void Pasteboard::replaceContents(BackendBadge, std::map<std::string, std::vector<std::uint8_t>> items) {
    items_.assign(items.begin(), items.end());
    ++changeCount_;
}

}  // namespace kit
