// The pages of the AI service stand-in speak the bridge as an AI page does. A node harness plays
// the application's side (it injects the bridge's page script when the page asks for it, fetches
// the page's queue and answers its calls) against pages served by the stand-in on a socket.

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "kit/base/Json.h"
#include "tests/peers/ServiceThread.h"

namespace peers {
namespace {

struct HarnessRun {
    std::vector<kit::Value> calls;    // page-to-application messages with a handler name
    std::vector<kit::Value> answers;  // the page's answers to application calls
    std::vector<std::string> console;
    std::vector<std::string> navigations;
    kit::Value final;
    std::string problem;

    std::vector<std::string> callNames() const {
        std::vector<std::string> names;
        for (const auto& call : calls) names.push_back(*call["handlerName"].asString());
        return names;
    }
    // The data of the n-th call of that name (0 first); null when there is none.
    kit::Value dataOf(const std::string& name, std::size_t n = 0) const {
        for (const auto& call : calls)
            if (call["handlerName"] == kit::Value(name) && n-- == 0) return call["data"];
        return {};
    }
    std::size_t count(const std::string& name) const {
        std::size_t n = 0;
        for (const auto& call : calls) n += call["handlerName"] == kit::Value(name);
        return n;
    }
    std::optional<kit::Value> answerTo(const std::string& callbackId) const {
        for (const auto& answer : answers)
            if (answer["responseId"] == kit::Value(callbackId)) return answer["responseData"];
        return std::nullopt;
    }
};

class PageBridgeTest : public ::testing::Test {
protected:
    static inline std::unique_ptr<testing::ServiceThread> service;
    static inline std::string node;

    static void SetUpTestSuite() {
        if (gchar* found = g_find_program_in_path("node")) {
            node = found;
            g_free(found);
        }
        service = std::make_unique<testing::ServiceThread>(aiservice::ServiceOptions{});
    }
    static void TearDownTestSuite() { service.reset(); }

    void SetUp() override {
        if (node.empty()) GTEST_SKIP() << "node is not installed";
        ASSERT_TRUE(service->ok()) << service->error();
        ASSERT_EQ(testing::fetch("POST", service->address("/__reset")).status, 200);
    }

    HarnessRun run(const std::string& path, const std::string& scenario) {
        HarnessRun result;
        std::string address = service->address(path);
        std::vector<std::string> args{node, QUARN_PAGE_HARNESS, address, QUARN_BRIDGE_SCRIPT, scenario};
        std::vector<gchar*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        gchar* out = nullptr;
        gchar* err = nullptr;
        gint status = 0;
        GError* error = nullptr;
        if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err, &status, &error)) {
            result.problem = error ? error->message : "cannot run node";
            if (error) g_error_free(error);
            return result;
        }
        std::string output = out ? out : "";
        std::string errors = err ? err : "";
        g_free(out);
        g_free(err);
        if (!g_spawn_check_wait_status(status, nullptr)) result.problem = "the harness failed: " + errors;
        std::size_t start = 0;
        for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
            auto line = kit::parseJson(std::string_view(output).substr(start, end - start));
            if (!line) {
                result.problem += "unreadable harness line; ";
                continue;
            }
            if (const auto* message = (*line)["j2n"].asDictionary()) {
                if (message->contains("responseId")) result.answers.push_back((*line)["j2n"]);
                else result.calls.push_back((*line)["j2n"]);
            } else if (const auto* text = (*line)["console"].asString()) {
                result.console.push_back(*text);
            } else if (const auto* address = (*line)["navigate"].asString()) {
                result.navigations.push_back(*address);
            } else if (!(*line)["final"].isNull()) {
                result.final = (*line)["final"];
            } else if (const auto* failure = (*line)["error"].asString()) {
                result.problem += *failure;
            }
        }
        return result;
    }

    kit::Value status() {
        auto parsed = kit::parseJson(testing::fetch("GET", service->address("/__status")).body);
        return parsed ? *parsed : kit::Value();
    }
};

kit::Value json(const char* text) { return *kit::parseJson(text); }

TEST_F(PageBridgeTest, ChatPageAnnouncesItselfAndShowsWhatItReceives) {
    // A message with everything that could break out of the script string the application builds.
    const char* tricky = R"(it's a \"quote\", a \\ backslash,\na line break, \u2028 and </script><b>)";
    std::string scenario = std::string(R"([
        {"send": "WebShow", "data": {"type": "search", "visible": true}},
        {"waitFor": "WebIsReady"},
        {"send": "SwipeOverMessage", "data": {"type": "search", "message": ")") + tricky + R"("}, "callback": true},
        {"send": "OnFileForAnalyze", "data": {"filePurpose": 14, "requestUrl": "data:image/png;base64,iVBORw0KGgo=", "fileSize": 8, "filePath": "/mac/screenshot.png"}},
        {"send": "SystemDragFile", "data": {"onDrag": 1}},
        {"send": "CommitContinueAsk", "data": {"type": "explain", "session_id": "s-9"}, "callback": true}
    ])";
    HarnessRun page = run("/thirdParty/dorvaka/pmChat?version=6", scenario);
    ASSERT_TRUE(page.problem.empty()) << page.problem;

    // The page asks for the bridge, then announces itself: version, guid, ready from "main".
    auto names = page.callNames();
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ((std::vector<std::string>(names.begin(), names.begin() + 4)),
              (std::vector<std::string>{"GetVersion", "GetGuid", "WebIsReady", "ReportData"}));
    EXPECT_EQ(page.dataOf("WebIsReady"), json(R"({"from": "main"})"));
    EXPECT_EQ(page.dataOf("ReportData")["params"]["cmd"], kit::Value(24100));
    EXPECT_TRUE(page.navigations.empty()) << page.navigations.front();

    // Everything received is listed in order with ids, the call made before the bridge existed first.
    const kit::Value& final = page.final;
    const kit::Array& received = *final["received"].asArray();
    ASSERT_EQ(received.size(), 5u);
    const char* expected[] = {"WebShow", "SwipeOverMessage", "OnFileForAnalyze", "SystemDragFile", "CommitContinueAsk"};
    for (std::size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i]["id"], kit::Value(static_cast<int>(i + 1)));
        EXPECT_EQ(received[i]["handlerName"], kit::Value(expected[i]));
        EXPECT_EQ(final["listIds"].at(i), kit::Value("msg-" + std::to_string(i + 1)));
    }
    EXPECT_EQ(received[1]["data"]["message"], kit::Value("it's a \"quote\", a \\ backslash,\na line break, \u2028 and </script><b>"));
    EXPECT_EQ(final["texts"]["question"], received[1]["data"]["message"]);
    EXPECT_EQ(received[2]["data"]["filePath"], kit::Value("/mac/screenshot.png"));
    EXPECT_EQ(final["texts"]["visibility"], kit::Value("visible"));
    EXPECT_EQ(final["texts"]["drop-hint"], kit::Value("drop the file here"));
    EXPECT_EQ(final["title"], kit::Value("Quarn AI chat [5] CommitContinueAsk"));

    // Calls with a callback are answered once, with {"code": 0}.
    EXPECT_EQ(page.answerTo("objc_cb_1"), std::optional<kit::Value>(json(R"({"code": 0})")));
    EXPECT_EQ(page.answerTo("objc_cb_2"), std::optional<kit::Value>(json(R"({"code": 0})")));
    EXPECT_EQ(page.answers.size(), 2u);

    // The service heard the same traffic, for tests that cannot look into the web view.
    bool heard = false;
    kit::Value report = status();
    for (const auto& event : *report["events"].asArray())
        heard = heard || (event["direction"] == kit::Value("n2j") && event["handlerName"] == kit::Value("SwipeOverMessage") &&
                          event["data"]["message"] == received[1]["data"]["message"]);
    EXPECT_TRUE(heard);
}

TEST_F(PageBridgeTest, EveryPageRegistersEveryApplicationCall) {
    const char* calls[] = {"RequestAuthUser", "RequestLogout", "SwipeWindowClose", "SwipeOverMessage", "WebShow",
                           "CommitContinueAsk", "SystemDragFile", "IsSaved", "LoginEventNotify", "ClientUserChange",
                           "CancelLogin", "OnFileForAnalyze", "HandleFile", "WindowHide"};
    std::string scenario = R"([{"waitFor": "WebIsReady"})";
    for (const char* call : calls) scenario += std::string(R"(, {"send": ")") + call + R"(", "data": {}, "callback": true})";
    scenario += R"(, {"waitFor": "ReportAuthUser", "count": 2}])";
    for (const auto& route : aiservice::pageRoutes()) {
        HarnessRun page = run(std::string(route.path) + "?version=6", scenario);
        ASSERT_TRUE(page.problem.empty()) << route.kind << ": " << page.problem;
        EXPECT_EQ(page.dataOf("WebIsReady")["from"], kit::Value(route.from)) << route.kind;
        for (std::size_t i = 1; i <= std::size(calls); ++i)
            EXPECT_EQ(page.answerTo("objc_cb_" + std::to_string(i)), std::optional<kit::Value>(json(R"({"code": 0})")))
                << route.kind << " " << calls[i - 1];
        for (const auto& line : page.console) EXPECT_EQ(line.find("no handler"), std::string::npos) << route.kind << ": " << line;
        EXPECT_EQ(page.count("ClientIsSaved"), 1u) << route.kind << " answers the saved question";
    }
}

TEST_F(PageBridgeTest, LoginPageLogsTheTestUserInAndEveryPageReportsIt) {
    HarnessRun before = run("/thirdParty/dorvaka/pmChatHome?version=6",
                            R"([{"waitFor": "WebIsReady"}, {"send": "RequestAuthUser", "data": {}}, {"waitFor": "ReportAuthUser"}])");
    ASSERT_TRUE(before.problem.empty()) << before.problem;
    EXPECT_EQ(before.dataOf("WebIsReady"), json(R"({"from": "home"})"));
    EXPECT_EQ(before.dataOf("ReportAuthUser"), json(R"({"state": 1, "avatar": "", "userName": ""})"));

    HarnessRun login = run("/thirdParty/quarn/login?version=6",
                           R"([{"waitFor": "WebIsReady"}, {"click": "login-button"}, {"waitFor": "ReportAuthUser"},
                               {"send": "LoginEventNotify", "data": {"type": "loginin"}},
                               {"send": "ClientUserChange", "data": {"type": "loginin", "visible": false}}])");
    ASSERT_TRUE(login.problem.empty()) << login.problem;
    EXPECT_EQ(login.final["focused"], kit::Value("login-button")) << "Return logs in at once";
    kit::Value reported = login.dataOf("ReportAuthUser");
    EXPECT_EQ(reported["state"], kit::Value(0));
    EXPECT_EQ(reported["userName"], kit::Value("Test User"));
    EXPECT_EQ(reported["avatar"], kit::Value(service->address("/__files/avatar.png")));
    EXPECT_EQ(login.final["texts"]["login-state"], kit::Value("logged in as Test User"));
    EXPECT_EQ(status()["auth"], reported);

    HarnessRun after = run("/thirdParty/dorvaka/pmChatHome?version=6",
                           R"([{"waitFor": "WebIsReady"}, {"send": "RequestAuthUser", "data": {}}, {"waitFor": "ReportAuthUser"}])");
    EXPECT_EQ(after.dataOf("ReportAuthUser"), reported);

    HarnessRun logout = run("/thirdParty/dorvaka/pmChat?version=6",
                            R"([{"waitFor": "WebIsReady"}, {"send": "RequestLogout", "data": {}}, {"waitFor": "ReportAuthUser"},
                                {"send": "ClientUserChange", "data": {"type": "loginout", "visible": true}}])");
    EXPECT_EQ(logout.dataOf("ReportAuthUser"), json(R"({"state": 1, "avatar": "", "userName": ""})"));
    EXPECT_EQ(logout.final["texts"]["login-state"], kit::Value("logged out"));
    EXPECT_EQ(status()["auth"]["state"], kit::Value(1));
}

TEST_F(PageBridgeTest, PanelsReportTheirSizeAndAskToContinue) {
    for (const char* kind : {"explain", "translate"}) {
        std::string scenario = std::string(R"([{"waitFor": "WebIsReady"},
            {"send": "SwipeOverMessage", "data": {"type": ")") + kind + R"(", "message": "short"}},
            {"waitFor": "WebViewSizeNotify"},
            {"send": "SwipeOverMessage", "data": {"type": ")" + kind + R"(", "message": ")" + std::string(400, 'x') + R"("}},
            {"waitFor": "WebViewSizeNotify", "count": 2},
            {"click": "continue-ask"}, {"click": "continue-ask"}, {"waitFor": "ContinueAsk", "count": 2},
            {"send": "SwipeWindowClose", "data": {"type": ")" + kind + R"("}},
            {"send": "WebShow", "data": {"type": ")" + kind + R"(", "visible": false}}])";
        HarnessRun panel = run(std::string("/embed/chat/") + kind + "?version=6", scenario);
        ASSERT_TRUE(panel.problem.empty()) << kind << ": " << panel.problem;
        EXPECT_EQ(panel.dataOf("WebIsReady"), json(R"({"from": "minipage"})"));
        kit::Value small = panel.dataOf("WebViewSizeNotify", 0);
        kit::Value large = panel.dataOf("WebViewSizeNotify", 1);
        EXPECT_EQ(small["width"], kit::Value(400));
        ASSERT_TRUE(small["height"].isInteger()) << "sizes are whole numbers";
        EXPECT_GE(small["height"].integerValue(), 240);
        EXPECT_GT(large["height"].integerValue(), small["height"].integerValue()) << "a longer text needs a taller panel";
        EXPECT_LE(large["height"].integerValue(), 640);
        EXPECT_EQ(panel.dataOf("ContinueAsk", 0)["type"], kit::Value(kind));
        EXPECT_EQ(panel.dataOf("ContinueAsk", 0)["session_id"], kit::Value(std::string("session-") + kind + "-1"));
        EXPECT_EQ(panel.dataOf("ContinueAsk", 1)["session_id"], kit::Value(std::string("session-") + kind + "-2"));
        EXPECT_EQ(panel.final["texts"]["visibility"], kit::Value("hidden"));
        EXPECT_EQ(panel.final["texts"]["answer"], kit::Value(""));
    }
}

TEST_F(PageBridgeTest, ToolPagesDeclareTheirTypesOpenFilesAndAnswerTheSavedQuestion) {
    HarnessRun picture = run("/thirdParty/dorvaka/picture?version=6", R"([{"waitFor": "WebIsReady"},
        {"send": "HandleFile", "data": {"type": "picture", "path": "/tmp/Cat.JPEG", "name": "Cat.JPEG"}},
        {"waitFor": "OpenFileNotify"},
        {"send": "IsSaved", "data": {}}, {"waitFor": "ClientIsSaved"},
        {"check": "saved-checkbox", "value": false},
        {"send": "IsSaved", "data": {}}, {"waitFor": "ClientIsSaved", "count": 2},
        {"click": "file-input"}, {"file": "file-input", "name": "dog.png"}, {"waitFor": "OpenFileNotify", "count": 2}])");
    ASSERT_TRUE(picture.problem.empty()) << picture.problem;
    auto names = picture.callNames();
    auto declared = std::find(names.begin(), names.end(), "SetFileMediaType");
    auto ready = std::find(names.begin(), names.end(), "WebIsReady");
    EXPECT_LT(declared, ready) << "the types are declared before the page is ready";
    EXPECT_EQ(picture.dataOf("SetFileMediaType"), json(R"({"type": "img", "mediaTypes": ["png", "jpg", "jpeg", "bmp", "webp"]})"));
    EXPECT_EQ(picture.count("SetFileMediaType"), 2u) << "declared again when the file input opens";
    EXPECT_EQ(picture.dataOf("WebIsReady"), json(R"({"from": "image"})"));
    EXPECT_EQ(picture.dataOf("OpenFileNotify", 0), json(R"({"path": "/tmp/Cat.JPEG"})"));
    EXPECT_EQ(picture.dataOf("OpenFileNotify", 1), json(R"({"path": "dog.png"})"));
    EXPECT_EQ(picture.dataOf("ClientIsSaved", 0), json(R"({"data": true})"));
    EXPECT_EQ(picture.dataOf("ClientIsSaved", 1), json(R"({"data": false})"));
    EXPECT_EQ(picture.final["texts"]["opened-file"], kit::Value("opened dog.png"));

    HarnessRun document = run("/thirdParty/dorvaka/file?version=6&openwith=mgr_document",
                              R"([{"waitFor": "WebIsReady"}, {"send": "HandleFile", "data": {"type": "file"}}])");
    ASSERT_TRUE(document.problem.empty()) << document.problem;
    EXPECT_EQ(document.dataOf("WebIsReady"), json(R"({"from": "document"})"));
    EXPECT_EQ(document.dataOf("SetFileMediaType")["type"], kit::Value("doc"));
    EXPECT_EQ(document.count("OpenFileNotify"), 0u) << "an action without a path opens nothing";
}

TEST_F(PageBridgeTest, ChatPageAsksForToolsCaptureAndLogin) {
    HarnessRun page = run("/thirdParty/dorvaka/pmChat?version=6", R"([{"waitFor": "WebIsReady"},
        {"click": "action-write"}, {"click": "action-picture"}, {"click": "action-file"},
        {"click": "start-capture"}, {"click": "request-login"}, {"waitFor": "RequestLogin"}])");
    ASSERT_TRUE(page.problem.empty()) << page.problem;
    EXPECT_EQ(page.dataOf("FileAction", 0), json(R"({"type": "write"})"));
    EXPECT_EQ(page.dataOf("FileAction", 1), json(R"({"type": "picture", "path": "/tmp/quarn-sample.png", "name": "quarn-sample.png"})"));
    EXPECT_EQ(page.dataOf("FileAction", 2)["type"], kit::Value("file"));
    EXPECT_EQ(page.count("StartCapture"), 1u);
    EXPECT_EQ(page.count("RequestLogin"), 1u);
}

}  // namespace
}  // namespace peers
