// The settings file is written by another process: whatever bytes it holds, every getter
// answers without a crash, and the readings keep their documented shapes. This target goes
// through the file itself (a write and nine reads per input); fuzz_settings covers the same
// parser and readings in memory, many times faster.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/core/KZSharedPlistManager.h"
#include "frameworks/KZShortcutConfig.h"
#include "kit/base/Log.h"

namespace {

std::filesystem::path& folder() {
    static std::filesystem::path path;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/quarn-settings-fuzz-XXXXXX";
    folder() = ::mkdtemp(pattern);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder(), ec);
    });
    // Shortcut files live under the home folder.
    ::setenv("HOME", folder().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kit::LogCapture quiet(true);
    quiet.clear();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(folder() / "QuarnAIConfig.plist", std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    KZSharedPlistManager manager(folder());
    manager.db_qaWindowPinState();
    manager.db_accessibilityEnabled();
    manager.db_guideWindowChoosedAIShowIndex();
    manager.db_hasShowGuideWindow();
    manager.db_powerBootShowAI();
    manager.db_showAIStatusBarItem();
    manager.db_showStatusBarHiddenOnLiquidScreenAlert();
    manager.db_getUseGetTextTool();
    manager.db_fileDragState();
    auto info = manager.db_authUserInfo();
    if (!info.find("state") || !info.find("state")->isInteger() || !info.find("avatar")->isString() ||
        !info.find("userName")->isString())
        __builtin_trap();
    for (const auto& cookie : manager.db_cookies())
        if (!KZSharedPlistManager::isCookieProperties(kit::Value(cookie))) __builtin_trap();

    // The same bytes as a saved hot key.
    auto config = KZShortcutConfig::unarchive(bytes);
    if (config && config->keyCode() != static_cast<std::uint16_t>(config->keyCode())) __builtin_trap();
    return 0;
}
