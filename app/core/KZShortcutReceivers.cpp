#include "app/core/KZAIUserManager.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/core/KZShortcutSideWindowReceiver.h"
#include "frameworks/HXReport.h"
#include "frameworks/KZShortcutConfig.h"
#include "kit/base/Log.h"

namespace {

KZShortcutScreenshotReceiver::Services& servicesSlot() {
    static auto* services = new KZShortcutScreenshotReceiver::Services;
    return *services;
}

// The side window's source type of a screenshot taken while logged out.
constexpr int kSourceTypeScreenshot = 4;

void screenshotFinished(const std::shared_ptr<kit::Image>& image) {
    if (!image) return;
    const auto& services = KZShortcutScreenshotReceiver::services();
    if (KZAIUserManager::shared().isLogin()) {
        if (services.showAISideWindowControllerWithImage) {
            services.showAISideWindowControllerWithImage(image);
        } else {
            kit::logLine("[Shortcut] no side window to take the screenshot");
        }
        return;
    }
    HXReport::reportCommonKeyValue(24022, "12");
    if (services.showLoginWindowRelateToWindow) {
        services.showLoginWindowRelateToWindow();
    } else {
        kit::logLine("[Shortcut] no login window to show");
    }
    // The image is dropped: the chat only takes it from a logged-in user.
    if (auto* windows = KZCoreHooks::windowManager()) windows->showAISideWindowController(kSourceTypeScreenshot, {});
}

}  // namespace

int KZShortcutSideWindowReceiver::hotKeyId() const { return KZShortcutHotKeyIdSideWindow; }

void KZShortcutSideWindowReceiver::hotKeyAction() {
    HXReport::reportButtonClick(21130);
    if (auto* windows = KZCoreHooks::windowManager()) windows->hotkeyShowSideMainWindowController();
}

void KZShortcutScreenshotReceiver::setServices(Services services) { servicesSlot() = std::move(services); }

const KZShortcutScreenshotReceiver::Services& KZShortcutScreenshotReceiver::services() { return servicesSlot(); }

void KZShortcutScreenshotReceiver::resetServices() { servicesSlot() = Services{}; }

int KZShortcutScreenshotReceiver::hotKeyId() const { return KZShortcutHotKeyIdScreenshot; }

void KZShortcutScreenshotReceiver::hotKeyAction() {
    HXReport::reportButtonClick(21131);
    HXReport::reportCommonKeyValue(24020, "33");
    HXReport::reportCommonKeyValue(24060, "2");
    const auto& start = services().startScreenshotWithCompleteHandler;
    if (!start) {
        kit::logLine("[Shortcut] no screenshot tool");
        return;
    }
    start([](const std::shared_ptr<kit::Image>& image, int) { screenshotFinished(image); });
}
