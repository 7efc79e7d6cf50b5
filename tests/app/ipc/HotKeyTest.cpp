// The host-configured hot key (conversion, registration rules, one notification per press) and
// the two shortcut receivers, pressed through the shortcut manager as the user would.

#include <gtest/gtest.h>

#include "IpcTestSupport.h"
#include "app/core/KZShortcutSideWindowReceiver.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Image.h"

namespace {

using namespace KZModifierFlag;
using Carbon = std::uint32_t;

class HotKeyTest : public IpcTest {
protected:
    void SetUp() override {
        IpcTest::SetUp();
        KZShortcutManager::shared().registerGlobalMonitorForKeyboardEvent();
        eventObserver_ = kit::NotificationCenter::defaultCenter().addObserverForName(
            KZVXHotKeyManager::kHotKeyEventNotification, nullptr,
            [this](const kit::Notification& n) { postedIds.push_back(n.userInfo["hotKeyID"].integerValue()); });
    }
    void TearDown() override {
        eventObserver_.reset();
        IpcTest::TearDown();
    }

    KZVXHotKeyManager& vx() { return KZVXHotKeyManager::shared(); }

    std::vector<std::int64_t> postedIds;

private:
    std::shared_ptr<void> eventObserver_;
};

TEST_F(HotKeyTest, ModifierConversionTable) {
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(Shift), Carbon{0x200});
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(Control), Carbon{0x1000});
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(Option), Carbon{0x800});
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(Command), Carbon{0x100});
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(Shift | Control | Option | Command), Carbon{0x1B00});
    // Caps Lock, Function, the device-dependent low bits and the registration bits themselves
    // are all dropped.
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(CapsLock | Function | 0xFFFF | 0xFF000000), Carbon{0});
    EXPECT_EQ(KZVXHotKeyManager::convertModifiers(Command | CapsLock | 0x1B00), Carbon{0x100});
}

TEST_F(HotKeyTest, RegistrationGrabsTheKeyAndLogsStatusKeyAndModifiers) {
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_K, Command | Shift | CapsLock);
    EXPECT_EQ(hotKeys().grabbed(), (std::vector<kit::HotKeyCombination>{{kit::kVK_ANSI_K, Command | Shift}}));
    EXPECT_EQ(vx().hotKeyRef(), std::optional<std::uint32_t>(10001));
    EXPECT_TRUE(env().log().contains("AIIPC-- hotkey 2: 0, 40, 768"));
    EXPECT_FALSE(env().log().contains("set hot key error"));
}

TEST_F(HotKeyTest, WithoutModifiersNothingIsRegisteredNorLoggedAndThePreviousKeyIsGone) {
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_K, Command);
    env().log().clear();
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_J, 0);
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_J, CapsLock | Function);
    EXPECT_TRUE(hotKeys().grabbed().empty());
    EXPECT_FALSE(vx().hotKeyRef().has_value());
    EXPECT_TRUE(env().log().lines().empty());
}

TEST_F(HotKeyTest, TwoRegistrationsInARowOnlyTheSecondTriggers) {
    int calls = 0;
    vx().setupWithHandler([&] { ++calls; });
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_K, Command);
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_J, Control | Option);
    EXPECT_FALSE(hotKeys().press(kit::kVK_ANSI_K, Command));
    EXPECT_TRUE(hotKeys().press(kit::kVK_ANSI_J, Control | Option));
    EXPECT_EQ(postedIds, std::vector<std::int64_t>{10001});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(env().log().count("AIIPC-- hotkey 1.1"), 1u);
}

TEST_F(HotKeyTest, ManyRegistrationsStillGiveOneNotificationPerPress) {
    int calls = 0;
    vx().setupWithHandler([&] { ++calls; });
    vx().setupWithHandler([&] { ++calls; });
    for (int i = 0; i < 5; ++i) vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_K, Command);
    hotKeys().press(kit::kVK_ANSI_K, Command);
    hotKeys().press(kit::kVK_ANSI_K, Command);
    EXPECT_EQ(postedIds.size(), 2u);
    EXPECT_EQ(calls, 2);
}

TEST_F(HotKeyTest, RefusedRegistrationLogsTheErrorAndLeavesNoKey) {
    hotKeys().setTakenElsewhere(kit::kVK_ANSI_K, Command);
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_K, Command);
    EXPECT_TRUE(env().log().contains("AIIPC-- hotkey 2: -9878, 40, 256"));
    EXPECT_TRUE(env().log().contains("set hot key error"));
    EXPECT_FALSE(vx().hotKeyRef().has_value());
    // A key code the keyboard cannot have is refused too.
    vx().registerHotKeyWithKeyCode(0x10028, Command);
    EXPECT_TRUE(env().log().contains("AIIPC-- hotkey 2: -9879, 65576, 256"));
    EXPECT_TRUE(hotKeys().grabbed().empty());
    // The next registration replaces the failed one.
    vx().registerHotKeyWithKeyCode(kit::kVK_ANSI_J, Command);
    EXPECT_TRUE(hotKeys().press(kit::kVK_ANSI_J, Command));
    EXPECT_EQ(postedIds.size(), 1u);
}

TEST_F(HotKeyTest, HandlerRunsOnlyForItsOwnId) {
    int calls = 0;
    vx().setupWithHandler([&] { ++calls; });
    hotKeyHandler(10002);
    hotKeyHandler(10001);
    kit::NotificationCenter::defaultCenter().post(KZVXHotKeyManager::kHotKeyEventNotification, nullptr,
                                                  kit::Dictionary{{"hotKeyID", "10001"}});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(postedIds, (std::vector<std::int64_t>{10002, 10001, 10001}));
}

class ReceiverTest : public HotKeyTest {
protected:
    void SetUp() override {
        HotKeyTest::SetUp();
        auto& shortcuts = KZShortcutManager::shared();
        shortcuts.addShortcutReceiver(std::make_shared<KZShortcutSideWindowReceiver>());
        shortcuts.addShortcutReceiver(std::make_shared<KZShortcutScreenshotReceiver>());
        ASSERT_TRUE(shortcuts.updateConfig({1, Command | Shift, kit::kVK_Space}).ok());
        ASSERT_TRUE(shortcuts.updateConfig({2, Command | Shift, kit::kVK_ANSI_A}).ok());
        KZShortcutScreenshotReceiver::setServices({
            .startScreenshotWithCompleteHandler =
                [this](const KZShortcutScreenshotReceiver::CompleteHandler& handler) {
                    steps.push_back("startScreenshot");
                    handler(capture, capture ? 0 : 1);
                },
            .showAISideWindowControllerWithImage =
                [this](const std::shared_ptr<kit::Image>& image) {
                    steps.push_back("showAISideWindowControllerWithImage");
                    shownImage = image;
                },
            .showLoginWindowRelateToWindow = [this] { steps.push_back("showLoginWindowRelateToWindow"); },
        });
    }

    void logIn() {
        writeSettings({{KZSharedPlistKey::kAuthUserInfo,
                        kit::Dictionary{{"state", 0}, {"avatar", ""}, {"userName", "Test User"}}}});
        KZAIUserManager::resetShared();
        ASSERT_TRUE(KZAIUserManager::shared().isLogin());
    }

    void pressScreenshot() {
        // The login-state manager exists from launch on; its own start-up report is not ours.
        KZAIUserManager::shared();
        HXReport::takeRecordedEvents();
        ASSERT_TRUE(hotKeys().press(kit::kVK_ANSI_A, Command | Shift));
    }

    std::shared_ptr<kit::Image> capture = std::make_shared<kit::Image>(kit::Image::filled(4, 4, {1, 0, 0, 1}));
    std::shared_ptr<kit::Image> shownImage;
    std::vector<std::string> steps;
};

TEST_F(ReceiverTest, SideWindowHotKeyReportsAndShowsTheSideWindow) {
    ASSERT_TRUE(hotKeys().press(kit::kVK_Space, Command | Shift));
    EXPECT_EQ(reports(), std::vector<std::string>{"21130"});
    EXPECT_EQ(windows.calls, std::vector<std::string>{"hotkeyShowSideMainWindowController"});
    EXPECT_TRUE(steps.empty());
}

TEST_F(ReceiverTest, ScreenshotWhileLoggedInGoesToTheSideWindow) {
    logIn();
    pressScreenshot();
    EXPECT_EQ(reports(), (std::vector<std::string>{"21131", "24020 33", "24060 2"}));
    EXPECT_EQ(steps, (std::vector<std::string>{"startScreenshot", "showAISideWindowControllerWithImage"}));
    EXPECT_EQ(shownImage, capture);
    EXPECT_TRUE(windows.calls.empty());
}

TEST_F(ReceiverTest, ScreenshotWhileLoggedOutOpensLoginAndTheSideWindowWithoutTheImage) {
    ASSERT_FALSE(KZAIUserManager::shared().isLogin());
    pressScreenshot();
    EXPECT_EQ(reports(), (std::vector<std::string>{"21131", "24020 33", "24060 2", "24022 12"}));
    EXPECT_EQ(steps, (std::vector<std::string>{"startScreenshot", "showLoginWindowRelateToWindow"}));
    EXPECT_EQ(windows.calls, std::vector<std::string>{"showAISideWindowController 4 "});
    EXPECT_EQ(shownImage, nullptr);
}

TEST_F(ReceiverTest, CancelledScreenshotDoesNothingMore) {
    logIn();
    capture = nullptr;
    pressScreenshot();
    EXPECT_EQ(reports(), (std::vector<std::string>{"21131", "24020 33", "24060 2"}));
    EXPECT_EQ(steps, std::vector<std::string>{"startScreenshot"});
    EXPECT_TRUE(windows.calls.empty());
}

}  // namespace
