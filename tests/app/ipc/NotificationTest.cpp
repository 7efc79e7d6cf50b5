// The notifications exchanged with the host and the text tool: what arrives is type-checked and
// acted on, replies carry exactly what came in, and what this application posts has the names and
// payloads the peers read.

#include <gtest/gtest.h>

#include "IpcTestSupport.h"

namespace {

namespace Name = KZAIIPCNotificationName;
using namespace KZModifierFlag;

class NotificationTest : public IpcTest {
protected:
    void SetUp() override {
        IpcTest::SetUp();
        client().showStatusBarChangedHandler = [this](bool show) { statusChoices.push_back(show); };
        client().registerObservers();
    }

    std::vector<bool> statusChoices;
};

TEST_F(NotificationTest, StatusItemChoiceReachesTheHandler) {
    hostPosts(Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", true}});
    hostPosts(Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", 0}});
    hostPosts(Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", 1}, {"other", "kept"}});
    EXPECT_EQ(statusChoices, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(env().log().contains("AIIPC-- Received notification: " +
                                      kit::describe(kit::Dictionary{{"data", true}, {"other", "kept"}})));
}

TEST_F(NotificationTest, MalformedPayloadsAreLoggedAndIgnored) {
    const std::vector<std::pair<std::string, kit::Value>> bad = {
        {Name::kHostShowAIStatusItemChanged, kit::Value()},
        {Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", "YES"}}},
        {Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", kit::Array{true}}}},
        {Name::kHostUseHotKeyChanged, kit::Dictionary{{"data", kit::Array{}}}},
        {Name::kHostUseHotKeyChanged, kit::Dictionary{{"data", kit::Dictionary{{"use", "1"}}}}},
        {Name::kHostUseHotKeyChanged,
         kit::Dictionary{{"data", kit::Dictionary{{"use", true}, {"keyCode", "49"}, {"modifiers", 0x100000}}}}},
        {Name::kHostUseHotKeyChanged, kit::Dictionary{{"data", kit::Dictionary{{"use", true}, {"keyCode", 49}}}}},
        {Name::kShortcutDidChange, kit::Value()},
        {Name::kShortcutDidChange, kit::Dictionary{{"type", 1}, {"keyCode", 49}}},
        {Name::kShortcutDidChange, kit::Dictionary{{"type", "1"}, {"keyCode", 49}, {"flags", 0x100000}}},
        {Name::kShortcutDidChange, kit::Dictionary{{"type", 1}, {"keyCode", true}, {"flags", 0x100000}}},
        {Name::kCommon, kit::Value()},
        {Name::kCommon, kit::Dictionary{{"data", "tool 1 2 text"}}},
        {Name::kCommon, kit::Dictionary{{"data", kit::Array{"tool", "1", 2, "text"}}}},
        {Name::kCommon, kit::Dictionary{{"data", kit::Array{"tool", "4", kit::Dictionary{}}}}},
    };
    for (const auto& [name, info] : bad) hostPosts(name, info);
    EXPECT_EQ(env().log().count("AIIPC-- ignored "), bad.size());
    EXPECT_TRUE(statusChoices.empty());
    EXPECT_TRUE(windows.calls.empty());
    EXPECT_TRUE(hotKeys().grabbed().empty());
    EXPECT_EQ(KZShortcutManager::shared().configForHotKeyId(1), nullptr);
    // Nothing answered a malformed request.
    EXPECT_EQ(env().distributedBus().postCount(Name::kHotKeySetSuccess), 0u);
    EXPECT_EQ(env().distributedBus().postCount(Name::kHotKeySettingFailed), 0u);
    EXPECT_TRUE(reports().empty());
}

TEST_F(NotificationTest, CommonNotificationDispatchesItsArray) {
    hostPosts(Name::kCommon, kit::Dictionary{{"data", kit::Array{"QuarnGetText", "1", "2", "hello"}}});
    hostPosts(Name::kCommon, kit::Dictionary{{"data", kit::Array{"QuarnGetText", "2", "ai"}}});
    EXPECT_EQ(windows.calls, std::vector<std::string>{"showAISideWindowController 2 hello"});
    EXPECT_TRUE(env().log().contains("[KZAIIPCClientHandler] arguments is invalid: " +
                                      kit::describe(kit::Array{"QuarnGetText", "2", "ai"})));
}

TEST_F(NotificationTest, ShortcutRepliesCarryExactlyTheReceivedUserInfo) {
    KZShortcutManager::shared().registerGlobalMonitorForKeyboardEvent();
    // Extra keys and nested values come back untouched; the key code keeps its low 16 bits.
    const kit::Dictionary success{{"type", 1},
                                  {"keyCode", 0x10000 + kit::kVK_Space},
                                  {"flags", Command | Shift},
                                  {"requestId", "abc-1"},
                                  {"nested", kit::Dictionary{{"list", kit::Array{1, "two", 3.5}}}}};
    hostPosts(Name::kShortcutDidChange, success);
    const auto* config = KZShortcutManager::shared().configForHotKeyId(1);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->keyCode(), kit::kVK_Space);
    EXPECT_EQ(hotKeys().hotKeys().combinationFor(1)->keyCode, kit::kVK_Space);
    const auto* reply = env().distributedBus().lastPost(Name::kHotKeySetSuccess);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->userInfo, kit::Value(success));
    EXPECT_EQ(env().distributedBus().postCount(Name::kHotKeySettingFailed), 0u);

    // The same combination for the other id is refused: the failure reply, the old key stays.
    const kit::Dictionary clash{{"type", 2}, {"keyCode", kit::kVK_Space}, {"flags", Command | Shift}, {"x", ""}};
    hostPosts(Name::kShortcutDidChange, clash);
    reply = env().distributedBus().lastPost(Name::kHotKeySettingFailed);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->userInfo, kit::Value(clash));
    EXPECT_EQ(KZShortcutManager::shared().configForHotKeyId(2), nullptr);

    // An unknown id and a key held by another application fail the same way.
    hostPosts(Name::kShortcutDidChange, kit::Dictionary{{"type", 9}, {"keyCode", 1}, {"flags", Command}});
    hotKeys().setTakenElsewhere(kit::kVK_ANSI_K, Control);
    hostPosts(Name::kShortcutDidChange, kit::Dictionary{{"type", 2}, {"keyCode", kit::kVK_ANSI_K}, {"flags", Control}});
    EXPECT_EQ(env().distributedBus().postCount(Name::kHotKeySettingFailed), 3u);
    EXPECT_EQ(env().distributedBus().postCount(Name::kHotKeySetSuccess), 1u);
}

TEST_F(NotificationTest, HostHotKeyIsRegisteredAndRemoved) {
    const auto use = [&](bool on, std::int64_t keyCode, std::int64_t modifiers) {
        hostPosts(Name::kHostUseHotKeyChanged,
                  kit::Dictionary{{"data", kit::Dictionary{{"use", on}, {"keyCode", keyCode}, {"modifiers", modifiers}}}});
    };
    use(true, kit::kVK_ANSI_J, Option | Command);
    EXPECT_TRUE(env().log().contains(
        "AIIPC-- hotkey 1: " +
        kit::describe(kit::Dictionary{
            {"data", kit::Dictionary{{"use", true}, {"keyCode", kit::kVK_ANSI_J}, {"modifiers", Option | Command}}}})));
    EXPECT_EQ(hotKeys().grabbed(), (std::vector<kit::HotKeyCombination>{{kit::kVK_ANSI_J, Option | Command}}));
    // Only the low 32 bits of the modifiers count.
    use(true, kit::kVK_ANSI_L, (std::int64_t{1} << 40) | Control);
    EXPECT_EQ(hotKeys().grabbed(), (std::vector<kit::HotKeyCombination>{{kit::kVK_ANSI_L, Control}}));
    use(false, 0, 0);
    EXPECT_TRUE(hotKeys().grabbed().empty());
    EXPECT_FALSE(KZVXHotKeyManager::shared().hotKeyRef().has_value());
}

TEST_F(NotificationTest, AccessibilityAndFileDragNotifications) {
    hostPosts(Name::kHostShowAccessibilityPermissionWindow);
    EXPECT_EQ(windows.calls, std::vector<std::string>{"showPermissionWindowAlone"});
    writeSettings({{KZSharedPlistKey::kFileDragState, false}});
    hostPosts(Name::kFileDragValueDidChange);
    writeSettings({{KZSharedPlistKey::kFileDragState, true}});
    hostPosts(Name::kFileDragValueDidChange, kit::Dictionary{{"ignored", 1}});
    EXPECT_EQ(dragEnables, (std::vector<bool>{false, true}));
}

TEST_F(NotificationTest, ObserversRegisterOnceAndStopWhenUnregistered) {
    client().registerObservers();
    hostPosts(Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", true}});
    EXPECT_EQ(statusChoices.size(), 1u);
    client().unregisterObservers();
    EXPECT_FALSE(client().isObserving());
    hostPosts(Name::kHostShowAIStatusItemChanged, kit::Dictionary{{"data", true}});
    hostPosts(Name::kCommon, kit::Dictionary{{"data", kit::Array{"t", "4"}}});
    EXPECT_EQ(statusChoices.size(), 1u);
    EXPECT_TRUE(windows.calls.empty());
}

class PostTest : public IpcTest {};

TEST_F(PostTest, PreferencesLaunchTheHostWhenItIsNotRunning) {
    client().ai2main_showAIPreferencesNotification();
    env().runUntilIdle();
    ASSERT_EQ(env().workspace().launches().size(), 1u);
    const auto& launch = env().workspace().launches()[0];
    EXPECT_EQ(launch.platformBundlePath, "/Applications/Morvane Quarn.app");
    EXPECT_EQ(launch.arguments, (std::vector<std::string>{"2", "ai"}));
    EXPECT_EQ(launch.options, 256u);
    EXPECT_EQ(env().distributedBus().postCount(Name::kShowAIPreferences), 0u);
    // The headless workspace fails launches of bundles it does not know, as a missing one would.
    EXPECT_TRUE(env().log().contains("AIIPC-- cannot launch /Applications/Morvane Quarn.app"));

    env().workspace().addRunningApplication("com.morvane.Quarn");
    env().workspace().clearRecords();
    client().ai2main_showAIPreferencesNotification();
    env().runUntilIdle();
    EXPECT_TRUE(env().workspace().launches().empty());
    ASSERT_EQ(env().distributedBus().postCount(Name::kShowAIPreferences), 1u);
    EXPECT_TRUE(env().distributedBus().lastPost(Name::kShowAIPreferences)->userInfo.isNull());
}

TEST_F(PostTest, StatusItemPayload) {
    client().ai2main_showAIStatusItemChangedNotification(true);
    client().ai2main_showAIStatusItemChangedNotification(false);
    env().runUntilIdle();
    const auto posts = env().distributedBus().postsNamed(Name::kShowAIStatusItemChanged);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].userInfo, kit::Value(kit::Dictionary{{"code", 1},
                                                            {"message", "ai2main_showAIStatusItemChangedNotification"},
                                                            {"data", true}}));
    EXPECT_EQ(posts[1].userInfo["data"], kit::Value(false));
    EXPECT_EQ(env().log().count("AIIPC-- sendShowAIStatusItemChangedNotification"), 2u);
}

TEST_F(PostTest, PanelSizeIsSentAsTheSizeString) {
    client().ai2text_panelWindowSizeChanged(1, {400, 324});
    client().ai2text_panelWindowSizeChanged(2, {400.5, 0.25});
    env().runUntilIdle();
    const auto posts = env().distributedBus().postsNamed(Name::kPanelWindowSizeChanged);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].userInfo, kit::Value(kit::Dictionary{{"type", 1}, {"size", "{400, 324}"}}));
    EXPECT_EQ(posts[1].userInfo, kit::Value(kit::Dictionary{{"type", 2}, {"size", "{400.5, 0.25}"}}));
}

TEST_F(PostTest, PlainNotificationsAndTheTextToolChoice) {
    client().ai2main_enableGetTextProcessNotification();
    client().ai2text_showAccessibilityPromptNotification();
    client().ai2text_useAIGetTextChanged(true);
    env().runUntilIdle();
    const auto& posts = env().distributedBus().posts();
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_EQ(posts[0].notification.name, "kA2M_KZAIIPCEnableGetTextProcessNotification");
    EXPECT_TRUE(posts[0].notification.userInfo.isNull());
    EXPECT_EQ(posts[1].notification.name, "A2T_KZAIIPCShowAccessibilityPromptNotification");
    EXPECT_TRUE(posts[1].notification.userInfo.isNull());
    EXPECT_EQ(posts[2].notification.name, "MA2Other_KZAIIPCUseGetTextChangedNotification");
    EXPECT_EQ(posts[2].notification.userInfo, kit::Value(kit::Dictionary{{"data", true}}));
}

}  // namespace
