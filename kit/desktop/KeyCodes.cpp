#include "kit/desktop/KeyCodes.h"

#include <X11/keysym.h>
#include <gdk/gdk.h>

#include <array>
#include <utility>

#include "kit/base/Utf8.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Event.h"

namespace kit::desktop {

namespace {

struct KeyPair {
    std::uint16_t keyCode;
    unsigned long keysym;
};

// First entry per key code is its canonical keysym; later ones are alternatives that map back.
constexpr KeyPair kKeys[] = {
    {kVK_ANSI_A, XK_a}, {kVK_ANSI_S, XK_s}, {kVK_ANSI_D, XK_d}, {kVK_ANSI_F, XK_f}, {kVK_ANSI_H, XK_h},
    {kVK_ANSI_G, XK_g}, {kVK_ANSI_Z, XK_z}, {kVK_ANSI_X, XK_x}, {kVK_ANSI_C, XK_c}, {kVK_ANSI_V, XK_v},
    {kVK_ISO_Section, XK_section}, {kVK_ANSI_B, XK_b}, {kVK_ANSI_Q, XK_q}, {kVK_ANSI_W, XK_w},
    {kVK_ANSI_E, XK_e}, {kVK_ANSI_R, XK_r}, {kVK_ANSI_Y, XK_y}, {kVK_ANSI_T, XK_t}, {kVK_ANSI_1, XK_1},
    {kVK_ANSI_2, XK_2}, {kVK_ANSI_3, XK_3}, {kVK_ANSI_4, XK_4}, {kVK_ANSI_6, XK_6}, {kVK_ANSI_5, XK_5},
    {kVK_ANSI_Equal, XK_equal}, {kVK_ANSI_9, XK_9}, {kVK_ANSI_7, XK_7}, {kVK_ANSI_Minus, XK_minus},
    {kVK_ANSI_8, XK_8}, {kVK_ANSI_0, XK_0}, {kVK_ANSI_RightBracket, XK_bracketright}, {kVK_ANSI_O, XK_o},
    {kVK_ANSI_U, XK_u}, {kVK_ANSI_LeftBracket, XK_bracketleft}, {kVK_ANSI_I, XK_i}, {kVK_ANSI_P, XK_p},
    {kVK_Return, XK_Return}, {kVK_ANSI_L, XK_l}, {kVK_ANSI_J, XK_j}, {kVK_ANSI_Quote, XK_apostrophe},
    {kVK_ANSI_K, XK_k}, {kVK_ANSI_Semicolon, XK_semicolon}, {kVK_ANSI_Backslash, XK_backslash},
    {kVK_ANSI_Comma, XK_comma}, {kVK_ANSI_Slash, XK_slash}, {kVK_ANSI_N, XK_n}, {kVK_ANSI_M, XK_m},
    {kVK_ANSI_Period, XK_period}, {kVK_Tab, XK_Tab}, {kVK_Space, XK_space}, {kVK_ANSI_Grave, XK_grave},
    {kVK_Delete, XK_BackSpace}, {kVK_Escape, XK_Escape}, {kVK_RightCommand, XK_Super_R},
    {kVK_Command, XK_Super_L}, {kVK_Shift, XK_Shift_L}, {kVK_CapsLock, XK_Caps_Lock}, {kVK_Option, XK_Alt_L},
    {kVK_Control, XK_Control_L}, {kVK_RightShift, XK_Shift_R}, {kVK_RightOption, XK_Alt_R},
    {kVK_RightControl, XK_Control_R}, {kVK_F17, XK_F17}, {kVK_ANSI_KeypadDecimal, XK_KP_Decimal},
    {kVK_ANSI_KeypadMultiply, XK_KP_Multiply}, {kVK_ANSI_KeypadPlus, XK_KP_Add},
    {kVK_ANSI_KeypadClear, XK_Num_Lock}, {kVK_ANSI_KeypadDivide, XK_KP_Divide},
    {kVK_ANSI_KeypadEnter, XK_KP_Enter}, {kVK_ANSI_KeypadMinus, XK_KP_Subtract}, {kVK_F18, XK_F18},
    {kVK_F19, XK_F19}, {kVK_ANSI_KeypadEquals, XK_KP_Equal}, {kVK_ANSI_Keypad0, XK_KP_0},
    {kVK_ANSI_Keypad1, XK_KP_1}, {kVK_ANSI_Keypad2, XK_KP_2}, {kVK_ANSI_Keypad3, XK_KP_3},
    {kVK_ANSI_Keypad4, XK_KP_4}, {kVK_ANSI_Keypad5, XK_KP_5}, {kVK_ANSI_Keypad6, XK_KP_6},
    {kVK_ANSI_Keypad7, XK_KP_7}, {kVK_F20, XK_F20}, {kVK_ANSI_Keypad8, XK_KP_8}, {kVK_ANSI_Keypad9, XK_KP_9},
    {kVK_F5, XK_F5}, {kVK_F6, XK_F6}, {kVK_F7, XK_F7}, {kVK_F3, XK_F3}, {kVK_F8, XK_F8}, {kVK_F9, XK_F9},
    {kVK_F11, XK_F11}, {kVK_F13, XK_F13}, {kVK_F16, XK_F16}, {kVK_F14, XK_F14}, {kVK_F10, XK_F10},
    {kVK_F12, XK_F12}, {kVK_F15, XK_F15}, {kVK_Help, XK_Help}, {kVK_Home, XK_Home}, {kVK_PageUp, XK_Prior},
    {kVK_ForwardDelete, XK_Delete}, {kVK_F4, XK_F4}, {kVK_End, XK_End}, {kVK_F2, XK_F2},
    {kVK_PageDown, XK_Next}, {kVK_F1, XK_F1}, {kVK_LeftArrow, XK_Left}, {kVK_RightArrow, XK_Right},
    {kVK_DownArrow, XK_Down}, {kVK_UpArrow, XK_Up},
    // Alternatives: shifted symbols of the US layout, keypad keys with Num Lock off, Meta.
    {kVK_ANSI_1, XK_exclam}, {kVK_ANSI_2, XK_at}, {kVK_ANSI_3, XK_numbersign}, {kVK_ANSI_4, XK_dollar},
    {kVK_ANSI_5, XK_percent}, {kVK_ANSI_6, XK_asciicircum}, {kVK_ANSI_7, XK_ampersand},
    {kVK_ANSI_8, XK_asterisk}, {kVK_ANSI_9, XK_parenleft}, {kVK_ANSI_0, XK_parenright},
    {kVK_ANSI_Minus, XK_underscore}, {kVK_ANSI_Equal, XK_plus}, {kVK_ANSI_LeftBracket, XK_braceleft},
    {kVK_ANSI_RightBracket, XK_braceright}, {kVK_ANSI_Backslash, XK_bar}, {kVK_ANSI_Semicolon, XK_colon},
    {kVK_ANSI_Quote, XK_quotedbl}, {kVK_ANSI_Comma, XK_less}, {kVK_ANSI_Period, XK_greater},
    {kVK_ANSI_Slash, XK_question}, {kVK_ANSI_Grave, XK_asciitilde}, {kVK_Tab, XK_ISO_Left_Tab},
    {kVK_ANSI_KeypadEnter, XK_KP_Enter}, {kVK_ANSI_Keypad0, XK_KP_Insert}, {kVK_ANSI_Keypad1, XK_KP_End},
    {kVK_ANSI_Keypad2, XK_KP_Down}, {kVK_ANSI_Keypad3, XK_KP_Next}, {kVK_ANSI_Keypad4, XK_KP_Left},
    {kVK_ANSI_Keypad5, XK_KP_Begin}, {kVK_ANSI_Keypad6, XK_KP_Right}, {kVK_ANSI_Keypad7, XK_KP_Home},
    {kVK_ANSI_Keypad8, XK_KP_Up}, {kVK_ANSI_Keypad9, XK_KP_Prior}, {kVK_ANSI_KeypadDecimal, XK_KP_Delete},
    {kVK_Command, XK_Meta_L}, {kVK_RightCommand, XK_Meta_R}, {kVK_RightOption, XK_ISO_Level3_Shift},
};

// The platform's private-use characters of function and navigation keys.
constexpr std::pair<unsigned long, char32_t> kFunctionCharacters[] = {
    {XK_Up, 0xF700}, {XK_Down, 0xF701}, {XK_Left, 0xF702}, {XK_Right, 0xF703}, {XK_F1, 0xF704},
    {XK_F2, 0xF705}, {XK_F3, 0xF706}, {XK_F4, 0xF707}, {XK_F5, 0xF708}, {XK_F6, 0xF709}, {XK_F7, 0xF70A},
    {XK_F8, 0xF70B}, {XK_F9, 0xF70C}, {XK_F10, 0xF70D}, {XK_F11, 0xF70E}, {XK_F12, 0xF70F},
    {XK_F13, 0xF710}, {XK_F14, 0xF711}, {XK_F15, 0xF712}, {XK_F16, 0xF713}, {XK_F17, 0xF714},
    {XK_F18, 0xF715}, {XK_F19, 0xF716}, {XK_F20, 0xF717}, {XK_Delete, 0xF728}, {XK_Home, 0xF729},
    {XK_End, 0xF72B}, {XK_Prior, 0xF72C}, {XK_Next, 0xF72D}, {XK_Help, 0xF746},
};

}  // namespace

std::optional<unsigned long> keysymForVirtualKey(std::uint16_t keyCode) {
    for (const auto& key : kKeys) {
        if (key.keyCode == keyCode) return key.keysym;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> virtualKeyForKeysym(unsigned long keysym) {
    if (keysym >= XK_A && keysym <= XK_Z) keysym = keysym - XK_A + XK_a;
    for (const auto& key : kKeys) {
        if (key.keysym == keysym) return key.keyCode;
    }
    return std::nullopt;
}

std::uint32_t modifierFlagsFromGdkState(unsigned state) {
    std::uint32_t flags = 0;
    if (state & GDK_SHIFT_MASK) flags |= ModifierShift;
    if (state & GDK_LOCK_MASK) flags |= ModifierCapsLock;
    if (state & GDK_CONTROL_MASK) flags |= ModifierControl;
    if (state & GDK_MOD1_MASK) flags |= ModifierOption;
    if (state & (GDK_SUPER_MASK | GDK_MOD4_MASK)) flags |= ModifierCommand;
    return flags;
}

bool isModifierKeysym(unsigned long keysym) {
    switch (keysym) {
        case XK_Shift_L: case XK_Shift_R: case XK_Control_L: case XK_Control_R: case XK_Alt_L:
        case XK_Alt_R: case XK_Super_L: case XK_Super_R: case XK_Meta_L: case XK_Meta_R:
        case XK_Caps_Lock: case XK_ISO_Level3_Shift:
            return true;
        default:
            return false;
    }
}

std::string charactersForKeysym(unsigned long keysym) {
    std::string out;
    switch (keysym) {
        case XK_Return: case XK_KP_Enter: return "\r";
        case XK_Tab: case XK_ISO_Left_Tab: return "\t";
        case XK_Escape: return "\x1b";
        case XK_BackSpace: return "\x7f";
        default: break;
    }
    for (const auto& [sym, character] : kFunctionCharacters) {
        if (sym == keysym) {
            appendUtf8(out, character);
            return out;
        }
    }
    const guint32 unicode = gdk_keyval_to_unicode(static_cast<guint>(keysym));
    if (unicode >= 0x20 && unicode != 0x7F) appendUtf8(out, unicode);
    return out;
}

}  // namespace kit::desktop
