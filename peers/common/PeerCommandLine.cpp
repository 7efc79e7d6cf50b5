#include "peers/common/PeerCommandLine.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "kit/base/Ascii.h"
#include "kit/sys/GlobalHotKeys.h"

namespace peers {
namespace {

kit::Error error(std::string message) { return kit::Error{std::move(message)}; }

}  // namespace

kit::Result<std::vector<std::string>> splitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i < line.size() && line[i] == '#') return words;
    while (i < line.size()) {
        std::string word;
        bool started = false;
        while (i < line.size() && !isBlank(line[i])) {
            char c = line[i];
            started = true;
            if (c == '\\') {
                if (i + 1 >= line.size()) return error("a backslash ends the line");
                word.push_back(line[i + 1]);
                i += 2;
            } else if (c == '\'') {
                std::size_t close = line.find('\'', i + 1);
                if (close == std::string_view::npos) return error("a single quote is not closed");
                word.append(line.substr(i + 1, close - i - 1));
                i = close + 1;
            } else if (c == '"') {
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    char d = line[i];
                    if (d == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    if (d == '\\' && i + 1 < line.size()) {
                        char e = line[i + 1];
                        word.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
                        i += 2;
                        continue;
                    }
                    word.push_back(d);
                    ++i;
                }
                if (!closed) return error("a double quote is not closed");
            } else {
                word.push_back(c);
                ++i;
            }
        }
        if (started) words.push_back(std::move(word));
        while (i < line.size() && isBlank(line[i])) ++i;
    }
    return words;
}

kit::Result<bool> parseSwitch(std::string_view word) {
    std::string w = kit::asciiLowercase(word);
    if (w == "on" || w == "yes" || w == "true" || w == "1") return true;
    if (w == "off" || w == "no" || w == "false" || w == "0") return false;
    return error("expected on or off, got \"" + std::string(word) + "\"");
}

kit::Result<std::int64_t> parseInteger(std::string_view word) {
    std::string text(word);
    if (text.empty()) return error("expected an integer, got nothing");
    std::size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    int base = 10;
    if (text.size() > start + 2 && text[start] == '0' && (text[start + 1] == 'x' || text[start + 1] == 'X')) base = 16;
    // strtoll takes white space and a sign of its own after ours; refuse both.
    std::size_t digits = start + (base == 16 ? 2 : 0);
    if (digits >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[digits])))
        return error("expected an integer, got \"" + text + "\"");
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, base);
    if (errno == ERANGE) return error("the integer \"" + text + "\" is out of range");
    if (end != text.c_str() + text.size()) return error("expected an integer, got \"" + text + "\"");
    return static_cast<std::int64_t>(value);
}

kit::Result<double> parseNumber(std::string_view word) {
    std::string text(word);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return error("expected a number, got \"" + text + "\"");
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || errno == ERANGE)
        return error("expected a number, got \"" + text + "\"");
    return value;
}

kit::Result<std::uint32_t> parseModifierFlags(std::string_view word) {
    if (auto number = parseInteger(word)) {
        if (*number < 0 || *number > 0xFFFFFFFFll) return error("modifier flags out of range: " + std::string(word));
        return static_cast<std::uint32_t>(*number);
    }
    std::uint32_t flags = 0;
    std::string text = kit::asciiLowercase(word);
    if (text == "none") return flags;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("+|", start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        if (name == "shift") flags |= kit::HotKeyModifier::Shift;
        else if (name == "control" || name == "ctrl") flags |= kit::HotKeyModifier::Control;
        else if (name == "option" || name == "alt") flags |= kit::HotKeyModifier::Option;
        else if (name == "command" || name == "cmd") flags |= kit::HotKeyModifier::Command;
        else
            return error("unknown modifier \"" + name + "\" (use shift, control, option, command or a number)");
        start = end + 1;
    }
    return flags;
}

std::string joinWords(const std::vector<std::string>& words, std::size_t first, std::size_t end) {
    std::string text;
    for (std::size_t i = first; i < end && i < words.size(); ++i) {
        if (i > first) text.push_back(' ');
        text += words[i];
    }
    return text;
}

}  // namespace peers
