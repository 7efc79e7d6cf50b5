// The application side of the page-script test: runs the bridge engine on what the node test
// hands it on standard input and prints, one per line, the scripts the engine evaluates.
//   send   stdin: a JSON array of {"handlerName", "data", "callback": bool}; each is sent
//   flush  stdin: a queue text fetched from the page; "NativeEcho" answers {"echo": data},
//          "NativeSilent" answers nil
// The page script itself is not printed. Exit status 2 on bad use.

#include <iostream>
#include <iterator>
#include <string>

#include "app/web/WebViewJavascriptBridgeBase.h"
#include "kit/base/Json.h"

namespace {

class PrintingEvaluator : public WebViewJavascriptBridgeBaseDelegate {
public:
    std::string _evaluateJavascript(const std::string& script) override {
        if (skipNext) {
            skipNext = false;
            return {};
        }
        std::cout << script << '\n';
        return {};
    }
    bool skipNext = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string mode = argv[1];
    const std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};

    PrintingEvaluator page;
    WebViewJavascriptBridgeBase engine;
    engine.delegate = &page;
    page.skipNext = true;
    engine.injectJavascriptFile();
    if (page.skipNext) {
        std::cerr << "page script missing\n";
        return 2;
    }

    if (mode == "send") {
        auto messages = kit::parseJson(input);
        if (!messages || !messages->isArray()) return 2;
        for (const kit::Value& message : *messages->asArray()) {
            std::optional<std::string> handlerName;
            if (const std::string* name = message["handlerName"].asString()) handlerName = *name;
            WVJBResponseCallback callback;
            if (message["callback"].boolValue()) callback = [](const kit::Value&) {};
            engine.sendData(message["data"], std::move(callback), handlerName);
        }
        return 0;
    }
    if (mode == "flush") {
        engine.registerHandler("NativeEcho", [](const kit::Value& data, const WVJBResponseCallback& answer) {
            answer(kit::Value(kit::Dictionary{{"echo", data}}));
        });
        engine.registerHandler("NativeSilent",
                               [](const kit::Value&, const WVJBResponseCallback& answer) { answer(kit::Value()); });
        engine.flushMessageQueue(input);
        return 0;
    }
    return 2;
}
