#pragma once
// One saved global key combination. Key codes and modifier flags are those of the host
// family's platform (virtual key codes, device-independent modifier bits), because the host
// application writes and reads the same files; the desktop backend maps them to its own keys.
//
// Saved form: a keyed archive (property list with "$archiver", "$top", "$objects") holding one
// object of class "KZShortcutConfig" with the integer fields "hotKeyId", "modifierFlags" and
// "keyCode", one file per hot-key id in home/Library/Application Support/QuarnAI/config/shortcut.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

enum KZShortcutHotKeyId : int {
    KZShortcutHotKeyIdSideWindow = 1,
    KZShortcutHotKeyIdScreenshot = 2,
};

// Device-independent modifier bits of the platform (the same bits as kit::HotKeyModifier).
namespace KZModifierFlag {
inline constexpr std::uint32_t CapsLock = 0x10000;
inline constexpr std::uint32_t Shift = 0x20000;
inline constexpr std::uint32_t Control = 0x40000;
inline constexpr std::uint32_t Option = 0x80000;
inline constexpr std::uint32_t Command = 0x100000;
inline constexpr std::uint32_t Function = 0x800000;
inline constexpr std::uint32_t DeviceIndependentMask = 0xFFFF0000;
}  // namespace KZModifierFlag

class KZShortcutConfig {
public:
    KZShortcutConfig() = default;
    KZShortcutConfig(int hotKeyId, std::uint32_t modifierFlags, std::uint16_t keyCode)
        : hotKeyId_(hotKeyId), modifierFlags_(modifierFlags), keyCode_(keyCode) {}

    int hotKeyId() const { return hotKeyId_; }
    std::uint32_t modifierFlags() const { return modifierFlags_; }
    std::uint16_t keyCode() const { return keyCode_; }

    // Shift, Control, Option and Command only: the bits that take part in matching.
    std::uint32_t significantModifiers() const;
    bool matches(std::uint16_t keyCode, std::uint32_t modifierFlags) const;

    // The combination as the user reads it on this desktop, modifiers first: "Ctrl+Alt+K".
    std::string displayString() const;

    // The keyed-archive property list of this configuration.
    kit::Value archive() const;
    // Decodes one KZShortcutConfig from archive bytes (XML or binary property list). Anything
    // that is not exactly such an archive is an error.
    static kit::Result<KZShortcutConfig> unarchive(std::string_view bytes);
    static kit::Result<KZShortcutConfig> unarchiveValue(const kit::Value& root);

    // home/Library/Application Support/QuarnAI/config/shortcut
    static std::filesystem::path folder();
    static std::filesystem::path fileForHotKeyId(unsigned hotKeyId);

    friend bool operator==(const KZShortcutConfig&, const KZShortcutConfig&) = default;

private:
    int hotKeyId_ = 0;
    std::uint32_t modifierFlags_ = 0;
    std::uint16_t keyCode_ = 0;
};
