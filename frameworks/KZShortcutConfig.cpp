#include "frameworks/KZShortcutConfig.h"

#include <optional>
#include <string>

#include "kit/base/Paths.h"
#include "kit/base/PropertyList.h"

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
