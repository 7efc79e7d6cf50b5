// The settings file's bytes in memory: the property-list parser that reads the file, each
// getter's typed reading of its key, the cookie check and the saved hot-key archive. No disk:
// fuzz_settings_file covers the same bytes through the file and the settings manager.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/KZSharedPlistManager.h"
#include "frameworks/KZShortcutConfig.h"
#include "kit/base/Log.h"
#include "kit/base/PropertyList.h"

namespace {

const char* const kBoolKeys[] = {
    KZSharedPlistKey::kPinState,           KZSharedPlistKey::kAccessibilityPermission,
    KZSharedPlistKey::kHasShowGuideWindow, KZSharedPlistKey::kPowerBootShowAILogo,
    KZSharedPlistKey::kShowStatusBarItem,  KZSharedPlistKey::kStatusBarHiddenOnLiquidScreenAlertShow,
    KZSharedPlistKey::kUseSelectTextTool,  KZSharedPlistKey::kFileDragState,
};

void readSettings(const kit::Dictionary& data) {
    for (const char* key : kBoolKeys) (void)KZSettingsBoolValue(data.find(key));
    (void)KZSettingsIntegerValue(data.find(KZSharedPlistKey::kGuideWindowChoosedShowAIBar));
    if (const auto* info = data.find(KZSharedPlistKey::kAuthUserInfo); info && info->asDictionary())
        (void)KZSettingsIntegerValue(info->asDictionary()->find("state"));
    if (const auto* cookies = data.find(KZSharedPlistKey::kCookies); cookies && cookies->asArray()) {
        for (const auto& entry : *cookies->asArray()) {
            // A cookie that passes the check has the fields the cookie store reads.
            if (!KZSharedPlistManager::isCookieProperties(entry)) continue;
            const auto& cookie = *entry.asDictionary();
            if (!cookie.find("Name")->isString() || !cookie.find("Value")->isString()) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kit::LogCapture quiet(true);
    quiet.clear();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = kit::parsePropertyList(bytes);
    if (parsed.ok() && parsed->asDictionary()) readSettings(*parsed->asDictionary());

    // The same bytes as a saved hot key.
    auto config = KZShortcutConfig::unarchive(std::string(bytes));
    if (config && config->keyCode() != static_cast<std::uint16_t>(config->keyCode())) __builtin_trap();
    return 0;
}
