#include "app/core/KZSharedPlistManager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>

#include "app/core/KZAIPowerBoot.h"
#include "app/core/KZBundleInfo.h"
#include "frameworks/KZShortcutConfig.h"
#include "frameworks/KZShortcutManager.h"
#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/PropertyList.h"
#include "kit/base/RunLoop.h"

namespace {

constexpr const char* kFileName = "QuarnAIConfig.plist";

std::unique_ptr<KZSharedPlistManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::unique_ptr<KZSharedPlistManager>;
    return *manager;
}

std::mutex& slotMutex() {
    static std::mutex m;
    return m;
}

std::filesystem::path defaultConfigFolder() {
    return kit::paths::applicationSupport() / "QuarnAI" / "config";
}

}  // namespace

std::optional<bool> KZSettingsBoolValue(const kit::Value* value) {
    if (!value) return std::nullopt;
    if (const auto* b = value->asBool()) return *b;
    if (const auto* i = value->asInteger()) return *i != 0;
    return std::nullopt;
}

std::optional<std::int64_t> KZSettingsIntegerValue(const kit::Value* value) {
    if (!value) return std::nullopt;
    if (const auto* i = value->asInteger()) return *i;
    if (const auto* b = value->asBool()) return *b ? 1 : 0;
    return std::nullopt;
}

// The advisory lock between our processes, held for one read-modify-write. Without the lock
// file (no folder) the operation goes on unlocked; its write fails anyway.
class KZSharedPlistManager::FileLock {
public:
    explicit FileLock(const std::filesystem::path& plistPath) {
        auto lockPath = plistPath;
        lockPath += ".lock";
        fd_ = kit::openPrivateFile(lockPath, O_RDWR | O_CREAT);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

KZSharedPlistManager& KZSharedPlistManager::sharedManager() {
    std::lock_guard lock(slotMutex());
    auto& s = slot();
    if (!s) s = std::make_unique<KZSharedPlistManager>();
    return *s;
}

void KZSharedPlistManager::resetSharedManager() {
    std::lock_guard lock(slotMutex());
    slot().reset();
}

KZSharedPlistManager::KZSharedPlistManager() : plistPath_(defaultConfigFolder() / kFileName) {
    if (kit::process::bundleIdentifier() == KZBundleInfo::kBundleIdentifier) createFileIfNeeded();
}

KZSharedPlistManager::KZSharedPlistManager(const std::filesystem::path& configFolder)
    : plistPath_(configFolder / kFileName) {}

void KZSharedPlistManager::createFileIfNeeded() {
    std::error_code ec;
    if (auto made = kit::createPrivateFolders(plistPath_.parent_path()); !made)
        kit::logf("[DB] %s", made.error().c_str());
    std::lock_guard lock(mutex_);
    FileLock fileLock(plistPath_);
    if (!std::filesystem::exists(plistPath_, ec)) writeDataLocked(newFileDictionary());
}

kit::Dictionary KZSharedPlistManager::defaultAuthUserInfo() {
    return {{"state", std::int64_t{1}}, {"avatar", ""}, {"userName", ""}};
}

kit::Dictionary KZSharedPlistManager::newFileDictionary() {
    using namespace KZSharedPlistKey;
    return {{kPinState, false},
            {kAccessibilityPermission, false},
            {kAuthUserInfo, defaultAuthUserInfo()},
            {kGuideWindowChoosedShowAIBar, false},
            {kHasShowGuideWindow, false},
            {kPowerBootShowAILogo, true},
            {kShowStatusBarItem, false},
            {kStatusBarHiddenOnLiquidScreenAlertShow, false},
            {kUseSelectTextTool, false}};
}

bool KZSharedPlistManager::isCookieProperties(const kit::Value& value) {
    const auto* dict = value.asDictionary();
    if (!dict) return false;
    auto nonEmptyString = [&](const char* key) {
        const auto* v = dict->find(key);
        return v && v->isString() && !v->asString()->empty();
    };
    const auto* cookieValue = dict->find("Value");
    if (!nonEmptyString("Name") || !cookieValue || !cookieValue->isString()) return false;
    return nonEmptyString("Domain") || nonEmptyString("OriginURL");
}

// ---- Lower level

std::optional<kit::Dictionary> KZSharedPlistManager::readData() {
    std::lock_guard lock(mutex_);
    return readDataLocked();
}

std::optional<kit::Dictionary> KZSharedPlistManager::readDataLocked() {
    // A change closer than this to the read may share its timestamp with a later rewrite.
    constexpr std::int64_t kSettledNanoseconds = 2'000'000'000;
    struct stat info {};
    std::optional<FileIdentity> identity;
    if (::stat(plistPath_.c_str(), &info) == 0) {
        identity = FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                                static_cast<std::int64_t>(info.st_size),
                                std::int64_t(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec,
                                std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
        if (cached_ && cacheSettled_ && *identity == cachedIdentity_) return cached_;
    }
    cached_.reset();
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    auto value = kit::readPropertyListFile(plistPath_);
    if (!value || !value->isDictionary()) {
        readFailureLine_.log(kit::RunLoop::main().now());
        return std::nullopt;
    }
    readFailureLine_.settled();
    if (identity) {
        cached_ = *value->asDictionary();
        cachedIdentity_ = *identity;
        const std::int64_t readAt = std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
        cacheSettled_ = readAt - std::max(identity->changed, identity->modified) >= kSettledNanoseconds;
    }
    return std::move(*value->asDictionary());
}

bool KZSharedPlistManager::writeData(const kit::Dictionary& data) {
    std::lock_guard lock(mutex_);
    return writeDataLocked(data);
}

bool KZSharedPlistManager::writeDataLocked(const kit::Dictionary& data) {
    auto status = kit::writePropertyListFile(plistPath_, kit::Value(data));
    kit::logLine(status ? "[DB] Successfully wrote data to plist" : "[DB] Failed to write data to plist");
    return status.ok();
}

bool KZSharedPlistManager::updateData(const std::function<bool(kit::Dictionary&)>& change) {
    std::lock_guard lock(mutex_);
    FileLock fileLock(plistPath_);
    auto data = readDataLocked();
    if (!data || !change(*data)) return false;
    return writeDataLocked(*data);
}

// ---- Typed access

bool KZSharedPlistManager::readBool(const char* key, bool absent) {
    auto data = readData();
    if (!data) return false;
    return KZSettingsBoolValue(data->find(key)).value_or(absent);
}

void KZSharedPlistManager::setBoolOnChange(const char* key, bool value, bool absent, const char* logFormat,
                                           After after) {
    bool written = false;
    {
        std::lock_guard lock(mutex_);
        FileLock fileLock(plistPath_);
        auto data = readDataLocked();
        bool current = data ? KZSettingsBoolValue(data->find(key)).value_or(absent) : absent;
        if (current == value) return;
        kit::logf(logFormat, value ? 1 : 0);
        if (!data) {
            // Nothing to change on disk: the file is gone or unreadable until the next launch.
            kit::logLine("[DB] Failed to write data to plist");
            return;
        }
        data->set(key, value);
        written = writeDataLocked(*data);
    }
    // Outside the locks: the launch-agent code reads the settings again.
    if (!written) return;
    switch (after) {
        case After::Nothing: break;
        case After::WindowsProcessPowerBoot: KZAIPowerBoot::onWindowsProcessPowerBootStatusChanged(); break;
        case After::GetTextProcessPowerBoot: KZAIPowerBoot::onGetTextProcessPowerBootStatusChanged(); break;
    }
}

void KZSharedPlistManager::setAlways(const char* key, kit::Value value, const std::string& logLine) {
    std::lock_guard lock(mutex_);
    FileLock fileLock(plistPath_);
    auto data = readDataLocked();
    kit::logLine(logLine);
    if (!data) {
        kit::logLine("[DB] Failed to write data to plist");
        return;
    }
    data->set(key, std::move(value));
    writeDataLocked(*data);
}

bool KZSharedPlistManager::db_qaWindowPinState() { return readBool(KZSharedPlistKey::kPinState, false); }

void KZSharedPlistManager::db_setQAWindowPinState(bool value) {
    setBoolOnChange(KZSharedPlistKey::kPinState, value, false, "[DB] Set QA Window Pin State: %d", After::Nothing);
}

bool KZSharedPlistManager::db_accessibilityEnabled() {
    return readBool(KZSharedPlistKey::kAccessibilityPermission, false);
}

void KZSharedPlistManager::db_setAccessibilityEnabled(bool value) {
    setBoolOnChange(KZSharedPlistKey::kAccessibilityPermission, value, false, "[DB] Set Accessibility Enabled: %d",
                    After::Nothing);
}

kit::Dictionary KZSharedPlistManager::db_authUserInfo() {
    auto data = readData();
    const kit::Value* stored = data ? data->find(KZSharedPlistKey::kAuthUserInfo) : nullptr;
    const kit::Dictionary* dict = stored ? stored->asDictionary() : nullptr;
    if (!dict) return defaultAuthUserInfo();
    // Each field is checked on its own; a wrong or missing state counts as logged out.
    auto state = KZSettingsIntegerValue(dict->find("state")).value_or(1);
    auto text = [&](const char* key) {
        const auto* v = dict->find(key);
        return (v && v->isString()) ? *v->asString() : std::string();
    };
    return {{"state", state}, {"avatar", text("avatar")}, {"userName", text("userName")}};
}

void KZSharedPlistManager::db_setAuthUserInfo(const kit::Dictionary& info) {
    setAlways(KZSharedPlistKey::kAuthUserInfo, info, "[DB] setAuthUserInfo: " + kit::describe(kit::Value(info)));
}

std::int64_t KZSharedPlistManager::db_guideWindowChoosedAIShowIndex() {
    auto data = readData();
    if (!data) return 0;
    return KZSettingsIntegerValue(data->find(KZSharedPlistKey::kGuideWindowChoosedShowAIBar)).value_or(0);
}

void KZSharedPlistManager::db_setGuideWindowChoosedAIShowIndex(std::int64_t index) {
    setAlways(KZSharedPlistKey::kGuideWindowChoosedShowAIBar, index,
              "[DB] db_setGuideWindowChoosedAIShowIndex: " + std::to_string(index));
}

bool KZSharedPlistManager::db_hasShowGuideWindow() { return readBool(KZSharedPlistKey::kHasShowGuideWindow, false); }

void KZSharedPlistManager::db_setHasShowGuideWindow(bool value) {
    setBoolOnChange(KZSharedPlistKey::kHasShowGuideWindow, value, false, "[DB] setHasShowGuideWindow: %d",
                    After::Nothing);
}

bool KZSharedPlistManager::db_powerBootShowAI() { return readBool(KZSharedPlistKey::kPowerBootShowAILogo, false); }

void KZSharedPlistManager::db_setPowerBootShowAI(bool value) {
    setBoolOnChange(KZSharedPlistKey::kPowerBootShowAILogo, value, false, "[DB] setPowerBootShowAI: %d",
                    After::WindowsProcessPowerBoot);
}

bool KZSharedPlistManager::db_showAIStatusBarItem() { return readBool(KZSharedPlistKey::kShowStatusBarItem, false); }

void KZSharedPlistManager::db_setShowAIStatusBarItem(bool value) {
    setBoolOnChange(KZSharedPlistKey::kShowStatusBarItem, value, false, "[DB] setShowAIStatusBarItem: %d",
                    After::WindowsProcessPowerBoot);
}

bool KZSharedPlistManager::db_showStatusBarHiddenOnLiquidScreenAlert() {
    return readBool(KZSharedPlistKey::kStatusBarHiddenOnLiquidScreenAlertShow, false);
}

void KZSharedPlistManager::db_setShowStatusBarHiddenOnLiquidScreenAlert(bool value) {
    setBoolOnChange(KZSharedPlistKey::kStatusBarHiddenOnLiquidScreenAlertShow, value, false,
                    "[DB] setShowStatusBarHiddenOnLiquidScreenAlert: %d", After::Nothing);
}

bool KZSharedPlistManager::db_getUseGetTextTool() { return readBool(KZSharedPlistKey::kUseSelectTextTool, false); }

void KZSharedPlistManager::db_setUseGetTextTool(bool value) {
    setBoolOnChange(KZSharedPlistKey::kUseSelectTextTool, value, false, "[DB] setUseGetTextTool: %d",
                    After::GetTextProcessPowerBoot);
}

bool KZSharedPlistManager::db_fileDragState() { return readBool(KZSharedPlistKey::kFileDragState, true); }

void KZSharedPlistManager::db_setFileDragState(bool value) {
    setBoolOnChange(KZSharedPlistKey::kFileDragState, value, true, "[DB] Set File Drag State: %d", After::Nothing);
}

std::vector<kit::Dictionary> KZSharedPlistManager::db_cookies() {
    std::vector<kit::Dictionary> cookies;
    auto data = readData();
    if (!data) return cookies;
    const kit::Value* stored = data->find(KZSharedPlistKey::kCookies);
    const kit::Array* array = stored ? stored->asArray() : nullptr;
    if (!array) return cookies;
    for (const auto& entry : *array)
        if (isCookieProperties(entry)) cookies.push_back(*entry.asDictionary());
    return cookies;
}

void KZSharedPlistManager::db_setCookies(const std::vector<kit::Dictionary>& cookies) {
    kit::Array array;
    for (const auto& cookie : cookies)
        if (isCookieProperties(kit::Value(cookie))) array.emplace_back(cookie);
    std::string line = "[DB] setCookies: " + kit::describe(kit::Value(array));
    setAlways(KZSharedPlistKey::kCookies, std::move(array), line);
}

bool KZSharedPlistManager::db_hasSideWinShortcut() { return hasReadedShortcutConfig(KZShortcutHotKeyIdSideWindow); }

bool KZSharedPlistManager::db_hasScreenshotShortcut() {
    return hasReadedShortcutConfig(KZShortcutHotKeyIdScreenshot);
}

std::filesystem::path KZSharedPlistManager::__fileUrlWithShortcutConfig(unsigned hotKeyId) {
    kit::createPrivateFolders(KZShortcutConfig::folder()).ok();
    return KZShortcutConfig::fileForHotKeyId(hotKeyId);
}

bool KZSharedPlistManager::hasReadedShortcutConfig(unsigned hotKeyId) {
    __fileUrlWithShortcutConfig(hotKeyId);
    return KZShortcutManager::loadSavedConfig(hotKeyId).has_value();
}
