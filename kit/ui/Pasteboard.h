#pragma once
// The general pasteboard as a model: strings and images under type names, with the platform's
// change count. The backend is told of every change (the desktop one mirrors it to the
// clipboard).

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/ui/BackendBadge.h"
#include "kit/ui/Image.h"

namespace kit {

inline constexpr const char* kPasteboardTypeString = "public.utf8-plain-text";
inline constexpr const char* kPasteboardTypePNG = "public.png";
inline constexpr const char* kPasteboardTypeTIFF = "public.tiff";
inline constexpr const char* kPasteboardTypeFileURL = "public.file-url";

class Pasteboard {
public:
    static Pasteboard& general();

    // Empties the pasteboard; answers the new change count.
    long clearContents();
    long changeCount() const { return changeCount_; }

    // Adds a string (to what is there since the last clearContents()).
    bool setString(std::string text, const std::string& type = kPasteboardTypeString);
    std::optional<std::string> stringForType(const std::string& type = kPasteboardTypeString) const;
    // Adds an image, stored as PNG data.
    bool writeImage(const Image& image);
    // The first image on the pasteboard (PNG or TIFF data, or any decodable data).
    Image readImage() const;
    bool setData(std::vector<std::uint8_t> data, const std::string& type);
    std::optional<std::vector<std::uint8_t>> dataForType(const std::string& type) const;
    std::vector<std::string> types() const;

    // For backends: replaces the contents with what the desktop's clipboard holds.
    void replaceContents(BackendBadge, std::map<std::string, std::vector<std::uint8_t>> items);

private:
    void changed();
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> items_;
    long changeCount_ = 0;
};

}  // namespace kit
