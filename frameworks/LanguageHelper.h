#pragma once
// The user's language and the localised-string switch. User-visible texts are Chinese source
// strings that are their own keys: with no table for the language (or no entry), a key answers
// itself.
//
// The user's chosen language is read from the host product's language file,
// home/Library/Application Support/Quarn/language (a language code such as "en" or "zh-Hans" on
// its first line); the system language comes from LC_ALL, LC_MESSAGES or LANG. Without a choice
// from the host the system's language decides, as it does for any program that sets none.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "kit/base/Value.h"

class LanguageHelper {
public:
    static constexpr int kLanguageTypeSimplifiedChinese = 1;
    static constexpr int kLanguageTypeEnglish = 2;

    // The language the user chose in the host product, or nullopt when none is recorded.
    static std::optional<std::string> getCurrentUserLanguageByReadFile();
    // 1 for Chinese, 2 otherwise.
    static int getCurrentSystemLanguageType();
    // The strings' language of the system: "zh-Hans" for Chinese, "en" otherwise.
    static std::string getCurrentSystemLanguage();
    // The host's language, else the system's.
    static std::string getCurrentLanguage();
    static std::filesystem::path userLanguageFile();
};

// The language of the main bundle's strings ("setLanguage:bundle:" of the platform).
class BundleLanguage {
public:
    // Switches the strings to a language: the table <resources>/strings/<language>.json, a JSON
    // object of source string to translation; for a regional code ("en-GB", "en_US") without a
    // table of its own, the table of its language ("en"). A missing or unreadable table leaves
    // every string as its key.
    static void setLanguage(std::string_view language);
    static const std::string& currentLanguage();
    // Replaces the table in effect (tests, and callers that ship their tables elsewhere).
    static void setTable(std::string language, const kit::Dictionary& table);
    static std::string localizedString(std::string_view key);
    static void resetForTesting();
};

// The localised text of a source string.
inline std::string KZLocalizedString(std::string_view key) { return BundleLanguage::localizedString(key); }
// Marks a source string that is kept as it is (a constant, an entry of a table) and looked up with
// KZLocalizedString where it is shown, so that the strings' check finds it with the others.
constexpr const char* KZLocalizableKey(const char* key) { return key; }
