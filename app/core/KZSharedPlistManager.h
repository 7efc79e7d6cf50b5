#pragma once
// The settings file shared with the host application: a property-list dictionary at
// home/Library/Application Support/QuarnAI/config/QuarnAIConfig.plist that both processes read
// and write. Nothing is cached: every getter and setter reads the whole file again.
//
// Values come from another process too, so every value's type is checked: a value of the wrong
// type reads as absent. Read-modify-write runs under an advisory lock (flock on
// "QuarnAIConfig.plist.lock" beside the file) so that two processes of ours do not lose each
// other's changes; writes are atomic (temporary file, then rename).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/Value.h"

namespace KZSharedPlistKey {
inline constexpr const char* kPinState = "kQuarn_AI_QA_WIDNDOW_PIN_STATE";
inline constexpr const char* kAccessibilityPermission = "kQuarn_AI_UD_Accessiblity_Permission";
inline constexpr const char* kAuthUserInfo = "kQuarn_AI_UD_AuthUserInfo";
inline constexpr const char* kGuideWindowChoosedShowAIBar = "kQuarn_AI_UD_GuideWindow_HasChoosedShowAIBar";
inline constexpr const char* kHasShowGuideWindow = "kQuarn_AI_UD_HasShowGuideWindow";
inline constexpr const char* kPowerBootShowAILogo = "kQuarn_AI_UD_PowerBootShowAILogo";
inline constexpr const char* kShowStatusBarItem = "kQuarn_AI_UD_ShowStatusBarItem";
inline constexpr const char* kStatusBarHiddenOnLiquidScreenAlertShow =
    "kQuarn_AI_UD_StatusBarHiddenOnLiquidScreenAlertShow";
inline constexpr const char* kUseSelectTextTool = "kQuarn_AI_UD_UseSelectTextTool";
inline constexpr const char* kFileDragState = "kQuarn_AI_FILE_DRAG_STATE";
inline constexpr const char* kCookies = "kQuarn_AI_UD_Cookies";
}  // namespace KZSharedPlistKey

class KZSharedPlistManager {
public:
    static KZSharedPlistManager& sharedManager();
    static void resetSharedManager();

    // The file in the user's home. The folder and a new file are created only in this
    // application's own bundle.
    KZSharedPlistManager();
    // A manager of the file "QuarnAIConfig.plist" in another folder; creates nothing.
    explicit KZSharedPlistManager(const std::filesystem::path& configFolder);

    const std::filesystem::path& plistPath() const { return plistPath_; }

    // The login record of a logged-out user: {"state": 1, "avatar": "", "userName": ""}.
    static kit::Dictionary defaultAuthUserInfo();
    // The dictionary a new file is written with.
    static kit::Dictionary newFileDictionary();
    // Whether a dictionary holds the properties of one cookie: "Name" (non-empty string),
    // "Value" (string), and a non-empty "Domain" or "OriginURL".
    static bool isCookieProperties(const kit::Value& value);

    bool db_qaWindowPinState();
    void db_setQAWindowPinState(bool value);
    bool db_accessibilityEnabled();
    void db_setAccessibilityEnabled(bool value);
    // Always a dictionary with an integer "state" (0 logged in, 1 logged out) and string
    // "avatar" and "userName".
    kit::Dictionary db_authUserInfo();
    void db_setAuthUserInfo(const kit::Dictionary& info);
    std::int64_t db_guideWindowChoosedAIShowIndex();
    void db_setGuideWindowChoosedAIShowIndex(std::int64_t index);
    bool db_hasShowGuideWindow();
    void db_setHasShowGuideWindow(bool value);
    bool db_powerBootShowAI();
    void db_setPowerBootShowAI(bool value);
    bool db_showAIStatusBarItem();
    void db_setShowAIStatusBarItem(bool value);
    bool db_showStatusBarHiddenOnLiquidScreenAlert();
    void db_setShowStatusBarHiddenOnLiquidScreenAlert(bool value);
    bool db_getUseGetTextTool();
    void db_setUseGetTextTool(bool value);
    bool db_fileDragState();
    void db_setFileDragState(bool value);
    // Cookie property dictionaries; entries that do not make a cookie are skipped.
    std::vector<kit::Dictionary> db_cookies();
    void db_setCookies(const std::vector<kit::Dictionary>& cookies);
    bool db_hasSideWinShortcut();
    bool db_hasScreenshotShortcut();

    // The whole file, or nullopt when it cannot be read or is not a dictionary.
    std::optional<kit::Dictionary> readData();
    bool writeData(const kit::Dictionary& data);
    // Read-modify-write under both locks: `change` edits the file's dictionary and answers
    // whether to write it. False when the file could not be read or written, or nothing changed.
    bool updateData(const std::function<bool(kit::Dictionary&)>& change);

    bool hasReadedShortcutConfig(unsigned hotKeyId);
    std::filesystem::path __fileUrlWithShortcutConfig(unsigned hotKeyId);

private:
    class FileLock;
    enum class After { Nothing, WindowsProcessPowerBoot, GetTextProcessPowerBoot };

    std::optional<kit::Dictionary> readDataLocked();
    bool writeDataLocked(const kit::Dictionary& data);
    bool readBool(const char* key, bool absent);
    void setBoolOnChange(const char* key, bool value, bool absent, const char* logFormat, After after);
    void setAlways(const char* key, kit::Value value, const std::string& logLine);
    void createFileIfNeeded();

    std::filesystem::path plistPath_;
    std::recursive_mutex mutex_;
    // The last parse and the file it came from (device, inode, size, change and modification
    // times in nanoseconds, and when it was read): reused while the file is the same one and was
    // read well after its last change, so that a rewrite within the file system's timestamp
    // granularity is never missed.
    struct FileIdentity {
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = -1, changed = 0, modified = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    std::optional<kit::Dictionary> cached_;
    FileIdentity cachedIdentity_;
    bool cacheSettled_ = false;
    // Every getter reads the file (the notch check once a second): while it cannot be read, the
    // failure line is written at most once a minute, with a count.
    kit::RepeatedLogLine readFailureLine_{"[DB] Failed to read data from plist", 60};
};

// Readings of one value from the file, with the type checks of the getters. Booleans accept
// booleans and integers; integers accept integers and booleans; anything else is absent.
std::optional<bool> KZSettingsBoolValue(const kit::Value* value);
std::optional<std::int64_t> KZSettingsIntegerValue(const kit::Value* value);
