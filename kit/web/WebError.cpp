#include "kit/web/WebError.h"

namespace kit {

std::string WebError::description() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription + "\"";
}

}  // namespace kit
