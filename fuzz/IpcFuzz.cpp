// Any process of the user can post the notifications the IPC client observes, and launch
// arguments are anyone's: whatever user info or argument array arrives, the handlers answer
// without a crash, and what they pass on keeps its documented shape (panel frames are never
// empty or unbounded).
//
// Input: the first byte picks the target (its low three bits: one of the six observed
// notifications, or the argument dispatcher; bit 3 wraps the value in {"data": value}); the rest
// is the user info as JSON, else as a property list, else as one string. For the dispatcher the
// rest is split into arguments at newlines.

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/KZAIIPCClient.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/core/KZVXHotKeyManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/KZShortcutManager.h"
#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"
#include "kit/headless/ScriptedGlobalHotKeys.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/sys/DistributedNotificationCenter.h"

namespace {

class QuietWindowManager : public KZWindowControllerManaging {
public:
    void loadSideWindowController() override {}
    void showAISpliashWindowController() override {}
    void setShowAIStatusBarItem(bool) override {}
    bool showAIStatusBarItem() const override { return false; }
    void showStatusBarIconWhenQuarnLaunch() override {}
    void showSideMainWindowController() override {}
    void hotkeyShowSideMainWindowController() override {}
    void setStatusItem(std::weak_ptr<kit::StatusItem>) override {}
    void showAISideWindowController(int, const std::string&) override {}
    void showPermissionWindowAlone() override {}
};

void checkFrame(const kit::Rect& frame) {
    if (frame.isEmpty() || !std::isfinite(frame.origin.x) || !std::isfinite(frame.origin.y) ||
        !std::isfinite(frame.size.width) || !std::isfinite(frame.size.height))
        __builtin_trap();
}

void checkOrigin(kit::Point origin) {
    if (!std::isfinite(origin.x) || !std::isfinite(origin.y)) __builtin_trap();
}

struct World {
    kit::TestEnvironment env{true};
    kit::ScriptedGlobalHotKeys hotKeys;
    QuietWindowManager windows;

    World() {
        KZCoreHooks::setWindowManagerProvider([this] { return &windows; });
        KZAIIPCClient::setServices({
            .showExplainPanelControllerWindowWithText = [](const std::string&, kit::Point o) { checkOrigin(o); },
            .showTranslatePanelControllerWindowWithText = [](const std::string&, kit::Point o) { checkOrigin(o); },
            .updateExplainPanelControllerWindowFrame = checkFrame,
            .updateTranslatePanelControllerWindowFrame = checkFrame,
            .setFileDragEnable = [](bool) {},
        });
        KZShortcutManager::shared().registerGlobalMonitorForKeyboardEvent();
        KZAIIPCClient::shared().showStatusBarChangedHandler = [](bool) {};
        static std::filesystem::path root = env.root();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(root, ec);
        });
    }
};

World& world() {
    static World* w = new World;  // lives until exit, as the application's services do
    return *w;
}

kit::Value valueOf(std::string_view bytes) {
    if (auto json = kit::parseJson(bytes)) return std::move(*json);
    if (auto plist = kit::parsePropertyList(bytes)) return std::move(*plist);
    return kit::Value(std::string(bytes));
}

std::vector<std::string> argumentsOf(std::string_view bytes) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\n') {
            out.emplace_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    auto& w = world();
    auto& client = KZAIIPCClient::shared();
    const std::uint8_t selector = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    const unsigned target = selector & 7u;
    if (target >= 6) {
        client.handleText2AIEventWithArguments(argumentsOf(rest));
    } else {
        kit::Value info = valueOf(rest);
        if (selector & 8u) info = kit::Dictionary{{"data", std::move(info)}};
        kit::DistributedNotification notification{"fuzz", {}, std::move(info)};
        switch (target) {
            case 0: client.handleShowAIStatusItemChangedNotification(notification); break;
            case 1: client.handleUseHotKeyChangedNotification(notification); break;
            case 2: client.handleShowAccessibilityPermissionWindowNotification(notification); break;
            case 3: client.handleUpdateShortcutNotification(notification); break;
            case 4: client.handleT2ACommonNotification(notification); break;
            default: client.handleFileDragValueDidChangeNotification(notification); break;
        }
    }
    // Replies are delivered, then forgotten so that memory stays flat over a long run.
    w.env.runUntilIdle();
    w.env.distributedBus().clearPosts();
    w.env.log().clear();
    HXReport::takeRecordedEvents();
    return 0;
}
