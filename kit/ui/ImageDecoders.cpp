#include "kit/ui/ImageDecoders.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "kit/base/Ascii.h"
#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"

namespace kit::imagedecode {

namespace {

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

const unsigned char* bytesOf(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

PixelSize decodedSize(PixelSize source, const ImageDecodeLimits& limits) {
    if (limits.targetPixelWidth <= 0 || limits.targetPixelHeight <= 0 || source.width <= 0 || source.height <= 0)
        return source;
    const double factor = std::max(static_cast<double>(limits.targetPixelWidth) / source.width,
                                   static_cast<double>(limits.targetPixelHeight) / source.height);
    if (factor >= 1) return source;
    return {std::max(1, static_cast<int>(std::lround(source.width * factor))),
            std::max(1, static_cast<int>(std::lround(source.height * factor)))};
}

bool isPng(std::string_view bytes) { return bytes.starts_with(std::string_view("\x89PNG\r\n\x1a\n", 8)); }

bool isGzip(std::string_view bytes) { return bytes.starts_with("\x1f\x8b"); }

bool looksLikeXml(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return true;  // UTF-16 text
    const auto start = bytes.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && bytes[start] == '<';
}

bool isSequentialJpeg(std::string_view bytes) {
    const unsigned char* p = bytesOf(bytes);
    const std::size_t n = bytes.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) return false;
    std::size_t i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF) return false;
        const unsigned char marker = p[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xC0 || marker == 0xC1) return true;
        // Every other start of frame: progressive, lossless, arithmetic-coded.
        if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
            i += 2;
            continue;
        }
        i += 2 + ((std::size_t{p[i + 2]} << 8) | p[i + 3]);
    }
    return false;
}

std::optional<PixelSize> pngSize(std::string_view bytes) {
    // Signature, then the IHDR chunk: length, type, width, height.
    if (!isPng(bytes) || bytes.size() < 24 || bytes.substr(12, 4) != "IHDR") return std::nullopt;
    const std::uint32_t width = bigEndian32(bytesOf(bytes) + 16);
    const std::uint32_t height = bigEndian32(bytesOf(bytes) + 20);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
    return PixelSize{static_cast<int>(width), static_cast<int>(height)};
}

// ---- PNG sampled down as it streams ------------------------------------------------------------------

namespace {

struct PngInput {
    std::string_view bytes;
    std::size_t offset = 0;
    char message[200] = {};
};

void readPngBytes(png_structp png, png_bytep out, png_size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (input->bytes.size() - input->offset < length) png_error(png, "truncated data");
    std::memcpy(out, input->bytes.data() + input->offset, length);
    input->offset += length;
}

void onPngError(png_structp png, png_const_charp message) {
    auto* input = static_cast<PngInput*>(png_get_error_ptr(png));
    std::snprintf(input->message, sizeof input->message, "%s", message ? message : "corrupt data");
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Which sample (column or row of the sampled picture) each source column or row gives, or -1:
// the source pixel nearest the middle of each sample.
std::vector<int> sampleMap(int source, int samples) {
    std::vector<int> map(static_cast<std::size_t>(source), -1);
    for (int j = 0; j < samples; ++j) {
        const auto at = static_cast<int>((j + 0.5) * source / samples);
        map[static_cast<std::size_t>(std::clamp(at, 0, source - 1))] = j;
    }
    return map;
}

struct PngSampling {
    std::vector<int> columnSample;
    std::vector<int> rowSample;
    std::vector<png_byte> row;
    unsigned char* target = nullptr;
    int targetStride = 0;
};

// Everything that owns memory lives in the caller, so that an error's jump leaves nothing
// half-destroyed behind it.
bool readSampledRows(png_structp png, png_infop info, PngSampling& sampling) {
    // libpng reports errors by jumping back here.
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    const auto width = static_cast<int>(png_get_image_width(png, info));
    const auto height = static_cast<int>(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) > sampling.row.size()) png_error(png, "unexpected row size");
    // Interlaced pictures come as seven smaller pictures, one per pass; the macros place their
    // pixels in the whole picture.
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    const int passes = interlaced ? 7 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int columns = interlaced ? static_cast<int>(PNG_PASS_COLS(width, pass)) : width;
        const int rows = interlaced ? static_cast<int>(PNG_PASS_ROWS(height, pass)) : height;
        if (columns == 0 || rows == 0) continue;
        for (int r = 0; r < rows; ++r) {
            png_read_row(png, sampling.row.data(), nullptr);
            const int y = interlaced ? static_cast<int>(PNG_ROW_FROM_PASS_ROW(r, pass)) : r;
            const int sampleRow = sampling.rowSample[static_cast<std::size_t>(y)];
            if (sampleRow < 0) continue;
            auto* out = reinterpret_cast<std::uint32_t*>(sampling.target + static_cast<std::ptrdiff_t>(sampleRow) *
                                                                               sampling.targetStride);
            for (int c = 0; c < columns; ++c) {
                const int x = interlaced ? static_cast<int>(PNG_COL_FROM_PASS_COL(c, pass)) : c;
                const int sample = sampling.columnSample[static_cast<std::size_t>(x)];
                if (sample < 0) continue;
                const png_byte* in = sampling.row.data() + static_cast<std::ptrdiff_t>(c) * 4;
                const unsigned a = in[3];
                auto premultiply = [a](unsigned v) { return (v * a + 127) / 255; };
                out[sample] = (a << 24) | (premultiply(in[0]) << 16) | (premultiply(in[1]) << 8) | premultiply(in[2]);
            }
        }
    }
    png_read_end(png, nullptr);
    return true;
}

bool hasPixels(const Image& image) { return cairo_surface_status(image.data()->surface) == CAIRO_STATUS_SUCCESS; }

}  // namespace

Result<std::shared_ptr<Image::Data>> decodePngScaledDown(std::string_view bytes, PixelSize size, double scale) {
    const auto source = pngSize(bytes);
    if (!source) return Error{"cannot decode image: no PNG header"};
    if (source->width > ImageDecodeLimits::kSurfaceSideLimit || source->height > ImageDecodeLimits::kSurfaceSideLimit)
        return Error{std::string(Image::kTooLargeError) + ": " + std::to_string(source->width) + " x " +
                     std::to_string(source->height) + " pixels"};
    if (size.width <= 0 || size.height <= 0) return Error{"cannot decode image: nothing to show"};
    // Sampled at up to twice the size, then filtered down: sharp enough without aliasing much.
    const PixelSize sampled{std::min(source->width, size.width * 2), std::min(source->height, size.height * 2)};
    const Image sampledImage = Image::blank(sampled.width, sampled.height, scale);
    if (!hasPixels(sampledImage)) return Error{"cannot decode image: no memory for its pixels"};
    const auto& samples = sampledImage.data();
    PngSampling sampling;
    sampling.columnSample = sampleMap(source->width, sampled.width);
    sampling.rowSample = sampleMap(source->height, sampled.height);
    sampling.row.resize(static_cast<std::size_t>(source->width) * 4);
    cairo_surface_flush(samples->surface);
    sampling.target = cairo_image_surface_get_data(samples->surface);
    sampling.targetStride = cairo_image_surface_get_stride(samples->surface);

    PngInput input{bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &input, onPngError, onPngWarning);
    if (!png) return Error{"cannot decode image: no memory"};
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Error{"cannot decode image: no memory"};
    }
    png_set_read_fn(png, &input, readPngBytes);
    const bool ok = readSampledRows(png, info, sampling);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) return Error{std::string("cannot decode image: ") + input.message};
    cairo_surface_mark_dirty(samples->surface);
    if (sampled == size) return samples;

    const Image shown = sampledImage.resized({size.width / samples->scale, size.height / samples->scale});
    if (!hasPixels(shown)) return Error{"cannot decode image: no memory for its pixels"};
    return shown.data();
}

// ---- Pictures embedded in SVG documents ----------------------------------------------------------------

namespace {

constexpr int kMaximumNesting = 3;

// The payload of a data address; nullopt when `value` is none.
std::optional<std::string> dataPayload(std::string_view value) {
    const auto start = value.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return std::nullopt;
    value.remove_prefix(start);
    if (value.size() < 5 || !kit::asciiEqualsIgnoringCase(value.substr(0, 5), "data:")) return std::nullopt;
    const auto comma = value.find(',');
    if (comma == std::string_view::npos) return std::string();
    const std::string_view header = value.substr(5, comma - 5);
    const std::string body(value.substr(comma + 1));
    if (header.size() >= 7 && kit::asciiEqualsIgnoringCase(header.substr(header.size() - 7), ";base64")) {
        gsize length = 0;
        guchar* decoded = g_base64_decode(body.c_str(), &length);
        std::string out(reinterpret_cast<const char*>(decoded), length);
        g_free(decoded);
        return out;
    }
    GBytes* unescaped = g_uri_unescape_bytes(body.c_str(), static_cast<gssize>(body.size()), nullptr, nullptr);
    if (!unescaped) return std::string();
    gsize length = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(unescaped, &length));
    std::string out(data ? data : "", length);
    g_bytes_unref(unescaped);
    return out;
}

// The gdk-pixbuf loader for a raster picture, known by its first bytes; nullptr for another kind.
const char* rasterType(std::string_view bytes) {
    if (isPng(bytes)) return "png";
    if (bytes.starts_with("\xFF\xD8\xFF")) return "jpeg";
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) return "gif";
    if (bytes.starts_with("RIFF") && bytes.size() >= 12 && bytes.substr(8, 4) == "WEBP") return "webp";
    if (bytes.starts_with("BM")) return "bmp";
    if (bytes.starts_with(std::string_view("\0\0\1\0", 4))) return "ico";
    if (bytes.starts_with(std::string_view("II*\0", 4)) || bytes.starts_with(std::string_view("MM\0*", 4)))
        return "tiff";
    return nullptr;
}

// The pixel count a raster picture's header states, read without decoding its pixels; 0 when the
// header cannot be read (the renderer cannot show it either).
std::int64_t rasterPixels(std::string_view bytes, const char* type) {
    auto loader = GRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new_with_type(type, nullptr));
    if (!loader) return 0;
    std::int64_t pixels = 0;
    bool told = false;
    auto connection =
        SignalConnection::connect(loader.get(), "size-prepared", [&](GdkPixbufLoader* l, int width, int height) {
            pixels = std::int64_t{width} * height;
            told = true;
            gdk_pixbuf_loader_set_size(l, 0, 0);
        });
    constexpr std::size_t kPiece = 4096;
    bool ok = true;
    for (std::size_t offset = 0; ok && !told && offset < bytes.size(); offset += kPiece) {
        const std::size_t length = std::min(kPiece, bytes.size() - offset);
        ok = gdk_pixbuf_loader_write(loader.get(), bytesOf(bytes) + offset, length, nullptr);
    }
    gdk_pixbuf_loader_close(loader.get(), nullptr);
    return pixels;
}

struct EmbeddedCount {
    std::int64_t pixels = 0;
    std::string failure;
};

void countDocument(std::string_view bytes, int nesting, EmbeddedCount& count);

void countValue(std::string_view value, int nesting, EmbeddedCount& count) {
    auto payload = dataPayload(value);
    if (!payload || payload->empty()) return;
    if (const char* type = rasterType(*payload)) {
        count.pixels += rasterPixels(*payload, type);
    } else if (looksLikeXml(*payload)) {
        countDocument(*payload, nesting + 1, count);
    } else {
        count.failure = "embedded data of an unknown kind";
    }
}

void countNode(xmlNodePtr node, xmlDocPtr doc, int nesting, EmbeddedCount& count) {
    for (; node && count.failure.empty(); node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        for (xmlAttrPtr attribute = node->properties; attribute && count.failure.empty(); attribute = attribute->next) {
            xmlChar* value = xmlNodeListGetString(doc, attribute->children, 1);
            if (!value) continue;
            countValue(reinterpret_cast<const char*>(value), nesting, count);
            xmlFree(value);
        }
        countNode(node->children, doc, nesting, count);
    }
}

// A declaration that names an outside resource (a file, a pipe, an address) is noted and left
// undeclared, so that nothing can read it; the document is refused after parsing.
void refuseExternalEntity(void* context, const xmlChar* name, int type, const xmlChar* publicId,
                          const xmlChar* systemId, xmlChar* content) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    if (publicId || systemId || type == XML_EXTERNAL_GENERAL_PARSED_ENTITY ||
        type == XML_EXTERNAL_GENERAL_UNPARSED_ENTITY || type == XML_EXTERNAL_PARAMETER_ENTITY) {
        *static_cast<bool*>(parser->_private) = true;
        return;
    }
    xmlSAX2EntityDecl(context, name, type, publicId, systemId, content);
}

void countDocument(std::string_view bytes, int nesting, EmbeddedCount& count) {
    if (nesting > kMaximumNesting) {
        count.failure = "documents nested too deeply";
        return;
    }
    if (isGzip(bytes)) {
        count.failure = "compressed document";
        return;
    }
    // Nothing outside the bytes is ever read: no external subset, no external entity (a document
    // declaring one is refused), no network. Internal entities stay references in the tree and are
    // expanded where attribute values are read, as the renderer expands them.
    xmlParserCtxtPtr parser =
        xmlCreateMemoryParserCtxt(bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), INT32_MAX)));
    if (!parser) {
        count.failure = "no memory";
        return;
    }
    bool external = false;
    parser->_private = &external;
    parser->sax->entityDecl = refuseExternalEntity;
    parser->sax->externalSubset = nullptr;
    parser->sax->resolveEntity = [](void*, const xmlChar*, const xmlChar*) -> xmlParserInputPtr { return nullptr; };
    xmlCtxtUseOptions(parser, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlParseDocument(parser);
    xmlDocPtr doc = parser->myDoc;
    parser->myDoc = nullptr;
    const bool wellFormed = parser->wellFormed != 0;
    xmlFreeParserCtxt(parser);
    if (external || !wellFormed || !doc) {
        count.failure = external ? "a document naming an outside resource" : "not a well-formed document";
        if (doc) xmlFreeDoc(doc);
        return;
    }
    countNode(xmlDocGetRootElement(doc), doc, nesting, count);
    xmlFreeDoc(doc);
}

}  // namespace

Status checkSvgEmbeddedPictures(std::string_view bytes, std::int64_t budget) {
    EmbeddedCount count;
    countDocument(bytes, 0, count);
    if (!count.failure.empty()) return Error{"cannot decode image: " + count.failure};
    if (budget > 0 && count.pixels > budget)
        return Error{std::string(Image::kTooLargeError) + ": embedded pictures of " + std::to_string(count.pixels) +
                     " pixels"};
    return {};
}

}  // namespace kit::imagedecode
