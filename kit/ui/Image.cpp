#include "kit/ui/Image.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>

#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"
#include "kit/base/Paths.h"
#include "kit/ui/ImageData.h"
#include "kit/ui/ImageDecoders.h"
#include "kit/ui/Screen.h"

namespace kit {

namespace {

std::shared_ptr<Image::Data> makeData(int width, int height, double scale) {
    auto data = std::make_shared<Image::Data>();
    data->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 0), std::max(height, 0));
    data->scale = scale > 0 ? scale : 1;
    return data;
}

std::shared_ptr<Image::Data> dataFromPixbuf(GdkPixbuf* pixbuf, double scale) {
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const int sourceStride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
    auto data = makeData(width, height, scale);
    cairo_surface_flush(data->surface);
    unsigned char* target = cairo_image_surface_get_data(data->surface);
    // A surface the drawing library could not make has no pixels to write to.
    if (!target || cairo_surface_status(data->surface) != CAIRO_STATUS_SUCCESS) return nullptr;
    const int targetStride = cairo_image_surface_get_stride(data->surface);
    for (int y = 0; y < height; ++y) {
        const guchar* in = source + static_cast<std::ptrdiff_t>(y) * sourceStride;
        auto* out = reinterpret_cast<std::uint32_t*>(target + static_cast<std::ptrdiff_t>(y) * targetStride);
        for (int x = 0; x < width; ++x, in += channels) {
            const unsigned a = alpha ? in[3] : 255;
            auto premultiply = [a](unsigned c) { return (c * a + 127) / 255; };
            out[x] = (a << 24) | (premultiply(in[0]) << 16) | (premultiply(in[1]) << 8) | premultiply(in[2]);
        }
    }
    cairo_surface_mark_dirty(data->surface);
    return data;
}

GdkPixbuf* pixbufFromData(const Image::Data& data) {
    cairo_surface_t* surface = data.surface;
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    if (!pixbuf) return nullptr;
    const unsigned char* source = cairo_image_surface_get_data(surface);
    const int sourceStride = cairo_image_surface_get_stride(surface);
    guchar* target = gdk_pixbuf_get_pixels(pixbuf);
    const int targetStride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(source + static_cast<std::ptrdiff_t>(y) * sourceStride);
        guchar* out = target + static_cast<std::ptrdiff_t>(y) * targetStride;
        for (int x = 0; x < width; ++x, out += 4) {
            const std::uint32_t p = in[x];
            const unsigned a = p >> 24;
            auto unpremultiply = [a](unsigned c) { return a == 0 ? 0u : std::min(255u, (c * 255 + a / 2) / a); };
            out[0] = static_cast<guchar>(unpremultiply((p >> 16) & 0xFF));
            out[1] = static_cast<guchar>(unpremultiply((p >> 8) & 0xFF));
            out[2] = static_cast<guchar>(unpremultiply(p & 0xFF));
            out[3] = static_cast<guchar>(a);
        }
    }
    return pixbuf;
}

std::map<std::string, Image, std::less<>>& namedCache() {
    static std::map<std::string, Image, std::less<>> cache;
    return cache;
}

}  // namespace

Image Image::fromDataObject(std::shared_ptr<Data> data, std::string name) {
    Image image;
    image.data_ = std::move(data);
    image.name_ = std::move(name);
    return image;
}

namespace {

struct SizeCheck {
    Image::DecodeLimits limits;
    std::string_view bytes;
    bool checkedAsSvg = false;
    int width = 0;
    int height = 0;
    bool refused = false;
    bool scaled = false;
    bool unrecognisedDocument = false;

    bool fits(int w, int h) const {
        if (w > limits.maximumSide || h > limits.maximumSide) return false;
        return limits.maximumPixels <= 0 || std::int64_t{w} * std::int64_t{h} <= limits.maximumPixels;
    }
};

// Runs when the decoder has read the image's size, before it takes memory for the pixels. A
// zero size makes the decoders stop with an error instead.
void onSizePrepared(GdkPixbufLoader* loader, int width, int height, SizeCheck& check) {
    check.width = width;
    check.height = height;
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    gchar* formatName = format ? gdk_pixbuf_format_get_name(format) : nullptr;
    const std::string name = formatName ? formatName : "";
    g_free(formatName);
    // A document that was not recognised as one before decoding has had its embedded pictures
    // decoded unchecked: it is not shown.
    check.unrecognisedDocument = name == "svg" && !check.checkedAsSvg;
    bool refuse = !check.fits(width, height) || check.unrecognisedDocument;
    const imagedecode::PixelSize shown = imagedecode::decodedSize({width, height}, check.limits);
    if (!refuse && shown != imagedecode::PixelSize{width, height}) {
        const bool scalesOnLoad = name == "svg" || (name == "jpeg" && imagedecode::isSequentialJpeg(check.bytes));
        refuse = !scalesOnLoad && check.limits.maximumWholePixels > 0 &&
                 std::int64_t{width} * height > check.limits.maximumWholePixels;
        if (!refuse) {
            gdk_pixbuf_loader_set_size(loader, shown.width, shown.height);
            check.scaled = true;
        }
    }
    if (refuse) {
        check.refused = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

Error tooLarge(int width, int height) {
    return Error{std::string(Image::kTooLargeError) + ": " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels"};
}

}  // namespace

Result<Image> Image::fromData(std::string_view bytes, DecodeLimits limits) {
    if (bytes.empty()) return Error{"empty image data"};
    if (imagedecode::isGzip(bytes)) return Error{"cannot decode image: compressed data"};
    SizeCheck check{limits, bytes};
    if (const auto png = imagedecode::pngSize(bytes)) {
        if (!check.fits(png->width, png->height)) return tooLarge(png->width, png->height);
        const imagedecode::PixelSize shown = imagedecode::decodedSize(*png, limits);
        if (shown != *png) {
            auto data = imagedecode::decodePngScaledDown(bytes, shown, limits.targetScale);
            if (!data) return Error{data.error()};
            return fromDataObject(std::move(*data));
        }
    } else if (imagedecode::looksLikeXml(bytes)) {
        auto embedded = imagedecode::checkSvgEmbeddedPictures(bytes, limits.maximumEmbeddedPixels);
        if (!embedded.ok()) return Error{embedded.error()};
        check.checkedAsSvg = true;
    }
    auto ownedLoader = GRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
    GdkPixbufLoader* loader = ownedLoader.get();
    auto sizeCheck = SignalConnection::connect(loader, "size-prepared", [&check](GdkPixbufLoader* loader, int width, int height) {
        onSizePrepared(loader, width, height, check);
    });
    GError* error = nullptr;
    // In pieces, so that a refused image stops the writing at once.
    constexpr std::size_t kPiece = std::size_t{64} * 1024;
    bool ok = true;
    for (std::size_t offset = 0; ok && !check.refused && offset < bytes.size(); offset += kPiece) {
        const std::size_t length = std::min(kPiece, bytes.size() - offset);
        ok = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data() + offset), length, &error);
    }
    // Closing is needed in every case; its error matters only when the writes went well.
    GError* closeError = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader, &closeError);
    if (ok && !closed) {
        ok = false;
        error = closeError;
        closeError = nullptr;
    }
    if (closeError) g_error_free(closeError);
    if (check.refused) {
        if (error) g_error_free(error);
        if (check.unrecognisedDocument)
            return Error{"cannot decode image: a document not recognised as one before decoding"};
        return tooLarge(check.width, check.height);
    }
    if (!ok) {
        std::string message = error ? error->message : "cannot decode image";
        if (error) g_error_free(error);
        return Error{"cannot decode image: " + message};
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (!pixbuf || gdk_pixbuf_get_width(pixbuf) <= 0 || gdk_pixbuf_get_height(pixbuf) <= 0)
        return Error{"cannot decode image: no picture in the data"};
    // A decoder that does not tell its size beforehand is checked afterwards.
    if (!check.fits(gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)))
        return tooLarge(gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf));
    auto oriented = GRef<GdkPixbuf>::adopt(gdk_pixbuf_apply_embedded_orientation(pixbuf));
    auto data = dataFromPixbuf(oriented ? oriented.get() : pixbuf, check.scaled ? limits.targetScale : 1.0);
    if (!data) return Error{"cannot decode image: no memory for its pixels"};
    return fromDataObject(std::move(data));
}

Result<Image> Image::fromData(const std::vector<std::uint8_t>& bytes, DecodeLimits limits) {
    return fromData(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), limits);
}

Result<Image> Image::fromFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Error{"cannot read image file " + path.string()};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto image = fromData(bytes);
    if (!image) return Error{image.error() + " (" + path.string() + ")"};
    return image;
}

Image Image::named(std::string_view name) {
    if (name.empty()) return {};
    // With a screen of more than one pixel per point the @2x picture is the sharp one; otherwise
    // the 1x one is, and it needs no scaling down.
    bool highResolution = false;
    for (const auto& screen : Screen::screens()) highResolution = highResolution || screen->backingScaleFactor() > 1;
    const std::string base(name);
    const std::string key = highResolution ? base + "\n@2x" : base;
    auto& cache = namedCache();
    if (auto it = cache.find(key); it != cache.end()) return it->second;

    const auto folder = paths::resourcesDirectory() / "images";
    struct Candidate {
        std::string file;
        double scale;
    };
    std::vector<Candidate> candidates{{base + ".png", 1}, {base + "@2x.png", 2}, {base, 1}};
    if (highResolution) std::swap(candidates[0], candidates[1]);
    for (const char* ext : {".jpg", ".jpeg", ".gif", ".webp", ".bmp", ".ico", ".svg"}) candidates.push_back({base + ext, 1});

    Image image;
    for (const auto& candidate : candidates) {
        std::error_code ec;
        const auto path = folder / candidate.file;
        if (!std::filesystem::is_regular_file(path, ec)) continue;
        auto loaded = fromFile(path);
        if (!loaded) continue;
        image = *loaded;
        image.data_->scale = candidate.scale;
        break;
    }
    if (image) {
        image.name_ = base;
        image.template_ = base.ends_with("Template");
    }
    cache.emplace(key, image);
    return image;
}

void Image::clearNamedCache() { namedCache().clear(); }

Image Image::blank(int pixelWidth, int pixelHeight, double scale) {
    return fromDataObject(makeData(pixelWidth, pixelHeight, scale));
}

Image Image::filled(int pixelWidth, int pixelHeight, Color color, double scale) {
    auto data = makeData(pixelWidth, pixelHeight, scale);
    cairo_t* cr = cairo_create(data->surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_paint(cr);
    cairo_destroy(cr);
    return fromDataObject(std::move(data));
}

int Image::pixelWidth() const { return data_ ? cairo_image_surface_get_width(data_->surface) : 0; }
int Image::pixelHeight() const { return data_ ? cairo_image_surface_get_height(data_->surface) : 0; }
double Image::scale() const { return data_ ? data_->scale : 1; }
Size Image::size() const { return data_ ? Size{pixelWidth() / data_->scale, pixelHeight() / data_->scale} : Size{}; }

Image Image::withTemplate(bool isTemplate) const {
    Image copy = *this;
    copy.template_ = isTemplate;
    return copy;
}

Color Image::pixelAt(int x, int y) const {
    if (!data_ || x < 0 || y < 0 || x >= pixelWidth() || y >= pixelHeight()) return Color::clear();
    cairo_surface_flush(data_->surface);
    const unsigned char* pixels = cairo_image_surface_get_data(data_->surface);
    const int stride = cairo_image_surface_get_stride(data_->surface);
    const std::uint32_t p = reinterpret_cast<const std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride)[x];
    const double a = (p >> 24) / 255.0;
    if (a == 0) return Color::clear();
    auto channel = [a](std::uint32_t c) { return std::min(1.0, (c / 255.0) / a); };
    return {channel((p >> 16) & 0xFF), channel((p >> 8) & 0xFF), channel(p & 0xFF), a};
}

Image Image::tinted(Color tint) const {
    if (!data_) return {};
    auto data = makeData(pixelWidth(), pixelHeight(), data_->scale);
    cairo_t* cr = cairo_create(data->surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, data_->surface, 0, 0);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_ATOP);
    cairo_set_source_rgba(cr, tint.red, tint.green, tint.blue, tint.alpha);
    cairo_paint(cr);
    cairo_destroy(cr);
    Image result = fromDataObject(std::move(data), name_);
    result.template_ = template_;
    return result;
}

Image Image::resized(Size size) const {
    if (!data_) return {};
    const int width = std::max(0, static_cast<int>(std::lround(size.width * data_->scale)));
    const int height = std::max(0, static_cast<int>(std::lround(size.height * data_->scale)));
    auto data = makeData(width, height, data_->scale);
    if (width > 0 && height > 0 && pixelWidth() > 0 && pixelHeight() > 0) {
        cairo_t* cr = cairo_create(data->surface);
        cairo_scale(cr, static_cast<double>(width) / pixelWidth(), static_cast<double>(height) / pixelHeight());
        cairo_set_source_surface(cr, data_->surface, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_paint(cr);
        cairo_destroy(cr);
    }
    Image result = fromDataObject(std::move(data), name_);
    result.template_ = template_;
    return result;
}

namespace {
cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}
}  // namespace

Result<std::vector<std::uint8_t>> Image::encode(ImageFormat format, int quality) const {
    if (!data_ || pixelWidth() <= 0 || pixelHeight() <= 0) return Error{"cannot encode an empty image"};
    if (format == ImageFormat::Png) {
        std::vector<std::uint8_t> bytes;
        if (cairo_surface_write_to_png_stream(data_->surface, appendBytes, &bytes) != CAIRO_STATUS_SUCCESS)
            return Error{"cannot encode PNG"};
        return bytes;
    }
    auto pixbuf = GRef<GdkPixbuf>::adopt(pixbufFromData(*data_));
    if (!pixbuf) return Error{"cannot encode image: out of memory"};
    const char* type = "png";
    std::vector<char*> keys;
    std::vector<char*> values;
    std::string qualityText = std::to_string(std::clamp(quality, 0, 100));
    if (format == ImageFormat::Jpeg) {
        type = "jpeg";
        // JPEG has no alpha: flatten over white.
        pixbuf = GRef<GdkPixbuf>::adopt(gdk_pixbuf_composite_color_simple(
            pixbuf.get(), gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get()), GDK_INTERP_NEAREST,
            255, 8, 0xFFFFFF, 0xFFFFFF));
        keys.push_back(const_cast<char*>("quality"));
        values.push_back(qualityText.data());
    } else if (format == ImageFormat::Bmp) {
        type = "bmp";
    } else if (format == ImageFormat::Ico) {
        type = "ico";
        if (pixelWidth() > 256 || pixelHeight() > 256) return Error{"cannot encode ICO larger than 256 pixels"};
    } else if (format == ImageFormat::WebP) {
        type = "webp";
        keys.push_back(const_cast<char*>("lossless"));
        values.push_back(const_cast<char*>("true"));
    }
    if (!pixbuf) return Error{"cannot encode image"};
    keys.push_back(nullptr);
    values.push_back(nullptr);
    gchar* buffer = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    const bool ok =
        gdk_pixbuf_save_to_bufferv(pixbuf.get(), &buffer, &length, type, keys.data(), values.data(), &error);
    pixbuf = {};
    if (!ok) {
        std::string message = error ? error->message : "unknown error";
        if (error) g_error_free(error);
        return Error{std::string("cannot encode ") + type + ": " + message};
    }
    std::vector<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(buffer), reinterpret_cast<std::uint8_t*>(buffer) + length);
    g_free(buffer);
    return bytes;
}

Status Image::writeToFile(const std::filesystem::path& path, ImageFormat format) const {
    auto bytes = encode(format);
    if (!bytes) return Error{bytes.error()};
    const auto temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return Error{"cannot write " + path.string()};
        out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            std::filesystem::remove(temporary, ec);
            return Error{"cannot write " + path.string()};
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return Error{"cannot write " + path.string()};
    }
    return {};
}

}  // namespace kit
