#pragma once
// Scripted global hot keys for tests. While an instance lives it is GlobalHotKeys::shared():
// registrations are recorded, combinations can be marked as held by another application (their
// registration is refused), and the test presses keys.

#include <cstdint>
#include <memory>
#include <vector>

#include "kit/sys/GlobalHotKeys.h"

namespace kit {

class ScriptedGlobalHotKeys {
public:
    ScriptedGlobalHotKeys();
    ~ScriptedGlobalHotKeys();
    ScriptedGlobalHotKeys(const ScriptedGlobalHotKeys&) = delete;
    ScriptedGlobalHotKeys& operator=(const ScriptedGlobalHotKeys&) = delete;

    GlobalHotKeys& hotKeys();

    // A key press anywhere; answers whether a registered combination matched (its handler ran).
    bool press(std::uint16_t keyCode, std::uint32_t modifierFlags);
    // Another application holds (or lets go of) the combination.
    void setTakenElsewhere(std::uint16_t keyCode, std::uint32_t modifierFlags, bool taken = true);
    // The combinations grabbed from the system now.
    std::vector<HotKeyCombination> grabbed() const;

    class Implementation;

private:
    std::shared_ptr<Implementation> implementation_;
    std::shared_ptr<GlobalHotKeys> previous_;
};

}  // namespace kit
