#include <gtest/gtest.h>

#include <fstream>

#include "frameworks/KZShortcutManager.h"
#include "kit/base/PropertyList.h"
#include "kit/headless/ScriptedGlobalHotKeys.h"
#include "kit/headless/TestEnvironment.h"

namespace {

using namespace KZModifierFlag;

struct CountingReceiver : KZShortcutReceiver {
    explicit CountingReceiver(int id) : id(id) {}
    int hotKeyId() const override { return id; }
    void hotKeyAction() override { ++actions; }
    int id;
    int actions = 0;
};

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override { KZShortcutManager::resetShared(); }
    void TearDown() override { KZShortcutManager::resetShared(); }
    KZShortcutManager& manager() { return KZShortcutManager::shared(); }

    kit::TestEnvironment env;
};

TEST_F(ShortcutTest, DisplayStringNamesModifiersInDesktopOrderThenTheKey) {
    struct Case {
        std::uint32_t flags;
        std::uint16_t keyCode;
        const char* text;
    };
    const Case cases[] = {
        {Control | Option, 0x28, "Ctrl+Alt+K"},
        {Command | Shift | Control | Option, 0x25, "Ctrl+Alt+Shift+Super+L"},
        {Shift | CapsLock | Function, 0x12, "Shift+1"},  // caps lock and fn take no part
        {Control, 0x31, "Ctrl+Space"},
        {Option, 0x7A, "Alt+F1"},
        {Control, 0x2A, "Ctrl+\\"},
        {Control, 0x47, "Ctrl+0x47"},  // a key without a name
    };
    for (const auto& c : cases) EXPECT_EQ(KZShortcutConfig(1, c.flags, c.keyCode).displayString(), c.text);
}

TEST_F(ShortcutTest, ArchiveRoundTripKeepsThePlatformCodes) {
    KZShortcutConfig config(1, Command | Option | 0x100, 0x31);
    auto xml = kit::propertyListXml(config.archive());
    ASSERT_TRUE(xml.ok());
    // The saved form is a keyed archive of the named class, references in their XML form.
    EXPECT_NE(xml->find("<string>NSKeyedArchiver</string>"), std::string::npos);
    EXPECT_NE(xml->find("<key>CF$UID</key>"), std::string::npos);
    EXPECT_NE(xml->find("<string>KZShortcutConfig</string>"), std::string::npos);
    auto back = KZShortcutConfig::unarchive(*xml);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(*back, config);
    EXPECT_EQ(back->modifierFlags(), Command | Option | 0x100u);
    EXPECT_EQ(back->significantModifiers(), Command | Option);
}

// A binary keyed archive as the platform's archiver writes it (references as UID objects):
// hot key 1, Command+Shift, key code 49.
const char kPlatformArchive[] =
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd4\x01\x02\x03\x04\x05\x06\x17\x1a\x59\x24\x61\x72\x63\x68\x69"
    "\x76\x65\x72\x58\x24\x6f\x62\x6a\x65\x63\x74\x73\x54\x24\x74\x6f\x70\x58\x24\x76\x65\x72\x73\x69"
    "\x6f\x6e\x5f\x10\x0f\x4e\x53\x4b\x65\x79\x65\x64\x41\x72\x63\x68\x69\x76\x65\x72\xa3\x07\x08\x11"
    "\x55\x24\x6e\x75\x6c\x6c\xd4\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x56\x24\x63\x6c\x61\x73\x73\x58\x68"
    "\x6f\x74\x4b\x65\x79\x49\x64\x57\x6b\x65\x79\x43\x6f\x64\x65\x5d\x6d\x6f\x64\x69\x66\x69\x65\x72"
    "\x46\x6c\x61\x67\x73\x80\x02\x10\x01\x10\x31\x12\x00\x12\x00\x00\xd2\x12\x13\x14\x15\x58\x24\x63"
    "\x6c\x61\x73\x73\x65\x73\x5a\x24\x63\x6c\x61\x73\x73\x6e\x61\x6d\x65\xa2\x15\x16\x5f\x10\x10\x4b"
    "\x5a\x53\x68\x6f\x72\x74\x63\x75\x74\x43\x6f\x6e\x66\x69\x67\x58\x4e\x53\x4f\x62\x6a\x65\x63\x74"
    "\xd1\x18\x19\x54\x72\x6f\x6f\x74\x80\x01\x12\x00\x01\x86\xa0\x08\x11\x1b\x24\x29\x32\x44\x48\x4e"
    "\x57\x5e\x67\x6f\x7d\x7f\x81\x83\x88\x8d\x96\xa1\xa4\xb7\xc0\xc3\xc8\xca\x00\x00\x00\x00\x00\x00"
    "\x01\x01\x00\x00\x00\x00\x00\x00\x00\x1b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\xcf";

TEST_F(ShortcutTest, ReadsThePlatformsBinaryArchive) {
    auto config = KZShortcutConfig::unarchive(std::string_view(kPlatformArchive, sizeof kPlatformArchive - 1));
    ASSERT_TRUE(config.ok()) << config.error();
    EXPECT_EQ(*config, KZShortcutConfig(1, Command | Shift, 49));
}

TEST_F(ShortcutTest, UnarchiveRefusesAnythingElse) {
    auto mutated = [](auto change) {
        kit::Value archive = KZShortcutConfig(2, Command, 1).archive();
        change(*archive.asDictionary());
        return KZShortcutConfig::unarchiveValue(archive).ok();
    };
    EXPECT_TRUE(mutated([](kit::Dictionary&) {}));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) { d.set("$archiver", "NSArchiver"); }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) { d.set("$top", kit::Dictionary{{"root", kit::Dictionary{{"CF$UID", 9}}}}); }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) { d.set("$top", kit::Dictionary{{"root", kit::Dictionary{{"CF$UID", -1}}}}); }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) { d.erase("$objects"); }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) {
        (*d.find("$objects")->asArray())[2] = kit::Dictionary{{"$classname", "NSDictionary"}};
    }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) {
        (*d.find("$objects")->asArray())[1].asDictionary()->set("keyCode", 70000);
    }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) {
        (*d.find("$objects")->asArray())[1].asDictionary()->set("hotKeyId", "1");
    }));
    EXPECT_FALSE(mutated([](kit::Dictionary& d) { (*d.find("$objects")->asArray())[1] = "root"; }));
    // References written as plain integers (a binary UID read back) are understood.
    EXPECT_TRUE(mutated([](kit::Dictionary& d) { d.set("$top", kit::Dictionary{{"root", 1}}); }));
    EXPECT_FALSE(KZShortcutConfig::unarchive("").ok());
    EXPECT_FALSE(KZShortcutConfig::unarchive("bplist00garbage").ok());
}

TEST_F(ShortcutTest, UpdateConfigSavesOrRefuses) {
    EXPECT_TRUE(manager().updateConfig(KZShortcutConfig(1, Command | Shift, 0x31)).ok());
    auto file = KZShortcutConfig::fileForHotKeyId(1);
    EXPECT_EQ(file, env.home() / "Library/Application Support/QuarnAI/config/shortcut/1");
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(KZShortcutManager::loadSavedConfig(1), KZShortcutConfig(1, Command | Shift, 0x31));

    EXPECT_FALSE(manager().updateConfig(KZShortcutConfig(3, Command, 0x31)).ok());
    EXPECT_FALSE(manager().updateConfig(KZShortcutConfig(2, Shift, 0x31)).ok());  // no real modifier
    EXPECT_FALSE(manager().updateConfig(KZShortcutConfig(2, Command | Shift | CapsLock, 0x31)).ok());  // taken
    EXPECT_FALSE(std::filesystem::exists(KZShortcutConfig::fileForHotKeyId(2)));
    EXPECT_TRUE(manager().updateConfig(KZShortcutConfig(2, Control | Shift, 0x31)).ok());

    // A file saved under one id naming another is not used.
    std::filesystem::copy_file(KZShortcutConfig::fileForHotKeyId(2), KZShortcutConfig::fileForHotKeyId(1),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(KZShortcutManager::loadSavedConfig(1).has_value());
}

TEST_F(ShortcutTest, SavedCombinationsAreGrabbedAndPressesReachTheirReceivers) {
    kit::ScriptedGlobalHotKeys keys;
    manager().updateConfig(KZShortcutConfig(1, Command | Shift, 0x31)).ok();
    manager().updateConfig(KZShortcutConfig(2, Control | Option, 0x13)).ok();
    EXPECT_TRUE(keys.grabbed().empty());  // nothing is grabbed before the monitor starts
    KZShortcutManager::resetShared();  // a new process reads the saved files

    auto side = std::make_shared<CountingReceiver>(1);
    auto shot = std::make_shared<CountingReceiver>(2);
    manager().addShortcutReceiver(side);
    manager().addShortcutReceiver(shot);
    manager().registerGlobalMonitorForKeyboardEvent();
    EXPECT_EQ(keys.grabbed().size(), 2u);

    EXPECT_TRUE(keys.press(0x31, Command | Shift | CapsLock));
    env.runUntilIdle();
    EXPECT_EQ(side->actions, 1);
    EXPECT_EQ(shot->actions, 0);
    EXPECT_FALSE(keys.press(0x31, Command));
    keys.press(0x13, Control | Option);
    env.runUntilIdle();
    EXPECT_EQ(shot->actions, 1);

    // A new combination replaces the old one; one held by another application is refused.
    EXPECT_TRUE(manager().updateConfig(KZShortcutConfig(2, Command | Option, 0x14)).ok());
    EXPECT_FALSE(keys.press(0x13, Control | Option));
    keys.setTakenElsewhere(0x15, Command);
    EXPECT_FALSE(manager().updateConfig(KZShortcutConfig(2, Command, 0x15)).ok());
    EXPECT_EQ(*manager().configForHotKeyId(2), KZShortcutConfig(2, Command | Option, 0x14));
    EXPECT_EQ(KZShortcutManager::loadSavedConfig(2), KZShortcutConfig(2, Command | Option, 0x14));
    EXPECT_TRUE(keys.press(0x14, Command | Option));

    // Other users' hot keys pass through.
    std::vector<std::uint32_t> others;
    manager().setOtherHotKeyHandler([&](std::uint32_t id) { others.push_back(id); });
    ASSERT_TRUE(keys.hotKeys().registerHotKey(10001, 0x00, Command | Control).ok());
    keys.press(0x00, Command | Control);
    env.runUntilIdle();
    EXPECT_EQ(others, std::vector<std::uint32_t>{10001});

    KZShortcutManager::resetShared();  // lets go of its combinations
    EXPECT_EQ(keys.grabbed().size(), 1u);
}

}  // namespace
