#pragma once
// The one global hot key that the host application configures over IPC (id 10001). It is
// grabbed through the platform layer's global hot keys; presses of it reach this manager through
// the shortcut manager's handler of other ids, are announced as the local notification
// "VXHotKeyEvent", and call the handler given to setupWithHandler. Nothing is saved: after a
// restart the hot key exists only when the host asks again.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kit {
struct Notification;
}

// Modifier bits of the hot-key registration (what convertModifiers gives).
namespace KZVXCarbonModifier {
inline constexpr std::uint32_t cmdKey = 0x100;
inline constexpr std::uint32_t shiftKey = 0x200;
inline constexpr std::uint32_t optionKey = 0x800;
inline constexpr std::uint32_t controlKey = 0x1000;
}  // namespace KZVXCarbonModifier

class KZVXHotKeyManager {
public:
    static constexpr std::uint32_t kHotKeyID = 10001;
    // The hot key's signature, "kzvx" as a four-character code.
    static constexpr std::uint32_t kHotKeySignature = 0x6B7A7678;
    static constexpr const char* kHotKeyEventNotification = "VXHotKeyEvent";
    static constexpr const char* kHotKeyIDKey = "hotKeyID";
    // Statuses logged for a refused registration.
    static constexpr int kStatusHotKeyExists = -9878;
    static constexpr int kStatusHotKeyInvalid = -9879;

    static KZVXHotKeyManager& shared();
    static void resetShared();

    KZVXHotKeyManager() = default;
    ~KZVXHotKeyManager();
    KZVXHotKeyManager(const KZVXHotKeyManager&) = delete;
    KZVXHotKeyManager& operator=(const KZVXHotKeyManager&) = delete;

    // Keeps the block and observes "VXHotKeyEvent" (once, however often it is called).
    void setupWithHandler(std::function<void()> handler);
    // Replaces the registered hot key: unregisters, then registers the key code with the
    // converted modifiers; a combination without Shift, Control, Option or Command is refused
    // silently (and the previous one stays unregistered).
    void registerHotKeyWithKeyCode(std::uint32_t keyCode, std::uint32_t modifiers);
    void unregisterHotKey();
    // Platform modifier bits to registration bits; all other bits are dropped.
    static std::uint32_t convertModifiers(std::uint32_t modifiers);
    void handleHotKeyEventNotification(const kit::Notification& notification);

    // The registered hot key's id while one is registered.
    const std::optional<std::uint32_t>& hotKeyRef() const { return hotKeyRef_; }

private:
    void installHotKeyHandler();

    std::optional<std::uint32_t> hotKeyRef_;
    std::function<void()> handler_;
    std::shared_ptr<void> eventObserver_;
    bool handlerInstalled_ = false;
};

// The hot key's press: logs, then posts "VXHotKeyEvent" with the pressed id.
void hotKeyHandler(std::uint32_t hotKeyId);
