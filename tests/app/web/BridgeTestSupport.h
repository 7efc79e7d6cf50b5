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

namespace bridgetest {

class RecordingEvaluator : public WebViewJavascriptBridgeBaseDelegate {
public:
    std::string _evaluateJavascript(const std::string& javascriptCommand) override {
        scripts.push_back(javascriptCommand);
        return {};
    }
    std::vector<std::string> scripts;
};

inline void appendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes the body of a single-quoted JavaScript string literal (without its quotes). Fails on
// what would end or break the literal: an unescaped quote, a raw line terminator (line feed,
// carriage return, U+2028, U+2029) or a malformed escape.
inline std::optional<std::string> decodeJavascriptSingleQuoted(std::string_view body) {
    std::string out;
    std::uint32_t pendingHighSurrogate = 0;
    auto flushSurrogate = [&] {
        if (pendingHighSurrogate) appendUtf8(0xFFFD, out);
        pendingHighSurrogate = 0;
    };
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\'' || c == '\n' || c == '\r') return std::nullopt;
        if (body.substr(i, 3) == "\xE2\x80\xA8" || body.substr(i, 3) == "\xE2\x80\xA9") return std::nullopt;
        if (c != '\\') {
            flushSurrogate();
            out += c;
            continue;
        }
        if (++i >= body.size()) return std::nullopt;
        const char e = body[i];
        if (e == 'u') {
            std::uint32_t cp = 0;
            for (int k = 1; k <= 4; ++k) {
                if (i + k >= body.size()) return std::nullopt;
                int d = hexDigit(body[i + k]);
                if (d < 0) return std::nullopt;
                cp = cp * 16 + static_cast<std::uint32_t>(d);
            }
            i += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                flushSurrogate();
                pendingHighSurrogate = cp;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF && pendingHighSurrogate) {
                appendUtf8(0x10000 + ((pendingHighSurrogate - 0xD800) << 10) + (cp - 0xDC00), out);
                pendingHighSurrogate = 0;
            } else {
                flushSurrogate();
                appendUtf8(cp, out);
            }
            continue;
        }
        flushSurrogate();
        switch (e) {
            case '\\': out += '\\'; break;
            case '\'': out += '\''; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 'f': out += '\f'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'v': out += '\v'; break;
            case '0': out += '\0'; break;
            case 'x': {
                if (i + 2 >= body.size()) return std::nullopt;
                int hi = hexDigit(body[i + 1]), lo = hexDigit(body[i + 2]);
                if (hi < 0 || lo < 0) return std::nullopt;
                appendUtf8(static_cast<std::uint32_t>(hi * 16 + lo), out);
                i += 2;
                break;
            }
            default:
                // Any other escaped character stands for itself.
                out += e;
        }
    }
    flushSurrogate();
    return out;
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
