#include "peers/common/PeerAction.h"

#include "kit/base/Json.h"

namespace peers {

std::string_view textAfterWords(std::string_view line, std::size_t count) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 0;
    for (std::size_t word = 0; word < count; ++word) {
        while (i < line.size() && isBlank(line[i])) ++i;
        while (i < line.size() && !isBlank(line[i])) ++i;
    }
    while (i < line.size() && isBlank(line[i])) ++i;
    std::size_t end = line.size();
    while (end > i && isBlank(line[end - 1])) --end;
    return line.substr(i, end - i);
}

kit::Result<PeerAction> parsePostCommand(std::string_view line, const std::vector<std::string>& words) {
    if (words.size() < 2 || words[1].empty()) return kit::Error{"usage: post <notification name> [<JSON object>]"};
    std::string_view json = textAfterWords(line, 2);
    if (json.empty()) return PeerAction::post(words[1]);
    auto parsed = kit::parseJson(json);
    if (!parsed) return kit::Error{"the user information is not JSON: " + parsed.error()};
    if (!parsed->isDictionary() && !parsed->isNull()) return kit::Error{"the user information must be a JSON object"};
    return PeerAction::post(words[1], std::move(*parsed));
}

}  // namespace peers
