#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"
#include "kit/base/Log.h"

namespace kit {
namespace {

// Two signals added to plain GObjects for these tests: one that answers an int, one that
// answers nothing.
guint askSignal() {
    static const guint id = g_signal_new("kit-test-ask", G_TYPE_OBJECT, G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                         nullptr, G_TYPE_INT, 1, G_TYPE_INT);
    return id;
}
guint tellSignal() {
    static const guint id = g_signal_new("kit-test-tell", G_TYPE_OBJECT, G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                         nullptr, G_TYPE_NONE, 1, G_TYPE_STRING);
    return id;
}

int ask(GObject* object, int question) {
    int answer = -1;
    g_signal_emit(object, askSignal(), 0, question, &answer);
    return answer;
}
void tell(GObject* object, const char* text) { g_signal_emit(object, tellSignal(), 0, text); }

GRef<GObject> newObject() {
    askSignal();
    tellSignal();
    return GRef<GObject>::adopt(static_cast<GObject*>(g_object_new(G_TYPE_OBJECT, nullptr)));
}

TEST(GSignalTest, HandlersGetTheTypedArgumentsAndAnswerUntilTheirConnectionGoes) {
    auto object = newObject();
    std::string heard;
    {
        SignalConnections signals;
        signals.connect(object.get(), "kit-test-ask", [](GObject*, int question) { return question * 2; });
        signals.connect(object.get(), "kit-test-tell", [&](GObject* sender, const char* text) {
            heard += text;
            EXPECT_EQ(sender, object.get());
        });
        EXPECT_EQ(signals.size(), 2u);
        EXPECT_EQ(ask(object.get(), 21), 42);
        tell(object.get(), "hello");
        EXPECT_EQ(heard, "hello");

        // A connection moved elsewhere stays connected; the moved-from one owns nothing.
        auto single = SignalConnection::connect(object.get(), "kit-test-tell", [&](GObject*, const char*) { heard += "!"; });
        SignalConnection moved = std::move(single);
        EXPECT_FALSE(single.isConnected());  // NOLINT(bugprone-use-after-move): the moved-from state is what is checked
        EXPECT_TRUE(moved.isConnected());
        tell(object.get(), "a");
        EXPECT_EQ(heard, "helloa!");
        moved.disconnect();
        EXPECT_FALSE(moved.isConnected());
        moved.disconnect();  // twice is harmless
        tell(object.get(), "b");
        EXPECT_EQ(heard, "helloa!b");
    }
    // The list went: nothing answers any more.
    EXPECT_EQ(ask(object.get(), 21), 0);
    tell(object.get(), "c");
    EXPECT_EQ(heard, "helloa!b");

    // An unknown signal (GLib warns) makes no connection.
    SignalConnections none;
    none.connect(object.get(), "no-such-signal", [](GObject*) {});
    EXPECT_EQ(none.size(), 0u);
}

TEST(GSignalTest, AnInstanceThatGoesFirstLeavesItsConnectionsHarmless) {
    SignalConnections signals;
    SignalConnection single;
    int calls = 0;
    {
        auto object = newObject();
        signals.connect(object.get(), "kit-test-tell", [&](GObject*, const char*) { ++calls; });
        single = SignalConnection::connect(object.get(), "kit-test-tell", [&](GObject*, const char*) { ++calls; });
        tell(object.get(), "x");
        EXPECT_EQ(calls, 2);
        EXPECT_TRUE(single.isConnected());
    }
    // The instance is gone: the connections know, and disconnecting them touches nothing
    // (the sanitizer build would see a use after free).
    EXPECT_FALSE(single.isConnected());
    single.disconnect();
    signals.disconnectAll();
    EXPECT_EQ(signals.size(), 0u);
}

TEST(GSignalTest, HandlerMayDisconnectItselfAndExceptionsStopAtTheCBoundary) {
    auto object = newObject();
    LogCapture capture(true);
    const struct {
        const char* what;
        bool throwsStd;
        int expected;
    } cases[] = {{"a standard exception answers the fallback", true, 7}, {"any other exception too", false, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto connection = SignalConnection::connect(
            object.get(), "kit-test-ask",
            [&](GObject*, int) -> int {
                if (c.throwsStd) throw std::runtime_error("broken handler");
                throw 5;
            },
            7);
        EXPECT_EQ(ask(object.get(), 1), c.expected);
    }
    EXPECT_EQ(capture.count("Uncaught exception in the handler of \"kit-test-ask\""), 2u);
    EXPECT_TRUE(capture.contains("broken handler"));

    // Without a fallback a throwing handler answers the value-initialised result; a handler that
    // answers nothing just stops.
    auto asking = SignalConnection::connect(object.get(), "kit-test-ask", [](GObject*, int) -> int { throw 1; });
    EXPECT_EQ(ask(object.get(), 1), 0);
    asking.disconnect();
    auto telling = SignalConnection::connect(object.get(), "kit-test-tell", [](GObject*, const char*) { throw 1; });
    tell(object.get(), "x");
    EXPECT_EQ(capture.count("\"kit-test-tell\""), 1u);
    telling.disconnect();

    // A handler that ends its own connection while it runs is not called again, and its
    // captures stay valid until it returns.
    SignalConnection self;
    int calls = 0;
    self = SignalConnection::connect(object.get(), "kit-test-tell", [&, text = std::string("kept")](GObject*, const char*) {
        ++calls;
        self.disconnect();
        EXPECT_EQ(text, "kept");
    });
    tell(object.get(), "x");
    tell(object.get(), "y");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(self.isConnected());
}

}  // namespace
}  // namespace kit
