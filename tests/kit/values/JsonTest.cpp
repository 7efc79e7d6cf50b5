#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kit/base/Json.h"

namespace kit {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

class JsonRoundTrip : public testing::TestWithParam<Value> {};

TEST_P(JsonRoundTrip, ParsesBackEqual) {
    const Value& value = GetParam();
    const std::string text = toJson(value);
    auto parsed = parseJson(text);
    ASSERT_TRUE(parsed.ok()) << text << ": " << parsed.error();
    EXPECT_EQ(*parsed, value) << text;
    EXPECT_EQ(parsed->type(), value.type()) << text;
    // Escaped slashes read back the same.
    auto escaped = parseJson(toJson(value, {.escapeSlashes = true}));
    ASSERT_TRUE(escaped.ok());
    EXPECT_EQ(*escaped, value);
    auto pretty = parseJson(toJson(value, {.prettyPrinted = true}));
    ASSERT_TRUE(pretty.ok());
    EXPECT_EQ(*pretty, value);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JsonRoundTrip,
    testing::Values(Value(), Value(true), Value(false), Value(0), Value(-1), Value(kMin), Value(kMax),
                    Value(0.5), Value(-2.25e-10), Value(1e300), Value(1.0 / 3), Value(""),
                    Value("h\xc3\xa9llo \xe4\xbd\xa0\xe5\xa5\xbd \xf0\x9f\x98\x80"),
                    Value("quote\" back\\ slash/ tab\t nl\n cr\r ctl\x01\x1f del\x7f"),
                    Value(std::string("nul\0inside", 10)), Value(Array{}), Value(Dictionary{}),
                    Value(Array{Value(1), Value(Array{Value(Array{})}), Value(Dictionary{{"a", Value()}})}),
                    Value(Dictionary{{"z", Value(1)},
                                     {"a", Value(Dictionary{{"visible", Value(true)}, {"onDrag", Value(1)}})},
                                     {"m", Value(Array{Value("x"), Value(2.5)})}})));

TEST(JsonWrite, ExactText) {
    const struct {
        Value value;
        const char* text;
    } rows[] = {
        {Value(Dictionary{{"b", Value(1)}, {"a", Value(Array{Value(true), Value(false), Value()})}, {"c", Value("x")}}),
         R"({"b":1,"a":[true,false,null],"c":"x"})"},
        {Value("\"\\\b\f\n\r\t\x01\x1f"), R"("\"\\\b\f\n\r\t\u0001\u001f")"},
        {Value("a/b"), R"("a/b")"},
        {Value("\xc3\xa9\xe2\x80\xa8"), "\"\xc3\xa9\xe2\x80\xa8\""},
        {Value("bad\xff\xc0"), "\"bad\xef\xbf\xbd\xef\xbf\xbd\""},
        {Value(std::nan("")), "null"},
        {Value(HUGE_VAL), "null"},
        {Value(Array{Value(-HUGE_VAL)}), "[null]"},
        {Value(3.0), "3"},
        {Value(0.1), "0.1"},
        {Value(-0.0), "0"},
        {Value(Data{0, 1, 2, 255}), R"("AAEC/w==")"},
        {Value(Data{0xfb, 0xff}), R"("+/8=")"},
        {Value(Data{'M', 'a', 'n'}), R"("TWFu")"},
        {Value(Data{}), R"("")"},
        {Value(Date::fromUnixTime(1.5)), "1.5"},
        {Value(Date{0}), "978307200"},
        {Value(Array{}), "[]"},
        {Value(Dictionary{}), "{}"},
    };
    for (const auto& row : rows) EXPECT_EQ(toJson(row.value), row.text);
}

TEST(JsonWrite, Options) {
    const Value value(Dictionary{{"url", Value("https://a.b/c")}});
    EXPECT_EQ(toJson(value), R"({"url":"https://a.b/c"})");
    EXPECT_EQ(toJson(value, {.escapeSlashes = true}), R"({"url":"https:\/\/a.b\/c"})");
    const Value nested(Dictionary{{"a", Value(Array{Value(1), Value(2)})}, {"b", Value(Dictionary{})}});
    EXPECT_EQ(toJson(nested, {.prettyPrinted = true}),
              "{\n  \"a\" : [\n    1,\n    2\n  ],\n  \"b\" : {}\n}");
}

TEST(JsonParse, KindsStayApart) {
    auto parsed = parseJson(R"({"t":true,"one":1,"real":1.0,"neg":-5,"max":9223372036854775807,
        "min":-9223372036854775808,"below":-9223372036854775809,"umax":18446744073709551615,"exp":1e2})");
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const Value& v = *parsed;
    EXPECT_TRUE(v["t"].isBool());
    EXPECT_TRUE(v["one"].isInteger());
    EXPECT_TRUE(v["real"].isReal());
    EXPECT_EQ(v["neg"], Value(-5));
    EXPECT_TRUE(v["max"].isInteger());
    EXPECT_EQ(*v["max"].asInteger(), kMax);
    EXPECT_TRUE(v["min"].isInteger());
    EXPECT_EQ(*v["min"].asInteger(), kMin);
    EXPECT_TRUE(v["below"].isReal());
    ASSERT_TRUE(v["umax"].isReal());
    EXPECT_DOUBLE_EQ(*v["umax"].asReal(), 18446744073709551615.0);
    EXPECT_TRUE(v["exp"].isReal());
    EXPECT_EQ(v["exp"], Value(100));
}

TEST(JsonParse, FragmentsAndDuplicateKeys) {
    EXPECT_EQ(*parseJson("3"), Value(3));
    EXPECT_EQ(*parseJson("\"text\""), Value("text"));
    EXPECT_TRUE(parseJson("null")->isNull());
    EXPECT_TRUE(parseJson(" [ ] ")->isArray());
    EXPECT_EQ(*parseJson("\xef\xbb\xbf" "1"), Value(1));
    EXPECT_EQ(*parseJson(R"("\u00e9\ud83d\ude00\/")"), Value("\xc3\xa9\xf0\x9f\x98\x80/"));

    auto parsed = parseJson(R"({"a":1,"b":2,"a":3})");
    ASSERT_TRUE(parsed.ok());
    const Dictionary& dict = *parsed->asDictionary();
    ASSERT_EQ(dict.size(), 2u);
    EXPECT_EQ(dict.begin()->first, "a");
    EXPECT_EQ(dict.begin()->second, Value(3));
}

class JsonParseError : public testing::TestWithParam<std::string> {};

TEST_P(JsonParseError, GivesAnError) {
    Result<Value> parsed = Value();
    EXPECT_NO_THROW(parsed = parseJson(GetParam()));
    EXPECT_FALSE(parsed.ok());
    EXPECT_FALSE(parsed.error().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, JsonParseError,
    testing::Values("", " ", "{", "}", "[1,", "[1,]", R"({"a"})", R"({"a":})", R"({"a":1,})", "tru",
                    "nul", "01", "1.", "-", "\"unterminated", "\"\xff\"", "\"\xc0\xaf\"",
                    "\"\xed\xa0\x80\"", "\"\xe4\xbd\"", "[1] 2", "{'a':1}", R"("\x")", R"("\ud800")",
                    R"("\u12")", "1e999", "-1e999", "/* comment */ 1", "\"a\nb\"", "NaN", "Infinity",
                    std::string("[1,\0]", 5), std::string(513, '['),
                    std::string(100000, '[') + std::string(100000, ']')));

TEST(JsonParse, NestingUpToTheLimit) {
    const std::string deepest = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    auto parsed = parseJson(deepest);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(toJson(*parsed), deepest);
    const std::string tooDeep = "[" + deepest + "]";
    EXPECT_FALSE(parseJson(tooDeep).ok());
    std::string objects;
    for (int i = 0; i < kMaxJsonDepth + 1; ++i) objects += "{\"k\":";
    objects += "1" + std::string(kMaxJsonDepth + 1, '}');
    EXPECT_FALSE(parseJson(objects).ok());
}

}  // namespace
}  // namespace kit
