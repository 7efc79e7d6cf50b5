// Arbitrary bytes as a property list; what reads must write as XML, read back, and write the
// same XML again, and must also write as JSON that reads back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = kit::parsePropertyList(bytes);
    if (!parsed.ok()) {
        if (parsed.error().empty()) std::abort();
        return 0;
    }
    (void)kit::describe(*parsed);
    auto json = kit::parseJson(kit::toJson(*parsed));
    if (!json.ok()) {
        std::fprintf(stderr, "JSON of a property list does not read back: %s\n", json.error().c_str());
        std::abort();
    }
    auto xml = kit::propertyListXml(*parsed);
    if (!xml.ok()) return 0;  // e.g. a binary string holding a NUL character
    auto again = kit::parsePropertyList(*xml);
    if (!again.ok()) {
        std::fprintf(stderr, "written XML does not read back: %s\n", again.error().c_str());
        std::abort();
    }
    auto xmlAgain = kit::propertyListXml(*again);
    if (!xmlAgain.ok() || *xmlAgain != *xml) {
        std::fprintf(stderr, "XML changed on a second round trip\n");
        std::abort();
    }
    return 0;
}
