#pragma once
// Helpers of the bridge tests: a recording script evaluator and a reader of the scripts the
// engine sends, which decodes the single-quoted script string as a JavaScript engine would.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/web/WebViewJavascriptBridgeBase.h"
#include "kit/base/Json.h"
#include "kit/base/Value.h"
#include "kit/web/JavaScriptString.h"

namespace bridgetest {

class RecordingEvaluator : public WebViewJavascriptBridgeBaseDelegate {
public:
    std::string _evaluateJavascript(const std::string& javascriptCommand) override {
        scripts.push_back(javascriptCommand);
        return {};
    }
    std::vector<std::string> scripts;
};

// Decodes the body of a single-quoted JavaScript string literal (without its quotes). Fails on
// what would end or break the literal: an unescaped quote, a raw line terminator (line feed,
// carriage return, U+2028, U+2029) or a malformed escape.
inline std::optional<std::string> decodeJavascriptSingleQuoted(std::string_view body) {
    // Older engines end a literal at the two Unicode separators as well.
    if (body.find("\xE2\x80\xA8") != std::string_view::npos || body.find("\xE2\x80\xA9") != std::string_view::npos)
        return std::nullopt;
    return kit::decodeSingleQuotedJavaScript(body);
}

inline constexpr std::string_view kMessagePrefix = "WebViewJavascriptBridge._handleMessageFromObjC('";
inline constexpr std::string_view kMessageSuffix = "');";

// The JSON text carried by a message script, decoded from its string literal.
inline std::optional<std::string> jsonOfMessageScript(std::string_view script) {
    if (script.substr(0, kMessagePrefix.size()) != kMessagePrefix) return std::nullopt;
    if (script.size() < kMessagePrefix.size() + kMessageSuffix.size()) return std::nullopt;
    if (script.substr(script.size() - kMessageSuffix.size()) != kMessageSuffix) return std::nullopt;
    return decodeJavascriptSingleQuoted(
        script.substr(kMessagePrefix.size(), script.size() - kMessagePrefix.size() - kMessageSuffix.size()));
}

// The message carried by a script, or a null value (with a test failure) when it is unreadable.
inline kit::Value messageOfScript(std::string_view script) {
    auto json = jsonOfMessageScript(script);
    if (!json) {
        ADD_FAILURE() << "not a readable message script: " << script;
        return {};
    }
    auto value = kit::parseJson(*json);
    if (!value) {
        ADD_FAILURE() << "message is not JSON: " << *json << " (" << value.error() << ")";
        return {};
    }
    if (!value->isDictionary()) ADD_FAILURE() << "message is not an object: " << *json;
    return *value;
}

}  // namespace bridgetest
