#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kit/base/Log.h"
#include "tests/support/ScopedEnvironment.h"

namespace kit {
namespace {

const std::regex kLinePattern(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} test_kit_base\[(\d+):(\d+)\] (.*)$)");

// Sends file descriptor 2 to a file for the life of the object.
class StderrToFile {
public:
    explicit StderrToFile(const std::filesystem::path& file) {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrToFile() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Log, CaptureCollectsMessagesWithoutPrefix) {
    LogCapture capture;
    logLine("[WndCtrl] show side window");
    logf("[DB] %s = %d", "state", 3);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[WndCtrl] show side window", "[DB] state = 3"}));
    EXPECT_TRUE(capture.contains("side"));
    EXPECT_FALSE(capture.contains("absent"));
    EXPECT_EQ(capture.count("["), 2u);
    capture.clear();
    EXPECT_TRUE(capture.lines().empty());
}

TEST(Log, NewestCaptureSeesTheLines) {
    LogCapture outer;
    logLine("one");
    {
        LogCapture inner;
        logLine("two");
        EXPECT_EQ(inner.lines(), (std::vector<std::string>{"two"}));
    }
    logLine("three");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"one", "three"}));
}

TEST(Log, LongFormattedMessagesAreWhole) {
    LogCapture capture;
    std::string big(5000, 'x');
    logf("<%s>", big.c_str());
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], "<" + big + ">");
}

TEST(Log, ControlCharactersAreEscapedSoEachMessageStaysOneLine) {
    struct Case {
        std::string text;
        std::string logged;
    };
    const std::vector<Case> cases{
        {"plain text, \\ and \"quotes\" stay", "plain text, \\ and \"quotes\" stay"},
        {"a\nforged line\r\tx", "a\\nforged line\\r\\tx"},
        {std::string("nul\0bell\a", 9) + "\x7F", "nul\\x00bell\\x07\\x7F"},
        {"\x1B[31mred\x1B]0;title\x07", "\\x1B[31mred\\x1B]0;title\\x07"},
        {"next\u0085line csi\u009B2J", "next\\u0085line csi\\u009B2J"},
        {"sep\u2028par\u2029end", "sep\\u2028par\\u2029end"},
        {"\u00A0\u00E9\u4E2D\U0001F600\u2027\u202A", "\u00A0\u00E9\u4E2D\U0001F600\u2027\u202A"},
        {"raw \x9B and \xC0\x80 \xED\xA0\x80 \xE2\x80", "raw \\x9B and \\xC0\\x80 \\xED\\xA0\\x80 \\xE2\\x80"},
    };
    testing::TempFolder folder;
    auto file = folder.path() / "stderr.txt";
    {
        StderrToFile redirect(file);
        LogCapture loud(false);
        for (const auto& c : cases) logLine(c.text);
        logf("[Text] %s|%s", "one\ntwo", "\u2029");
        ASSERT_EQ(loud.lines().size(), cases.size() + 1);
        EXPECT_EQ(loud.lines()[1], cases[1].text);
    }
    auto lines = readLines(file);
    ASSERT_EQ(lines.size(), cases.size() + 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, kLinePattern)) << lines[i];
        EXPECT_EQ(match[3].str(), cases[i].logged);
        EXPECT_EQ(escapedForLog(cases[i].text), cases[i].logged);
    }
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(.*\] \[Text\] one\\ntwo\|\\u2029$)"))) << lines.back();
}

TEST(Log, PrefixHasDateTimeNameAndIds) {
    std::smatch match;
    std::string line = logLinePrefix() + "message";
    ASSERT_TRUE(std::regex_match(line, match, kLinePattern)) << line;
    EXPECT_EQ(std::stoi(match[1]), ::getpid());
    EXPECT_EQ(std::stol(match[2]), static_cast<long>(::gettid()));
}

TEST(Log, EachLineIsWrittenWholeToStandardError) {
    testing::TempFolder folder;
    auto file = folder.path() / "stderr.txt";
    constexpr int kThreads = 4, kEach = 200;
    {
        StderrToFile redirect(file);
        LogCapture loud(false);
        std::vector<std::thread> threads;
        threads.reserve(kThreads);
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kEach; ++i) logf("[T%d] line %d of a log that others write too", t, i);
            });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(loud.lines().size(), static_cast<std::size_t>(kThreads * kEach));
        LogCapture silent;
        logLine("captured only");
    }
    auto lines = readLines(file);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
    std::set<long> threadIds;
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kLinePattern)) << line;
        EXPECT_TRUE(std::regex_match(match[3].str(), std::regex(R"(\[T\d\] line \d+ of a log that others write too)")))
            << line;
        threadIds.insert(std::stol(match[2]));
    }
    EXPECT_EQ(threadIds.size(), static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace kit
