#pragma once
// Internal to kit/ui: decoding pictures at the size they are shown. A PNG larger than that is
// read row by row and sampled down as it streams, so its full-size pixels never exist; an SVG
// document is checked for the pictures it embeds before it is rendered (the renderer decodes
// those at their own size, whatever size the document is drawn at).

#include <cstdint>
#include <memory>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/ui/Image.h"
#include "kit/ui/ImageData.h"

namespace kit::imagedecode {

struct PixelSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The size a picture of `source` pixels is decoded at: scaled down, proportions kept, just enough
// to cover the target of `limits`; the source size when there is no target or the picture is
// not larger.
PixelSize decodedSize(PixelSize source, const ImageDecodeLimits& limits);

bool isPng(std::string_view bytes);
bool isGzip(std::string_view bytes);
// Text starting with "<" (after a byte-order mark and white space): an XML document, an SVG
// picture perhaps.
bool looksLikeXml(std::string_view bytes);
// A JPEG whose frame is sequential (baseline or extended): its decoder scales on load without
// holding the whole picture. Progressive frames keep every coefficient of the picture.
bool isSequentialJpeg(std::string_view bytes);
// The size a PNG's header states; nullopt when there is no readable header.
std::optional<PixelSize> pngSize(std::string_view bytes);

// Decodes a PNG at `size` (smaller than the picture), with the given image scale.
Result<std::shared_ptr<Image::Data>> decodePngScaledDown(std::string_view bytes, PixelSize size, double scale);

// Refuses (with an error starting with Image::kTooLargeError) an SVG document whose embedded
// pictures have more than `budget` pixels together, counting those of the SVG documents it
// embeds; refuses as undecodable a document that is not well-formed or that embeds data of a
// kind that cannot be checked.
Status checkSvgEmbeddedPictures(std::string_view bytes, std::int64_t budget);

}  // namespace kit::imagedecode
