// The command lines of the host and text-tool stand-ins: words, numbers, and the notifications
// each command turns into (names and payloads as the assistant reads them).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"
#include "kit/sys/GlobalHotKeys.h"
#include "peers/common/PeerCommandLine.h"
#include "peers/common/PeerOutput.h"
#include "peers/common/SharedSettings.h"
#include "peers/host/HostCommands.h"
#include "peers/text-tool/TextToolCommands.h"
#include "tests/support/ScopedEnvironment.h"

namespace peers {
namespace {

using Words = std::vector<std::string>;

Words words(std::string_view line) {
    auto split = splitCommandLine(line);
    EXPECT_TRUE(split) << line << ": " << split.error();
    return split ? *split : Words{};
}

kit::Value json(std::string_view text) {
    auto parsed = kit::parseJson(text);
    EXPECT_TRUE(parsed) << text;
    return parsed ? *parsed : kit::Value();
}

TEST(PeerCommandLine, SplitsWordsWithQuotesAndEscapes) {
    EXPECT_EQ(words("  status   on \t"), (Words{"status", "on"}));
    EXPECT_EQ(words("explain \"two words\" 1 2"), (Words{"explain", "two words", "1", "2"}));
    EXPECT_EQ(words("a 'single \"quoted\" \\n' b"), (Words{"a", "single \"quoted\" \\n", "b"}));
    EXPECT_EQ(words("\"line\\nbreak\\ttab \\\"q\\\"\""), (Words{"line\nbreak\ttab \"q\""}));
    EXPECT_EQ(words("one\\ word"), (Words{"one word"}));
    EXPECT_EQ(words("glued\"to\"'gether'"), (Words{"gluedtogether"}));
    EXPECT_EQ(words("side 1 \"\""), (Words{"side", "1", ""}));
    EXPECT_EQ(words("你好 世界"), (Words{"你好", "世界"}));
    EXPECT_TRUE(words("").empty());
    EXPECT_TRUE(words("   ").empty());
    EXPECT_TRUE(words("  # a comment \"open").empty());

    EXPECT_FALSE(splitCommandLine("say \"open"));
    EXPECT_FALSE(splitCommandLine("say 'open"));
    EXPECT_FALSE(splitCommandLine("ends with \\"));
}

TEST(PeerCommandLine, ReadsSwitchesNumbersAndModifiers) {
    for (auto on : {"on", "ON", "yes", "true", "1"}) EXPECT_TRUE(*parseSwitch(on)) << on;
    for (auto off : {"off", "No", "false", "0"}) EXPECT_FALSE(*parseSwitch(off)) << off;
    EXPECT_FALSE(parseSwitch("maybe"));
    EXPECT_FALSE(parseSwitch(""));

    EXPECT_EQ(*parseInteger("49"), 49);
    EXPECT_EQ(*parseInteger("-7"), -7);
    EXPECT_EQ(*parseInteger("+0x1F"), 31);
    EXPECT_EQ(*parseInteger("0x10000"), 65536);
    EXPECT_EQ(*parseInteger("9223372036854775807"), INT64_MAX);
    for (auto bad : {"", "12abc", " 12", "0x", "--1", "- 1", "9223372036854775808", "1.5"})
        EXPECT_FALSE(parseInteger(bad)) << bad;

    EXPECT_EQ(*parseNumber("12.5"), 12.5);
    EXPECT_EQ(*parseNumber("-3"), -3);
    for (auto bad : {"", "x", "1e999", "nan", "3px", " 1"}) EXPECT_FALSE(parseNumber(bad)) << bad;

    EXPECT_EQ(*parseModifierFlags("1572864"), 1572864u);
    EXPECT_EQ(*parseModifierFlags("option+command"), kit::HotKeyModifier::Option | kit::HotKeyModifier::Command);
    EXPECT_EQ(*parseModifierFlags("Shift|CTRL|alt|cmd"), kit::HotKeyModifier::Significant);
    EXPECT_EQ(*parseModifierFlags("none"), 0u);
    for (auto bad : {"hyper", "shift++cmd", "", "-1", "0x100000000"}) EXPECT_FALSE(parseModifierFlags(bad)) << bad;
}

TEST(PeerCommandLine, TextAfterWordsKeepsJsonAsTyped) {
    EXPECT_EQ(textAfterWords("post  Name   {\"a\": \"b c\"}  ", 2), "{\"a\": \"b c\"}");
    EXPECT_EQ(textAfterWords("raw", 1), "");
    EXPECT_EQ(textAfterWords("  raw [1, 2]", 1), "[1, 2]");
}

TEST(PeerOutput, LinesCarryNameAndJson) {
    EXPECT_EQ(notificationLine("received", "kA2M_X", kit::Dictionary{{"data", 1}, {"t", "a\nb"}}),
              "received kA2M_X {\"data\":1,\"t\":\"a\\nb\"}");
    EXPECT_EQ(notificationLine("sent", "N", kit::Value()), "sent N null");
    // Inside a page's script element nothing may close the element or break the statement.
    std::string safe = scriptSafeJson(kit::Dictionary{{"x", "</script><b>&\u2028\u2029"}});
    EXPECT_EQ(safe.find('<'), std::string::npos);
    EXPECT_EQ(safe.find("\u2028"), std::string::npos);
    EXPECT_EQ(json(safe)["x"], kit::Value("</script><b>&\u2028\u2029"));
}

TEST(HostCommands, TurnIntoTheHostsNotifications) {
    struct Case {
        const char* line;
        const char* name;
        const char* userInfo;
    };
    const Case cases[] = {
        {"status on", "kM2A_KZAIIPCShowAIStatusItemChangedNotification", R"({"data": true})"},
        {"status off", "kM2A_KZAIIPCShowAIStatusItemChangedNotification", R"({"data": false})"},
        {"hotkey on 49 option+command", "kM2A_KZAIIPCUseHotKeyChangedNotification",
         R"({"data": {"use": true, "keyCode": 49, "modifiers": 1572864}})"},
        {"hotkey on 0x31 1048576", "kM2A_KZAIIPCUseHotKeyChangedNotification",
         R"({"data": {"use": true, "keyCode": 49, "modifiers": 1048576}})"},
        {"hotkey off", "kM2A_KZAIIPCUseHotKeyChangedNotification",
         R"({"data": {"use": false, "keyCode": 0, "modifiers": 0}})"},
        // A key code beyond 16 bits goes out as typed: the assistant keeps the low bits.
        {"shortcut 2 70000 shift", "M2A_KZAIIPCShortcutDidChangeNotification",
         R"({"type": 2, "keyCode": 70000, "flags": 131072})"},
        {"shortcut side 0 0", "M2A_KZAIIPCShortcutDidChangeNotification", R"({"type": 1, "keyCode": 0, "flags": 0})"},
        {"accessibility", "kM2A_KZAIIPCShowAccessibilityPermissionWindowNotification", "null"},
        {"filedrag", "MA2T_KZAIIPCFileDragValueDidChangeNotification", "null"},
        {"post kA2M_Anything {\"a b\": [1, \"x\"]}", "kA2M_Anything", R"({"a b": [1, "x"]})"},
        {"post Bare", "Bare", "null"},
    };
    for (const auto& c : cases) {
        auto action = host::parseHostCommand(c.line);
        ASSERT_TRUE(action) << c.line << ": " << action.error();
        EXPECT_EQ(action->kind, PeerAction::Kind::Post) << c.line;
        EXPECT_EQ(action->name, c.name) << c.line;
        EXPECT_EQ(kit::toJson(action->userInfo), kit::toJson(json(c.userInfo))) << c.line;
        EXPECT_FALSE(action->fileDragState) << c.line;
    }
    auto drag = host::parseHostCommand("filedrag off");
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->fileDragState, std::optional<bool>(false));

    EXPECT_EQ(host::parseHostCommand("quit")->kind, PeerAction::Kind::Quit);
    EXPECT_EQ(host::parseHostCommand("help")->kind, PeerAction::Kind::Help);
    EXPECT_EQ(host::parseHostCommand("  # nothing")->kind, PeerAction::Kind::None);
}

TEST(HostCommands, RefuseWhatTheyCannotSendWithAReason) {
    for (auto bad : {"status", "status maybe", "status on off", "hotkey on", "hotkey on 49", "hotkey on x cmd",
                     "hotkey on 49 hyper", "hotkey off 49 cmd", "shortcut 1 2", "shortcut x 1 2",
                     "accessibility now", "filedrag sideways", "post", "post N [1, 2]", "post N {broken",
                     "launch", "status \"on"}) {
        auto action = host::parseHostCommand(bad);
        EXPECT_FALSE(action) << bad;
        EXPECT_FALSE(action.error().empty()) << bad;
    }
    EXPECT_NE(host::parseHostCommand("frobnicate").error().find("frobnicate"), std::string::npos);
}

TEST(HostCommands, ReceiveOnlyWhatTheAssistantSendsTheOthers) {
    for (auto name : {"kA2M_KZAIIPCShowAIPreferencesNotification", "kA2M_KZAIIPCShowAIStatusItemChangedNotification",
                      "kA2M_KZAIIPCEnableGetTextProcessNotification", "A2T_KZAIIPCPanelWindowSizeChangedNotification",
                      "MA2Other_KZAIIPCUseGetTextChangedNotification", "M2A_KZAIIPCHotKeySetSuccessNotification",
                      "M2A_KZAIIPCHotKeySettingFailedNotification"})
        EXPECT_TRUE(host::hostReceives(name)) << name;
    for (auto name : {"kM2A_KZAIIPCShowAIStatusItemChangedNotification", "M2A_KZAIIPCShortcutDidChangeNotification",
                      "MT2A_KZAIIPCCommonNotification", "MA2T_KZAIIPCFileDragValueDidChangeNotification", "user_language_change"})
        EXPECT_FALSE(host::hostReceives(name)) << name;
    EXPECT_TRUE(texttool::textToolReceives("A2T_KZAIIPCShowAccessibilityPromptNotification"));
    EXPECT_TRUE(texttool::textToolReceives("MA2Other_KZAIIPCUseGetTextChangedNotification"));
    EXPECT_FALSE(texttool::textToolReceives("kA2M_KZAIIPCShowAIPreferencesNotification"));
    EXPECT_FALSE(texttool::textToolReceives("MT2A_KZAIIPCCommonNotification"));
}

// The "data" array of the tool's common notification.
kit::Value arguments(const PeerAction& action) {
    EXPECT_EQ(action.kind, PeerAction::Kind::Post);
    EXPECT_EQ(action.name, "MT2A_KZAIIPCCommonNotification");
    return action.userInfo["data"];
}

TEST(TextToolCommands, TurnIntoEventArrays) {
    texttool::TextToolSession session;
    struct Case {
        const char* line;
        const char* data;
    };
    const Case cases[] = {
        {"side 2 what is this", R"(["QuarnGetText", "1", "2", "what is this"])"},
        {"side 3", R"(["QuarnGetText", "1", "3", ""])"},
        {"side 0x2 \"  spaced  \"", R"(["QuarnGetText", "1", "2", "  spaced  "])"},
        {"explain hello world 100 200.5", R"(["QuarnGetText", "2", "1", "hello world", "{100, 200.5}"])"},
        {"translate \"3 apples\" -10 0", R"(["QuarnGetText", "2", "2", "3 apples", "{-10, 0}"])"},
        {"frame explain 10 20 400 500", R"(["QuarnGetText", "3", "1", "{{10, 20}, {400, 500}}"])"},
        {"frame 2 0 0 420.5 324", R"(["QuarnGetText", "3", "2", "{{0, 0}, {420.5, 324}}"])"},
        {"frame 3 1 2 3 4", R"(["QuarnGetText", "3", "3", "{{1, 2}, {3, 4}}"])"},
        {"sidebar", R"(["QuarnGetText", "4"])"},
        {"shortcut screenshot 0x10001 command", R"(["QuarnGetText", "5", "2", "65537", "1048576"])"},
        {"filedrag", R"(["QuarnGetText", "6"])"},
        {"raw [\"x\", \"2\", \"1\"]", R"(["x", "2", "1"])"},
        {"raw [\"only\"]", R"(["only"])"},
        {"raw [1, null, {\"a\": true}]", R"([1, null, {"a": true}])"},
        {"raw one \"two words\" 7", R"(["one", "two words", "7"])"},
        {"raw", "[]"},
    };
    for (const auto& c : cases) {
        auto action = session.command(c.line);
        ASSERT_TRUE(action) << c.line << ": " << action.error();
        EXPECT_EQ(kit::toJson(arguments(*action)), kit::toJson(json(c.data))) << c.line;
    }
    auto drag = session.command("filedrag on");
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->fileDragState, std::optional<bool>(true));

    for (auto bad : {"side", "side x text", "explain 1 2", "explain text 1 y", "translate text x 2", "frame 1 2 3 4",
                     "frame sideways 1 2 3 4", "frame 1 a 2 3 4", "sidebar now", "shortcut 1 2", "shortcut 1 a 2",
                     "filedrag maybe", "raw [1", "raw {\"a\": 1}", "autoframe", "nope"}) {
        auto action = session.command(bad);
        EXPECT_FALSE(action) << bad;
    }
}

TEST(TextToolCommands, AnswerPanelSizesWithFramesAtTheLastOrigin) {
    texttool::TextToolSession session;
    kit::Value sizeOfExplain = kit::Dictionary{{"type", 1}, {"size", "{400, 512}"}};
    EXPECT_FALSE(session.answerPanelSize(sizeOfExplain)) << "no origin known before the panel was asked for";

    ASSERT_TRUE(session.command("explain word 30 40"));
    ASSERT_TRUE(session.command("translate other 5 6"));
    ASSERT_TRUE(session.command("explain again 50 60"));
    auto answer = session.answerPanelSize(sizeOfExplain);
    ASSERT_TRUE(answer);
    EXPECT_EQ(kit::toJson(arguments(*answer)), R"(["QuarnGetText","3","1","{{50, 60}, {400, 512}}"])");

    // The type may arrive as any number; the size in the platform's text form.
    auto translate = session.answerPanelSize(kit::Dictionary{{"type", 2.0}, {"size", "{420.5, 300}"}});
    ASSERT_TRUE(translate);
    EXPECT_EQ(kit::toJson(arguments(*translate)), R"(["QuarnGetText","3","2","{{5, 6}, {420.5, 300}}"])");

    EXPECT_FALSE(session.answerPanelSize(kit::Dictionary{{"type", 3}, {"size", "{1, 1}"}}));
    EXPECT_FALSE(session.answerPanelSize(kit::Dictionary{{"type", 1}}));
    EXPECT_FALSE(session.answerPanelSize(kit::Dictionary{{"type", 1}, {"size", "garbage"}}));
    EXPECT_FALSE(session.answerPanelSize(kit::Value()));

    auto off = session.command("autoframe off");
    ASSERT_TRUE(off);
    EXPECT_EQ(off->kind, PeerAction::Kind::AutoFrame);
    EXPECT_FALSE(off->enable);
    EXPECT_FALSE(session.answerPanelSize(sizeOfExplain));
    ASSERT_TRUE(session.command("autoframe on"));
    EXPECT_TRUE(session.answerPanelSize(sizeOfExplain));
}

class SharedSettingsTest : public ::testing::Test {
protected:
    kit::testing::TempFolder temp{"quarn-peers-settings"};
    const std::filesystem::path& folder = temp.path();
    void SetUp() override { ASSERT_FALSE(folder.empty()); }
};

TEST_F(SharedSettingsTest, WritesOneKeyAndKeepsTheOthers) {
    auto path = folder / "QuarnAI" / "config" / "QuarnAIConfig.plist";
    ASSERT_TRUE(writeSharedSetting(path, kFileDragStateKey, false));  // folder and file created
    auto first = kit::readPropertyListFile(path);
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)[kFileDragStateKey], kit::Value(false));

    ASSERT_TRUE(kit::writePropertyListFile(path, kit::Dictionary{{"kQuarn_AI_UD_ShowStatusBarItem", true},
                                                                {kFileDragStateKey, false},
                                                                {"kQuarn_AI_UD_AuthUserInfo", kit::Dictionary{{"state", 1}}}}));
    ASSERT_TRUE(writeSharedSetting(path, kFileDragStateKey, true));
    auto second = kit::readPropertyListFile(path);
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)[kFileDragStateKey], kit::Value(true));
    EXPECT_EQ((*second)["kQuarn_AI_UD_ShowStatusBarItem"], kit::Value(true));
    EXPECT_EQ((*second)["kQuarn_AI_UD_AuthUserInfo"]["state"], kit::Value(1));
}

TEST_F(SharedSettingsTest, LeavesAFileItCannotReadAlone) {
    auto path = folder / "QuarnAIConfig.plist";
    {
        std::ofstream file(path);
        file << "not a property list";
    }
    auto written = writeSharedSetting(path, kFileDragStateKey, false);
    EXPECT_FALSE(written);
    std::ifstream file(path);
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "not a property list");

    ASSERT_TRUE(kit::writePropertyListFile(path, kit::Array{kit::Value(1)}));
    EXPECT_FALSE(writeSharedSetting(path, kFileDragStateKey, false)) << "a root that is not a dictionary is kept";
}

}  // namespace
}  // namespace peers
