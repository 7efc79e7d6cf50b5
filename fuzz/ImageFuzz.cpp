// Arbitrary bytes as a picture from a server or a page, shown in a small view: a PNG goes through
// the sampler that reads it row by row, an XML document through the check of the pictures it
// embeds. Whatever decodes must have the size asked for at most; nothing may crash.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kit/ui/Image.h"
#include "kit/ui/ImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (kit::imagedecode::isPng(bytes)) {
        kit::ImageDecodeLimits limits;
        limits.maximumPixels = std::int64_t{1} << 22;
        limits.targetPixelWidth = 16;
        limits.targetPixelHeight = 16;
        limits.targetScale = 2;
        auto image = kit::Image::fromData(bytes, limits);
        if (image && image->scale() == 2 && (image->pixelWidth() > 16 && image->pixelHeight() > 16)) std::abort();
    } else if (kit::imagedecode::looksLikeXml(bytes)) {
        (void)kit::imagedecode::checkSvgEmbeddedPictures(bytes, std::int64_t{1} << 20);
    }
    return 0;
}
