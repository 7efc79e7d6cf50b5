#include "kit/sys/DistributedNotificationWire.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace kit {
namespace {

// Parses GVariant text as a shell user would type it for "gdbus emit".
GVariant* parse(const char* text) {
    GError* error = nullptr;
    GVariant* variant = g_variant_parse(nullptr, text, nullptr, nullptr, &error);
    if (!variant) {
        ADD_FAILURE() << "cannot parse " << text << ": " << error->message;
        g_error_free(error);
    }
    return variant;
}

std::optional<DistributedNotification> decodeText(const char* text, std::vector<std::string>* problems) {
    GVariant* variant = parse(text);
    if (!variant) return std::nullopt;
    auto result = wire::decodeNotification(variant, problems);
    g_variant_unref(variant);
    return result;
}

Value everyKind() {
    return Value(Dictionary{
        {"bool", Value(true)},
        {"false", Value(false)},
        {"integer", Value(std::int64_t{-9007199254740993})},
        {"max", Value(std::numeric_limits<std::int64_t>::max())},
        {"real", Value(2.5)},
        {"string", Value("héllo \"quoted\" 'single'")},
        {"empty", Value("")},
        {"data", Value(Data{0, 1, 2, 255})},
        {"noData", Value(Data{})},
        {"date", Value(Date{788918400.125})},
        {"array", Value(Array{Value(1), Value("two"), Value(Array{}), Value(Dictionary{{"k", Value(3.0)}})})},
        {"dictionary", Value(Dictionary{{"nested", Value(Dictionary{{"deeper", Value(false)}})}})},
        {"null", Value()},
    });
}

TEST(DistributedNotificationWire, everyValueKindSurvivesTheSerializedRoundTrip) {
    std::vector<std::string> problems;
    Value info = everyKind();
    Value back = wire::normalizedUserInfo(info, &problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(back, info);
    // Kinds are kept, not only numbers: an integer stays an integer, a real a real.
    EXPECT_TRUE(back["integer"].isInteger());
    EXPECT_TRUE(back["real"].isReal());
    EXPECT_TRUE(back["date"].isDate());
    EXPECT_TRUE(back["data"].isData());
    EXPECT_TRUE(back["null"].isNull());
    // Key order is kept.
    std::vector<std::string> keys;
    for (const auto& [key, value] : *back.asDictionary()) keys.push_back(key);
    EXPECT_EQ(keys.front(), "bool");
    EXPECT_EQ(keys.back(), "null");
}

TEST(DistributedNotificationWire, userInfoThatIsNotADictionaryIsLeftOutAndEmptyArrivesAsNull) {
    std::vector<std::string> problems;
    EXPECT_TRUE(wire::normalizedUserInfo(Value("text"), &problems).isNull());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("not a dictionary"), std::string::npos);
    problems.clear();
    EXPECT_TRUE(wire::normalizedUserInfo(Value(Dictionary{}), &problems).isNull());
    EXPECT_TRUE(wire::normalizedUserInfo(Value(), &problems).isNull());
    EXPECT_TRUE(problems.empty());
}

TEST(DistributedNotificationWire, stringsDBusCannotCarryAreRepairedNotDropped) {
    std::vector<std::string> problems;
    std::string withNul("a\0b", 3);
    Value info(Dictionary{{"bad", Value(std::string("x\xff" "y"))}, {"nul", Value(withNul)},
                          {std::string("k\xc3"), Value(1)}});
    Value back = wire::normalizedUserInfo(info, &problems);
    EXPECT_EQ(problems.size(), 3u);
    ASSERT_TRUE(back["bad"].isString());
    EXPECT_EQ(*back["bad"].asString(), "x\xEF\xBF\xBDy");
    EXPECT_EQ(*back["nul"].asString(), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(back.asDictionary()->size(), 3u);
    EXPECT_EQ(wire::sanitizedString("plain"), "plain");
}

TEST(DistributedNotificationWire, valuesNestedBeyondWhatTheBusCarriesBecomeNull) {
    Value deep(1);
    for (int i = 0; i < 40; ++i) deep = Value(Dictionary{{"d", deep}});
    std::vector<std::string> problems;
    Value back = wire::normalizedUserInfo(Value(Dictionary{{"deep", deep}}), &problems);
    EXPECT_FALSE(problems.empty());
    const Value* cursor = &back["deep"];
    int depth = 0;
    while (cursor->isDictionary()) {
        cursor = &(*cursor)["d"];
        ++depth;
    }
    EXPECT_TRUE(cursor->isNull());
    EXPECT_GT(depth, 15);
    EXPECT_LT(depth, 40);

    // What is sent must be readable by GDBus in the receiving process.
    GVariant* body = wire::encodeNotification({"n", "", Value(Dictionary{{"deep", deep}})});
    GDBusMessage* message = g_dbus_message_new_signal(wire::kNotificationPath, wire::kNotificationInterface,
                                                      wire::kNotificationMember);
    g_dbus_message_set_body(message, body);
    gsize size = 0;
    guchar* blob = g_dbus_message_to_blob(message, &size, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
    ASSERT_NE(blob, nullptr);
    GError* error = nullptr;
    GDBusMessage* received = g_dbus_message_new_from_blob(blob, size, G_DBUS_CAPABILITY_FLAGS_NONE, &error);
    EXPECT_NE(received, nullptr) << (error ? error->message : "");
    if (received) g_object_unref(received);
    if (error) g_error_free(error);
    g_free(blob);
    g_object_unref(message);
}

TEST(DistributedNotificationWire, readsWhatAShellCanType) {
    std::vector<std::string> problems;
    auto n = decodeText(
        "('Name', 'obj', {'data': <true>, 'i': <int32 -7>, 'u': <uint32 4000000000>, 'y': <byte 0x41>, "
        "'q': <uint16 9>, 't': <uint64 12>, 'words': <['a', 'b']>, 'ints': <[1, 2]>, "
        "'map': <{'k': 'v'}>, 'path': <objectpath '/a/b'>, 'when': <('date', 10.5)>, "
        "'whenInt': <('date', 3)>, 'nested': <<'inner'>>, 'just': <just 'x'>, 'nothing': <@ms nothing>, "
        "'unit': <()>, 'null': <('null',)>})",
        &problems);
    ASSERT_TRUE(n);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(n->name, "Name");
    EXPECT_EQ(n->object, "obj");
    const Value& info = n->userInfo;
    EXPECT_EQ(info["data"], Value(true));
    EXPECT_EQ(*info["i"].asInteger(), -7);
    EXPECT_EQ(*info["u"].asInteger(), 4000000000);
    EXPECT_EQ(*info["y"].asInteger(), 0x41);
    EXPECT_EQ(*info["q"].asInteger(), 9);
    EXPECT_EQ(*info["t"].asInteger(), 12);
    EXPECT_EQ(info["words"], Value(Array{Value("a"), Value("b")}));
    EXPECT_EQ(info["ints"], Value(Array{Value(1), Value(2)}));
    EXPECT_EQ(info["map"], Value(Dictionary{{"k", Value("v")}}));
    EXPECT_EQ(info["path"], Value("/a/b"));
    EXPECT_EQ(info["when"], Value(Date{10.5}));
    EXPECT_EQ(info["whenInt"], Value(Date{3}));
    EXPECT_EQ(info["nested"], Value("inner"));
    EXPECT_EQ(info["just"], Value("x"));
    EXPECT_TRUE(info.asDictionary()->contains("nothing"));
    EXPECT_TRUE(info["nothing"].isNull());
    EXPECT_TRUE(info["unit"].isNull());
    EXPECT_TRUE(info.asDictionary()->contains("null"));
    EXPECT_TRUE(info["null"].isNull());
}

TEST(DistributedNotificationWire, shortFormsAndTypedDictionariesAreAccepted) {
    auto typed = decodeText("('Typed', '', {'k': 'v'})", nullptr);
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->userInfo, Value(Dictionary{{"k", Value("v")}}));
    auto nameOnly = decodeText("('Just',)", nullptr);
    ASSERT_TRUE(nameOnly);
    EXPECT_EQ(nameOnly->name, "Just");
    EXPECT_EQ(nameOnly->object, "");
    EXPECT_TRUE(nameOnly->userInfo.isNull());
    auto withObject = decodeText("('Just', 'thing')", nullptr);
    ASSERT_TRUE(withObject);
    EXPECT_EQ(withObject->object, "thing");
}

TEST(DistributedNotificationWire, unmappableValuesAreLeftOutAndReported) {
    std::vector<std::string> problems;
    auto n = decodeText(
        "('N', '', {'keep': <1>, 'handle': <handle 3>, 'huge': <uint64 18446744073709551615>, "
        "'intKeys': <{1: 'a'}>, 'tuple': <(1, 2)>, 'badDate': <('date', 'soon')>, "
        "'mixed': <[<1>, <handle 1>, <'s'>]>})",
        &problems);
    ASSERT_TRUE(n);
    EXPECT_EQ(problems.size(), 6u);
    const Dictionary& info = *n->userInfo.asDictionary();
    EXPECT_TRUE(info.contains("keep"));
    EXPECT_FALSE(info.contains("handle"));
    EXPECT_FALSE(info.contains("huge"));
    EXPECT_FALSE(info.contains("intKeys"));
    EXPECT_FALSE(info.contains("tuple"));
    EXPECT_FALSE(info.contains("badDate"));
    EXPECT_EQ(n->userInfo["mixed"], Value(Array{Value(1), Value("s")}));
}

TEST(DistributedNotificationWire, signalsOfAnotherFormAreRejected) {
    for (const char* text : {"(1,)", "('a', 2)", "('a', 'b', 'c')", "('a', 'b', {1: 'v'})", "('a', 'b', ['v'])",
                             "('a', 'b', @a{sv} {}, 'extra')", "('', '', @a{sv} {})", "@() ()"}) {
        std::vector<std::string> problems;
        EXPECT_FALSE(decodeText(text, &problems)) << text;
        EXPECT_EQ(problems.size(), 1u) << text;
    }
    std::vector<std::string> problems;
    EXPECT_FALSE(wire::decodeNotification(nullptr, &problems));
    EXPECT_EQ(problems.size(), 1u);
}

// Messages from the bus arrive as serialized bytes that GLib has only checked for framing; a
// hostile sender controls every byte of them.
TEST(DistributedNotificationWire, arbitraryBytesNeverCrashTheDecoder) {
    GVariant* good = g_variant_ref_sink(wire::encodeNotification({"n", "o", everyKind()}));
    GVariant* normal = g_variant_get_normal_form(good);
    gsize size = g_variant_get_size(normal);
    std::string bytes(static_cast<const char*>(g_variant_get_data(normal)), size);
    std::uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = bytes;
        int flips = 1 + round % 8;
        for (int i = 0; i < flips; ++i) {
            seed = seed * 1664525u + 1013904223u;
            mutated[seed % mutated.size()] = static_cast<char>(seed >> 24);
        }
        if (round % 5 == 0) mutated.resize(seed % mutated.size());
        GBytes* data = g_bytes_new(mutated.data(), mutated.size());
        GVariant* variant = g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE("(ssa{sv})"), data, FALSE));
        std::vector<std::string> problems;
        auto decoded = wire::decodeNotification(variant, &problems);
        if (decoded) {
            EXPECT_FALSE(decoded->name.empty());
        }
        g_variant_unref(variant);
        g_bytes_unref(data);
    }
    g_variant_unref(normal);
    g_variant_unref(good);
}

}  // namespace
}  // namespace kit
