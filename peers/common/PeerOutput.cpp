#include "peers/common/PeerOutput.h"

#include <cerrno>
#include <cstring>

#include "kit/base/Json.h"

namespace peers {

std::string scriptSafeJson(const kit::Value& value) {
    std::string json = kit::toJson(value);
    std::string safe;
    safe.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (c == '<') safe += "\\u003c";
        else if (c == '>') safe += "\\u003e";
        else if (c == '&') safe += "\\u0026";
        else if (c == '\xE2' && i + 2 < json.size() && json[i + 1] == '\x80' && (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
            safe += json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else safe.push_back(c);
    }
    return safe;
}

std::string notificationLine(std::string_view verb, std::string_view name, const kit::Value& userInfo) {
    std::string text(verb);
    text.push_back(' ');
    text.append(name);
    text.push_back(' ');
    text += kit::toJson(userInfo);
    return text;
}

PeerOutput::~PeerOutput() {
    if (copy_) std::fclose(copy_);
}

bool PeerOutput::copyTo(const std::string& path, std::string* whyNot) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) {
        if (whyNot) *whyNot = path + ": " + std::strerror(errno);
        return false;
    }
    if (copy_) std::fclose(copy_);
    copy_ = file;
    return true;
}

void PeerOutput::line(std::string_view text) {
    std::string line(text);
    // One event, one line: a stray line break would split it for a reader.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    if (copy_) {
        std::fwrite(line.data(), 1, line.size(), copy_);
        std::fflush(copy_);
    }
}

}  // namespace peers
