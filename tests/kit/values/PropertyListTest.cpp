#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <plist/plist.h>

#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"
#include "tests/support/ScopedEnvironment.h"

namespace kit {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// The binary form of an XML property list, made by the library's own writer.
std::string binaryFromXml(const std::string& xml) {
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
    if (!node) return {};
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    plist_free(node);
    std::string out(bytes ? bytes : "", bytes ? length : 0);
    plist_to_bin_free(bytes);
    return out;
}

std::string binaryFromNode(plist_t node) {
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    plist_free(node);
    std::string out(bytes ? bytes : "", bytes ? length : 0);
    plist_to_bin_free(bytes);
    return out;
}

std::vector<std::string> keysOf(const Value& value) {
    std::vector<std::string> keys;
    if (const Dictionary* dict = value.asDictionary()) {
        for (const auto& entry : *dict) keys.push_back(entry.first);
    }
    return keys;
}

Value everyKind() {
    return Value(Dictionary{
        {"yes", Value(true)},
        {"no", Value(false)},
        {"int", Value(42)},
        {"negative", Value(-7)},
        {"min", Value(kMin)},
        {"max", Value(kMax)},
        {"real", Value(0.1)},
        {"tiny", Value(-2.5e-300)},
        {"huge", Value(1e300)},
        {"whole real", Value(3.0)},
        {"string", Value("a<b>&c\"d' \xc3\xa9 \xe4\xbd\xa0\xe5\xa5\xbd \xf0\x9f\x98\x80 ]]> &amp;")},
        {"empty", Value("")},
        {"data", Value(Data{0, 1, 2, 0xff, '<', '&'})},
        {"no data", Value(Data{})},
        {"date", Value(Date{1000000000})},
        {"old date", Value(Date{-100})},
        {"nested", Value(Array{Value(1), Value(Array{}), Value(Dictionary{{"z", Value(1)}, {"a", Value(2)}})})},
        {"no entries", Value(Dictionary{})},
        {"key <with> & \"specials\" \xc3\xa9", Value(1)},
        {"", Value("empty key")},
    });
}

enum class Form { Xml, Binary };

class PropertyListRoundTrip : public ::testing::TestWithParam<Form> {
protected:
    std::string bytesOf(const Value& value) {
        auto xml = propertyListXml(value);
        EXPECT_TRUE(xml.ok()) << xml.error();
        if (!xml.ok()) return {};
        return GetParam() == Form::Xml ? *xml : binaryFromXml(*xml);
    }
};

TEST_P(PropertyListRoundTrip, EveryKind) {
    const Value original = everyKind();
    const std::string bytes = bytesOf(original);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.starts_with("bplist00"), GetParam() == Form::Binary);
    auto parsed = parsePropertyList(bytes);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(*parsed, original) << describe(*parsed);
    EXPECT_EQ(keysOf(*parsed), keysOf(original));
    EXPECT_TRUE((*parsed)["int"].isInteger());
    EXPECT_TRUE((*parsed)["whole real"].isReal());
    EXPECT_TRUE((*parsed)["yes"].isBool());
    EXPECT_EQ(keysOf((*parsed)["nested"].at(2)), (std::vector<std::string>{"z", "a"}));
}

TEST_P(PropertyListRoundTrip, TopLevelScalars) {
    for (const Value& value : {Value(true), Value(-1), Value(2.5), Value("x"), Value(Data{9}), Value(Array{})}) {
        auto parsed = parsePropertyList(bytesOf(value));
        ASSERT_TRUE(parsed.ok()) << parsed.error();
        EXPECT_EQ(*parsed, value);
    }
}

TEST_P(PropertyListRoundTrip, LargeDictionaryKeepsOrder) {
    Dictionary dict;
    for (int i = 0; i < 600; ++i) dict.set("k" + std::to_string((i * 7919) % 600), Value(i));
    const Value original(dict);
    auto parsed = parsePropertyList(bytesOf(original));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(keysOf(*parsed), keysOf(original));
    EXPECT_EQ(*parsed, original);
}

INSTANTIATE_TEST_SUITE_P(Forms, PropertyListRoundTrip, ::testing::Values(Form::Xml, Form::Binary),
                         [](const auto& info) { return info.param == Form::Xml ? "Xml" : "Binary"; });

TEST(PropertyListDates, BinaryKeepsFractionsXmlWholeSeconds) {
    for (double seconds : {0.0, 1234.5678, -99.5, -86400.25, 2147483647.0, -2147483648.0}) {
        SCOPED_TRACE(seconds);
        auto xml = propertyListXml(Value(Array{Value(Date{seconds})}));
        ASSERT_TRUE(xml.ok());
        const double whole = std::trunc(seconds);
        plist_t array = plist_new_array();
        plist_array_append_item(array, plist_new_date(static_cast<std::int32_t>(whole),
                                                      static_cast<std::int32_t>((seconds - whole) * 1e6)));
        auto fromBinary = parsePropertyList(binaryFromNode(array));
        ASSERT_TRUE(fromBinary.ok()) << fromBinary.error();
        ASSERT_TRUE(fromBinary->at(0).isDate());
        EXPECT_NEAR(fromBinary->at(0).asDate()->secondsSinceReferenceDate, seconds, 2e-6);
        auto fromXml = parsePropertyList(*xml);
        ASSERT_TRUE(fromXml.ok());
        EXPECT_NEAR(fromXml->at(0).asDate()->secondsSinceReferenceDate, std::trunc(seconds), 1.0);
    }
    auto clamped = parsePropertyList(*propertyListXml(Value(Date{1e12})));
    ASSERT_TRUE(clamped.ok());
    EXPECT_EQ(clamped->asDate()->secondsSinceReferenceDate, 2147483647.0);
    auto xml = parsePropertyList("<plist><date>2024-02-29T12:34:56Z</date></plist>");
    ASSERT_TRUE(xml.ok());
    EXPECT_EQ(xml->asDate()->unixTime(), 1709210096.0);
}

TEST(PropertyListParse, IntegersBeyondSigned64BitsBecomeReals) {
    auto unsignedMax = parsePropertyList("<plist><integer>18446744073709551615</integer></plist>");
    ASSERT_TRUE(unsignedMax.ok());
    ASSERT_TRUE(unsignedMax->isReal());
    EXPECT_DOUBLE_EQ(*unsignedMax->asReal(), 18446744073709551615.0);
    auto minusOne = parsePropertyList("<plist><integer>-1</integer></plist>");
    ASSERT_TRUE(minusOne.ok());
    EXPECT_EQ(*minusOne, Value(-1));
    EXPECT_TRUE(minusOne->isInteger());
}

TEST(PropertyListParse, AppleStyleFileWithDoctypeAndByteOrderMark) {
    const std::string xml =
        "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n\t<key>showAIStatusBarItem</key>\n\t<true/>\n"
        "\t<key>userInfo</key>\n\t<dict>\n\t\t<key>state</key>\n\t\t<integer>1</integer>\n"
        "\t\t<key>userName</key>\n\t\t<string></string>\n\t</dict>\n\t<key>ratio</key>\n\t<real>1.5</real>\n"
        "\t<key>blob</key>\n\t<data>\n\tAAEC\n\t</data>\n\t<key>self</key>\n\t<array/>\n</dict>\n</plist>\n";
    auto parsed = parsePropertyList(xml);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(*parsed, Value(Dictionary{{"showAIStatusBarItem", Value(true)},
                                        {"userInfo", Value(Dictionary{{"state", Value(1)}, {"userName", Value("")}})},
                                        {"ratio", Value(1.5)},
                                        {"blob", Value(Data{0, 1, 2})},
                                        {"self", Value(Array{})}}));
}

TEST(PropertyListParse, KeyedArchiveReferencesReadAsDictionaries) {
    plist_t array = plist_new_array();
    plist_array_append_item(array, plist_new_uid(3));
    auto parsed = parsePropertyList(binaryFromNode(array));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(*parsed, Value(Array{Value(Dictionary{{"CF$UID", Value(3)}})}));
}

class PropertyListCorrupt : public ::testing::TestWithParam<std::string> {};

TEST_P(PropertyListCorrupt, GivesAClearError) {
    auto parsed = parsePropertyList(GetParam());
    EXPECT_FALSE(parsed.ok()) << describe(*parsed);
    EXPECT_FALSE(parsed.error().empty());
}

std::string bplist(const std::vector<std::string>& objects, unsigned refSize = 1, std::uint64_t top = 0) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::uint64_t table = out.size();
    for (std::uint64_t offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((offset >> shift) & 0xff);
    }
    auto be64 = [&](std::uint64_t v) {
        for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
    };
    out += std::string(6, '\0');
    out += static_cast<char>(4);
    out += static_cast<char>(refSize);
    be64(objects.size());
    be64(top);
    be64(table);
    return out;
}

std::string ref(std::uint64_t index, unsigned size) {
    std::string out;
    for (int shift = static_cast<int>(size - 1) * 8; shift >= 0; shift -= 8) {
        out += static_cast<char>((index >> shift) & 0xff);
    }
    return out;
}

// Object i is a one-element array holding object i + 1; the last is an empty array.
std::string nestedArrays(int depth) {
    std::vector<std::string> objects;
    objects.reserve(static_cast<std::size_t>(depth));
    for (int i = 0; i < depth - 1; ++i) objects.push_back("\xa1" + ref(i + 1, 4));
    objects.push_back("\xa0"s);
    return bplist(objects, 4);
}

// Each array holds the next one twice: a small file that stands for 2^levels objects.
std::string doublingArrays(int levels) {
    std::vector<std::string> objects;
    objects.reserve(static_cast<std::size_t>(levels) + 1);
    for (int i = 0; i < levels; ++i) objects.push_back("\xa2" + ref(i + 1, 2) + ref(i + 1, 2));
    objects.push_back("\x09"s);
    return bplist(objects, 2);
}

std::string deepXmlArrays(int depth) {
    std::string xml = "<plist>";
    for (int i = 0; i < depth; ++i) xml += "<array>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</plist>";
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PropertyListCorrupt,
    ::testing::Values("", "   \n\t", "\xef\xbb\xbf", "garbage", "<plist>", "</plist>", "<?xml version=\"1.0\"?>",
                    "<plist><dict><key>a</key><string>1</string>", "<plist><array><true/>",
                    "<plist><array><string>x</string>", "<plist><dict><string>x</string></dict></plist>",
                    "<plist><string>a&#0;b</string></plist>", "<plist><string>\xff\xfe</string></plist>",
                    "<plist><dict><key>\xc0\xaf</key><true/></dict></plist>", "bplist00",
                    "bplist00" + std::string(40, '\0'), "bplist00" + std::string(200, '\xff'),
                    // A string object whose bytes are not UTF-8.
                    bplist({"\x52\xff\xfe"s}),
                    // References to missing objects, an array that holds itself, a bad top object.
                    bplist({"\xa1\x05"s, "\x09"s}), bplist({"\xa1\x00"s}), bplist({"\xa0"s}, 1, 7),
                    bplist({"\xd1\x01\x00"s, "\x51x"s}),
                    // Offsets beyond the objects, counts beyond the file.
                    bplist({"\xaf\x13\x7f\xff\xff\xff\xff\xff\xff\xff"s}), bplist({"\xaf\x14"s}),
                    nestedArrays(100000), nestedArrays(kMaxPropertyListDepth + 1), doublingArrays(40),
                    deepXmlArrays(100000), deepXmlArrays(kMaxPropertyListDepth + 1)));

TEST(PropertyListParse, NestingUpToTheLimit) {
    auto deepest = parsePropertyList(nestedArrays(kMaxPropertyListDepth));
    ASSERT_TRUE(deepest.ok()) << deepest.error();
    auto xml = propertyListXml(*deepest);
    ASSERT_TRUE(xml.ok()) << xml.error();
    EXPECT_TRUE(parsePropertyList(*xml).ok());
    EXPECT_FALSE(propertyListXml(Value(Array{*deepest})).ok());
    auto shared = parsePropertyList(doublingArrays(12));
    ASSERT_TRUE(shared.ok()) << shared.error();
    EXPECT_EQ(shared->at(1).at(1).at(0).asArray()->size(), 2u);
}

TEST(PropertyListParse, TruncatedFilesFailOrAreWhole) {
    const Value original = everyKind();
    const std::string xml = *propertyListXml(original);
    const std::string binary = binaryFromXml(xml);
    for (std::size_t length = 0; length < binary.size(); ++length) {
        EXPECT_FALSE(parsePropertyList(binary.substr(0, length)).ok()) << length;
    }
    // XML cut after the root closes may still read, but then nothing is missing.
    for (std::size_t length = 0; length < xml.size(); ++length) {
        auto parsed = parsePropertyList(xml.substr(0, length));
        if (parsed.ok()) {
            EXPECT_EQ(*parsed, original) << length;
        }
    }
}

TEST(PropertyListParse, DamagedBytesNeverCrash) {
    const std::string xml = *propertyListXml(everyKind());
    const std::string binary = binaryFromXml(xml);
    std::mt19937 random(12345);
    for (const std::string& source : {xml, binary}) {
        for (int round = 0; round < 3000; ++round) {
            std::string damaged = source;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] = static_cast<char>(random());
            auto parsed = parsePropertyList(damaged);
            if (parsed.ok()) {
                // Whatever reads must write and read back.
                auto written = propertyListXml(*parsed);
                if (written.ok()) {
                    EXPECT_TRUE(parsePropertyList(*written).ok());
                }
            } else {
                EXPECT_FALSE(parsed.error().empty());
            }
        }
    }
}

TEST(PropertyListWrite, ValuesWithoutAPropertyListForm) {
    const Value rows[] = {
        Value(),
        Value(Dictionary{{"a", Value(1)}, {"b", Value()}}),
        Value(Array{Value(1), Value(Array{Value()})}),
        Value(Dictionary{{"outer", Value(Dictionary{{"inner", Value()}})}}),
        Value(std::string("nul\0inside", 10)),
        Value("not utf-8 \xff"),
        Value(Dictionary{{"key \xc0", Value(1)}}),
        Value(Dictionary{{std::string("k\0ey", 4), Value(1)}}),
    };
    for (const Value& value : rows) {
        auto xml = propertyListXml(value);
        EXPECT_FALSE(xml.ok()) << *xml;
        EXPECT_FALSE(xml.error().empty());
    }
    EXPECT_NE(propertyListXml(Value()).error().find("null"), std::string::npos);
    EXPECT_NE(propertyListXml(rows[3]).error().find("inner"), std::string::npos);
}

class PropertyListFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }
    // A test may take the folder's permissions away; it is removed with them back.
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    }

    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::vector<std::string> entries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    kit::testing::TempFolder temp_{"kit_values"};
    const fs::path& dir_ = temp_.path();
};

TEST_F(PropertyListFiles, WriteThenRead) {
    const fs::path path = dir_ / "QuarnAIConfig.plist";
    const Value settings(Dictionary{{"showAIStatusBarItem", Value(true)}, {"fileDragState", Value(2)}});
    ASSERT_TRUE(writePropertyListFile(path, settings).ok());
    auto read = readPropertyListFile(path);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, settings);
    const Value changed(Dictionary{{"showAIStatusBarItem", Value(false)}});
    ASSERT_TRUE(writePropertyListFile(path, changed).ok());
    EXPECT_EQ(*readPropertyListFile(path), changed);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"QuarnAIConfig.plist"});
    // Binary files written by another process read as well.
    std::ofstream(path, std::ios::binary) << binaryFromXml(*propertyListXml(settings));
    EXPECT_EQ(*readPropertyListFile(path), settings);
}

TEST_F(PropertyListFiles, ReadErrorsNameThePath) {
    auto missing = readPropertyListFile(dir_ / "missing.plist");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("missing.plist"), std::string::npos);
    EXPECT_FALSE(readPropertyListFile(dir_).ok());
    std::ofstream(dir_ / "empty.plist").close();
    EXPECT_FALSE(readPropertyListFile(dir_ / "empty.plist").ok());
}

TEST_F(PropertyListFiles, KeepsPermissionsAndFollowsLinks) {
    const fs::path real = dir_ / "real.plist";
    ASSERT_TRUE(writeFileAtomically(real, "old").ok());
    ::chmod(real.c_str(), 0600);
    const fs::path link = dir_ / "link.plist";
    fs::create_symlink(real, link);
    ASSERT_TRUE(writeFileAtomically(link, "new").ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(real), "new");
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"link.plist", "real.plist"}));
}

TEST_F(PropertyListFiles, FailedWritesLeaveTheOldFileAndNoTemporary) {
    const fs::path path = dir_ / "settings.plist";
    ASSERT_TRUE(writeFileAtomically(path, "old contents").ok());

    // A value with no property-list form touches nothing.
    EXPECT_FALSE(writePropertyListFile(path, Value(Dictionary{{"a", Value()}})).ok());
    EXPECT_EQ(contents(path), "old contents");

    // Missing parent folder: nothing is created anywhere.
    auto missingParent = writeFileAtomically(dir_ / "no" / "such" / "folder.plist", "x");
    EXPECT_FALSE(missingParent.ok());
    EXPECT_NE(missingParent.error().find("folder.plist"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "no"));

    // The target is a folder that holds a file.
    fs::create_directory(dir_ / "taken");
    std::ofstream(dir_ / "taken" / "inside") << "keep";
    EXPECT_FALSE(writeFileAtomically(dir_ / "taken", "x").ok());
    EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
    EXPECT_EQ(contents(dir_ / "taken" / "inside"), "keep");

    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"settings.plist", "taken"}));
    EXPECT_EQ(contents(path), "old contents");
}

TEST_F(PropertyListFiles, WriteThatRunsOutOfSpaceLeavesTheOldFile) {
    const fs::path path = dir_ / "settings.plist";
    const std::string old(100000, 'o');
    ASSERT_TRUE(writeFileAtomically(path, old).ok());
    // A file-size limit stops the write half-way, for root as well; run it in a child so the
    // limit stays there.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Status status = writeFileAtomically(path, std::string(200000, 'n'));
        ::_exit(status.ok() ? 1 : status.error().find("settings.plist") != std::string::npos ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(path), old);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"settings.plist"});
}

}  // namespace
}  // namespace kit
