#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "CoreTestSupport.h"

namespace {

using namespace KZSharedPlistKey;

class SharedPlistTest : public CoreTest {
protected:
    KZSharedPlistManager& settings() { return KZSharedPlistManager::sharedManager(); }
};

// Each boolean key with its getter and the value an absent key reads as.
struct BoolKey {
    const char* key;
    bool (KZSharedPlistManager::*getter)();
    void (KZSharedPlistManager::*setter)(bool);
    bool absent;
};

const BoolKey kBoolKeys[] = {
    {kPinState, &KZSharedPlistManager::db_qaWindowPinState, &KZSharedPlistManager::db_setQAWindowPinState, false},
    {kAccessibilityPermission, &KZSharedPlistManager::db_accessibilityEnabled,
     &KZSharedPlistManager::db_setAccessibilityEnabled, false},
    {kHasShowGuideWindow, &KZSharedPlistManager::db_hasShowGuideWindow, &KZSharedPlistManager::db_setHasShowGuideWindow,
     false},
    {kPowerBootShowAILogo, &KZSharedPlistManager::db_powerBootShowAI, &KZSharedPlistManager::db_setPowerBootShowAI,
     false},
    {kShowStatusBarItem, &KZSharedPlistManager::db_showAIStatusBarItem,
     &KZSharedPlistManager::db_setShowAIStatusBarItem, false},
    {kStatusBarHiddenOnLiquidScreenAlertShow, &KZSharedPlistManager::db_showStatusBarHiddenOnLiquidScreenAlert,
     &KZSharedPlistManager::db_setShowStatusBarHiddenOnLiquidScreenAlert, false},
    {kUseSelectTextTool, &KZSharedPlistManager::db_getUseGetTextTool, &KZSharedPlistManager::db_setUseGetTextTool,
     false},
    {kFileDragState, &KZSharedPlistManager::db_fileDragState, &KZSharedPlistManager::db_setFileDragState, true},
};

TEST_F(SharedPlistTest, NewFileHasExactlyTheNineKeysAndFileDragReadsYes) {
    EXPECT_EQ(settings().plistPath(), plistPath());
    kit::Value file = fileValue();
    ASSERT_TRUE(file.isDictionary());
    kit::Dictionary expected{{kPinState, false},
                             {kAccessibilityPermission, false},
                             {kAuthUserInfo, kit::Dictionary{{"state", 1}, {"avatar", ""}, {"userName", ""}}},
                             {kGuideWindowChoosedShowAIBar, false},
                             {kHasShowGuideWindow, false},
                             {kPowerBootShowAILogo, true},
                             {kShowStatusBarItem, false},
                             {kStatusBarHiddenOnLiquidScreenAlertShow, false},
                             {kUseSelectTextTool, false}};
    EXPECT_EQ(*file.asDictionary(), expected);
    EXPECT_EQ(file.asDictionary()->size(), 9u);
    EXPECT_TRUE(settings().db_fileDragState());
    EXPECT_TRUE(settings().db_powerBootShowAI());
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 0);
    EXPECT_TRUE(settings().db_cookies().empty());
}

TEST_F(SharedPlistTest, ExistingFileIsKeptAndOtherBundlesCreateNothing) {
    writeSettings({{kShowStatusBarItem, true}});
    EXPECT_TRUE(settings().db_showAIStatusBarItem());
    EXPECT_EQ(fileValue().asDictionary()->size(), 1u);

    KZSharedPlistManager::resetSharedManager();
    std::filesystem::remove_all(configFolder());
    kit::process::setBundleIdentifier(KZBundleInfo::kHostBundleIdentifier);
    EXPECT_FALSE(settings().db_showAIStatusBarItem());
    EXPECT_FALSE(std::filesystem::exists(configFolder()));
}

TEST_F(SharedPlistTest, BooleanKeysReadAbsentWrongTypeAndUnreadable) {
    for (const auto& k : kBoolKeys) {
        SCOPED_TRACE(k.key);
        writeSettings({});
        EXPECT_EQ((settings().*k.getter)(), k.absent);
        writeSettings({{k.key, !k.absent}});
        EXPECT_EQ((settings().*k.getter)(), !k.absent);
        // Numbers written by the host read by their value.
        writeSettings({{k.key, k.absent ? 0 : 1}});
        EXPECT_EQ((settings().*k.getter)(), !k.absent);
        // Wrong types read as absent.
        for (const kit::Value& wrong : {kit::Value(k.absent ? "NO" : "YES"), kit::Value(1.0),
                                        kit::Value(kit::Dictionary{{"a", 1}}), kit::Value(kit::Array{true})}) {
            writeSettings({{k.key, wrong}});
            EXPECT_EQ((settings().*k.getter)(), k.absent);
        }
        // An unreadable file or one whose root is not a dictionary reads NO for every boolean.
        writeFile(plistPath(), "not a property list \x01\x02");
        EXPECT_FALSE((settings().*k.getter)());
        ASSERT_TRUE(kit::writePropertyListFile(plistPath(), kit::Value(kit::Array{true})).ok());
        EXPECT_FALSE((settings().*k.getter)());
        std::filesystem::remove(plistPath());
        EXPECT_FALSE((settings().*k.getter)());
    }
}

TEST_F(SharedPlistTest, IntegerLoginAndCookieKeysCheckTheirTypes) {
    writeSettings({{kGuideWindowChoosedShowAIBar, 2}});
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 2);
    writeSettings({{kGuideWindowChoosedShowAIBar, "2"}});
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 0);

    const kit::Dictionary loggedOut = KZSharedPlistManager::defaultAuthUserInfo();
    for (const kit::Value& wrong : {kit::Value("state"), kit::Value(0), kit::Value(kit::Array{})}) {
        writeSettings({{kAuthUserInfo, wrong}});
        EXPECT_EQ(settings().db_authUserInfo(), loggedOut);
    }
    writeSettings({{kAuthUserInfo, kit::Dictionary{{"state", 0}, {"avatar", 7}, {"userName", "ann"}}}});
    EXPECT_EQ(settings().db_authUserInfo(), (kit::Dictionary{{"state", 0}, {"avatar", ""}, {"userName", "ann"}}));
    writeSettings({{kAuthUserInfo, kit::Dictionary{{"state", "0"}, {"userName", "ann"}}}});
    EXPECT_EQ(settings().db_authUserInfo()["state"], kit::Value(1));

    kit::Dictionary good{{"Name", "sid"}, {"Value", "1"}, {"Domain", ".example.test"}, {"Path", "/"}};
    writeSettings({{kCookies, kit::Array{good, kit::Dictionary{{"Name", "x"}}, "junk", kit::Dictionary{}}}});
    ASSERT_EQ(settings().db_cookies().size(), 1u);
    EXPECT_EQ(settings().db_cookies()[0], good);
    writeSettings({{kCookies, kit::Dictionary{{"Name", "sid"}}}});
    EXPECT_TRUE(settings().db_cookies().empty());

    writeFile(plistPath(), "\xff\xfe garbage");
    EXPECT_EQ(settings().db_authUserInfo(), loggedOut);
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 0);
    EXPECT_TRUE(settings().db_cookies().empty());
}

// Read every second (the notch check) while the file cannot be read, the failure line comes at
// most once a minute with a count, and what was held back is written once the file reads again.
TEST_F(SharedPlistTest, RepeatedReadFailureIsLoggedOnceAMinuteWithACount) {
    settings();
    writeFile(plistPath(), "not a property list");
    const std::string line = "[DB] Failed to read data from plist";
    for (int second = 0; second < 180; ++second) {
        EXPECT_FALSE(settings().db_showAIStatusBarItem());
        env().advance(1);
    }
    writeSettings({{kShowStatusBarItem, true}});
    EXPECT_TRUE(settings().db_showAIStatusBarItem());
    EXPECT_TRUE(settings().db_showAIStatusBarItem());
    std::vector<std::string> written;
    for (const auto& logged : env().log().lines())
        if (logged.find(line) != std::string::npos) written.push_back(logged);
    const std::vector<std::string> expected{line, line + " (60 times since the last such line)",
                                            line + " (60 times since the last such line)",
                                            line + " (59 times since the last such line)"};
    EXPECT_EQ(written, expected);

    // A new failure after the file was readable again is written at once.
    writeFile(plistPath(), "");
    EXPECT_FALSE(settings().db_showAIStatusBarItem());
    EXPECT_EQ(env().log().lines().back(), line);
}

// The getters reuse their last parse while the file is unchanged; every rewrite by another
// process is still seen: in place with the same size, within the same instant, and long after
// the last parse (when the parse is reused).
TEST_F(SharedPlistTest, EveryRewriteIsSeenWhateverItsSizeAndTiming) {
    writeSettings({{kGuideWindowChoosedShowAIBar, 1}});
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 1);
    // Let the file's last change fall well behind the next parse, so that it is reused.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 1);
    EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), 1);
    for (std::int64_t index : {2, 3, 4, 5}) {
        const std::string before = readFile(plistPath());
        int fd = ::open(plistPath().c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        std::string after = before;
        after.replace(after.find(std::to_string(index - 1) + "</integer>"), 1, std::to_string(index));
        ASSERT_EQ(after.size(), before.size());
        ASSERT_EQ(::pwrite(fd, after.data(), after.size(), 0), static_cast<ssize_t>(after.size()));
        ::close(fd);
        // In place, same size, within moments of the last change.
        EXPECT_EQ(settings().db_guideWindowChoosedAIShowIndex(), index);
    }
}

TEST_F(SharedPlistTest, BooleanSettersWriteOnlyOnChange) {
    for (const auto& k : kBoolKeys) {
        SCOPED_TRACE(k.key);
        writeSettings({});
        env().log().clear();
        (settings().*k.setter)(k.absent);  // equal to the absent reading: nothing written
        EXPECT_FALSE(fileValue()[k.key].asBool());
        EXPECT_EQ(env().log().count("[DB] Successfully wrote data to plist"), 0u);
        (settings().*k.setter)(!k.absent);
        EXPECT_EQ(fileValue()[k.key], kit::Value(!k.absent));
        EXPECT_EQ(env().log().count("[DB] Successfully wrote data to plist"), 1u);
        EXPECT_EQ((settings().*k.getter)(), !k.absent);
        if (k.key == std::string(kShowStatusBarItem)) {
            EXPECT_TRUE(env().log().contains("[DB] setShowAIStatusBarItem: 1"));
        }
    }
    EXPECT_TRUE(env().log().contains("[DB] Set File Drag State: 0"));
}

TEST_F(SharedPlistTest, LaunchAgentsFollowOnlyWrittenChanges) {
    settings().db_setShowAIStatusBarItem(false);  // already NO in a new file
    EXPECT_EQ(env().log().count("[PowerBoot]"), 0u);
    settings().db_setShowAIStatusBarItem(true);
    settings().db_setPowerBootShowAI(false);
    settings().db_setUseGetTextTool(true);
    EXPECT_EQ(env().log().count("[PowerBoot] onWindowsProcessPowerBootStatusChanged"), 2u);
    EXPECT_EQ(env().log().count("[PowerBoot] onGetTextProcessPowerBootStatusChanged"), 1u);

    // A write that fails (the file may not grow past a few bytes) leaves the agents alone.
    env().log().clear();
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = saved;
    tiny.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    settings().db_setShowAIStatusBarItem(false);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(env().log().contains("[DB] Failed to write data to plist"));
    EXPECT_EQ(env().log().count("[PowerBoot]"), 0u);
    EXPECT_TRUE(settings().db_showAIStatusBarItem());
}

TEST_F(SharedPlistTest, AlwaysWritingSettersAndVanishedFile) {
    settings().db_setGuideWindowChoosedAIShowIndex(0);
    settings().db_setGuideWindowChoosedAIShowIndex(0);
    EXPECT_EQ(env().log().count("[DB] Successfully wrote data to plist"), 3u);  // creation + two
    EXPECT_EQ(fileValue()[kGuideWindowChoosedShowAIBar], kit::Value(0));
    EXPECT_TRUE(env().log().contains("[DB] db_setGuideWindowChoosedAIShowIndex: 0"));

    kit::Dictionary user{{"state", 0}, {"avatar", "https://a.test/ek_zxapp/1.png"}, {"userName", "ann"}};
    settings().db_setAuthUserInfo(user);
    EXPECT_EQ(settings().db_authUserInfo(), user);

    kit::Dictionary cookie{{"Name", "sid"}, {"Value", "v"}, {"OriginURL", "http://127.0.0.1:8765/"}};
    settings().db_setCookies({cookie, kit::Dictionary{}});
    ASSERT_TRUE(fileValue()[kCookies].isArray());
    EXPECT_EQ(fileValue()[kCookies].asArray()->size(), 1u);

    // The host deletes the file: getters answer absent values, setters do not bring it back.
    std::filesystem::remove(plistPath());
    env().log().clear();
    EXPECT_FALSE(settings().db_fileDragState());  // unreadable: NO, even for this key
    settings().db_setFileDragState(false);
    settings().db_setGuideWindowChoosedAIShowIndex(3);
    EXPECT_FALSE(std::filesystem::exists(plistPath()));
    EXPECT_EQ(env().log().count("[DB] Failed to write data to plist"), 2u);
    EXPECT_EQ(env().log().count("[PowerBoot]"), 0u);
}

TEST_F(SharedPlistTest, SavedShortcutFiles) {
    EXPECT_FALSE(settings().db_hasSideWinShortcut());
    EXPECT_FALSE(settings().db_hasScreenshotShortcut());
    EXPECT_TRUE(std::filesystem::is_directory(configFolder() / "shortcut"));

    KZShortcutConfig screenshot(2, KZModifierFlag::Command | KZModifierFlag::Shift, 0x13);
    ASSERT_TRUE(KZShortcutManager::shared().updateConfig(screenshot).ok());
    EXPECT_FALSE(settings().db_hasSideWinShortcut());
    EXPECT_TRUE(settings().db_hasScreenshotShortcut());

    // Undecodable files, and an archive of another class, count as not saved.
    writeFile(configFolder() / "shortcut/1", "garbage");
    EXPECT_FALSE(settings().db_hasSideWinShortcut());
    kit::Value other = KZShortcutConfig(1, KZModifierFlag::Command, 1).archive();
    (*other.asDictionary()->find("$objects")->asArray())[2] =
        kit::Dictionary{{"$classname", "NSString"}, {"$classes", kit::Array{"NSString"}}};
    ASSERT_TRUE(kit::writePropertyListFile(configFolder() / "shortcut/1", other).ok());
    EXPECT_FALSE(settings().db_hasSideWinShortcut());
    ASSERT_TRUE(kit::writePropertyListFile(configFolder() / "shortcut/1",
                                           KZShortcutConfig(1, KZModifierFlag::Control, 1).archive())
                    .ok());
    EXPECT_TRUE(settings().db_hasSideWinShortcut());
}

// Two processes editing different keys at once lose nothing: each read-modify-write holds the
// lock beside the file.
TEST_F(SharedPlistTest, ConcurrentProcessesKeepEachOthersChanges) {
    settings();  // the file exists
    constexpr int kKeysEach = 60;
    auto addKeys = [&](const std::string& prefix) {
        KZSharedPlistManager manager(configFolder());
        for (int i = 0; i < kKeysEach; ++i) {
            manager.updateData([&](kit::Dictionary& d) {
                d.set(prefix + std::to_string(i), true);
                return true;
            });
        }
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        addKeys("child");
        _exit(0);
    }
    addKeys("parent");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    auto data = settings().readData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), 9u + 2 * kKeysEach);
}

}  // namespace

namespace {

TEST_F(SharedPlistTest, LoginManagerStartsFromTheStoredRecord) {
    writeSettings({{kAuthUserInfo, kit::Dictionary{{"state", 0}, {"avatar", "https://a.test/p.png"}, {"userName", "ann"}}}});
    EXPECT_TRUE(KZAIUserManager::shared().isLogin());
    EXPECT_EQ(KZAIUserManager::shared().userName(), "ann");
    EXPECT_EQ(KZAIUserManager::shared().userAvatar(), "https://a.test/p.png");

    KZAIUserManager::resetShared();
    writeSettings({{kAuthUserInfo, "logged in"}});
    EXPECT_FALSE(KZAIUserManager::shared().isLogin());
    EXPECT_EQ(KZAIUserManager::shared().userName(), "");
}

}  // namespace
