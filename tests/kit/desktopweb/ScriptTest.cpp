// Script evaluation in real pages: every kind of result, errors, and results in the order the
// scripts were given.

#include "WebTestSupport.h"

namespace kit::testing {
namespace {

using ScriptTest = WebEngineTest;

TEST_F(ScriptTest, ResultsOfEachKindBecomeValues) {
    server.page("/page.html", "<title>scripts</title><body><p id='p'>text</p></body>");
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto view = makeWebView(delegate);
    ASSERT_TRUE(loadAndWait(*view, server.url("/page.html"), *delegate));

    struct Case {
        const char* script;
        Value expected;
    };
    const Case cases[] = {
        {"document.getElementById('p').textContent + ' \\u00e9\\u2028'", Value("text \u00e9\u2028")},
        {"6 * 7", Value(42)},
        {"1 / 4", Value(0.25)},
        {"3 > 2", Value(true)},
        {"undefined", Value()},
        {"null", Value()},
        {"void document.title", Value()},
        {"[1, 'two', [false], null]", Value(Array{Value(1), Value("two"), Value(Array{Value(false)}), Value()})},
        {"({ name: 'x', nested: { n: 1.5 }, list: [] })",
         Value(Dictionary{{"name", "x"}, {"nested", Dictionary{{"n", 1.5}}}, {"list", Array{}}})},
    };
    for (const Case& c : cases) {
        auto result = evaluate(*view, c.script);
        ASSERT_TRUE(result) << c.script;
        ASSERT_TRUE(result->ok()) << c.script << ": " << result->error();
        EXPECT_EQ(**result, c.expected) << c.script;
    }
}

TEST_F(ScriptTest, ExceptionsAndUnsupportedResultsAreErrors) {
    auto view = makeWebView();
    auto thrown = evaluate(*view, "throw new Error('boom')");
    ASSERT_TRUE(thrown);
    ASSERT_FALSE(thrown->ok());
    EXPECT_NE(thrown->error().find("boom"), std::string::npos) << thrown->error();

    auto syntax = evaluate(*view, "this is not javascript");
    ASSERT_TRUE(syntax);
    EXPECT_FALSE(syntax->ok());

    auto function = evaluate(*view, "(function () {})");
    ASSERT_TRUE(function);
    EXPECT_FALSE(function->ok());

    // The page is still usable afterwards.
    auto after = evaluate(*view, "'still here'");
    ASSERT_TRUE(after && after->ok());
    EXPECT_EQ(**after, Value("still here"));
}

TEST_F(ScriptTest, ScriptsRunAndAnswerInTheOrderGiven) {
    auto view = makeWebView();
    // Fire-and-forget scripts run in order with the others.
    view->evaluateJavaScript("window.trail = [];");
    std::vector<std::int64_t> answers;
    for (int i = 0; i < 40; ++i) {
        // Every other script is slower, which must not let the next one overtake it.
        const std::string script = i % 2 ? "window.trail.push(" + std::to_string(i) + "); " + std::to_string(i)
                                         : "for (var k = 0; k < 200000; ++k) {} window.trail.push(" + std::to_string(i) +
                                               "); " + std::to_string(i);
        view->evaluateJavaScript(script, [&](const ScriptResult& r) { answers.push_back(r.ok() ? r->integerValue() : -1); });
    }
    ASSERT_TRUE(waitFor([&] { return answers.size() == 40; }));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(answers[i], i);
    auto trail = evaluate(*view, "window.trail.join(',')");
    ASSERT_TRUE(trail && trail->ok());
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += (i ? "," : "") + std::to_string(i);
    EXPECT_EQ(**trail, Value(expected));
}

TEST_F(ScriptTest, APendingScriptOfAClosedViewIsAnsweredWithAnError) {
    auto view = makeWebView();
    std::optional<ScriptResult> result;
    view->evaluateJavaScript("new Promise(function () {}); 1", [&](const ScriptResult& r) { result = r; });
    view.reset();
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok());
}

}  // namespace
}  // namespace kit::testing
