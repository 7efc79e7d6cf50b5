#include "frameworks/KZShortcutConfig.h"

#include <cstdio>
#include <optional>
#include <utility>
#include <string>

#include "kit/base/Paths.h"
#include "kit/base/PropertyList.h"
#include "kit/sys/GlobalHotKeys.h"

namespace {

constexpr const char* kClassName = "KZShortcutConfig";

kit::Value uid(std::int64_t index) { return kit::Dictionary{{"CF$UID", index}}; }

// A reference inside the archive: the XML form {"CF$UID": n}, or a bare integer when the
// property-list reader turned the binary UID type into one.
std::optional<std::size_t> uidIndex(const kit::Value& value) {
    const kit::Value* target = &value;
    if (const auto* dict = value.asDictionary()) {
        if (dict->size() != 1) return std::nullopt;
        target = dict->find("CF$UID");
        if (!target) return std::nullopt;
    }
    const auto* index = target->asInteger();
    if (!index || *index < 0) return std::nullopt;
    return static_cast<std::size_t>(*index);
}

std::optional<std::int64_t> integerField(const kit::Dictionary& object, std::string_view key) {
    const kit::Value* value = object.find(key);
    if (!value) return std::nullopt;
    if (const auto* i = value->asInteger()) return *i;
    return std::nullopt;
}

kit::Error fail(std::string message) { return kit::Error{"shortcut archive: " + std::move(message)}; }

}  // namespace

namespace {

// Names of the keys a hot key is usually made of, by virtual key code.
const char* keyName(std::uint16_t code) {
    struct Entry {
        std::uint16_t code;
        const char* name;
    };
    static constexpr Entry kNames[] = {
        {kit::kVK_ANSI_A, "A"}, {kit::kVK_ANSI_B, "B"}, {kit::kVK_ANSI_C, "C"}, {kit::kVK_ANSI_D, "D"},
        {kit::kVK_ANSI_E, "E"}, {kit::kVK_ANSI_F, "F"}, {kit::kVK_ANSI_G, "G"}, {kit::kVK_ANSI_H, "H"},
        {kit::kVK_ANSI_I, "I"}, {kit::kVK_ANSI_J, "J"}, {kit::kVK_ANSI_K, "K"}, {kit::kVK_ANSI_L, "L"},
        {kit::kVK_ANSI_M, "M"}, {kit::kVK_ANSI_N, "N"}, {kit::kVK_ANSI_O, "O"}, {kit::kVK_ANSI_P, "P"},
        {kit::kVK_ANSI_Q, "Q"}, {kit::kVK_ANSI_R, "R"}, {kit::kVK_ANSI_S, "S"}, {kit::kVK_ANSI_T, "T"},
        {kit::kVK_ANSI_U, "U"}, {kit::kVK_ANSI_V, "V"}, {kit::kVK_ANSI_W, "W"}, {kit::kVK_ANSI_X, "X"},
        {kit::kVK_ANSI_Y, "Y"}, {kit::kVK_ANSI_Z, "Z"}, {kit::kVK_ANSI_0, "0"}, {kit::kVK_ANSI_1, "1"},
        {kit::kVK_ANSI_2, "2"}, {kit::kVK_ANSI_3, "3"}, {kit::kVK_ANSI_4, "4"}, {kit::kVK_ANSI_5, "5"},
        {kit::kVK_ANSI_6, "6"}, {kit::kVK_ANSI_7, "7"}, {kit::kVK_ANSI_8, "8"}, {kit::kVK_ANSI_9, "9"},
        {kit::kVK_Space, "Space"}, {kit::kVK_Return, "Enter"}, {kit::kVK_Tab, "Tab"}, {kit::kVK_Escape, "Esc"},
        {kit::kVK_Delete, "Backspace"}, {kit::kVK_ANSI_Comma, ","}, {kit::kVK_ANSI_Period, "."},
        {kit::kVK_ANSI_Slash, "/"}, {kit::kVK_ANSI_Semicolon, ";"}, {kit::kVK_ANSI_Quote, "'"},
        {kit::kVK_ANSI_Minus, "-"}, {kit::kVK_ANSI_Equal, "="}, {kit::kVK_ANSI_Grave, "`"},
        {kit::kVK_ANSI_LeftBracket, "["}, {kit::kVK_ANSI_RightBracket, "]"}, {kit::kVK_ANSI_Backslash, "\\"},
        {kit::kVK_F1, "F1"}, {kit::kVK_F2, "F2"}, {kit::kVK_F3, "F3"}, {kit::kVK_F4, "F4"}, {kit::kVK_F5, "F5"},
        {kit::kVK_F6, "F6"}, {kit::kVK_F7, "F7"}, {kit::kVK_F8, "F8"}, {kit::kVK_F9, "F9"}, {kit::kVK_F10, "F10"},
        {kit::kVK_F11, "F11"}, {kit::kVK_F12, "F12"},
    };
    for (const auto& entry : kNames)
        if (entry.code == code) return entry.name;
    return nullptr;
}

}  // namespace

std::string KZShortcutConfig::displayString() const {
    std::string text;
    const std::uint32_t flags = significantModifiers();
    // The desktop's names: Option is Alt and Command is Super (kit's key mapping).
    for (const auto& [bit, name] : {std::pair{KZModifierFlag::Control, "Ctrl"}, std::pair{KZModifierFlag::Option, "Alt"},
                                    std::pair{KZModifierFlag::Shift, "Shift"}, std::pair{KZModifierFlag::Command, "Super"}}) {
        if (flags & bit) text += std::string(name) + "+";
    }
    if (const char* name = keyName(keyCode_)) {
        text += name;
    } else {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%02X", static_cast<unsigned>(keyCode_));
        text += buffer;
    }
    return text;
}

std::uint32_t KZShortcutConfig::significantModifiers() const {
    using namespace KZModifierFlag;
    return modifierFlags_ & (Shift | Control | Option | Command);
}

bool KZShortcutConfig::matches(std::uint16_t keyCode, std::uint32_t modifierFlags) const {
    using namespace KZModifierFlag;
    return keyCode == keyCode_ &&
           (modifierFlags & (Shift | Control | Option | Command)) == significantModifiers();
}

kit::Value KZShortcutConfig::archive() const {
    kit::Dictionary object{{"$class", uid(2)},
                           {"hotKeyId", std::int64_t{hotKeyId_}},
                           {"modifierFlags", std::int64_t{modifierFlags_}},
                           {"keyCode", std::int64_t{keyCode_}}};
    kit::Dictionary classInfo{{"$classname", kClassName},
                              {"$classes", kit::Array{kClassName, "NSObject"}}};
    return kit::Dictionary{{"$archiver", "NSKeyedArchiver"},
                           {"$version", std::int64_t{100000}},
                           {"$top", kit::Dictionary{{"root", uid(1)}}},
                           {"$objects", kit::Array{"$null", std::move(object), std::move(classInfo)}}};
}

kit::Result<KZShortcutConfig> KZShortcutConfig::unarchive(std::string_view bytes) {
    auto root = kit::parsePropertyList(bytes);
    if (!root) return fail(root.error());
    return unarchiveValue(*root);
}

kit::Result<KZShortcutConfig> KZShortcutConfig::unarchiveValue(const kit::Value& root) {
    const auto* archiver = root["$archiver"].asString();
    if (!archiver || *archiver != "NSKeyedArchiver") return fail("not a keyed archive");
    const auto* objects = root["$objects"].asArray();
    if (!objects) return fail("no object table");
    auto rootIndex = uidIndex(root["$top"]["root"]);
    if (!rootIndex || *rootIndex >= objects->size()) return fail("no root object");
    const auto* object = (*objects)[*rootIndex].asDictionary();
    if (!object) return fail("root is not an object");
    const kit::Value* classRef = object->find("$class");
    auto classIndex = classRef ? uidIndex(*classRef) : std::nullopt;
    if (!classIndex || *classIndex >= objects->size()) return fail("no class");
    const auto* className = (*objects)[*classIndex]["$classname"].asString();
    // Secure decoding: exactly the expected class, nothing else is instantiated.
    if (!className || *className != kClassName) return fail("unexpected class");

    auto hotKeyId = integerField(*object, "hotKeyId");
    auto modifiers = integerField(*object, "modifierFlags");
    auto keyCode = integerField(*object, "keyCode");
    if (!hotKeyId || !modifiers || !keyCode) return fail("missing field");
    if (*hotKeyId < 0 || *hotKeyId > 0x7FFFFFFF || *modifiers < 0 || *modifiers > 0xFFFFFFFFLL ||
        *keyCode < 0 || *keyCode > 0xFFFF)
        return fail("field out of range");
    return KZShortcutConfig(static_cast<int>(*hotKeyId), static_cast<std::uint32_t>(*modifiers),
                            static_cast<std::uint16_t>(*keyCode));
}

std::filesystem::path KZShortcutConfig::folder() {
    return kit::paths::applicationSupport() / "QuarnAI" / "config" / "shortcut";
}

std::filesystem::path KZShortcutConfig::fileForHotKeyId(unsigned hotKeyId) {
    return folder() / std::to_string(hotKeyId);
}
