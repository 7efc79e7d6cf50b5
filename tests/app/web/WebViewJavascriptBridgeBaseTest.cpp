#include "app/web/WebViewJavascriptBridgeBase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kit/base/Json.h"
#include "kit/base/Log.h"
#include "tests/app/web/BridgeTestSupport.h"

using bridgetest::messageOfScript;
using kit::Value;

namespace {

class BridgeEngineTest : public ::testing::Test {
protected:
    BridgeEngineTest() { engine.delegate = &page; }

    // Injects the page script and forgets what was evaluated so far.
    void inject() {
        engine.injectJavascriptFile();
        page.scripts.clear();
    }

    std::vector<Value> sentMessages() const {
        std::vector<Value> out;
        for (const auto& script : page.scripts) out.push_back(messageOfScript(script));
        return out;
    }

    bridgetest::RecordingEvaluator page;
    WebViewJavascriptBridgeBase engine;
};

TEST_F(BridgeEngineTest, CallbackIdentifiersCountFromOneAndStartAgainAfterReset) {
    inject();
    auto ignore = [](const Value&) {};
    engine.sendData(Value("a"), ignore, "First");
    engine.sendData(Value(), nullptr, "NoCallback");
    engine.sendData(Value(), ignore, "Second");
    auto sent = sentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0]["callbackId"], Value("objc_cb_1"));
    EXPECT_TRUE(sent[1]["callbackId"].isNull());
    EXPECT_EQ(sent[2]["callbackId"], Value("objc_cb_2"));
    EXPECT_EQ(engine.waitingCallbackCount(), 2u);

    engine.reset();
    EXPECT_EQ(engine.waitingCallbackCount(), 0u);
    EXPECT_EQ(engine.uniqueId(), 0);
    inject();
    engine.sendData(Value(), ignore, "AfterReset");
    sent = sentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["callbackId"], Value("objc_cb_1"));
}

TEST_F(BridgeEngineTest, MessagesHoldOnlyWhatWasGiven) {
    inject();
    engine.sendData(Value(), nullptr, "OnlyName");
    engine.sendData(Value(), nullptr, "NullDataCountsAsNone");
    engine.sendData(Value(kit::Dictionary{{"k", 1}}), nullptr, std::nullopt);
    auto sent = sentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], Value(kit::Dictionary{{"handlerName", "OnlyName"}}));
    EXPECT_EQ(sent[1], Value(kit::Dictionary{{"handlerName", "NullDataCountsAsNone"}}));
    EXPECT_EQ(sent[2], Value(kit::Dictionary{{"data", kit::Dictionary{{"k", 1}}}}));
}

TEST(BridgeEngineEscaping, EscapesEachSpecialCharacterInTheScriptStringForm) {
    std::string out;
    WebViewJavascriptBridgeBase::appendEscapedForJavascriptString(
        "a\\b\"c'd\ne\rf\fg\xE2\x80\xA8h\xE2\x80\xA9i\xE2\x80\xA7j", out);
    EXPECT_EQ(out, R"(a\\b\"c\'d\ne\rf\fg\u2028h\u2029i)"
                   "\xE2\x80\xA7j");
}

TEST(BridgeEngineEscaping, EveryListedSpecialCharacterSurvivesTheRoundTrip) {
    const std::vector<std::string> specials = {
        "\\", "\"", "'", "\n", "\r", "\f", "\xE2\x80\xA8", "\xE2\x80\xA9", "/",
    };
    std::string everything;
    for (const auto& special : specials) everything += "<" + special + ">";
    std::vector<std::string> samples = specials;
    samples.push_back(everything);
    samples.push_back("');alert(1);('");
    samples.push_back("\\');x=('\\\\");
    samples.push_back("</script><b>\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80\t\b\x01");
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample);
        kit::Dictionary data{{"text", sample}, {sample, "as key"}, {"list", kit::Array{sample, 1, true}}};
        auto script = WebViewJavascriptBridgeBase::javascriptForMessage(
            Value(kit::Dictionary{{"data", data}, {"handlerName", "Echo"}}));
        auto json = bridgetest::jsonOfMessageScript(script);
        ASSERT_TRUE(json) << script;
        auto parsed = kit::parseJson(*json);
        ASSERT_TRUE(parsed) << *json;
        EXPECT_EQ((*parsed)["data"], Value(data));
        EXPECT_EQ((*parsed)["handlerName"], Value("Echo"));
        if (sample.find('/') != std::string::npos) {
            EXPECT_NE(json->find("\\/"), std::string::npos) << *json;
        }
    }
}

TEST_F(BridgeEngineTest, StartupQueueIsDeliveredInOrderRightAfterInjection) {
    engine.sendData(Value(1), nullptr, "One");
    engine.sendData(Value(2), [](const Value&) {}, "Two");
    engine.sendData(Value(3), nullptr, "Three");
    EXPECT_TRUE(page.scripts.empty());
    EXPECT_EQ(engine.startupQueueSize(), 3u);

    engine.injectJavascriptFile();
    auto pageScript = WebViewJavascriptBridgeBase::pageScript();
    ASSERT_TRUE(pageScript) << pageScript.error();
    ASSERT_EQ(page.scripts.size(), 4u);
    EXPECT_EQ(page.scripts[0], *pageScript);
    EXPECT_EQ(messageOfScript(page.scripts[1])["handlerName"], Value("One"));
    EXPECT_EQ(messageOfScript(page.scripts[2])["handlerName"], Value("Two"));
    EXPECT_EQ(messageOfScript(page.scripts[3])["handlerName"], Value("Three"));
    EXPECT_FALSE(engine.hasStartupQueue());

    // After injection messages go at once; a second injection evaluates the script only.
    engine.sendData(Value(4), nullptr, "Four");
    ASSERT_EQ(page.scripts.size(), 5u);
    EXPECT_EQ(messageOfScript(page.scripts[4])["handlerName"], Value("Four"));
    engine.injectJavascriptFile();
    ASSERT_EQ(page.scripts.size(), 6u);
    EXPECT_EQ(page.scripts[5], *pageScript);
}

TEST_F(BridgeEngineTest, ResetMakesANewStartupQueueAndDropsWaitingCallbacks) {
    inject();
    int answered = 0;
    engine.sendData(Value(), [&](const Value&) { ++answered; }, "Ask");
    engine.reset();
    engine.sendData(Value("later"), nullptr, "Later");
    EXPECT_EQ(page.scripts.size(), 1u);  // only the first, sent before the reset
    engine.flushMessageQueue(R"([{"responseId":"objc_cb_1","responseData":1}])");
    EXPECT_EQ(answered, 0);
    inject();
    EXPECT_TRUE(page.scripts.empty());  // cleared by inject(): the queued message went with it
    engine.sendData(Value(), nullptr, "Now");
    ASSERT_EQ(page.scripts.size(), 1u);
}

TEST_F(BridgeEngineTest, PageCallsReachHandlersAndAnswersGoBack) {
    inject();
    std::vector<Value> received;
    engine.registerHandler("Echo", [&](const Value& data, const WVJBResponseCallback& answer) {
        received.push_back(data);
        answer(data);
    });
    engine.registerHandler("AnswersNil", [&](const Value&, const WVJBResponseCallback& answer) { answer(Value()); });
    engine.registerHandler("NoAnswerWanted", [&](const Value& data, const WVJBResponseCallback& answer) {
        received.push_back(data);
        answer(Value("ignored"));
    });

    engine.flushMessageQueue(R"([{"handlerName":"Echo","data":{"x":"a/b"},"callbackId":"cb_1_100"},)"
                             R"({"handlerName":"AnswersNil","callbackId":"cb_2_100"},)"
                             R"({"handlerName":"NoAnswerWanted","data":[1,2]}])");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], Value(kit::Dictionary{{"x", "a/b"}}));
    EXPECT_EQ(received[1], Value(kit::Array{1, 2}));

    auto sent = sentMessages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], Value(kit::Dictionary{{"responseId", "cb_1_100"}, {"responseData", kit::Dictionary{{"x", "a/b"}}}}));
    // A nil answer is sent as JSON null, and the member is present.
    auto json = bridgetest::jsonOfMessageScript(page.scripts[1]);
    ASSERT_TRUE(json);
    EXPECT_NE(json->find("\"responseData\":null"), std::string::npos) << *json;
    EXPECT_EQ(sent[1]["responseId"], Value("cb_2_100"));
}

TEST_F(BridgeEngineTest, AnswersFromThePageReachTheirCallbackOnce) {
    inject();
    std::vector<Value> answers;
    engine.sendData(Value(), [&](const Value& v) { answers.push_back(v); }, "First");
    engine.sendData(Value(), [&](const Value& v) { answers.push_back(v); }, "Second");
    engine.flushMessageQueue(R"([{"responseId":"objc_cb_2"},{"responseId":"objc_cb_1","responseData":{"ok":true}},)"
                             R"({"responseId":"objc_cb_1","responseData":"again"},{"responseId":"objc_cb_9"}])");
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_TRUE(answers[0].isNull());  // no "responseData": the callback gets no value
    EXPECT_EQ(answers[1], Value(kit::Dictionary{{"ok", true}}));
    EXPECT_EQ(engine.waitingCallbackCount(), 0u);
}

TEST_F(BridgeEngineTest, AnUnhandledMessageDoesNotStopTheRestOfTheQueue) {
    inject();
    kit::LogCapture log;
    int calls = 0;
    engine.registerHandler("Known", [&](const Value&, const WVJBResponseCallback&) { ++calls; });
    engine.flushMessageQueue(R"([{"handlerName":"Unknown","callbackId":"cb_1_1"},{"handlerName":"Known"}])");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(log.contains("WVJBNoHandlerException, No handler for message from JS:"));
    EXPECT_TRUE(page.scripts.empty());  // nothing answers an unhandled message
}

TEST_F(BridgeEngineTest, MalformedQueuesAreLoggedAndIgnored) {
    inject();
    int calls = 0;
    engine.registerHandler("h", [&](const Value&, const WVJBResponseCallback& answer) {
        ++calls;
        answer(Value(1));
    });
    struct Case {
        std::optional<std::string> text;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "ObjC got nil while fetching the message queue JSON"},
        {"", "ObjC got nil while fetching the message queue JSON"},
        {"not json at all", "message queue is not valid JSON"},
        {"[{\"handlerName\":\"h\"}", "message queue is not valid JSON"},
        {"{\"handlerName\":\"h\"}", "message queue is not an array"},
        {"3", "message queue is not an array"},
        {"\"[]\"", "message queue is not an array"},
        {"null", "message queue is not an array"},
        {"[1]", "WebViewJavascriptBridge: WARNING: Invalid "},
        {"[\"text\"]", "WebViewJavascriptBridge: WARNING: Invalid "},
        {"[null]", "WebViewJavascriptBridge: WARNING: Invalid "},
        {"[[{\"handlerName\":\"h\"}]]", "WebViewJavascriptBridge: WARNING: Invalid "},
        {"[{\"handlerName\":7}]", "WVJBNoHandlerException"},
        {"[{\"handlerName\":\"h\",\"callbackId\":12}]", "Invalid callbackId received"},
        {"[{\"responseId\":{\"a\":1}}]", "Invalid responseId received"},
        {std::string(100000, '['), "message queue is not valid JSON"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text->substr(0, 60) : std::string("(none)"));
        kit::LogCapture log;
        engine.flushMessageQueue(c.text);
        EXPECT_TRUE(log.contains(c.logged)) << (log.lines().empty() ? "(no log)" : log.lines().back());
    }
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(page.scripts.empty());

    // Bad elements are skipped one by one; the good ones around them still run.
    kit::LogCapture log;
    engine.flushMessageQueue(R"([5,{"handlerName":"h","callbackId":"cb_1_1"},"x",{"handlerName":"h"}])");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(log.count("WebViewJavascriptBridge: WARNING: Invalid "), 2u);
    EXPECT_EQ(page.scripts.size(), 1u);
}

TEST_F(BridgeEngineTest, AnswersMadeBeforeAResetAreDropped) {
    inject();
    WVJBResponseCallback kept;
    engine.registerHandler("Later", [&](const Value&, WVJBResponseCallback answer) { kept = std::move(answer); });
    engine.flushMessageQueue(R"([{"handlerName":"Later","callbackId":"cb_1_1"}])");
    ASSERT_TRUE(kept);
    engine.reset();
    kept(Value("late"));
    EXPECT_EQ(engine.startupQueueSize(), 0u);
    inject();
    EXPECT_TRUE(page.scripts.empty());
}

TEST(BridgeEngineLifetime, AHandlerMayReleaseTheEngineInTheMiddleOfAQueue) {
    bridgetest::RecordingEvaluator page;
    auto engine = std::make_unique<WebViewJavascriptBridgeBase>();
    engine->delegate = &page;
    engine->injectJavascriptFile();
    int calls = 0;
    WVJBResponseCallback kept;
    engine->registerHandler("Close", [&](const Value&, WVJBResponseCallback answer) {
        ++calls;
        kept = std::move(answer);
        engine.reset();
    });
    engine->flushMessageQueue(R"([{"handlerName":"Close","callbackId":"cb_1_1"},{"handlerName":"Close"}])");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(engine);
    kept(Value("after release"));  // must do nothing
}

TEST(BridgeAddresses, SignalAddressesAreRecognisedByLowerCasedSchemeAndHost) {
    WebViewJavascriptBridgeBase engine;
    struct Case {
        const char* address;
        bool loaded;
        bool queue;
    };
    const Case cases[] = {
        {"https://__bridge_loaded__", true, false},
        {"https://__bridge_loaded__/", true, false},
        {"HTTPS://__BRIDGE_LOADED__", true, false},
        {"wvjbscheme://__bridge_loaded__", true, false},
        {"WvjbScheme://__Bridge_Loaded__/x?y#z", true, false},
        {"wvjbscheme://__wvjb_queue_message__", false, true},
        {"https://__WVJB_QUEUE_MESSAGE__/", false, true},
        {"http://__bridge_loaded__", false, false},
        {"http://__wvjb_queue_message__", false, false},
        {"ftp://__bridge_loaded__", false, false},
        {"https://example.com/__bridge_loaded__", false, false},
        {"https://__bridge_loaded__.example.com", false, false},
        {"https://x.__wvjb_queue_message__", false, false},
        {"__bridge_loaded__", false, false},
        {"", false, false},
        {"https://", false, false},
        {"about:blank", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(engine.isBridgeLoadedURL(c.address), c.loaded);
        EXPECT_EQ(engine.isQueueMessageURL(c.address), c.queue);
        EXPECT_EQ(engine.isWebViewJavascriptBridgeURL(c.address), c.loaded || c.queue);
    }
}

TEST(BridgeEngineLogging, TrafficIsLoggedOnlyOnceEnabledAndCutToTheMaximumLength) {
    bridgetest::RecordingEvaluator page;
    WebViewJavascriptBridgeBase engine;
    engine.delegate = &page;
    engine.injectJavascriptFile();
    engine.registerHandler("h", [](const Value&, const WVJBResponseCallback&) {});
    {
        kit::LogCapture log;
        engine.sendData(Value("quiet"), nullptr, "Quiet");
        EXPECT_EQ(log.count("WVJB "), 0u);
    }
    WebViewJavascriptBridgeBase::enableLogging();
    WebViewJavascriptBridgeBase::setLogMaxLength(40);
    kit::LogCapture log;
    engine.sendData(Value("a/b"), nullptr, "Short");
    engine.sendData(Value(std::string(100, 'x')), nullptr, "Long");
    engine.flushMessageQueue(R"([{"handlerName":"h"}])");
    WebViewJavascriptBridgeBase::setLogMaxLength(500);
    ASSERT_EQ(log.count("WVJB "), 3u) << ::testing::PrintToString(log.lines());
    EXPECT_TRUE(log.contains(R"(WVJB SEND: {"data":"a\/b","handlerName":"Short"})"));
    EXPECT_TRUE(log.contains(R"(WVJB SEND: {"data":")" + std::string(31, 'x') + " [...]"));
    EXPECT_TRUE(log.contains("WVJB RCVD: {"));
}

TEST(BridgeEngineCommands, CheckAndFetchScripts) {
    EXPECT_EQ(WebViewJavascriptBridgeBase::webViewJavascriptCheckCommand(), "typeof WebViewJavascriptBridge == 'object';");
    EXPECT_EQ(WebViewJavascriptBridgeBase::webViewJavascriptFetchQueyCommand(), "WebViewJavascriptBridge._fetchQueue();");
}

}  // namespace
