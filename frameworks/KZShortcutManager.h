#pragma once
// The process-wide global shortcut service: keeps the receivers and the saved key combination of
// each hot-key id, grabs the combinations through the platform layer's global hot keys, and
// calls the receivers of an id when its combination is pressed.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "frameworks/KZShortcutConfig.h"
#include "frameworks/KZShortcutReceiver.h"
#include "kit/base/Result.h"

class KZShortcutManager {
public:
    static KZShortcutManager& shared();
    static void resetShared();

    KZShortcutManager() = default;
    ~KZShortcutManager();
    KZShortcutManager(const KZShortcutManager&) = delete;
    KZShortcutManager& operator=(const KZShortcutManager&) = delete;

    // Takes the presses of the global hot keys and grabs every saved combination. Later calls
    // only load the saved files again.
    void registerGlobalMonitorForKeyboardEvent();
    bool isMonitoring() const { return monitoring_; }

    // The manager keeps the receiver for its lifetime.
    void addShortcutReceiver(std::shared_ptr<KZShortcutReceiver> receiver);
    const std::vector<std::shared_ptr<KZShortcutReceiver>>& receivers() const { return receivers_; }

    // Replaces, grabs and saves the combination of the config's hot-key id. Refused (nothing
    // changes) for an unknown id, a combination without Command, Control or Option, one that
    // another id or application holds, or when the file cannot be written.
    kit::Status updateConfig(const KZShortcutConfig& config);
    // The saved combination of an id, if any.
    const KZShortcutConfig* configForHotKeyId(int hotKeyId) const;

    // Presses of hot-key ids that are not the manager's (other users of the global hot keys).
    void setOtherHotKeyHandler(std::function<void(std::uint32_t hotKeyId)> handler) {
        otherHandler_ = std::move(handler);
    }

    // Reads one saved combination; nullopt when missing, undecodable or saved for another id.
    static std::optional<KZShortcutConfig> loadSavedConfig(unsigned hotKeyId);

private:
    void reload();
    void hotKeyPressed(std::uint32_t hotKeyId);

    bool monitoring_ = false;
    std::vector<std::shared_ptr<KZShortcutReceiver>> receivers_;
    std::map<int, KZShortcutConfig> configs_;
    std::function<void(std::uint32_t)> otherHandler_;
};
