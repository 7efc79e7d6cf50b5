#include "peers/text-tool/TextToolCommands.h"

#include <climits>

#include "kit/base/Json.h"
#include "peers/common/PeerCommandLine.h"

namespace peers::texttool {
namespace {

kit::Error usage(const std::string& text) { return kit::Error{"usage: " + text}; }

kit::Result<int> parsePanelType(const std::string& word) {
    if (word == "explain") return 1;
    if (word == "translate") return 2;
    auto number = parseInteger(word);
    if (!number) return kit::Error{"expected a panel type (1, 2, explain or translate), got \"" + word + "\""};
    if (*number < INT32_MIN || *number > INT32_MAX) return kit::Error{"the panel type is out of range"};
    return static_cast<int>(*number);
}

// An integer word in its plain decimal form, as the tool writes numbers.
kit::Result<std::string> integerText(const std::string& word) {
    auto number = parseInteger(word);
    if (!number) return kit::Error{number.error()};
    return std::to_string(*number);
}

kit::Array argumentsOf(std::initializer_list<std::string> items) {
    kit::Array arguments{kit::Value(kSenderName)};
    for (const auto& item : items) arguments.emplace_back(item);
    return arguments;
}

}  // namespace

PeerAction commonNotification(kit::Array arguments) {
    return PeerAction::post(kCommonNotification, kit::Dictionary{{"data", kit::Value(std::move(arguments))}});
}

kit::Result<PeerAction> TextToolSession::command(std::string_view line) {
    auto split = splitCommandLine(line);
    if (!split) return kit::Error{split.error()};
    const auto& words = *split;
    if (words.empty()) return PeerAction{};
    const std::string& command = words[0];

    if (command == "side") {
        if (words.size() < 2) return usage("side <sourceType> [<text>]");
        auto type = integerText(words[1]);
        if (!type) return kit::Error{type.error()};
        return commonNotification(argumentsOf({"1", *type, joinWords(words, 2, words.size())}));
    }
    if (command == "explain" || command == "translate") {
        if (words.size() < 4) return usage(command + " <text> <x> <y>");
        auto x = parseNumber(words[words.size() - 2]);
        if (!x) return kit::Error{x.error()};
        auto y = parseNumber(words[words.size() - 1]);
        if (!y) return kit::Error{y.error()};
        int type = command == "explain" ? 1 : 2;
        kit::Point origin{*x, *y};
        origins_[type] = origin;
        return commonNotification(argumentsOf(
            {"2", std::to_string(type), joinWords(words, 1, words.size() - 2), kit::stringFromPoint(origin)}));
    }
    if (command == "frame") {
        if (words.size() != 6) return usage("frame <type> <x> <y> <w> <h>");
        auto type = parsePanelType(words[1]);
        if (!type) return kit::Error{type.error()};
        double numbers[4];
        for (int i = 0; i < 4; ++i) {
            auto number = parseNumber(words[2 + i]);
            if (!number) return kit::Error{number.error()};
            numbers[i] = *number;
        }
        kit::Rect frame(numbers[0], numbers[1], numbers[2], numbers[3]);
        return commonNotification(argumentsOf({"3", std::to_string(*type), kit::stringFromRect(frame)}));
    }
    if (command == "sidebar") {
        if (words.size() != 1) return usage("sidebar");
        return commonNotification(argumentsOf({"4"}));
    }
    if (command == "shortcut") {
        if (words.size() != 4) return usage("shortcut <id> <keyCode> <flags>");
        auto id = words[1] == "side" ? kit::Result<std::string>("1")
                  : words[1] == "screenshot" ? kit::Result<std::string>("2")
                                             : integerText(words[1]);
        if (!id) return kit::Error{id.error()};
        auto key = integerText(words[2]);
        if (!key) return kit::Error{key.error()};
        auto flags = parseModifierFlags(words[3]);
        if (!flags) return kit::Error{flags.error()};
        return commonNotification(argumentsOf({"5", *id, *key, std::to_string(*flags)}));
    }
    if (command == "filedrag") {
        if (words.size() > 2) return usage("filedrag [on|off]");
        PeerAction action = commonNotification(argumentsOf({"6"}));
        if (words.size() == 2) {
            auto state = parseSwitch(words[1]);
            if (!state) return kit::Error{state.error()};
            action.fileDragState = *state;
        }
        return action;
    }
    if (command == "raw") {
        std::string_view rest = textAfterWords(line, 1);
        if (!rest.empty() && (rest.front() == '[' || rest.front() == '{')) {
            auto parsed = kit::parseJson(rest);
            if (!parsed) return kit::Error{"the arguments are not JSON: " + parsed.error()};
            if (!parsed->isArray()) return kit::Error{"the arguments must be a JSON array"};
            return commonNotification(*parsed->asArray());
        }
        kit::Array arguments;
        for (std::size_t i = 1; i < words.size(); ++i) arguments.emplace_back(words[i]);
        return commonNotification(std::move(arguments));
    }
    if (command == "autoframe") {
        if (words.size() != 2) return usage("autoframe on|off");
        auto on = parseSwitch(words[1]);
        if (!on) return kit::Error{on.error()};
        autoFrame_ = *on;
        PeerAction action = PeerAction::of(PeerAction::Kind::AutoFrame);
        action.enable = *on;
        return action;
    }
    if (command == "post") return parsePostCommand(line, words);
    if (command == "help") return PeerAction::of(PeerAction::Kind::Help);
    if (command == "quit" || command == "exit") return PeerAction::of(PeerAction::Kind::Quit);
    return kit::Error{"unknown command \"" + command + "\" (try help)"};
}

std::optional<PeerAction> TextToolSession::answerPanelSize(const kit::Value& userInfo) const {
    if (!autoFrame_) return std::nullopt;
    std::int64_t type = userInfo["type"].integerValue();
    if (type != 1 && type != 2) return std::nullopt;
    auto origin = originOf(static_cast<int>(type));
    if (!origin) return std::nullopt;
    const std::string* sizeText = userInfo["size"].asString();
    if (!sizeText) return std::nullopt;
    kit::Size size = kit::sizeFromString(*sizeText);
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    return commonNotification(
        argumentsOf({"3", std::to_string(type), kit::stringFromRect(kit::Rect(*origin, size))}));
}

std::optional<kit::Point> TextToolSession::originOf(int panelType) const {
    auto it = origins_.find(panelType);
    if (it == origins_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> textToolCommandHelp() {
    return {
        "side <sourceType> [<text>]         event 1: show the side window (with the text)",
        "explain <text> <x> <y>             event 2: the explain panel at that origin",
        "translate <text> <x> <y>           event 2: the translate panel at that origin",
        "frame <type> <x> <y> <w> <h>       event 3: a panel's frame (type 1, 2, explain or translate)",
        "sidebar                            event 4: the side window from the search sidebar",
        "shortcut <id> <keyCode> <flags>    event 5: a hot key changed (id 1 or side, 2 or screenshot)",
        "filedrag [on|off]                  event 6: file dropping changed; on/off writes the shared setting first",
        "raw <JSON array> | raw <word>...   any argument array, sent as given",
        "post <name> [<JSON object>]        post any notification",
        "autoframe on|off                   answer a panel's new size with its frame (on at start)",
        "help, quit",
    };
}

bool textToolReceives(std::string_view name) {
    for (const auto& prefix : kReceivedPrefixes)
        if (name.substr(0, prefix.size()) == prefix) return true;
    return false;
}

}  // namespace peers::texttool
