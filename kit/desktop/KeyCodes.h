#pragma once
// The platform's virtual key codes and modifier flags against X keysyms and modifier masks.
//
// Modifiers: Command is the Super key (Mod4), Control is Control, Option is Alt (Mod1), Shift is
// Shift. Command-key shortcuts thus stay off Control, which Linux applications use for their
// own commands, and a hot key such as Command-Shift-K is pressed as Super-Shift-K.
//
// Keys go by keysym in the current layout: kVK_ANSI_K is the key that types "k".

#include <cstdint>
#include <optional>
#include <string>

namespace kit::desktop {

// The keysym of a virtual key code (the unshifted one for letters and symbols).
std::optional<unsigned long> keysymForVirtualKey(std::uint16_t keyCode);
// The virtual key code of a keysym (either case of a letter, shifted symbols of the US layout).
std::optional<std::uint16_t> virtualKeyForKeysym(unsigned long keysym);

// The platform's modifier flags of a GDK modifier state.
std::uint32_t modifierFlagsFromGdkState(unsigned state);
// Whether the keysym is a modifier key (its presses are flag changes).
bool isModifierKeysym(unsigned long keysym);

// The characters a key event carries, as the platform gives them: text for printable keys, the
// platform's control characters (return, tab, escape, delete) and its private-use characters
// for arrows, function and navigation keys; empty for others.
std::string charactersForKeysym(unsigned long keysym);

}  // namespace kit::desktop
