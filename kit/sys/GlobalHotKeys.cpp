#include "kit/sys/GlobalHotKeys.h"

#include <mutex>
#include <string>

namespace kit {

namespace {

class UnavailableGlobalHotKeys final : public GlobalHotKeys {
protected:
    Status grab(const HotKeyCombination&) override {
        return Error{"global hot keys are not available without a desktop"};
    }
    void ungrab(const HotKeyCombination&) override {}
};

std::mutex& slotMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<GlobalHotKeys>& slot() {
    static std::shared_ptr<GlobalHotKeys> hotKeys = std::make_shared<UnavailableGlobalHotKeys>();
    return hotKeys;
}

}  // namespace

GlobalHotKeys& GlobalHotKeys::shared() { return *sharedPointer(); }

std::shared_ptr<GlobalHotKeys> GlobalHotKeys::sharedPointer() {
    std::lock_guard lock(slotMutex());
    return slot();
}

void GlobalHotKeys::setShared(std::shared_ptr<GlobalHotKeys> hotKeys) {
    std::shared_ptr<GlobalHotKeys> previous;
    std::lock_guard lock(slotMutex());
    previous = std::exchange(slot(), hotKeys ? std::move(hotKeys) : std::make_shared<UnavailableGlobalHotKeys>());
}

Status GlobalHotKeys::registerHotKey(std::uint32_t hotKeyId, std::uint16_t keyCode, std::uint32_t modifierFlags) {
    const HotKeyCombination wanted{keyCode, modifierFlags & HotKeyModifier::Significant};
    for (const auto& [id, combination] : registered_) {
        if (id != hotKeyId && combination == wanted) {
            return Error{"the key combination is already registered as hot key " + std::to_string(id)};
        }
    }
    auto current = registered_.find(hotKeyId);
    if (current != registered_.end() && current->second == wanted) return Status::success();
    // The new combination is taken before the old one is let go, so a refusal changes nothing.
    if (auto status = grab(wanted); !status) return status;
    if (current != registered_.end()) {
        ungrab(current->second);
        current->second = wanted;
    } else {
        registered_.emplace(hotKeyId, wanted);
    }
    return Status::success();
}

void GlobalHotKeys::unregisterHotKey(std::uint32_t hotKeyId) {
    auto it = registered_.find(hotKeyId);
    if (it == registered_.end()) return;
    const HotKeyCombination combination = it->second;
    registered_.erase(it);
    ungrab(combination);
}

void GlobalHotKeys::unregisterAll() {
    auto all = std::move(registered_);
    registered_.clear();
    for (const auto& [id, combination] : all) ungrab(combination);
}

std::optional<HotKeyCombination> GlobalHotKeys::combinationFor(std::uint32_t hotKeyId) const {
    auto it = registered_.find(hotKeyId);
    if (it == registered_.end()) return std::nullopt;
    return it->second;
}

bool GlobalHotKeys::combinationPressed(const HotKeyCombination& pressed) {
    const HotKeyCombination combination{pressed.keyCode, pressed.modifierFlags & HotKeyModifier::Significant};
    for (const auto& [id, registered] : registered_) {
        if (registered != combination) continue;
        // Copied: the handler may install another one.
        auto handler = handler_;
        if (handler) handler(id);
        return true;
    }
    return false;
}

}  // namespace kit
