#include "app/web/WebViewJavascriptBridgeBase.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>

#include "kit/base/Json.h"
#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/web/Url.h"

namespace {

std::atomic<bool> gLoggingEnabled{false};
std::atomic<int> gLogMaxLength{500};

// Messages are written as the platform's JSON writer writes them: compact, "/" escaped.
constexpr kit::JsonWriteOptions kJsonOptions{.escapeSlashes = true};
constexpr std::string_view kScriptPrefix = "WebViewJavascriptBridge._handleMessageFromObjC('";
constexpr std::string_view kScriptSuffix = "');";
// Location and its origin cannot be redefined by a page (they are unforgeable), so the check
// holds whatever the page's own scripts did.
constexpr std::string_view kOriginGuardPrefix = "if (location.origin === '";
constexpr std::string_view kOriginGuardSuffix = "') ";

// The letter after the backslash of each escape; 'u' marks the lead byte of U+2028/U+2029.
constexpr std::array<char, 256> makeEscapeLetterTable() {
    std::array<char, 256> table{};
    table['\\'] = '\\';
    table['"'] = '"';
    table['\''] = '\'';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\f'] = 'f';
    table[0xE2] = 'u';
    return table;
}
constexpr std::array<char, 256> kEscapeLetter = makeEscapeLetterTable();

bool isBridgeScheme(const kit::Url& url) {
    return url.scheme() == "https" || url.scheme() == "wvjbscheme";
}

std::optional<std::string> bridgeHost(std::string_view address) {
    auto url = kit::Url::parse(address);
    if (!url || !isBridgeScheme(*url)) return std::nullopt;
    return kit::asciiLowercase(url->host());
}

// Cuts UTF-8 text to at most `length` bytes without splitting a character.
std::string_view cutUtf8(std::string_view text, std::size_t length) {
    if (text.size() <= length) return text;
    std::size_t end = length;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

WebViewJavascriptBridgeBase::WebViewJavascriptBridgeBase()
    : startupMessageQueue_(std::vector<OutgoingMessage>{}) {}

WebViewJavascriptBridgeBase::~WebViewJavascriptBridgeBase() = default;

void WebViewJavascriptBridgeBase::registerHandler(const std::string& handlerName, WVJBHandler handler) {
    messageHandlers_[handlerName] = std::move(handler);
}

void WebViewJavascriptBridgeBase::removeHandler(const std::string& handlerName) {
    messageHandlers_.erase(handlerName);
}

bool WebViewJavascriptBridgeBase::hasHandler(const std::string& handlerName) const {
    return messageHandlers_.contains(handlerName);
}

void WebViewJavascriptBridgeBase::reset() {
    startupMessageQueue_.emplace();
    responseCallbacks_.clear();
    uniqueId_ = 0;
    ++generation_;
}

// Writes a message straight into the script that carries it: each member's JSON is escaped
// for the script string as it comes, so the message is never built as a value or copied whole.
class WebViewJavascriptBridgeBase::MessageWriter {
public:
    explicit MessageWriter(std::size_t sizeHint) : logging_(gLoggingEnabled) {
        message_.script.reserve(kScriptPrefix.size() + 2 * sizeHint + 64);
        message_.script += kScriptPrefix;
        message_.script += '{';
        if (logging_) message_.json += '{';
    }

    // `key` is a plain member name (no character that needs escaping).
    void member(std::string_view key, std::string_view valueJson) {
        if (!empty_) message_.script += ',';
        message_.script += "\\\"";
        message_.script += key;
        message_.script += "\\\":";
        appendEscapedForJavascriptString(valueJson, message_.script);
        if (logging_) {
            if (!empty_) message_.json += ',';
            message_.json += '"';
            message_.json += key;
            message_.json += "\":";
            message_.json += valueJson;
        }
        empty_ = false;
    }

    OutgoingMessage finish() {
        message_.script += '}';
        message_.script += kScriptSuffix;
        if (logging_) message_.json += '}';
        return std::move(message_);
    }

private:
    OutgoingMessage message_;
    bool logging_;
    bool empty_ = true;
};

void WebViewJavascriptBridgeBase::sendData(const kit::Value& data, WVJBResponseCallback responseCallback,
                                           std::optional<std::string_view> handlerName) {
    // Members in the order "data", "callbackId", "handlerName".
    const std::string dataJson = data.isNull() ? std::string() : kit::toJson(data, kJsonOptions);
    MessageWriter writer(dataJson.size() + (handlerName ? handlerName->size() : 0));
    if (!data.isNull()) writer.member("data", dataJson);
    std::string callbackId;
    if (responseCallback) {
        ++uniqueId_;
        callbackId = "objc_cb_" + std::to_string(uniqueId_);
        writer.member("callbackId", "\"" + callbackId + "\"");
        responseCallbacks_[callbackId] = std::move(responseCallback);
    }
    if (handlerName) writer.member("handlerName", kit::toJson(kit::Value(*handlerName), kJsonOptions));
    OutgoingMessage message = writer.finish();
    if (startupMessageQueue_) {
        message.handlerName = handlerName ? std::string(*handlerName) : std::string();
        message.callbackId = std::move(callbackId);
        if (supersedeKey_ && handlerName) message.supersedeKey = supersedeKey_(*handlerName, data);
    }
    queueMessage(std::move(message));
}

void WebViewJavascriptBridgeBase::queueMessage(OutgoingMessage message) {
    if (!startupMessageQueue_) {
        _dispatchMessage(message);
        return;
    }
    auto& queue = *startupMessageQueue_;
    if (!message.supersedeKey.empty()) {
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->supersedeKey == message.supersedeKey) {
                dropQueued(*it, "a later one replaces it");
                it = queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    queue.push_back(std::move(message));
    while (queue.size() > startupQueueLimit_) {
        dropQueued(queue.front(), "the start-up queue is full");
        queue.erase(queue.begin());
    }
}

void WebViewJavascriptBridgeBase::dropQueued(const OutgoingMessage& message, const char* why) {
    kit::logf("WebViewJavascriptBridge: dropped a waiting message for \"%s\": %s", message.handlerName.c_str(), why);
    if (!message.callbackId.empty()) responseCallbacks_.erase(message.callbackId);
}

void WebViewJavascriptBridgeBase::_dispatchMessage(const OutgoingMessage& message) const {
    _log("SEND", std::string_view(message.json));
    if (delegate) delegate->_evaluateJavascript(deliveryScript(message.script));
}

std::string WebViewJavascriptBridgeBase::deliveryScript(std::string_view messageScript) const {
    if (pageOrigin_.empty()) return std::string(messageScript);
    std::string script;
    script.reserve(kOriginGuardPrefix.size() + pageOrigin_.size() + kOriginGuardSuffix.size() + messageScript.size());
    script.append(kOriginGuardPrefix);
    appendEscapedForJavascriptString(pageOrigin_, script);
    script.append(kOriginGuardSuffix);
    script.append(messageScript);
    return script;
}

std::string WebViewJavascriptBridgeBase::javascriptForMessage(const kit::Value& message) {
    return javascriptForMessageJson(kit::toJson(message, kJsonOptions));
}

std::string WebViewJavascriptBridgeBase::javascriptForMessageJson(std::string_view messageJson) {
    std::string script;
    script.reserve(kScriptPrefix.size() + 2 * messageJson.size() + kScriptSuffix.size());
    script.append(kScriptPrefix);
    appendEscapedForJavascriptString(messageJson, script);
    script.append(kScriptSuffix);
    return script;
}

void WebViewJavascriptBridgeBase::appendEscapedForJavascriptString(std::string_view text, std::string& out) {
    const std::size_t n = text.size();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    // No escape is longer than twice its input (one byte to two, three to six): size for the
    // worst case, fill in one pass, then trim.
    const std::size_t start = out.size();
    out.resize(start + 2 * n);
    char* const begin = out.data() + start;
    char* p = begin;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        const char escape = kEscapeLetter[c];
        // Plain bytes first, the common case; a 0xE2 that starts no line or paragraph
        // separator is plain too (the last branch).
        if (!escape) {  // NOLINT(bugprone-branch-clone)
            *p++ = static_cast<char>(c);
        } else if (escape != 'u') {
            *p++ = '\\';
            *p++ = escape;
        } else if (i + 2 < n && in[i + 1] == 0x80 && (in[i + 2] == 0xA8 || in[i + 2] == 0xA9)) {
            std::copy_n(in[i + 2] == 0xA8 ? "\\u2028" : "\\u2029", 6, p);
            p += 6;
            i += 2;
        } else {
            *p++ = static_cast<char>(c);
        }
    }
    out.resize(start + static_cast<std::size_t>(p - begin));
}

void WebViewJavascriptBridgeBase::injectJavascriptFile() {
    auto script = pageScript();
    if (!script) {
        // Without the page script nothing can be delivered: keep the start-up queue for a later try.
        kit::logf("WebViewJavascriptBridge: ERROR: the page script could not be read: %s",
                  script.error().c_str());
        return;
    }
    if (delegate) delegate->_evaluateJavascript(*script);
    if (startupMessageQueue_) {
        std::vector<OutgoingMessage> queue = std::move(*startupMessageQueue_);
        startupMessageQueue_.reset();
        for (const OutgoingMessage& message : queue) _dispatchMessage(message);
    }
}

void WebViewJavascriptBridgeBase::flushMessageQueue(const std::optional<std::string>& messageQueueString) {
    if (!messageQueueString || messageQueueString->empty()) {
        kit::logLine(
            "WebViewJavascriptBridge: WARNING: ObjC got nil while fetching the message queue JSON from webview. "
            "This can happen if the WebViewJavascriptBridge JS is not currently present in the webview, e.g if "
            "the webview just loaded a new page.");
        return;
    }
    auto parsed = kit::parseJson(*messageQueueString);
    if (!parsed) {
        kit::logf("WebViewJavascriptBridge: WARNING: message queue is not valid JSON, ignored: %s",
                  parsed.error().c_str());
        return;
    }
    const kit::Array* messages = parsed->asArray();
    if (!messages) {
        kit::logf("WebViewJavascriptBridge: WARNING: message queue is not an array, ignored: %s",
                  kit::describe(*parsed).c_str());
        return;
    }
    kit::LifetimeWatch alive = alive_.watch();
    for (const kit::Value& element : *messages) {
        flushMessage(element, alive);
        // A handler may have released the bridge (its page closed the window).
        if (alive.expired()) return;
    }
}

void WebViewJavascriptBridgeBase::flushMessage(const kit::Value& element, const kit::LifetimeWatch& alive) {
    const kit::Dictionary* message = element.asDictionary();
    if (!message) {
        kit::logf("WebViewJavascriptBridge: WARNING: Invalid %s received: %s", kit::valueTypeName(element.type()),
                  kit::describe(element).c_str());
        return;
    }
    _log("RCVD", element);

    if (const kit::Value* responseId = message->find("responseId")) {
        const std::string* identifier = responseId->asString();
        if (!identifier) {
            kit::logf("WebViewJavascriptBridge: WARNING: Invalid responseId received: %s",
                      kit::describe(element).c_str());
            return;
        }
        auto it = responseCallbacks_.find(*identifier);
        if (it == responseCallbacks_.end()) return;
        WVJBResponseCallback callback = std::move(it->second);
        responseCallbacks_.erase(it);
        const kit::Value* responseData = message->find("responseData");
        if (callback) callback(responseData ? *responseData : kit::Value::null());
        return;
    }

    WVJBResponseCallback answer;
    if (const kit::Value* callbackId = message->find("callbackId")) {
        const std::string* identifier = callbackId->asString();
        if (!identifier) {
            kit::logf("WebViewJavascriptBridge: WARNING: Invalid callbackId received: %s",
                      kit::describe(element).c_str());
            return;
        }
        answer = [this, alive, generation = generation_, identifier = *identifier](const kit::Value& responseData) {
            if (alive.expired() || generation != generation_) return;
            const std::string responseJson = kit::toJson(responseData, kJsonOptions);
            MessageWriter writer(responseJson.size() + identifier.size());
            writer.member("responseId", kit::toJson(kit::Value(identifier), kJsonOptions));
            writer.member("responseData", responseJson);
            queueMessage(writer.finish());
        };
    } else {
        answer = [](const kit::Value&) {};
    }

    const kit::Value* handlerName = message->find("handlerName");
    const std::string* name = handlerName ? handlerName->asString() : nullptr;
    auto handler = name ? messageHandlers_.find(*name) : messageHandlers_.end();
    if (handler == messageHandlers_.end() || !handler->second) {
        kit::logf("WVJBNoHandlerException, No handler for message from JS: %s", kit::describe(element).c_str());
        return;
    }
    // A copy: the handler may replace or remove itself.
    WVJBHandler run = handler->second;
    const kit::Value* data = message->find("data");
    run(data ? *data : kit::Value::null(), std::move(answer));
}

bool WebViewJavascriptBridgeBase::isWebViewJavascriptBridgeURL(std::string_view url) const {
    return isBridgeLoadedURL(url) || isQueueMessageURL(url);
}

bool WebViewJavascriptBridgeBase::isQueueMessageURL(std::string_view url) const {
    auto host = bridgeHost(url);
    return host && *host == wvjb::kQueueHasMessage;
}

bool WebViewJavascriptBridgeBase::isBridgeLoadedURL(std::string_view url) const {
    auto host = bridgeHost(url);
    return host && *host == wvjb::kBridgeLoaded;
}

std::string WebViewJavascriptBridgeBase::webViewJavascriptCheckCommand() {
    return "typeof WebViewJavascriptBridge == 'object';";
}

std::string WebViewJavascriptBridgeBase::webViewJavascriptFetchQueyCommand() {
    return "WebViewJavascriptBridge._fetchQueue();";
}

void WebViewJavascriptBridgeBase::enableLogging() { gLoggingEnabled = true; }

void WebViewJavascriptBridgeBase::setLogMaxLength(int length) { gLogMaxLength = length; }

void WebViewJavascriptBridgeBase::_log(std::string_view action, const kit::Value& json) {
    if (!gLoggingEnabled) return;
    if (const std::string* text = json.asString()) {
        _log(action, std::string_view(*text));
    } else {
        _log(action, std::string_view(kit::toJson(json, kit::JsonWriteOptions{.prettyPrinted = true})));
    }
}

void WebViewJavascriptBridgeBase::_log(std::string_view action, std::string_view text) {
    if (!gLoggingEnabled) return;
    const int maxLength = gLogMaxLength;
    if (maxLength >= 0 && text.size() > static_cast<std::size_t>(maxLength)) {
        std::string_view cut = cutUtf8(text, static_cast<std::size_t>(maxLength));
        kit::logf("WVJB %.*s: %.*s [...]", static_cast<int>(action.size()), action.data(), static_cast<int>(cut.size()),
                  cut.data());
    } else {
        kit::logf("WVJB %.*s: %.*s", static_cast<int>(action.size()), action.data(), static_cast<int>(text.size()),
                  text.data());
    }
}

kit::Result<std::string> WebViewJavascriptBridgeBase::pageScript() {
    static std::mutex mutex;
    static std::optional<std::string> cached;
    std::lock_guard lock(mutex);
    if (cached) return *cached;
    const auto path = kit::paths::resourcesDirectory() / "bridge" / "WebViewJavascriptBridge.js";
    std::ifstream file(path, std::ios::binary);
    if (!file) return kit::Error{"cannot open " + path.string()};
    std::ostringstream text;
    text << file.rdbuf();
    if (!file.good() && !file.eof()) return kit::Error{"cannot read " + path.string()};
    if (text.str().empty()) return kit::Error{path.string() + " is empty"};
    cached = text.str();
    return *cached;
}
