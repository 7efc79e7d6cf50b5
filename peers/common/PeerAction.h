#pragma once
// What one command line asks a stand-in to do.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

namespace peers {

struct PeerAction {
    enum class Kind {
        None,       // a blank line or a comment
        Post,       // post `name` with `userInfo`
        Quit,
        Help,
        AutoFrame,  // the text tool answers panel sizes with frames (`enable`)
    };
    Kind kind = Kind::None;
    std::string name;
    // A dictionary, or null for a notification without user information.
    kit::Value userInfo;
    // Written to the shared settings file before the post, as the host does when the user
    // switches file dropping on or off.
    std::optional<bool> fileDragState;
    bool enable = false;

    static PeerAction post(std::string name, kit::Value userInfo = {}) {
        PeerAction action;
        action.kind = Kind::Post;
        action.name = std::move(name);
        action.userInfo = std::move(userInfo);
        return action;
    }
    static PeerAction of(Kind kind) {
        PeerAction action;
        action.kind = kind;
        return action;
    }
};

// The text of a line after its first `count` words (words without quotes, such as a command and
// a notification name), leading and trailing blanks removed. JSON arguments are read from it as
// typed, since splitting into words would eat their quotes.
std::string_view textAfterWords(std::string_view line, std::size_t count);

// The "post <name> [<JSON object>]" command shared by the stand-ins: the notification with that
// user information (none when the JSON is absent).
kit::Result<PeerAction> parsePostCommand(std::string_view line, const std::vector<std::string>& words);

}  // namespace peers
