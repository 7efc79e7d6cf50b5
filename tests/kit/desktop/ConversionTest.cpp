// Pure conversions of the backend's edge: coordinates, key codes, modifier flags, roles, and the
// bookkeeping of global hot keys (on the scripted implementation).

#include <X11/keysym.h>
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <vector>

#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/window/WindowCanvas.h"
#include "kit/headless/ScriptedGlobalHotKeys.h"
#include "kit/ui/Event.h"

namespace kit::desktop {
namespace {

TEST(CoordinateSpaceTest, FlipsAroundTheMainScreen) {
    const CoordinateSpace space(DisplayRect{0, 0, 1440, 900});
    // A window 150 high whose bottom edge is 200 points above the bottom of the screen.
    EXPECT_EQ(space.toDisplay(Rect{100, 200, 300, 150}), (DisplayRect{100, 550, 300, 150}));
    EXPECT_EQ(space.toKit(DisplayRect{100, 550, 300, 150}), (Rect{100, 200, 300, 150}));
    EXPECT_EQ(space.toKit(0, 0), (Point{0, 900}));
    EXPECT_EQ(space.toDisplay(Point{10, 0}), (Point{10, 900}));
}

TEST(CoordinateSpaceTest, OtherScreensAndRounding) {
    // The main screen is the right one of two; the left one is taller and starts higher.
    const CoordinateSpace space(DisplayRect{1280, 100, 1440, 900});
    EXPECT_EQ(space.toKit(DisplayRect{0, 0, 1280, 1024}), (Rect{-1280, -24, 1280, 1024}));
    EXPECT_EQ(space.toDisplay(Rect{-1280, -24, 1280, 1024}), (DisplayRect{0, 0, 1280, 1024}));
    // Edges round on their own, so rectangles that touch keep touching.
    const DisplayRect left = space.toDisplay(Rect{0.4, 0, 10.3, 10});
    const DisplayRect right = space.toDisplay(Rect{10.7, 0, 10, 10});
    EXPECT_EQ(left.x + left.width, right.x);
    // Zero and negative sizes: zero stays zero, negative is standardized.
    EXPECT_EQ(space.toDisplay(Rect{5, 5, 0, 40}).width, 0);
    EXPECT_EQ(space.toDisplay(Rect{50, 50, -20, 10}), space.toDisplay(Rect{30, 50, 20, 10}));
}

TEST(KeyCodesTest, VirtualKeysAndKeysyms) {
    EXPECT_EQ(keysymForVirtualKey(kVK_ANSI_A), XK_a);
    EXPECT_EQ(keysymForVirtualKey(kVK_ANSI_K), XK_k);
    EXPECT_EQ(keysymForVirtualKey(kVK_F1), XK_F1);
    EXPECT_EQ(keysymForVirtualKey(kVK_UpArrow), XK_Up);
    EXPECT_EQ(keysymForVirtualKey(kVK_Space), XK_space);
    EXPECT_FALSE(keysymForVirtualKey(0x7F).has_value());
    // Either case of a letter, and the shifted symbols of the US layout, are the same key.
    EXPECT_EQ(virtualKeyForKeysym(XK_K), kVK_ANSI_K);
    EXPECT_EQ(virtualKeyForKeysym(XK_k), kVK_ANSI_K);
    EXPECT_EQ(virtualKeyForKeysym(XK_exclam), kVK_ANSI_1);
    EXPECT_EQ(virtualKeyForKeysym(XK_Return), kVK_Return);
    EXPECT_EQ(virtualKeyForKeysym(XK_BackSpace), kVK_Delete);
    EXPECT_EQ(virtualKeyForKeysym(XK_Delete), kVK_ForwardDelete);
    // Every key code's keysym leads back to it.
    for (std::uint16_t code = 0; code < 0x80; ++code) {
        if (auto keysym = keysymForVirtualKey(code)) {
            EXPECT_EQ(virtualKeyForKeysym(*keysym), code) << code;
        }
    }
}

TEST(KeyCodesTest, ModifiersAndCharacters) {
    EXPECT_EQ(modifierFlagsFromGdkState(GDK_SUPER_MASK | GDK_SHIFT_MASK), ModifierCommand | ModifierShift);
    EXPECT_EQ(modifierFlagsFromGdkState(GDK_MOD4_MASK), ModifierCommand);
    EXPECT_EQ(modifierFlagsFromGdkState(GDK_CONTROL_MASK | GDK_MOD1_MASK), ModifierControl | ModifierOption);
    EXPECT_EQ(modifierFlagsFromGdkState(GDK_LOCK_MASK | GDK_MOD2_MASK), ModifierCapsLock);
    EXPECT_EQ(charactersForKeysym(XK_a), "a");
    EXPECT_EQ(charactersForKeysym(XK_A), "A");
    EXPECT_EQ(charactersForKeysym(XK_Return), "\r");
    EXPECT_EQ(charactersForKeysym(XK_BackSpace), "\x7f");
    EXPECT_EQ(charactersForKeysym(XK_Up), "\xEF\x9C\x80");  // U+F700
    EXPECT_EQ(charactersForKeysym(XK_eacute), "\xC3\xA9");
    EXPECT_EQ(charactersForKeysym(XK_Shift_L), "");
    EXPECT_TRUE(isModifierKeysym(XK_Super_L));
    EXPECT_FALSE(isModifierKeysym(XK_a));
}

TEST(AccessibilityRoleTest, PlatformAndPlainNames) {
    EXPECT_EQ(atkRoleForAccessibilityRole("button"), ATK_ROLE_PUSH_BUTTON);
    EXPECT_EQ(atkRoleForAccessibilityRole("AXButton"), ATK_ROLE_PUSH_BUTTON);
    EXPECT_EQ(atkRoleForAccessibilityRole("AXCheckBox"), ATK_ROLE_CHECK_BOX);
    EXPECT_EQ(atkRoleForAccessibilityRole("text"), ATK_ROLE_LABEL);
    EXPECT_EQ(atkRoleForAccessibilityRole("AXProgressIndicator"), ATK_ROLE_PROGRESS_BAR);
    EXPECT_EQ(atkRoleForAccessibilityRole("something else"), ATK_ROLE_UNKNOWN);
}

TEST(GlobalHotKeysTest, RegistrationBook) {
    ScriptedGlobalHotKeys scripted;
    auto& hotKeys = GlobalHotKeys::shared();
    ASSERT_EQ(&hotKeys, &scripted.hotKeys());
    std::vector<std::uint32_t> pressed;
    hotKeys.setHandler([&](std::uint32_t id) { pressed.push_back(id); });

    const std::uint32_t commandShift = HotKeyModifier::Command | HotKeyModifier::Shift;
    // Bits other than the four modifiers (Caps Lock, device-dependent bits) are dropped.
    ASSERT_TRUE(hotKeys.registerHotKey(1, kVK_ANSI_K, commandShift | (1u << 16) | 0x8).ok());
    EXPECT_EQ(hotKeys.combinationFor(1), (HotKeyCombination{kVK_ANSI_K, commandShift}));
    // Another id cannot take the same combination.
    auto clash = hotKeys.registerHotKey(2, kVK_ANSI_K, commandShift);
    EXPECT_FALSE(clash.ok());
    EXPECT_FALSE(hotKeys.combinationFor(2).has_value());

    EXPECT_TRUE(scripted.press(kVK_ANSI_K, commandShift | (1u << 16)));
    EXPECT_FALSE(scripted.press(kVK_ANSI_K, HotKeyModifier::Command));
    EXPECT_EQ(pressed, (std::vector<std::uint32_t>{1}));

    // A refused replacement keeps the old combination grabbed and working.
    scripted.setTakenElsewhere(kVK_ANSI_J, HotKeyModifier::Control);
    EXPECT_FALSE(hotKeys.registerHotKey(1, kVK_ANSI_J, HotKeyModifier::Control).ok());
    EXPECT_EQ(hotKeys.combinationFor(1), (HotKeyCombination{kVK_ANSI_K, commandShift}));
    EXPECT_EQ(scripted.grabbed().size(), 1u);

    // A replacement lets go of the old combination.
    ASSERT_TRUE(hotKeys.registerHotKey(1, kVK_ANSI_L, HotKeyModifier::Option).ok());
    EXPECT_EQ(scripted.grabbed(), (std::vector<HotKeyCombination>{{kVK_ANSI_L, HotKeyModifier::Option}}));
    EXPECT_FALSE(scripted.press(kVK_ANSI_K, commandShift));
    EXPECT_TRUE(scripted.press(kVK_ANSI_L, HotKeyModifier::Option));

    hotKeys.unregisterHotKey(1);
    hotKeys.unregisterHotKey(99);
    EXPECT_TRUE(scripted.grabbed().empty());
    EXPECT_FALSE(scripted.press(kVK_ANSI_L, HotKeyModifier::Option));
    EXPECT_EQ(pressed, (std::vector<std::uint32_t>{1, 1}));
}

TEST(GlobalHotKeysTest, RefusesWithoutAnImplementation) {
    // The desktop may be installed by other tests of this process; only the default refuses.
    ScriptedGlobalHotKeys scripted;
    GlobalHotKeys::setShared(nullptr);
    EXPECT_FALSE(GlobalHotKeys::shared().registerHotKey(3, kVK_ANSI_A, HotKeyModifier::Command).ok());
    EXPECT_EQ(GlobalHotKeys::shared().registeredCount(), 0u);
}

}  // namespace
}  // namespace kit::desktop
