#pragma once
// The commands of the host stand-in, each turned into the notification the host application
// sends to the assistant.

#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Result.h"
#include "peers/common/PeerAction.h"

namespace peers::host {

inline constexpr const char* kBundleIdentifier = "com.morvane.Quarn";

inline constexpr const char* kShowAIStatusItemChanged = "kM2A_KZAIIPCShowAIStatusItemChangedNotification";
inline constexpr const char* kUseHotKeyChanged = "kM2A_KZAIIPCUseHotKeyChangedNotification";
inline constexpr const char* kShowAccessibilityPermissionWindow =
    "kM2A_KZAIIPCShowAccessibilityPermissionWindowNotification";
inline constexpr const char* kShortcutDidChange = "M2A_KZAIIPCShortcutDidChangeNotification";
inline constexpr const char* kFileDragValueDidChange = "MA2T_KZAIIPCFileDragValueDidChangeNotification";

// Names the host hears from the assistant: its own, those meant for the text tool (the host
// watches them too), settings the assistant changed, and the hot-key replies.
inline const std::vector<std::string> kReceivedPrefixes{"kA2M_", "A2T_", "MA2Other_", "M2A_KZAIIPCHotKey"};

// Parses one command line:
//   status on|off                          show or hide the assistant's status item
//   hotkey on <keyCode> <modifiers>        use the side-window hot key with this combination
//   hotkey off                             stop using it
//   shortcut <type> <keyCode> <flags>      a hot key changed (type 1 side window, 2 screenshot)
//   accessibility                          show the accessibility permission window
//   filedrag [on|off]                      file dropping changed (on/off writes the setting first)
//   post <name> [<JSON object>]            any notification
//   help, quit
kit::Result<PeerAction> parseHostCommand(std::string_view line);

// The help text, one line per command.
std::vector<std::string> hostCommandHelp();

// Whether the host logs a notification of this name.
bool hostReceives(std::string_view name);

}  // namespace peers::host
