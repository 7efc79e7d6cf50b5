#pragma once
// The commands of the text-tool stand-in. Each becomes the tool's common notification, whose
// "data" is an argument array: element 0 names the sender (unused by the receiver), element 1 is
// the event code "1" to "6", the rest are the event's parameters, all strings.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Result.h"
#include "peers/common/PeerAction.h"

namespace peers::texttool {

inline constexpr const char* kBundleIdentifier = "com.morvane.QuarnGetText";
inline constexpr const char* kCommonNotification = "MT2A_KZAIIPCCommonNotification";
inline constexpr const char* kPanelWindowSizeChanged = "A2T_KZAIIPCPanelWindowSizeChangedNotification";
inline constexpr const char* kSenderName = "QuarnGetText";

// Names the tool hears: those addressed to it and the settings the assistant changed.
inline const std::vector<std::string> kReceivedPrefixes{"A2T_", "MA2Other_"};

// The tool's state across commands: where it last asked for each panel (type 1 explain,
// 2 translate), so that it can answer a panel's new size with a frame, as the real tool places
// its panels.
class TextToolSession {
public:
    // Parses one command line:
    //   side <sourceType> [<text>]              event 1: the side window (with the text)
    //   explain <text> <x> <y>                  event 2, panel 1 at that origin
    //   translate <text> <x> <y>                event 2, panel 2
    //   frame <type> <x> <y> <w> <h>            event 3: a panel's frame (type 1|2|explain|translate)
    //   sidebar                                 event 4: the side window from the search sidebar
    //   shortcut <id> <keyCode> <flags>         event 5: a hot key changed
    //   filedrag [on|off]                       event 6: file dropping changed (on/off writes the setting)
    //   raw <JSON array> | raw <word>...        any argument array, as given
    //   post <name> [<JSON object>]             any notification
    //   autoframe on|off                        answer panel sizes with frames (on at start)
    //   help, quit
    // Text of several words needs no quotes: everything between the command and the numbers is
    // the text.
    kit::Result<PeerAction> command(std::string_view line);

    // The answer to "A2T_KZAIIPCPanelWindowSizeChangedNotification": event 3 with the panel's
    // last origin and the new size; nothing when answering is off, the type is not 1 or 2, or no
    // origin is known for the panel yet.
    std::optional<PeerAction> answerPanelSize(const kit::Value& userInfo) const;

    bool autoFrame() const { return autoFrame_; }
    std::optional<kit::Point> originOf(int panelType) const;

private:
    bool autoFrame_ = true;
    std::map<int, kit::Point> origins_;
};

// The common notification carrying these arguments (element 0 and the code included).
PeerAction commonNotification(kit::Array arguments);

std::vector<std::string> textToolCommandHelp();
bool textToolReceives(std::string_view name);

}  // namespace peers::texttool
