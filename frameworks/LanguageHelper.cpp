#include "frameworks/LanguageHelper.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "kit/base/Json.h"
#include "kit/base/Paths.h"

namespace {

struct StringsState {
    std::string language;
    kit::Dictionary table;
};

StringsState& strings() {
    static StringsState s;
    return s;
}

std::string trimmed(std::string text) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

bool isLanguageCode(const std::string& text) {
    if (text.empty() || text.size() > 35) return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '-' && c != '_') return false;
    return true;
}

}  // namespace

std::filesystem::path LanguageHelper::userLanguageFile() {
    return kit::paths::applicationSupport() / "Quarn" / "language";
}

std::optional<std::string> LanguageHelper::getCurrentUserLanguageByReadFile() {
    std::ifstream in(userLanguageFile());
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    line = trimmed(line);
    // The file is written by another process: anything that is not a plain language code counts
    // as no choice.
    if (!isLanguageCode(line)) return std::nullopt;
    return line;
}

int LanguageHelper::getCurrentSystemLanguageType() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string_view v(value);
        return v.substr(0, 2) == "zh" ? kLanguageTypeSimplifiedChinese : kLanguageTypeEnglish;
    }
    return kLanguageTypeEnglish;
}

std::string LanguageHelper::getCurrentSystemLanguage() {
    return getCurrentSystemLanguageType() == kLanguageTypeSimplifiedChinese ? "zh-Hans" : "en";
}

std::string LanguageHelper::getCurrentLanguage() {
    return getCurrentUserLanguageByReadFile().value_or(getCurrentSystemLanguage());
}

void BundleLanguage::setLanguage(std::string_view language) {
    kit::Dictionary table;
    std::string code(language);
    if (isLanguageCode(code)) {
        const auto folder = kit::paths::resourcesDirectory() / "strings";
        std::ifstream in(folder / (code + ".json"), std::ios::binary);
        if (!in) {
            if (const auto region = code.find_first_of("-_"); region != std::string::npos)
                in.open(folder / (code.substr(0, region) + ".json"), std::ios::binary);
        }
        if (in) {
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (auto parsed = kit::parseJson(text); parsed && parsed->isDictionary()) {
                for (const auto& [key, value] : *parsed->asDictionary())
                    if (value.isString()) table.set(key, value);
            }
        }
    }
    setTable(std::move(code), table);
}

const std::string& BundleLanguage::currentLanguage() { return strings().language; }

void BundleLanguage::setTable(std::string language, const kit::Dictionary& table) {
    strings().language = std::move(language);
    strings().table = table;
}

std::string BundleLanguage::localizedString(std::string_view key) {
    if (const auto* value = strings().table.find(key))
        if (const auto* text = value->asString()) return *text;
    return std::string(key);
}

void BundleLanguage::resetForTesting() { strings() = StringsState{}; }
