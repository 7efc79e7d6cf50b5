#include "kit/sys/DistributedNotificationWire.h"

#include <cstdint>
#include <limits>

#include "kit/base/GRef.h"

namespace kit::wire {

namespace {

// GDBus refuses to read messages whose containers nest deeper than 64 levels (the variant, array
// and entry of each a{sv} level count), so deeper values are not sent.
constexpr int kMaxDepth = 20;
constexpr const char* kDateTag = "date";
constexpr const char* kNullTag = "null";

void report(std::vector<std::string>* problems, std::string text) {
    if (problems) problems->push_back(std::move(text));
}

std::string childPath(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

GVariant* encode(const Value& value, std::vector<std::string>* problems, const std::string& path,
                 int depth);

GVariant* encodeString(const std::string& text, std::vector<std::string>* problems,
                       const std::string& path) {
    bool changed = false;
    std::string clean = sanitizedString(text, &changed);
    if (changed) report(problems, childPath(path, "") + " string was not valid UTF-8 text; replaced");
    return g_variant_new_string(clean.c_str());
}

GVariant* encodeDictionary(const Dictionary& dictionary, std::vector<std::string>* problems,
                           const std::string& path, int depth) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (const auto& [key, item] : dictionary) {
        bool changed = false;
        std::string cleanKey = sanitizedString(key, &changed);
        if (changed) report(problems, childPath(path, cleanKey) + ": key was not valid UTF-8 text; replaced");
        GVariant* encoded = encode(item, problems, childPath(path, cleanKey), depth + 1);
        g_variant_builder_add(&builder, "{sv}", cleanKey.c_str(), encoded);
    }
    return g_variant_builder_end(&builder);
}

GVariant* encode(const Value& value, std::vector<std::string>* problems, const std::string& path,
                 int depth) {
    if (depth > kMaxDepth) {
        report(problems, path + ": nested too deeply; sent as null");
        return g_variant_new("(s)", kNullTag);
    }
    switch (value.type()) {
    case ValueType::Null:
        // D-Bus has no empty structure.
        return g_variant_new("(s)", kNullTag);
    case ValueType::Bool:
        return g_variant_new_boolean(*value.asBool());
    case ValueType::Integer:
        return g_variant_new_int64(*value.asInteger());
    case ValueType::Real:
        return g_variant_new_double(*value.asReal());
    case ValueType::String:
        return encodeString(*value.asString(), problems, path);
    case ValueType::Data: {
        const Data& data = *value.asData();
        if (data.empty()) return g_variant_new_array(G_VARIANT_TYPE_BYTE, nullptr, 0);
        return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data.data(), data.size(), 1);
    }
    case ValueType::Date:
        return g_variant_new("(sd)", kDateTag, value.asDate()->secondsSinceReferenceDate);
    case ValueType::Array: {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("av"));
        std::size_t index = 0;
        for (const Value& item : *value.asArray()) {
            GVariant* encoded = encode(item, problems, childPath(path, std::to_string(index++)), depth + 1);
            g_variant_builder_add(&builder, "v", encoded);
        }
        return g_variant_builder_end(&builder);
    }
    case ValueType::Dictionary:
        return encodeDictionary(*value.asDictionary(), problems, path, depth);
    }
    return g_variant_new("(s)", kNullTag);
}

bool isStringType(const GVariantType* type) {
    return g_variant_type_equal(type, G_VARIANT_TYPE_STRING) ||
           g_variant_type_equal(type, G_VARIANT_TYPE_OBJECT_PATH) ||
           g_variant_type_equal(type, G_VARIANT_TYPE_SIGNATURE);
}

std::optional<Value> decode(GVariant* variant, std::vector<std::string>* problems,
                            const std::string& path, int depth);

std::optional<Value> decodeArray(GVariant* variant, std::vector<std::string>* problems,
                                 const std::string& path, int depth) {
    const GVariantType* elementType = g_variant_type_element(g_variant_get_type(variant));
    if (g_variant_type_equal(elementType, G_VARIANT_TYPE_BYTE)) {
        gsize size = 0;
        const auto* bytes = static_cast<const std::uint8_t*>(
            g_variant_get_fixed_array(variant, &size, sizeof(std::uint8_t)));
        return Value(Data(bytes, bytes + size));
    }
    gsize count = g_variant_n_children(variant);
    if (g_variant_type_is_dict_entry(elementType)) {
        if (!isStringType(g_variant_type_key(elementType))) {
            report(problems, path + ": dictionary keys of type '" +
                                 std::string(g_variant_get_type_string(variant)) + "' are not text");
            return std::nullopt;
        }
        Dictionary dictionary;
        dictionary.reserve(count);
        for (gsize i = 0; i < count; ++i) {
            auto entry = VariantRef::adopt(g_variant_get_child_value(variant, i));
            auto key = VariantRef::adopt(g_variant_get_child_value(entry.get(), 0));
            auto item = VariantRef::adopt(g_variant_get_child_value(entry.get(), 1));
            std::string keyText = g_variant_get_string(key.get(), nullptr);
            if (auto decoded = decode(item.get(), problems, childPath(path, keyText), depth + 1))
                dictionary.set(std::move(keyText), std::move(*decoded));
        }
        return Value(std::move(dictionary));
    }
    Array array;
    array.reserve(count);
    for (gsize i = 0; i < count; ++i) {
        auto item = VariantRef::adopt(g_variant_get_child_value(variant, i));
        if (auto decoded = decode(item.get(), problems, childPath(path, std::to_string(i)), depth + 1))
            array.push_back(std::move(*decoded));
    }
    return Value(std::move(array));
}

// The text of a tuple's string member.
std::string childString(GVariant* tuple, gsize index) {
    auto child = VariantRef::adopt(g_variant_get_child_value(tuple, index));
    return g_variant_get_string(child.get(), nullptr);
}

std::optional<double> numberOf(GVariant* variant) {
    switch (g_variant_classify(variant)) {
    case G_VARIANT_CLASS_DOUBLE: return g_variant_get_double(variant);
    case G_VARIANT_CLASS_INT64: return static_cast<double>(g_variant_get_int64(variant));
    case G_VARIANT_CLASS_UINT64: return static_cast<double>(g_variant_get_uint64(variant));
    case G_VARIANT_CLASS_INT32: return g_variant_get_int32(variant);
    case G_VARIANT_CLASS_UINT32: return g_variant_get_uint32(variant);
    case G_VARIANT_CLASS_INT16: return g_variant_get_int16(variant);
    case G_VARIANT_CLASS_UINT16: return g_variant_get_uint16(variant);
    case G_VARIANT_CLASS_BYTE: return g_variant_get_byte(variant);
    default: return std::nullopt;
    }
}

std::optional<Value> decodeTuple(GVariant* variant, std::vector<std::string>* problems,
                                 const std::string& path) {
    gsize count = g_variant_n_children(variant);
    if (count == 0) return Value();
    if (count == 1) {
        auto tag = VariantRef::adopt(g_variant_get_child_value(variant, 0));
        if (g_variant_is_of_type(tag.get(), G_VARIANT_TYPE_STRING) &&
            std::string_view(g_variant_get_string(tag.get(), nullptr)) == kNullTag)
            return Value();
    }
    if (count == 2) {
        auto tag = VariantRef::adopt(g_variant_get_child_value(variant, 0));
        auto seconds = VariantRef::adopt(g_variant_get_child_value(variant, 1));
        if (g_variant_is_of_type(tag.get(), G_VARIANT_TYPE_STRING) &&
            std::string_view(g_variant_get_string(tag.get(), nullptr)) == kDateTag) {
            if (auto number = numberOf(seconds.get())) return Value(Date{*number});
        }
    }
    report(problems, path + ": cannot read a structure of type '" +
                         std::string(g_variant_get_type_string(variant)) + "'");
    return std::nullopt;
}

std::optional<Value> decode(GVariant* variant, std::vector<std::string>* problems,
                            const std::string& path, int depth) {
    if (depth > kMaxDepth) {
        report(problems, path + ": nested too deeply");
        return std::nullopt;
    }
    switch (g_variant_classify(variant)) {
    case G_VARIANT_CLASS_BOOLEAN: return Value(static_cast<bool>(g_variant_get_boolean(variant)));
    case G_VARIANT_CLASS_BYTE: return Value(std::int64_t{g_variant_get_byte(variant)});
    case G_VARIANT_CLASS_INT16: return Value(std::int64_t{g_variant_get_int16(variant)});
    case G_VARIANT_CLASS_UINT16: return Value(std::int64_t{g_variant_get_uint16(variant)});
    case G_VARIANT_CLASS_INT32: return Value(std::int64_t{g_variant_get_int32(variant)});
    case G_VARIANT_CLASS_UINT32: return Value(std::int64_t{g_variant_get_uint32(variant)});
    case G_VARIANT_CLASS_INT64: return Value(std::int64_t{g_variant_get_int64(variant)});
    case G_VARIANT_CLASS_UINT64: {
        guint64 number = g_variant_get_uint64(variant);
        if (number > static_cast<guint64>(std::numeric_limits<std::int64_t>::max())) {
            report(problems, path + ": unsigned integer too large");
            return std::nullopt;
        }
        return Value(static_cast<std::int64_t>(number));
    }
    case G_VARIANT_CLASS_DOUBLE: return Value(g_variant_get_double(variant));
    case G_VARIANT_CLASS_STRING:
    case G_VARIANT_CLASS_OBJECT_PATH:
    case G_VARIANT_CLASS_SIGNATURE: {
        gsize length = 0;
        const gchar* text = g_variant_get_string(variant, &length);
        return Value(std::string(text, length));
    }
    case G_VARIANT_CLASS_VARIANT: {
        // Not counted: GLib bounds the nesting of variants it deserializes.
        auto inner = VariantRef::adopt(g_variant_get_variant(variant));
        return decode(inner.get(), problems, path, depth);
    }
    case G_VARIANT_CLASS_MAYBE: {
        auto inner = VariantRef::adopt(g_variant_get_maybe(variant));
        if (!inner) return Value();
        return decode(inner.get(), problems, path, depth + 1);
    }
    case G_VARIANT_CLASS_ARRAY: return decodeArray(variant, problems, path, depth);
    case G_VARIANT_CLASS_TUPLE: return decodeTuple(variant, problems, path);
    case G_VARIANT_CLASS_HANDLE:
    case G_VARIANT_CLASS_DICT_ENTRY:
        break;
    }
    report(problems, path + ": cannot read a value of type '" +
                         std::string(g_variant_get_type_string(variant)) + "'");
    return std::nullopt;
}

}  // namespace

std::string sanitizedString(const std::string& text, bool* changed) {
    const char* end = nullptr;
    bool valid = g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end) &&
                 end == text.data() + text.size();
    if (changed) *changed = !valid;
    if (valid) return text;
    // g_utf8_make_valid replaces invalid sequences but keeps NUL characters, which D-Bus strings
    // cannot hold.
    std::string withoutNul;
    withoutNul.reserve(text.size());
    for (char c : text) {
        if (c == '\0') withoutNul += "\xEF\xBF\xBD";
        else withoutNul += c;
    }
    gchar* repaired = g_utf8_make_valid(withoutNul.data(), static_cast<gssize>(withoutNul.size()));
    std::string result(repaired);
    g_free(repaired);
    return result;
}

GVariant* variantFromValue(const Value& value, std::vector<std::string>* problems) {
    return encode(value, problems, "", 0);
}

std::optional<Value> valueFromVariant(GVariant* variant, std::vector<std::string>* problems) {
    if (!variant) return std::nullopt;
    return decode(variant, problems, "value", 0);
}

GVariant* encodeNotification(const DistributedNotification& notification,
                             std::vector<std::string>* problems) {
    bool changed = false;
    std::string name = sanitizedString(notification.name, &changed);
    if (changed) report(problems, "name was not valid UTF-8 text; replaced");
    std::string object = sanitizedString(notification.object, &changed);
    if (changed) report(problems, "object was not valid UTF-8 text; replaced");

    GVariant* userInfo = nullptr;
    if (const Dictionary* dictionary = notification.userInfo.asDictionary()) {
        userInfo = encodeDictionary(*dictionary, problems, "userInfo", 0);
    } else {
        if (!notification.userInfo.isNull())
            report(problems, std::string("userInfo is a ") + valueTypeName(notification.userInfo.type()) +
                                 ", not a dictionary; left out");
        userInfo = g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
    }
    GVariant* children[] = {g_variant_new_string(name.c_str()), g_variant_new_string(object.c_str()),
                            userInfo};
    return g_variant_new_tuple(children, 3);
}

std::optional<DistributedNotification> decodeNotification(GVariant* parameters,
                                                          std::vector<std::string>* problems) {
    if (!parameters) {
        report(problems, "signal without arguments");
        return std::nullopt;
    }
    const char* signature = g_variant_get_type_string(parameters);
    std::string_view form(signature);
    // A shell types {'k': 'v'} as a{ss}: any dictionary with text keys is a user info.
    bool dictionaryForm = false;
    if (form.size() > 6 && form.substr(0, 6) == "(ssa{s") {
        const gchar* end = nullptr;
        dictionaryForm = g_variant_type_string_scan(signature + 3, nullptr, &end) && std::string_view(end) == ")";
    }
    if (form != "(s)" && form != "(ss)" && !dictionaryForm) {
        report(problems, std::string("signal arguments of type '") + signature +
                             "' instead of (s name, s object, a{sv} userInfo)");
        return std::nullopt;
    }
    DistributedNotification notification;
    gsize count = g_variant_n_children(parameters);
    notification.name = childString(parameters, 0);
    if (notification.name.empty()) {
        report(problems, "signal with an empty name");
        return std::nullopt;
    }
    if (count > 1) {
        notification.object = childString(parameters, 1);
    }
    if (count > 2) {
        auto userInfo = VariantRef::adopt(g_variant_get_child_value(parameters, 2));
        if (g_variant_n_children(userInfo.get()) > 0) {
            if (auto decoded = decode(userInfo.get(), problems, "userInfo", 0))
                notification.userInfo = std::move(*decoded);
        }
    }
    return notification;
}

Value normalizedUserInfo(const Value& userInfo, std::vector<std::string>* problems) {
    DistributedNotification probe{"normalize", {}, userInfo};
    auto encoded = VariantRef::sink(encodeNotification(probe, problems));
    // The bytes another process would read, not the in-memory tree that built them.
    auto serialized = VariantRef::adopt(g_variant_get_normal_form(encoded.get()));
    auto decoded = decodeNotification(serialized.get(), problems);
    return decoded ? decoded->userInfo : Value();
}

}  // namespace kit::wire
