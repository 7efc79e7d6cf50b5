#pragma once
// The bridge engine: handler table, waiting answer callbacks, the start-up queue, the encoding of
// a message into the script that carries it into the page, and the flush of the page's queue.
// It knows nothing of web views: scripts leave through its delegate.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/base/Value.h"

// An answer; a null value stands for "no answer value".
using WVJBResponseCallback = std::function<void(const kit::Value& responseData)>;
// A handler gets the message's "data" (null when absent) and a callback that answers once.
using WVJBHandler = std::function<void(const kit::Value& data, WVJBResponseCallback responseCallback)>;

class WebViewJavascriptBridgeBaseDelegate {
public:
    virtual ~WebViewJavascriptBridgeBaseDelegate() = default;
    // Evaluates a script in the page; returns its result text where the web view gives one
    // synchronously, else the empty string.
    virtual std::string _evaluateJavascript(const std::string& javascriptCommand) = 0;
};

class WebViewJavascriptBridgeBase {
public:
    WebViewJavascriptBridgeBase();
    ~WebViewJavascriptBridgeBase();
    WebViewJavascriptBridgeBase(const WebViewJavascriptBridgeBase&) = delete;
    WebViewJavascriptBridgeBase& operator=(const WebViewJavascriptBridgeBase&) = delete;

    // Not owned: the facade owns the engine and outlives it.
    WebViewJavascriptBridgeBaseDelegate* delegate = nullptr;

    // Handlers that pages may call; registering a name again replaces its handler.
    void registerHandler(const std::string& handlerName, WVJBHandler handler);
    void removeHandler(const std::string& handlerName);
    bool hasHandler(const std::string& handlerName) const;

    // New empty start-up queue, no waiting callbacks, counter 0. Handlers stay. Answers that
    // handlers give after a reset belong to the page that is gone and are dropped.
    void reset();

    // Sends a message: "data" unless it is null (nil), a fresh "callbackId" when a callback is
    // given, "handlerName" when given. Queued until injection, then dispatched at once. The
    // message is written as JSON here: the data is not kept.
    void sendData(const kit::Value& data, WVJBResponseCallback responseCallback,
                  std::optional<std::string_view> handlerName);

    // The start-up queue is bounded: a page that never asks for the bridge must not gather
    // calls without end, nor get a pile of stale ones at once when it finally asks. A message
    // whose supersede key (below) is not empty replaces the queued messages with the same key
    // (only the latest state is worth delivering); past the limit the oldest messages are
    // dropped. A dropped message's answer callback goes with it.
    static constexpr std::size_t kDefaultStartupQueueLimit = 16;
    void setStartupQueueLimit(std::size_t limit) { startupQueueLimit_ = limit == 0 ? 1 : limit; }
    std::size_t startupQueueLimit() const { return startupQueueLimit_; }
    using SupersedeKey = std::function<std::string(std::string_view handlerName, const kit::Value& data)>;
    void setStartupQueueSupersedeKey(SupersedeKey key) { supersedeKey_ = std::move(key); }

    // The origin ("scheme://host[:port]", as the page's location.origin writes it) of the only
    // documents that may receive messages; empty: any. The script that carries a message checks
    // it in the page itself, so a message evaluated after the page process has moved on to a
    // document of another origin, before the application hears of it, goes nowhere.
    void setPageOrigin(std::string origin) { pageOrigin_ = std::move(origin); }
    const std::string& pageOrigin() const { return pageOrigin_; }
    // The script evaluated in the page for a message's script: guarded by the page origin.
    std::string deliveryScript(std::string_view messageScript) const;

    // Handles the queue text fetched from the page. Any text is safe: what is not a well-formed
    // message is logged and skipped.
    void flushMessageQueue(const std::optional<std::string>& messageQueueString);

    // Evaluates the page script, then dispatches the start-up queue in order.
    void injectJavascriptFile();

    bool isWebViewJavascriptBridgeURL(std::string_view url) const;
    bool isQueueMessageURL(std::string_view url) const;
    bool isBridgeLoadedURL(std::string_view url) const;

    static std::string webViewJavascriptCheckCommand();
    static std::string webViewJavascriptFetchQueyCommand();

    // Process-wide logging of the traffic (off unless enabled).
    static void enableLogging();
    static void setLogMaxLength(int length);

    // The script that carries a message into the page. The message is written as compact JSON
    // (with "/" escaped) and escaped for a single-quoted script string.
    static std::string javascriptForMessage(const kit::Value& message);
    static std::string javascriptForMessageJson(std::string_view messageJson);
    // Appends `text` escaped for a single-quoted script string.
    static void appendEscapedForJavascriptString(std::string_view text, std::string& out);

    // The page script, read once from the resources folder.
    static kit::Result<std::string> pageScript();

    // State, for tests and the facades.
    std::size_t startupQueueSize() const { return startupMessageQueue_ ? startupMessageQueue_->size() : 0; }
    bool hasStartupQueue() const { return startupMessageQueue_.has_value(); }
    std::size_t waitingCallbackCount() const { return responseCallbacks_.size(); }
    std::int64_t uniqueId() const { return uniqueId_; }

private:
    // A message ready for the page: its script, and its JSON text only while logging is on.
    struct OutgoingMessage {
        std::string script;
        std::string json;
        // Kept while the message waits in the start-up queue.
        std::string handlerName;
        std::string callbackId;
        std::string supersedeKey;
    };
    void dropQueued(const OutgoingMessage& message, const char* why);
    class MessageWriter;
    void queueMessage(OutgoingMessage message);
    void _dispatchMessage(const OutgoingMessage& message) const;
    void flushMessage(const kit::Value& element, const kit::LifetimeWatch& alive);
    static void _log(std::string_view action, const kit::Value& json);
    static void _log(std::string_view action, std::string_view text);

    std::unordered_map<std::string, WVJBHandler> messageHandlers_;
    std::unordered_map<std::string, WVJBResponseCallback> responseCallbacks_;
    std::optional<std::vector<OutgoingMessage>> startupMessageQueue_;
    std::int64_t uniqueId_ = 0;
    std::size_t startupQueueLimit_ = kDefaultStartupQueueLimit;
    SupersedeKey supersedeKey_;
    std::string pageOrigin_;
    // Bumped by reset(): answers made for an earlier page check it.
    std::uint64_t generation_ = 0;
    // Expires with the engine; callbacks handed out hold it weakly.
    kit::Lifetime alive_;
};

// Bridge signal addresses: scheme "https" or "wvjbscheme" and one of the two hosts, both compared
// lower-cased.
namespace wvjb {
inline constexpr const char* kBridgeLoaded = "__bridge_loaded__";
inline constexpr const char* kQueueHasMessage = "__wvjb_queue_message__";
inline constexpr const char* kQueueMessageAddress = "wvjbscheme://__wvjb_queue_message__";
inline constexpr const char* kBridgeLoadedAddress = "https://__bridge_loaded__";
}  // namespace wvjb
