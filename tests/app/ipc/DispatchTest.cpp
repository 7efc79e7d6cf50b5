// The dispatcher of argument arrays: event codes "1" to "6", their minimum element counts, the
// invalid-arguments line, and what each event asks of the windows, panels and settings.

#include <gtest/gtest.h>

#include "IpcTestSupport.h"

namespace {

using Args = std::vector<std::string>;

class DispatchTest : public IpcTest {
protected:
    void dispatch(const Args& arguments) { client().handleText2AIEventWithArguments(arguments); }

    // Everything the dispatcher did that a user or peer could notice.
    std::size_t effects() const { return windows.calls.size() + panelCalls.size() + dragEnables.size(); }
    // The effects, the reports and the saved hot key, counted.
    std::size_t observable() const {
        return effects() + reports().size() + (KZShortcutManager::shared().configForHotKeyId(1) ? 1 : 0);
    }
};

TEST_F(DispatchTest, EachCodeNeedsItsMinimumCountAndLogsTheArrayWhenShort) {
    struct Case {
        std::string code;
        std::size_t minimum;
        Args complete;
    };
    const std::vector<Case> cases = {
        {"1", 4, {"tool", "1", "2", "hello"}},
        {"2", 5, {"tool", "2", "1", "hello", "{10, 20}"}},
        {"3", 4, {"tool", "3", "1", "{{1, 2}, {300, 200}}"}},
        {"4", 2, {"tool", "4"}},
        {"5", 5, {"tool", "5", "1", "49", "1179648"}},
        {"6", 2, {"tool", "6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("code " + c.code);
        ASSERT_EQ(c.complete.size(), c.minimum);
        if (c.minimum > 2) {
            Args shortArgs(c.complete.begin(), c.complete.end() - 1);
            env().log().clear();
            const auto before = observable();
            dispatch(shortArgs);
            EXPECT_EQ(env().log().count("[KZAIIPCClientHandler] arguments is invalid: "), 1u);
            EXPECT_EQ(observable(), before);
        }
        env().log().clear();
        const auto before = observable();
        dispatch(c.complete);
        EXPECT_FALSE(env().log().contains("arguments is invalid"));
        EXPECT_GT(observable(), before) << "the complete array did nothing";
    }
}

TEST_F(DispatchTest, InvalidLineShowsTheWholeArray) {
    dispatch({"/x/QuarnAI", "2", "ai"});
    // The array as the platform prints it.
    EXPECT_TRUE(env().log().contains("[KZAIIPCClientHandler] arguments is invalid: (\n    \"/x/QuarnAI\",\n    2,\n    ai\n)"));
    EXPECT_TRUE(panelCalls.empty());
}

TEST_F(DispatchTest, UnknownCodesAndSingleElementsDoNothingAndLogNothing) {
    for (const Args& arguments : std::vector<Args>{{"tool", "7", "1", "x", "y"},
                                                   {"tool", "0"},
                                                   {"tool", "", "1", "x"},
                                                   {"tool", "01", "2", "x"},
                                                   {"tool", " 1", "2", "x"},
                                                   {"tool", "1 ", "2", "x"},
                                                   {"tool"},
                                                   {"1"},
                                                   {}}) {
        dispatch(arguments);
    }
    EXPECT_EQ(effects(), 0u);
    EXPECT_TRUE(reports().empty());
    EXPECT_TRUE(env().log().lines().empty());
}

TEST_F(DispatchTest, SideWindowEventPassesTypeAndText) {
    dispatch({"tool", "1", "2", "what is a stand-in"});
    dispatch({"tool", "1", "abc", "t"});
    dispatch({"tool", "1", "3xyz", ""});
    // Beyond the integer range it clamps; it never wraps into a valid small type.
    dispatch({"tool", "1", "4294967298", "t"});
    dispatch({"tool", "1", "4", "extra", "elements", "ignored"});
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"showAISideWindowController 2 what is a stand-in",
                                                       "showAISideWindowController 0 t",
                                                       "showAISideWindowController 3 ",
                                                       "showAISideWindowController 2147483647 t",
                                                       "showAISideWindowController 4 extra"}));
}

TEST_F(DispatchTest, PanelEventOpensExplainOrTranslateAtTheOrigin) {
    dispatch({"tool", "2", "1", "a word", "{100, 200.5}"});
    dispatch({"tool", "2", "2", "un mot", "{-30, 40}"});
    env().log().clear();
    dispatch({"tool", "2", "3", "nothing", "{1, 2}"});
    dispatch({"tool", "2", "0", "nothing", "{1, 2}"});
    EXPECT_TRUE(env().log().lines().empty());
    // Garbage origins read as zero, as the platform's parser does.
    dispatch({"tool", "2", "1", "zero", "garbage"});
    EXPECT_EQ(panelCalls, (std::vector<std::string>{"explain a word {100, 200.5}", "translate un mot {-30, 40}",
                                                    "explain zero {0, 0}"}));
}

TEST_F(DispatchTest, PanelFrameEventPlacesThePanelAndRefusesEmptyFrames) {
    dispatch({"tool", "3", "1", "{{10, 20}, {400, 324}}"});
    dispatch({"tool", "3", "2", "{{-5, 0}, {400, 100.5}}"});
    dispatch({"tool", "3", "3", "{{10, 20}, {400, 324}}"});
    EXPECT_EQ(panelCalls, (std::vector<std::string>{"explain frame {{10, 20}, {400, 324}}",
                                                    "translate frame {{-5, 0}, {400, 100.5}}"}));
    panelCalls.clear();
    env().log().clear();
    for (const char* frame : {"{{10, 20}, {0, 324}}", "{{10, 20}, {400, -1}}", "{{10, 20}, {-400, -324}}", "nonsense",
                              "{{10, 20}, {1e999, 100}}"}) {
        dispatch({"tool", "3", "1", frame});
    }
    EXPECT_TRUE(panelCalls.empty());
    EXPECT_EQ(env().log().count("[KZAIIPCClientHandler] panel frame is invalid: "), 5u);
}

TEST_F(DispatchTest, SidebarEventReportsThenShowsTheSideWindow) {
    dispatch({"tool", "4"});
    EXPECT_EQ(reports(), (std::vector<std::string>{"24023 6", "24020 35"}));
    EXPECT_EQ(windows.calls, std::vector<std::string>{"showSideMainWindowController"});
}

TEST_F(DispatchTest, ShortcutEventKeepsTheLowSixteenBitsOfTheKeyCodeAndPostsNoReply) {
    KZShortcutManager::shared().registerGlobalMonitorForKeyboardEvent();
    const auto flags = KZModifierFlag::Command | KZModifierFlag::Shift;
    dispatch({"tool", "5", "2", std::to_string(0x10000 + kit::kVK_ANSI_S), std::to_string(flags)});
    const auto* config = KZShortcutManager::shared().configForHotKeyId(2);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->keyCode(), kit::kVK_ANSI_S);
    EXPECT_EQ(config->modifierFlags(), flags);
    EXPECT_TRUE(std::filesystem::exists(KZShortcutConfig::fileForHotKeyId(2)));

    // Refused (no Command, Control or Option): the previous key stays, and nothing is posted.
    dispatch({"tool", "5", "2", "1", std::to_string(KZModifierFlag::Shift)});
    EXPECT_EQ(KZShortcutManager::shared().configForHotKeyId(2)->keyCode(), kit::kVK_ANSI_S);
    env().runUntilIdle();
    EXPECT_TRUE(env().distributedBus().posts().empty());
}

TEST_F(DispatchTest, FileDragEventPassesTheSavedSettingToTheMonitor) {
    writeSettings({{KZSharedPlistKey::kFileDragState, false}});
    dispatch({"tool", "6"});
    writeSettings({{KZSharedPlistKey::kFileDragState, true}});
    dispatch({"tool", "6", "ignored"});
    EXPECT_EQ(dragEnables, (std::vector<bool>{false, true}));
}

}  // namespace
