#pragma once
// An immutable bitmap image, shared cheaply by value (copies share the pixels). A default
// image is null ("no image"). Pixels are kept premultiplied ARGB; sizes are in points, pixels
// divided by the image's scale (2 for "@2x" files).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Result.h"

namespace kit {

enum class ImageFormat { Png, Jpeg, Bmp, Ico, WebP };

// What a decoder accepts. The side limit is the drawing library's largest surface; an image
// beyond it, or above the pixel budget (0: none), is refused as soon as its header is read,
// before any pixel memory is taken.
//
// With a target size (the pixels it is shown at: points times the screen's scale) a larger
// picture is decoded scaled down, proportions kept, to just cover the target, and gets
// `targetScale` as its scale. PNG pictures are sampled down as they stream and SVG documents are
// rendered at that size; JPEG pictures with sequential frames scale on load; a picture of
// another kind must be decoded whole first, so it may then have at most `maximumWholePixels`.
//
// An SVG document's embedded pictures are decoded at their own size whatever the document is
// drawn at: together they may have at most `maximumEmbeddedPixels` (0: no limit), and a
// document embedding data of a kind that cannot be checked is refused.
struct ImageDecodeLimits {
    static constexpr int kSurfaceSideLimit = 32767;
    int maximumSide = kSurfaceSideLimit;
    std::int64_t maximumPixels = 0;
    int targetPixelWidth = 0;
    int targetPixelHeight = 0;
    double targetScale = 1;
    std::int64_t maximumWholePixels = std::int64_t{8} << 20;
    std::int64_t maximumEmbeddedPixels = std::int64_t{4} << 20;
};

class Image {
public:
    Image() = default;

    // A named image of the application: resourcesDirectory()/images/<name>.png (or "@2x.png",
    // or any decodable file <name>.<ext>). Null when there is none; results are cached.
    static Image named(std::string_view name);
    static void clearNamedCache();

    using DecodeLimits = ImageDecodeLimits;
    // The start of the error text of a refused image.
    static constexpr std::string_view kTooLargeError = "image too large";

    // Decodes PNG, JPEG, GIF (first frame), WebP, ICO (largest entry), BMP and whatever else the
    // image loaders know. Errors for corrupt, truncated, empty or too large input.
    static Result<Image> fromData(const std::vector<std::uint8_t>& bytes, DecodeLimits limits = {});
    static Result<Image> fromData(std::string_view bytes, DecodeLimits limits = {});
    static Result<Image> fromFile(const std::filesystem::path& path);
    // A transparent image of the given pixel size.
    static Image blank(int pixelWidth, int pixelHeight, double scale = 1.0);
    // An image filled with one colour.
    static Image filled(int pixelWidth, int pixelHeight, Color color, double scale = 1.0);

    bool isNull() const { return data_ == nullptr; }
    explicit operator bool() const { return !isNull(); }

    Size size() const;
    int pixelWidth() const;
    int pixelHeight() const;
    double scale() const;

    // Template images are tinted by the views that show them (the platform's template flag).
    bool isTemplate() const { return template_; }
    Image withTemplate(bool isTemplate) const;
    // The name it was loaded by; empty otherwise.
    const std::string& name() const { return name_; }

    // The colour of a pixel, not premultiplied; (0, 0) is the top-left pixel. Clear outside.
    Color pixelAt(int x, int y) const;

    // A new image: the receiver drawn, then `tint` filled over it with source-atop compositing,
    // so every pixel keeps its own opacity. The receiver is unchanged.
    Image tinted(Color tint) const;
    // A new image drawn into the given size in points (same scale), smoothly filtered.
    Image resized(Size size) const;

    // Encodes the image. JPEG drops the alpha channel over white.
    Result<std::vector<std::uint8_t>> encode(ImageFormat format = ImageFormat::Png, int quality = 90) const;
    Status writeToFile(const std::filesystem::path& path, ImageFormat format = ImageFormat::Png) const;

    // Same pixels object.
    bool sharesPixelsWith(const Image& other) const { return data_ == other.data_; }

    // For drawing code: the shared pixel store.
    struct Data;
    const std::shared_ptr<Data>& data() const { return data_; }
    static Image fromDataObject(std::shared_ptr<Data> data, std::string name = {});

private:
    std::shared_ptr<Data> data_;
    bool template_ = false;
    std::string name_;
};

}  // namespace kit
