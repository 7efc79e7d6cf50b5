#include <gtest/gtest.h>

#include <fstream>

#include "kit/base/Log.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/PropertyList.h"
#include "kit/base/UserDefaults.h"
#include "tests/support/ScopedEnvironment.h"

namespace kit {
namespace {
namespace fs = std::filesystem;

constexpr const char* kBundle = "com.example.defaults-test";

void writeBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

class UserDefaultsTest : public ::testing::Test {
protected:
    testing::TempHome home;
    fs::path file() const { return home.path() / "Library/Preferences" / (std::string(kBundle) + ".plist"); }
};

TEST_F(UserDefaultsTest, ValuesAreWrittenThroughAndReadBack) {
    {
        UserDefaults defaults(kBundle);
        EXPECT_EQ(defaults.filePath(), file());
        EXPECT_TRUE(defaults.object("theme_mode_setted").isNull());
        defaults.set("theme_mode_setted", 2);
        ASSERT_TRUE(fs::exists(file())) << "the first change creates the folder and the file";
        defaults.set("name", "Quarn");
        defaults.set("ratio", 0.5);
        defaults.set("enabled", true);
        defaults.set("list", Value(Array{1, "two"}));
        defaults.set("theme_mode_setted", 1);
    }
    auto stored = readPropertyListFile(file());
    ASSERT_TRUE(stored.ok()) << stored.error();
    EXPECT_EQ((*stored)["theme_mode_setted"].integerValue(), 1);

    UserDefaults again(kBundle);
    EXPECT_EQ(again.integerForKey("theme_mode_setted"), 1);
    EXPECT_EQ(again.stringForKey("name"), "Quarn");
    EXPECT_DOUBLE_EQ(again.object("ratio").doubleValue(), 0.5);
    EXPECT_TRUE(again.boolForKey("enabled"));
    EXPECT_EQ(again.object("list"), Value(Array{1, "two"}));
    EXPECT_EQ(folderEntries(file().parent_path()), std::vector<std::string>{file().filename().string()})
        << "no temporary files are left behind";
}

TEST_F(UserDefaultsTest, RemovingAndSettingNullDeleteTheKey) {
    UserDefaults defaults(kBundle);
    defaults.set("a", 1);
    defaults.set("b", 2);
    defaults.set("c", 3);
    defaults.remove("a");
    defaults.set("b", Value());
    defaults.remove("missing");
    UserDefaults again(kBundle);
    EXPECT_TRUE(again.object("a").isNull());
    EXPECT_TRUE(again.object("b").isNull());
    EXPECT_EQ(again.integerForKey("c"), 3);
}

TEST_F(UserDefaultsTest, ValueWithANullInsideIsRefusedAndBreaksNothing) {
    LogCapture capture;
    UserDefaults defaults(kBundle);
    defaults.set("bad", Value(Array{1, Value()}));
    EXPECT_TRUE(defaults.object("bad").isNull());
    EXPECT_EQ(capture.count("bad"), 1u);
    defaults.set("good", "yes");
    UserDefaults again(kBundle);
    EXPECT_EQ(again.stringForKey("good"), "yes");
}

TEST_F(UserDefaultsTest, CorruptOrForeignFilesReadAsEmptyAndAreLoggedOnce) {
    for (const std::string& bytes :
         {std::string("<?xml version=\"1.0\"?><plist><dict><key>x</key>"), std::string("\x00\x01garbage", 9),
          std::string(""),
          std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array><integer>1</integer>"
                      "</array></plist>")}) {
        writeBytes(file(), bytes);
        LogCapture capture;
        UserDefaults defaults(kBundle);
        EXPECT_TRUE(defaults.object("x").isNull());
        EXPECT_EQ(capture.lines().size(), 1u);
        EXPECT_TRUE(capture.contains(file().string()));
        defaults.set("x", 7);
        auto stored = readPropertyListFile(file());
        ASSERT_TRUE(stored.ok()) << "a change replaces the unreadable file with a good one";
        EXPECT_EQ((*stored)["x"].integerValue(), 7);
        fs::remove(file());
    }
}

TEST_F(UserDefaultsTest, MissingFileIsSilentlyEmpty) {
    LogCapture capture;
    UserDefaults defaults(kBundle);
    EXPECT_EQ(defaults.integerForKey("anything"), 0);
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_FALSE(fs::exists(file())) << "reading alone writes nothing";
}

TEST_F(UserDefaultsTest, LenientReadings) {
    UserDefaults defaults(kBundle);
    defaults.set("count", "12abc");
    defaults.set("flag", "YES");
    defaults.set("number", 42);
    defaults.set("real", 2.5);
    defaults.set("on", true);
    EXPECT_EQ(defaults.integerForKey("count"), 12);
    EXPECT_TRUE(defaults.boolForKey("flag"));
    EXPECT_FALSE(defaults.boolForKey("missing"));
    EXPECT_EQ(defaults.stringForKey("number"), "42");
    EXPECT_EQ(defaults.stringForKey("real"), "2.5");
    EXPECT_EQ(defaults.stringForKey("on"), "1");
    EXPECT_EQ(defaults.stringForKey("missing"), "");
    EXPECT_EQ(defaults.integerForKey("real"), 2);
}

TEST_F(UserDefaultsTest, ReloadSeesChangesMadeByOthers) {
    UserDefaults defaults(kBundle);
    defaults.set("a", 1);
    ASSERT_TRUE(writePropertyListFile(file(), Value(Dictionary{{"a", 5}, {"b", "new"}})).ok());
    EXPECT_EQ(defaults.integerForKey("a"), 1) << "read once and cached";
    defaults.reload();
    EXPECT_EQ(defaults.integerForKey("a"), 5);
    EXPECT_EQ(defaults.stringForKey("b"), "new");
}

TEST_F(UserDefaultsTest, StandardUsesTheBundleIdentifierAndFollowsReset) {
    process::setBundleIdentifier("");
    UserDefaults::resetStandard();
    EXPECT_EQ(UserDefaults::standard().bundleIdentifier(), "com.morvane.QuarnAIAssistant");
    EXPECT_EQ(UserDefaults::standard().filePath(),
              home.path() / "Library/Preferences/com.morvane.QuarnAIAssistant.plist");
    UserDefaults::standard().set("theme_mode_setted", 2);

    process::setBundleIdentifier(kBundle);
    EXPECT_EQ(UserDefaults::standard().bundleIdentifier(), "com.morvane.QuarnAIAssistant") << "kept until reset";
    UserDefaults::resetStandard();
    EXPECT_EQ(UserDefaults::standard().bundleIdentifier(), kBundle);
    EXPECT_TRUE(UserDefaults::standard().object("theme_mode_setted").isNull());

    process::setBundleIdentifier("");
    UserDefaults::resetStandard();
    EXPECT_EQ(UserDefaults::standard().integerForKey("theme_mode_setted"), 2);
    UserDefaults::resetStandard();
}

}  // namespace
}  // namespace kit
