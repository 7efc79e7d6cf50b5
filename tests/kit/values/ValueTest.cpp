#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "kit/base/Value.h"

namespace kit {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct LenientRow {
    const char* text;
    std::int64_t integer;
    double real;
    bool boolean;
};

class LenientStringReading : public testing::TestWithParam<LenientRow> {};

TEST_P(LenientStringReading, MatchesTheTable) {
    const LenientRow& row = GetParam();
    EXPECT_EQ(integerValueOfString(row.text), row.integer);
    EXPECT_EQ(boolValueOfString(row.text), row.boolean);
    const double real = doubleValueOfString(row.text);
    if (std::isinf(row.real)) {
        EXPECT_EQ(real, row.real);
    } else {
        EXPECT_DOUBLE_EQ(real, row.real);
    }
    // A string value reads the same way as its text.
    const Value value(row.text);
    EXPECT_EQ(value.integerValue(), row.integer);
    EXPECT_EQ(value.boolValue(), row.boolean);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LenientStringReading,
    testing::Values(LenientRow{"12abc", 12, 12, true}, LenientRow{"abc", 0, 0, false},
                    LenientRow{" 42", 42, 42, true}, LenientRow{"\t\n -7x", -7, -7, true},
                    LenientRow{"+5", 5, 5, true}, LenientRow{"YES", 0, 0, true},
                    LenientRow{"yes", 0, 0, true}, LenientRow{"true", 0, 0, true},
                    LenientRow{"Tomorrow", 0, 0, true}, LenientRow{"1", 1, 1, true},
                    LenientRow{"0", 0, 0, false}, LenientRow{"no", 0, 0, false},
                    LenientRow{"NO", 0, 0, false}, LenientRow{"false", 0, 0, false},
                    LenientRow{"", 0, 0, false}, LenientRow{"   ", 0, 0, false},
                    LenientRow{"00", 0, 0, false}, LenientRow{"-0", 0, 0, false},
                    LenientRow{"007", 7, 7, true}, LenientRow{"-3", -3, -3, true},
                    LenientRow{"0.5", 0, 0.5, false}, LenientRow{"2.5x", 2, 2.5, true},
                    LenientRow{" .5", 0, 0.5, false}, LenientRow{"-.5e1", 0, -5, false},
                    LenientRow{"1e3", 1, 1000, true}, LenientRow{"5e", 5, 5, true},
                    LenientRow{"5e+", 5, 5, true}, LenientRow{"e5", 0, 0, false},
                    LenientRow{"- 5", 0, 0, false}, LenientRow{"0x1F", 0, 0, false},
                    LenientRow{"9223372036854775807", kMax, 9223372036854775807.0, true},
                    LenientRow{"-9223372036854775808", kMin, -9223372036854775808.0, true},
                    LenientRow{"9223372036854775808", kMax, 9223372036854775808.0, true},
                    LenientRow{"99999999999999999999", kMax, 1e20, true},
                    LenientRow{"-99999999999999999999", kMin, -1e20, true},
                    LenientRow{"1e400", 1, HUGE_VAL, true}, LenientRow{"-1e400", -1, -HUGE_VAL, true},
                    LenientRow{"1e-400", 1, 0, true}, LenientRow{"0.000e999999999999", 0, 0, false}));

TEST(ValueReading, NonStringKinds) {
    struct Row {
        Value value;
        std::int64_t integer;
        double real;
        bool boolean;
    };
    const Row rows[] = {
        {Value(true), 1, 1, true},
        {Value(false), 0, 0, false},
        {Value(0), 0, 0, false},
        {Value(-3), -3, -3, true},
        {Value(2.9), 2, 2.9, true},
        {Value(-2.9), -2, -2.9, true},
        {Value(0.0), 0, 0, false},
        {Value(1e30), kMax, 1e30, true},
        {Value(-1e30), kMin, -1e30, true},
        {Value(), 0, 0, false},
        {Value(Array{Value(1)}), 0, 0, false},
        {Value(Dictionary{{"a", Value(1)}}), 0, 0, false},
        {Value(Data{1}), 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(describe(row.value));
        EXPECT_EQ(row.value.integerValue(), row.integer);
        EXPECT_DOUBLE_EQ(row.value.doubleValue(), row.real);
        EXPECT_EQ(row.value.boolValue(), row.boolean);
    }
    EXPECT_EQ(Value(std::nan("")).integerValue(), 0);
}

TEST(ValueEquality, KindsAndNumbers) {
    EXPECT_EQ(Value(3), Value(3.0));
    EXPECT_EQ(Value(3.0), Value(3));
    EXPECT_NE(Value(3), Value(3.5));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_NE(Value(), Value(0));
    EXPECT_EQ(Value(), Value(nullptr));
    // 2^63 as a double is one past INT64_MAX and must not compare equal to it.
    EXPECT_NE(Value(kMax), Value(9223372036854775808.0));
    EXPECT_EQ(Value(kMin), Value(-9223372036854775808.0));
    EXPECT_EQ(Value(Data{1, 2}), Value(Data{1, 2}));
    EXPECT_NE(Value(Data{1, 2}), Value(Data{1}));
    EXPECT_EQ(Value(Date{5}), Value(Date{5}));
    EXPECT_NE(Value(Date{5}), Value(5));
    EXPECT_EQ(Value(Array{Value(1), Value("a")}), Value(Array{Value(1.0), Value("a")}));
    EXPECT_NE(Value(Array{Value(1), Value("a")}), Value(Array{Value("a"), Value(1)}));
}

TEST(ValueEquality, DictionariesIgnoreOrderButNotContents) {
    const Dictionary a{{"x", Value(1)}, {"y", Value(Array{Value(true)})}};
    const Dictionary b{{"y", Value(Array{Value(true)})}, {"x", Value(1)}};
    const Dictionary c{{"x", Value(1)}, {"y", Value(Array{Value(false)})}};
    const Dictionary d{{"x", Value(1)}, {"z", Value(Array{Value(true)})}};
    const Dictionary e{{"x", Value(1)}};
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, d);
    EXPECT_NE(a, e);
    EXPECT_NE(e, a);
}

TEST(DictionaryTest, KeepsInsertionOrderAndReplacesInPlace) {
    Dictionary dict;
    dict.set("b", Value(1));
    dict.set("a", Value(2));
    dict.set("b", Value(3));
    dict["c"];
    ASSERT_EQ(dict.size(), 3u);
    auto it = dict.begin();
    EXPECT_EQ(it->first, "b");
    EXPECT_EQ(it->second, Value(3));
    ++it;
    EXPECT_EQ(it->first, "a");
    ++it;
    EXPECT_EQ(it->first, "c");
    EXPECT_TRUE(it->second.isNull());
    EXPECT_TRUE(dict.erase("a"));
    EXPECT_FALSE(dict.erase("a"));
    EXPECT_FALSE(dict.contains("a"));
    EXPECT_EQ(dict.size(), 2u);

    const Dictionary withDuplicates{{"k", Value(1)}, {"j", Value(2)}, {"k", Value(3)}};
    ASSERT_EQ(withDuplicates.size(), 2u);
    EXPECT_EQ(withDuplicates.begin()->first, "k");
    EXPECT_EQ(withDuplicates.begin()->second, Value(3));
}

TEST(DictionaryTest, CollapseDuplicateKeysKeepsFirstPositionAndLastValue) {
    for (int count : {3, 10, 40, 300}) {
        SCOPED_TRACE(count);
        Dictionary dict;
        // Keys cycle through count/3 names: each appears about three times.
        const int distinct = count / 3;
        for (int i = 0; i < count; ++i) {
            dict.appendUnchecked("key" + std::to_string(i % distinct), Value(i));
        }
        dict.collapseDuplicateKeys();
        ASSERT_EQ(dict.size(), static_cast<std::size_t>(distinct));
        int index = 0;
        for (const auto& [key, value] : dict) {
            EXPECT_EQ(key, "key" + std::to_string(index));
            int last = index;
            while (last + distinct < count) last += distinct;
            EXPECT_EQ(value, Value(last));
            ++index;
        }
    }
}

TEST(ValueLookup, NeverFails) {
    const Value dict(Dictionary{{"a", Value(Array{Value(1), Value(2)})}});
    EXPECT_EQ(dict["a"].at(1), Value(2));
    EXPECT_TRUE(dict["missing"].isNull());
    EXPECT_TRUE(dict["a"].at(2).isNull());
    EXPECT_TRUE(dict["a"]["x"].isNull());
    EXPECT_TRUE(Value(5)["a"].at(0).isNull());
}

struct DescribeRow {
    Value value;
    const char* text;
};

class DescribeTest : public testing::TestWithParam<DescribeRow> {};

TEST_P(DescribeTest, PrintsThePlatformForm) { EXPECT_EQ(describe(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Table, DescribeTest,
    testing::Values(
        DescribeRow{Value(Dictionary{{"state", Value(0)}, {"userName", Value("bob")}}),
                    "{\n    state = 0;\n    userName = bob;\n}"},
        DescribeRow{Value(Array{Value(1), Value("b")}), "(\n    1,\n    b\n)"},
        DescribeRow{Value(Dictionary{}), "{\n}"},
        DescribeRow{Value(Array{}), "(\n)"},
        DescribeRow{Value(Dictionary{{"a", Value(Dictionary{{"b", Value(1)}})}}),
                    "{\n    a =     {\n        b = 1;\n    };\n}"},
        DescribeRow{Value(Array{Value(Dictionary{{"a", Value(1)}}), Value(Array{Value(2)})}),
                    "(\n        {\n        a = 1;\n    },\n        (\n        2\n    )\n)"},
        DescribeRow{Value(Dictionary{{"user name", Value("a b")}, {"", Value("")}}),
                    "{\n    \"user name\" = \"a b\";\n    \"\" = \"\";\n}"},
        DescribeRow{Value("com.morvane.Quarn"), "\"com.morvane.Quarn\""},
        DescribeRow{Value("snake_Case_9"), "snake_Case_9"},
        DescribeRow{Value("say \"hi\"\\\n\t"), "\"say \\\"hi\\\"\\\\\\n\\t\""},
        DescribeRow{Value("bell\x07"), "\"bell\\U0007\""},
        DescribeRow{Value("\xe4\xbd\xa0\xe5\xa5\xbd"), "\"\xe4\xbd\xa0\xe5\xa5\xbd\""},
        DescribeRow{Value(true), "1"}, DescribeRow{Value(false), "0"},
        DescribeRow{Value(-12), "-12"}, DescribeRow{Value(0.5), "0.5"}, DescribeRow{Value(3.0), "3"},
        DescribeRow{Value(), "<null>"},
        DescribeRow{Value(Date{0}), "2001-01-01 00:00:00 +0000"},
        DescribeRow{Value(Date::fromUnixTime(86399.9)), "1970-01-01 23:59:59 +0000"},
        DescribeRow{Value(Data{0, 1, 0xab}), "{length = 3, bytes = 0x0001ab}"}));

TEST(NumberText, ShortestFormsReadBack) {
    const struct {
        double value;
        const char* text;
    } rows[] = {{400, "400"}, {12.5, "12.5"}, {-3, "-3"}, {0.1, "0.1"}, {-0.0, "0"},
                {1e300, "1e+300"}, {123456789012345.0, "123456789012345"}};
    for (const auto& row : rows) EXPECT_EQ(shortestNumberText(row.value), row.text);
    EXPECT_EQ(shortestNumberText(std::nan("")), "nan");
    EXPECT_EQ(shortestNumberText(-HUGE_VAL), "-inf");

    for (double value : {1.0 / 3, 0.1 + 0.2, -2.5e-308, 4.9e-324, 1.7976931348623157e308,
                         9007199254740993.0, 1234567.125}) {
        const std::string text = shortestNumberText(value);
        double back = 0;
        ASSERT_EQ(scanDecimalNumber(text, back), text.size()) << text;
        EXPECT_EQ(back, value) << text;
    }
}

TEST(NumberText, ScanStopsAtTheNumber) {
    double value = -1;
    EXPECT_EQ(scanDecimalNumber("+1.5e2, 3", value), 6u);
    EXPECT_EQ(value, 150);
    EXPECT_EQ(scanDecimalNumber("abc", value), 0u);
    EXPECT_EQ(scanDecimalNumber(".", value), 0u);
    EXPECT_EQ(scanDecimalNumber("-", value), 0u);
    EXPECT_EQ(scanDecimalNumber("7.", value), 2u);
    EXPECT_EQ(value, 7);
}

TEST(Utf8, ValidityAndRepair) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xc3\xa9\xe4\xbd\xa0\xf0\x9f\x98\x80"));
    EXPECT_TRUE(isValidUtf8("\xf4\x8f\xbf\xbf"));  // U+10FFFF
    for (const char* bad : {"\xff", "\x80", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                            "\xf4\x90\x80\x80", "\xc3", "\xe4\xbd", "a\xc3(b"}) {
        EXPECT_FALSE(isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
        EXPECT_TRUE(isValidUtf8(sanitizedUtf8(bad)));
    }
    EXPECT_EQ(sanitizedUtf8("a\xffz\xc3\xa9"), "a\xef\xbf\xbdz\xc3\xa9");
}

}  // namespace
}  // namespace kit
