// Arbitrary text as a server's suggested file name and as a page's image data address. The name
// must come out as one bare file name (no "/", no control character, not "." or "..", not empty,
// at most 255 bytes); decoding and classification must not crash.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/web/KZAIWebView.h"
#include "app/web/KZDownloadFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = KZDownloadFolder::removingPercentEncoding(text).value_or(text);
    const std::string name = KZDownloadFolder::sanitizedFileName(decoded);
    if (name.empty() || name == "." || name == ".." || name.size() > 255) std::abort();
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F) std::abort();
    }
    (void)KZAIWebView::isImageDataAddress(text);
    (void)KZAIWebView::__canDownload(text);
    (void)KZAIWebView::__extractImageFormatFromBase64String(text);
    (void)KZAIWebView::__imageDataFromBase64String(text);
    return 0;
}
