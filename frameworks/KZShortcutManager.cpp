#include "frameworks/KZShortcutManager.h"

#include <fstream>
#include <iterator>
#include <string>

#include "kit/base/Log.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/PropertyList.h"
#include "kit/sys/GlobalHotKeys.h"

namespace {

std::unique_ptr<KZShortcutManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::unique_ptr<KZShortcutManager>;
    return *manager;
}

constexpr std::uint32_t kRequiredOneOf =
    KZModifierFlag::Command | KZModifierFlag::Control | KZModifierFlag::Option;

constexpr int kManagedIds[] = {KZShortcutHotKeyIdSideWindow, KZShortcutHotKeyIdScreenshot};

bool isKnownHotKeyId(int id) {
    return id == KZShortcutHotKeyIdSideWindow || id == KZShortcutHotKeyIdScreenshot;
}

kit::Status grab(const KZShortcutConfig& config) {
    return kit::GlobalHotKeys::shared().registerHotKey(static_cast<std::uint32_t>(config.hotKeyId()),
                                                       config.keyCode(), config.significantModifiers());
}

}  // namespace

KZShortcutManager& KZShortcutManager::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZShortcutManager>();
    return *s;
}

void KZShortcutManager::resetShared() { slot().reset(); }

KZShortcutManager::~KZShortcutManager() {
    if (!monitoring_) return;
    auto& hotKeys = kit::GlobalHotKeys::shared();
    for (int id : kManagedIds) hotKeys.unregisterHotKey(static_cast<std::uint32_t>(id));
    hotKeys.setHandler(nullptr);
}

std::optional<KZShortcutConfig> KZShortcutManager::loadSavedConfig(unsigned hotKeyId) {
    std::ifstream in(KZShortcutConfig::fileForHotKeyId(hotKeyId), std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto config = KZShortcutConfig::unarchive(bytes);
    if (!config) return std::nullopt;
    // A file saved under one id that names another is not trusted.
    if (config->hotKeyId() != static_cast<int>(hotKeyId)) return std::nullopt;
    return *config;
}

void KZShortcutManager::registerGlobalMonitorForKeyboardEvent() {
    if (!monitoring_) {
        monitoring_ = true;
        kit::GlobalHotKeys::shared().setHandler([](std::uint32_t hotKeyId) {
            if (auto& manager = slot()) manager->hotKeyPressed(hotKeyId);
        });
    }
    reload();
}

void KZShortcutManager::reload() {
    configs_.clear();
    for (int id : kManagedIds) {
        auto config = loadSavedConfig(static_cast<unsigned>(id));
        if (!config) continue;
        configs_[id] = *config;
        if (auto status = grab(*config); !status)
            kit::logf("[Shortcut] hot key %d is not available: %s", id, status.error().c_str());
    }
}

void KZShortcutManager::addShortcutReceiver(std::shared_ptr<KZShortcutReceiver> receiver) {
    if (!receiver) return;
    receivers_.push_back(std::move(receiver));
}

kit::Status KZShortcutManager::updateConfig(const KZShortcutConfig& config) {
    const int id = config.hotKeyId();
    if (!isKnownHotKeyId(id)) return kit::Error{"unknown hot-key id " + std::to_string(id)};
    if ((config.modifierFlags() & kRequiredOneOf) == 0)
        return kit::Error{"a global hot key needs Command, Control or Option"};
    for (const auto& [otherId, other] : configs_) {
        if (otherId != id && other.keyCode() == config.keyCode() &&
            other.significantModifiers() == config.significantModifiers())
            return kit::Error{"the key combination is already used by hot key " + std::to_string(otherId)};
    }
    if (monitoring_) {
        if (auto status = grab(config); !status) return status;
    }
    auto path = KZShortcutConfig::fileForHotKeyId(static_cast<unsigned>(id));
    kit::createPrivateFolders(path.parent_path()).ok();
    if (auto status = kit::writePropertyListFile(path, config.archive()); !status) {
        // Unsaved means unchanged: the previous combination goes back.
        if (monitoring_) {
            auto previous = configs_.find(id);
            if (previous != configs_.end()) {
                grab(previous->second).ok();
            } else {
                kit::GlobalHotKeys::shared().unregisterHotKey(static_cast<std::uint32_t>(id));
            }
        }
        return status;
    }
    configs_[id] = config;
    return kit::Status::success();
}

const KZShortcutConfig* KZShortcutManager::configForHotKeyId(int hotKeyId) const {
    auto it = configs_.find(hotKeyId);
    return it == configs_.end() ? nullptr : &it->second;
}

void KZShortcutManager::hotKeyPressed(std::uint32_t hotKeyId) {
    if (!isKnownHotKeyId(static_cast<int>(hotKeyId))) {
        if (otherHandler_) otherHandler_(hotKeyId);
        return;
    }
    // A snapshot: a receiver may add receivers.
    auto receivers = receivers_;
    for (const auto& receiver : receivers)
        if (receiver->hotKeyId() == static_cast<int>(hotKeyId)) receiver->hotKeyAction();
}
