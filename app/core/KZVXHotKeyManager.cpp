#include "app/core/KZVXHotKeyManager.h"

#include <string>

#include "frameworks/KZShortcutManager.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/sys/GlobalHotKeys.h"

namespace {

std::unique_ptr<KZVXHotKeyManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::unique_ptr<KZVXHotKeyManager>;
    return *manager;
}

struct ModifierMapping {
    std::uint32_t platform;
    std::uint32_t registration;
};

constexpr ModifierMapping kModifierMappings[] = {
    {kit::HotKeyModifier::Shift, KZVXCarbonModifier::shiftKey},
    {kit::HotKeyModifier::Control, KZVXCarbonModifier::controlKey},
    {kit::HotKeyModifier::Option, KZVXCarbonModifier::optionKey},
    {kit::HotKeyModifier::Command, KZVXCarbonModifier::cmdKey},
};

// The platform bits that the registration bits stand for (the layer below grabs those).
std::uint32_t platformModifiers(std::uint32_t registration) {
    std::uint32_t out = 0;
    for (const auto& mapping : kModifierMappings)
        if (registration & mapping.registration) out |= mapping.platform;
    return out;
}

}  // namespace

KZVXHotKeyManager& KZVXHotKeyManager::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZVXHotKeyManager>();
    return *s;
}

void KZVXHotKeyManager::resetShared() { slot().reset(); }

KZVXHotKeyManager::~KZVXHotKeyManager() { unregisterHotKey(); }

void KZVXHotKeyManager::setupWithHandler(std::function<void()> handler) {
    handler_ = std::move(handler);
    if (eventObserver_) return;
    eventObserver_ = kit::NotificationCenter::defaultCenter().addObserverForName(
        kHotKeyEventNotification, nullptr, [this](const kit::Notification& notification) {
            handleHotKeyEventNotification(notification);
        });
}

std::uint32_t KZVXHotKeyManager::convertModifiers(std::uint32_t modifiers) {
    std::uint32_t out = 0;
    for (const auto& mapping : kModifierMappings)
        if (modifiers & mapping.platform) out |= mapping.registration;
    return out;
}

void KZVXHotKeyManager::registerHotKeyWithKeyCode(std::uint32_t keyCode, std::uint32_t modifiers) {
    unregisterHotKey();
    const std::uint32_t converted = convertModifiers(modifiers);
    if (converted == 0) return;

    int status = 0;
    if (keyCode > 0xFFFF) {
        status = kStatusHotKeyInvalid;
    } else if (auto registered = kit::GlobalHotKeys::shared().registerHotKey(
                   kHotKeyID, static_cast<std::uint16_t>(keyCode), platformModifiers(converted));
               !registered) {
        status = kStatusHotKeyExists;
    } else {
        hotKeyRef_ = kHotKeyID;
    }
    kit::logf("AIIPC-- hotkey 2: %d, %d, %d", status, static_cast<int>(keyCode), static_cast<int>(converted));
    if (status != 0) kit::logLine("set hot key error");
    installHotKeyHandler();
}

void KZVXHotKeyManager::installHotKeyHandler() {
    // Once: the shortcut manager keeps one handler of other ids, and a second installation
    // would only replace it with the same.
    if (handlerInstalled_) return;
    handlerInstalled_ = true;
    KZShortcutManager::shared().setOtherHotKeyHandler([](std::uint32_t hotKeyId) { hotKeyHandler(hotKeyId); });
}

void KZVXHotKeyManager::unregisterHotKey() {
    if (!hotKeyRef_) return;
    kit::GlobalHotKeys::shared().unregisterHotKey(*hotKeyRef_);
    hotKeyRef_.reset();
}

void KZVXHotKeyManager::handleHotKeyEventNotification(const kit::Notification& notification) {
    const auto* id = notification.userInfo[kHotKeyIDKey].asInteger();
    if (id && *id == kHotKeyID && handler_) handler_();
}

void hotKeyHandler(std::uint32_t hotKeyId) {
    kit::logLine("AIIPC-- hotkey 1.1");
    kit::NotificationCenter::defaultCenter().post(KZVXHotKeyManager::kHotKeyEventNotification, nullptr,
                                                  kit::Dictionary{{KZVXHotKeyManager::kHotKeyIDKey, hotKeyId}});
}
