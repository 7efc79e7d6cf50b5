#include "peers/host/HostCommands.h"

#include "peers/common/PeerCommandLine.h"

namespace peers::host {
namespace {

kit::Error usage(const std::string& text) { return kit::Error{"usage: " + text}; }

// Hot-key ids by number or by what they open.
kit::Result<std::int64_t> parseHotKeyType(const std::string& word) {
    if (word == "side") return 1;
    if (word == "screenshot") return 2;
    return parseInteger(word);
}

}  // namespace

kit::Result<PeerAction> parseHostCommand(std::string_view line) {
    auto split = splitCommandLine(line);
    if (!split) return kit::Error{split.error()};
    const auto& words = *split;
    if (words.empty()) return PeerAction{};
    const std::string& command = words[0];

    if (command == "status") {
        if (words.size() != 2) return usage("status on|off");
        auto show = parseSwitch(words[1]);
        if (!show) return kit::Error{show.error()};
        return PeerAction::post(kShowAIStatusItemChanged, kit::Dictionary{{"data", *show}});
    }
    if (command == "hotkey") {
        if (words.size() < 2) return usage("hotkey on <keyCode> <modifiers> | hotkey off");
        auto use = parseSwitch(words[1]);
        if (!use) return kit::Error{use.error()};
        std::int64_t keyCode = 0;
        std::uint32_t modifiers = 0;
        if (*use) {
            if (words.size() != 4) return usage("hotkey on <keyCode> <modifiers>");
            auto key = parseInteger(words[2]);
            if (!key) return kit::Error{key.error()};
            auto flags = parseModifierFlags(words[3]);
            if (!flags) return kit::Error{flags.error()};
            keyCode = *key;
            modifiers = *flags;
        } else if (words.size() != 2) {
            return usage("hotkey off");
        }
        kit::Dictionary data{{"use", *use}, {"keyCode", keyCode}, {"modifiers", static_cast<std::int64_t>(modifiers)}};
        return PeerAction::post(kUseHotKeyChanged, kit::Dictionary{{"data", std::move(data)}});
    }
    if (command == "shortcut") {
        if (words.size() != 4) return usage("shortcut <type> <keyCode> <flags>");
        auto type = parseHotKeyType(words[1]);
        if (!type) return kit::Error{type.error()};
        auto key = parseInteger(words[2]);
        if (!key) return kit::Error{key.error()};
        auto flags = parseModifierFlags(words[3]);
        if (!flags) return kit::Error{flags.error()};
        return PeerAction::post(kShortcutDidChange,
                                kit::Dictionary{{"type", *type},
                                                {"keyCode", *key},
                                                {"flags", static_cast<std::int64_t>(*flags)}});
    }
    if (command == "accessibility") {
        if (words.size() != 1) return usage("accessibility");
        return PeerAction::post(kShowAccessibilityPermissionWindow);
    }
    if (command == "filedrag") {
        if (words.size() > 2) return usage("filedrag [on|off]");
        PeerAction action = PeerAction::post(kFileDragValueDidChange);
        if (words.size() == 2) {
            auto state = parseSwitch(words[1]);
            if (!state) return kit::Error{state.error()};
            action.fileDragState = *state;
        }
        return action;
    }
    if (command == "post") return parsePostCommand(line, words);
    if (command == "help") return PeerAction::of(PeerAction::Kind::Help);
    if (command == "quit" || command == "exit") return PeerAction::of(PeerAction::Kind::Quit);
    return kit::Error{"unknown command \"" + command + "\" (try help)"};
}

std::vector<std::string> hostCommandHelp() {
    return {
        "status on|off                      show or hide the assistant's status item",
        "hotkey on <keyCode> <modifiers>    use the side-window hot key (modifiers: number or shift+control+option+command)",
        "hotkey off                         stop using the side-window hot key",
        "shortcut <type> <keyCode> <flags>  a hot key changed (type 1 or side, 2 or screenshot)",
        "accessibility                      show the accessibility permission window",
        "filedrag [on|off]                  file dropping changed; on/off writes the shared setting first",
        "post <name> [<JSON object>]        post any notification",
        "help, quit",
    };
}

bool hostReceives(std::string_view name) {
    for (const auto& prefix : kReceivedPrefixes)
        if (name.substr(0, prefix.size()) == prefix) return true;
    return false;
}

}  // namespace peers::host
