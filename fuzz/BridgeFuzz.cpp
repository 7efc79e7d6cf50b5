// Arbitrary text as the page's fetched message queue. Handlers answer, page answers meet waiting
// callbacks, and the same text is tried as a signal address. Nothing may crash or leak.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/web/WebViewJavascriptBridgeBase.h"
#include "kit/base/Log.h"

namespace {

class DiscardingPage : public WebViewJavascriptBridgeBaseDelegate {
public:
    std::string _evaluateJavascript(const std::string& script) override {
        bytes += script.size();
        return {};
    }
    std::size_t bytes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kit::LogCapture quiet(true);
    quiet.clear();
    const std::string text(reinterpret_cast<const char*>(data), size);

    DiscardingPage page;
    WebViewJavascriptBridgeBase engine;
    engine.delegate = &page;
    // Before injection answers wait in the start-up queue; after it they are dispatched.
    const bool injectFirst = size % 2 == 0;
    if (injectFirst) engine.injectJavascriptFile();

    WVJBResponseCallback kept;
    engine.registerHandler("h", [&](const kit::Value& value, const WVJBResponseCallback& answer) {
        answer(value);
        kept = answer;
    });
    engine.registerHandler("reset", [&](const kit::Value&, const WVJBResponseCallback& answer) {
        engine.reset();
        answer(kit::Value("stale"));
    });
    for (int i = 0; i < 3; ++i) engine.sendData(kit::Value(i), [](const kit::Value&) {}, "Ask");

    engine.flushMessageQueue(text);
    if (kept) kept(kit::Value("again"));
    engine.injectJavascriptFile();

    (void)engine.isBridgeLoadedURL(text);
    (void)engine.isQueueMessageURL(text);
    return 0;
}
