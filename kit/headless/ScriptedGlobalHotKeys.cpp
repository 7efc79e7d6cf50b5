#include "kit/headless/ScriptedGlobalHotKeys.h"

#include <algorithm>
#include <string>

namespace kit {

class ScriptedGlobalHotKeys::Implementation final : public GlobalHotKeys {
public:
    bool press(const HotKeyCombination& combination) { return combinationPressed(combination); }

    std::vector<HotKeyCombination> grabbed;
    std::vector<HotKeyCombination> takenElsewhere;

protected:
    Status grab(const HotKeyCombination& combination) override {
        if (std::find(takenElsewhere.begin(), takenElsewhere.end(), combination) != takenElsewhere.end()) {
            return Error{"the key combination is held by another application"};
        }
        grabbed.push_back(combination);
        return Status::success();
    }
    void ungrab(const HotKeyCombination& combination) override {
        auto it = std::find(grabbed.begin(), grabbed.end(), combination);
        if (it != grabbed.end()) grabbed.erase(it);
    }
};

ScriptedGlobalHotKeys::ScriptedGlobalHotKeys()
    : implementation_(std::make_shared<Implementation>()), previous_(GlobalHotKeys::sharedPointer()) {
    GlobalHotKeys::setShared(implementation_);
}

ScriptedGlobalHotKeys::~ScriptedGlobalHotKeys() { GlobalHotKeys::setShared(previous_); }

GlobalHotKeys& ScriptedGlobalHotKeys::hotKeys() { return *implementation_; }

bool ScriptedGlobalHotKeys::press(std::uint16_t keyCode, std::uint32_t modifierFlags) {
    return implementation_->press({keyCode, modifierFlags & HotKeyModifier::Significant});
}

void ScriptedGlobalHotKeys::setTakenElsewhere(std::uint16_t keyCode, std::uint32_t modifierFlags, bool taken) {
    const HotKeyCombination combination{keyCode, modifierFlags & HotKeyModifier::Significant};
    auto& list = implementation_->takenElsewhere;
    list.erase(std::remove(list.begin(), list.end(), combination), list.end());
    if (taken) list.push_back(combination);
}

std::vector<HotKeyCombination> ScriptedGlobalHotKeys::grabbed() const { return implementation_->grabbed; }

}  // namespace kit
