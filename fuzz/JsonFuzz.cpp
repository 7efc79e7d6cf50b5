// Arbitrary bytes as JSON text; what reads must write, read back and write the same text again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = kit::parseJson(text);
    if (!parsed.ok()) {
        if (parsed.error().empty()) std::abort();
        return 0;
    }
    (void)kit::describe(*parsed);
    for (const kit::JsonWriteOptions options : {kit::JsonWriteOptions{}, kit::JsonWriteOptions{true, true}}) {
        const std::string written = kit::toJson(*parsed, options);
        auto again = kit::parseJson(written);
        if (!again.ok()) {
            std::fprintf(stderr, "written JSON does not read back: %s\n", again.error().c_str());
            std::abort();
        }
        if (kit::toJson(*again, options) != written) {
            std::fprintf(stderr, "JSON changed on a second round trip: %s\n", written.c_str());
            std::abort();
        }
    }
    // Null has no property-list form; everything else must write.
    (void)kit::propertyListXml(*parsed);
    return 0;
}
