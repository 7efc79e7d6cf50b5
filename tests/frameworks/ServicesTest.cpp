// Analytics, theme and colours, language lookup, notch query and the crash-report entry.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frameworks/ColorHelpers.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "frameworks/MachineModel.h"
#include "kit/base/Json.h"
#include "kit/base/NotificationCenter.h"
#include "kit/headless/TestEnvironment.h"
#include "sdk/core/Frolk.h"

namespace {

class HXReportTest : public ::testing::Test {
protected:
    void SetUp() override { HXReport::resetForTesting(); }
    void TearDown() override {
        HXReport::stopFileLog();
        HXReport::resetForTesting();
    }
    kit::TestEnvironment env;
};

TEST_F(HXReportTest, RecordsEveryCallInOrder) {
    env.loop().setWallTime(1800000000.5);
    HXReport::initialize();
    HXReport::reportButtonClick(21001);
    HXReport::reportCommonKeyValue(24020, "31");
    HXReport::reportCommonKeyValue(24021, "");
    auto events = HXReport::recordedEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(HXReport::isInitialized());
    EXPECT_EQ(events[0].method, "initialize");
    EXPECT_EQ(events[1].method, "reportButtonClick");
    EXPECT_EQ(events[1].key, 21001);
    EXPECT_EQ(events[2].value, "31");
    EXPECT_EQ(events[3].value, "");
    EXPECT_EQ(events[3].time, 1800000000.5);
    EXPECT_EQ(HXReport::takeRecordedEvents().size(), 4u);
    EXPECT_TRUE(HXReport::recordedEvents().empty());
}

TEST_F(HXReportTest, FileGetsOneJsonLinePerEventFromAnyThread) {
    auto file = HXReport::defaultFilePath();
    EXPECT_EQ(file, env.home() / "Library/Application Support/QuarnAI/HXReport.jsonl");
    HXReport::reportButtonClick(1);  // before the writer: not in the file
    HXReport::startFileLog(file);
    HXReport::reportCommonKeyValue(21124, "1");
    std::thread other([] {
        for (int i = 0; i < 200; ++i) HXReport::reportCommonKeyValue(30000 + i, "a\"b\n");
    });
    other.join();
    HXReport::reportButtonClick(21000);
    HXReport::flush();

    std::ifstream in(file);
    std::vector<kit::Value> lines;
    for (std::string line; std::getline(in, line);) {
        auto parsed = kit::parseJson(line);
        ASSERT_TRUE(parsed.ok()) << line;
        lines.push_back(*parsed);
    }
    ASSERT_EQ(lines.size(), 202u);
    EXPECT_EQ(lines[0]["method"], kit::Value("reportCommonKeyValue"));
    EXPECT_EQ(lines[0]["key"], kit::Value(21124));
    EXPECT_EQ(lines[0]["value"], kit::Value("1"));
    EXPECT_TRUE(lines[0]["extra"].isNull());
    EXPECT_TRUE(lines[0]["time"].isNumber());
    EXPECT_EQ(lines[1]["value"], kit::Value("a\"b\n"));
    EXPECT_EQ(lines[201]["key"], kit::Value(21000));

    HXReport::stopFileLog();
    HXReport::reportButtonClick(2);
    std::ifstream again(file);
    std::string all((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 202);
}

// Neither the file nor the list in memory grows without end: the file is rotated at its size limit
// with one old generation, and the list keeps the latest events.
TEST_F(HXReportTest, FileRotatesAtItsLimitAndTheListIsBounded) {
    const auto file = HXReport::defaultFilePath();
    auto old = file;
    old += ".1";
    auto keysIn = [](const std::filesystem::path& path) {
        std::vector<std::int64_t> keys;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) keys.push_back((*kit::parseJson(line))["key"].integerValue());
        return keys;
    };
    constexpr std::uintmax_t kLimit = 1000;
    HXReport::startFileLog(file, kLimit);
    const std::string value(60, 'v');
    constexpr int kEvents = 40;
    for (int i = 0; i < kEvents; ++i) {
        HXReport::reportCommonKeyValue(i, value);
        HXReport::flush();
        EXPECT_LE(std::filesystem::file_size(file), kLimit) << i;
    }
    HXReport::stopFileLog();
    ASSERT_TRUE(std::filesystem::exists(old));
    EXPECT_LE(std::filesystem::file_size(old), kLimit);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(file) += ".2"));
    // The two generations hold the latest events, in order, without a gap.
    auto keys = keysIn(old);
    const auto newer = keysIn(file);
    keys.insert(keys.end(), newer.begin(), newer.end());
    ASSERT_FALSE(newer.empty());
    ASSERT_LT(keys.size(), static_cast<std::size_t>(kEvents));
    for (std::size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], kEvents - static_cast<std::int64_t>(keys.size() - i)) << i;
    for (const auto& path : {file, old})
        EXPECT_EQ(std::filesystem::status(path).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    HXReport::resetForTesting();
    for (std::size_t i = 0; i < HXReport::kRecordedEventLimit + 7; ++i) HXReport::reportButtonClick(static_cast<std::int64_t>(i));
    const auto events = HXReport::recordedEvents();
    ASSERT_EQ(events.size(), HXReport::kRecordedEventLimit);
    EXPECT_EQ(events.front().key, 7);
    EXPECT_EQ(events.back().key, static_cast<std::int64_t>(HXReport::kRecordedEventLimit + 6));
}

TEST_F(HXReportTest, UserGuidIsStable) {
    auto first = HXReport::getCurrentUserGuid();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), 36u);
    EXPECT_EQ(HXReport::getCurrentUserGuid(), first);
}

class ThemeTest : public ::testing::Test {
protected:
    void SetUp() override { JWAppThemeHelper::resetForTesting(); }
    void TearDown() override { JWAppThemeHelper::resetForTesting(); }
    kit::TestEnvironment env;
};

TEST_F(ThemeTest, PalettesByAppearance) {
    const int indices[] = {3, 10, 11, 12, 14, 15, 18, 19};
    for (int index : indices) {
        SCOPED_TRACE(index);
        EXPECT_TRUE(JWAppThemeHelper::isKnownColorIndex(index));
        JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light);
        kit::Color light = JWAppThemeHelper::getColor(index);
        JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Dark);
        kit::Color dark = JWAppThemeHelper::getColor(index);
        EXPECT_NE(light, dark);
        EXPECT_EQ(JWAppThemeHelper::getColor(index, true), light);
        EXPECT_EQ(JWAppThemeHelper::getColor(index, false), dark);
    }
    EXPECT_FALSE(JWAppThemeHelper::isKnownColorIndex(4));
    EXPECT_EQ(JWAppThemeHelper::getColor(4), JWAppThemeHelper::getColor(11));
    EXPECT_NE(JWAppThemeHelper::getAiTitleColor(), JWAppThemeHelper::getAiTipTextColor());
}

TEST_F(ThemeTest, SystemAppearanceAndChangeNotifications) {
    int changes = 0;
    auto token = kit::NotificationCenter::defaultCenter().addObserverForName(
        JWAppThemeHelper::kAppearanceDidChangeNotification, nullptr, [&](const kit::Notification&) { ++changes; });
    EXPECT_FALSE(JWAppThemeHelper::isDarkMode());
    JWAppThemeHelper::setSystemDarkMode(true);
    EXPECT_TRUE(JWAppThemeHelper::isDarkMode());
    JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light);
    EXPECT_FALSE(JWAppThemeHelper::isDarkMode());
    JWAppThemeHelper::setSystemDarkMode(false);  // overridden: no visible change
    JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light);
    EXPECT_EQ(changes, 2);
}

TEST(ColorHelpersTest, HexAndAlpha) {
    EXPECT_EQ(colorWithHex(0x58CE9B).hex(), 0x58CE9Bu);
    EXPECT_EQ(colorWithHex(0x58CE9B).alpha, 1.0);
    EXPECT_EQ(colorWithHex(0xFFFFFF, 0.2).alpha, 0.2);
    EXPECT_EQ(colorWithHex(0xFFFFFF, 7).alpha, 1.0);
    EXPECT_EQ(colorWithHex(0xFFFFFF, -1).alpha, 0.0);
    EXPECT_EQ(colorWithHex(0x1000000 | 0x07A36F).hex(), 0x07A36Fu);
    EXPECT_EQ(intlGreenColor().hex(), 0x07A36Fu);
}

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        BundleLanguage::resetForTesting();
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "QUARN_RESOURCES_DIR"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        BundleLanguage::resetForTesting();
    }
    void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    kit::TestEnvironment env;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(LanguageTest, UserLanguageFromTheHostFile) {
    EXPECT_FALSE(LanguageHelper::getCurrentUserLanguageByReadFile());
    writeFile(LanguageHelper::userLanguageFile(), "  zh-Hans \nignored");
    EXPECT_EQ(LanguageHelper::getCurrentUserLanguageByReadFile(), "zh-Hans");
    for (const char* bad : {"", "\n", "../../etc", "en US", "x\xff"}) {
        writeFile(LanguageHelper::userLanguageFile(), bad);
        EXPECT_FALSE(LanguageHelper::getCurrentUserLanguageByReadFile()) << bad;
    }
}

TEST_F(LanguageTest, SystemLanguageType) {
    EXPECT_EQ(LanguageHelper::getCurrentSystemLanguageType(), 2);
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(LanguageHelper::getCurrentSystemLanguageType(), 1);
    ::setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(LanguageHelper::getCurrentSystemLanguageType(), 2);
}

TEST_F(LanguageTest, ChineseSourceStringsAreTheirOwnKeys) {
    EXPECT_EQ(KZLocalizedString("刷新"), "刷新");
    auto resources = env.root() / "resources";
    ::setenv("QUARN_RESOURCES_DIR", resources.c_str(), 1);
    writeFile(resources / "strings/en.json", R"({"刷新": "Refresh", "n": 3})");
    BundleLanguage::setLanguage("en");
    EXPECT_EQ(BundleLanguage::currentLanguage(), "en");
    EXPECT_EQ(KZLocalizedString("刷新"), "Refresh");
    EXPECT_EQ(KZLocalizedString("n"), "n");  // not a string: no translation
    EXPECT_EQ(KZLocalizedString("好的"), "好的");
    BundleLanguage::setLanguage("zh-Hans");  // no table
    EXPECT_EQ(KZLocalizedString("刷新"), "刷新");
    writeFile(resources / "strings/fr.json", "{broken");
    BundleLanguage::setLanguage("fr");
    EXPECT_EQ(KZLocalizedString("刷新"), "刷新");
    BundleLanguage::setLanguage("../strings/en");  // not a language code
    EXPECT_EQ(KZLocalizedString("刷新"), "刷新");
}

// The texts the sources pass to the lookup, read from the sources themselves: the string literal
// argument of KZLocalizedString and KZLocalizableKey (adjacent literals joined). Comments and
// character literals are skipped; `bare` gets every other literal with Chinese in it that is not
// part of a log line.
struct SourceTexts {
    std::map<std::string, std::string> keys;  // text -> first file that passes it
    std::vector<std::string> bare;            // "file: text"
};

bool hasChinese(std::string_view text) {
    // U+3000-U+9FFF and U+FF00-U+FFEF: CJK punctuation, kana, ideographs, full-width forms.
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if ((lead >= 0xE3 && lead <= 0xE9) || (lead == 0xEF && next >= 0xBC && next <= 0xBF)) return true;
    }
    return false;
}

SourceTexts textsPassedToLocalisation() {
    namespace fs = std::filesystem;
    const char* root = std::getenv("QUARN_SOURCE_DIR");
    const fs::path source = root ? fs::path(root) : fs::absolute(__FILE__).parent_path().parent_path().parent_path();
    static const std::regex lookup(R"re(\b(?:KZLocalizedString|KZLocalizableKey)\s*\(\s*$)re");
    static const std::regex logCall(R"re(\blog(?:f|Line)\s*\()re");
    SourceTexts found;
    for (const char* area : {"app", "frameworks", "kit"}) {
        for (const auto& entry : fs::recursive_directory_iterator(source / area)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const std::string file = fs::relative(entry.path(), source).string();
            std::string code;  // the text without comments and literals: what precedes each literal
            std::size_t statement = 0;
            for (std::size_t i = 0; i < text.size();) {
                if (text.compare(i, 2, "//") == 0) {
                    i = text.find('\n', i);
                } else if (text.compare(i, 2, "/*") == 0) {
                    const std::size_t end = text.find("*/", i + 2);
                    i = end == std::string::npos ? text.size() : end + 2;
                } else if (text[i] == '\'') {
                    for (++i; i < text.size() && text[i] != '\''; ++i)
                        if (text[i] == '\\') ++i;
                    ++i;
                } else if (text[i] == '"') {
                    const bool raw = i > 0 && text[i - 1] == 'R';
                    const bool called =
                        std::regex_search(code.substr(code.size() - std::min<std::size_t>(code.size(), 80)), lookup);
                    std::string literal;
                    do {  // adjacent literals are one
                        if (raw) {
                            const std::size_t open = text.find('(', i);
                            const std::string close = ")" + text.substr(i + 1, open - i - 1) + "\"";
                            const std::size_t end = text.find(close, open);
                            literal += text.substr(open + 1, end - open - 1);
                            i = end + close.size();
                            break;
                        }
                        for (++i; i < text.size() && text[i] != '"'; ++i) {
                            if (text[i] == '\\') ++i;
                            literal += text[i];
                        }
                        ++i;
                        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
                    } while (i < text.size() && text[i] == '"');
                    if (called) {
                        found.keys.emplace(literal, file);
                    } else if (hasChinese(literal) && !std::regex_search(code.substr(statement), logCall)) {
                        found.bare.push_back(file + ": " + literal);
                    }
                    code += "\"\"";
                    continue;
                } else {
                    if (text[i] == ';' || text[i] == '{' || text[i] == '}') statement = code.size() + 1;
                    code += text[i++];
                }
            }
        }
    }
    return found;
}

// Every text the sources look up has an English text in resources/strings/en.json, with the
// same placeholders; and no Chinese text reaches the screen without the lookup.
TEST(LocalisationTest, EveryTextPassedToTheLookupHasAnEnglishText) {
    const auto [keys, bare] = textsPassedToLocalisation();
    // The reader finds each form (else it would pass by finding nothing).
    for (const char* known : {"刷新", "偏好设置", "确认关闭", "当前网络不佳，请稍后再试(%ld)", "已达到最大标签页数",
                              "是否关闭 %@ 文件？关闭后将无法继续操作。", "取消固定窗口", "固定窗口"})
        EXPECT_TRUE(keys.count(known)) << known << " was not found in the sources";
    EXPECT_GE(keys.size(), 60u);
    const char* root = std::getenv("QUARN_SOURCE_DIR");
    const auto source = root ? std::filesystem::path(root)
                             : std::filesystem::absolute(__FILE__).parent_path().parent_path().parent_path();
    std::ifstream in(source / "resources/strings/en.json", std::ios::binary);
    const auto english =
        kit::parseJson(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    ASSERT_TRUE(english && english->isDictionary());
    auto count = [](const std::string& text, std::string_view what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
        return n;
    };
    for (const auto& [key, file] : keys) {
        SCOPED_TRACE(key + " (in " + file + ")");
        const auto* value = english->asDictionary()->find(key);
        const std::string* text = value ? value->asString() : nullptr;
        if (!text) {
            ADD_FAILURE() << "no English text in resources/strings/en.json";
            continue;
        }
        EXPECT_FALSE(text->empty());
        EXPECT_FALSE(hasChinese(*text)) << *text;
        for (const char* placeholder : {"%@", "%ld"})
            EXPECT_EQ(count(*text, placeholder), count(key, placeholder)) << placeholder << " in " << *text;
    }
    for (const auto& text : bare) ADD_FAILURE() << "shown without the lookup: " << text;
}

TEST(MachineModelTest, NoNotchUnlessConfigured) {
    ::unsetenv("QUARN_LIQUID_SCREEN");
    EXPECT_FALSE(MachineModel::isLiquidScreen());
    ::setenv("QUARN_LIQUID_SCREEN", "1", 1);
    EXPECT_TRUE(MachineModel::isLiquidScreen());
    MachineModel::setLiquidScreen(false);
    EXPECT_FALSE(MachineModel::isLiquidScreen());
    ::unsetenv("QUARN_LIQUID_SCREEN");
    MachineModel::setLiquidScreen(true);
    EXPECT_TRUE(MachineModel::isLiquidScreen());
    MachineModel::setLiquidScreen(std::nullopt);
    EXPECT_FALSE(MachineModel::isLiquidScreen());
}

TEST(FrolkTest, StartsOnceWithAValidIdentifierOnly) {
    Frolk::resetForTesting();
    Frolk::startWithAppId(kit::Value());
    Frolk::startWithAppId(kit::Value(12345));
    Frolk::startWithAppId("a");
    EXPECT_FALSE(Frolk::isStarted());
    Frolk::startWithAppId("5be0c3a91d");
    Frolk::startWithAppId("0123456789");
    EXPECT_TRUE(Frolk::isStarted());
    EXPECT_EQ(Frolk::appId(), "5be0c3a91d");
    EXPECT_EQ(Frolk::startCount(), 1);
    Frolk::resetForTesting();
}

}  // namespace
