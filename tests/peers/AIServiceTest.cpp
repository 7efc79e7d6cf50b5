// The AI service stand-in: the page of every address the assistant loads, its JSON interface and
// its memory of requests, asked directly and over a socket.

#include <gtest/gtest.h>

#include <regex>

#include "kit/base/Json.h"
#include "peers/ai-service/AIService.h"
#include "tests/peers/ServiceThread.h"

namespace peers::aiservice {
namespace {

// The page formats of the assistant, filled as it fills them: base address, then version 6.
struct PageAddress {
    const char* format;
    const char* kind;
    const char* from;
};
const PageAddress kPageAddresses[] = {
    {"%sthirdParty/dorvaka/pmChat?version=%d", "chat", "main"},
    {"%sthirdParty/dorvaka/pmChatHome?version=%d", "home", "home"},
    {"%sthirdParty/quarn/login?version=%d", "login", "login"},
    {"%sthirdParty/dorvaka/write?version=%d", "write", "write"},
    {"%sthirdParty/dorvaka/picture?version=%d", "picture", "image"},
    {"%sthirdParty/dorvaka/file?version=%d", "file", "document"},
    {"%sembed/chat/explain?version=%d", "explain", "minipage"},
    {"%sembed/chat/translate?version=%d", "translate", "minipage"},
};

std::string filled(const char* format, const std::string& base) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, base.c_str(), 6);
    return buffer;
}

kit::Value json(const std::string& text) {
    auto parsed = kit::parseJson(text);
    EXPECT_TRUE(parsed) << text;
    return parsed ? *parsed : kit::Value();
}

// The configuration a page carries in its first script element.
kit::Value pageConfig(const std::string& html) {
    std::smatch match;
    static const std::regex config("window\\.QUARN_PAGE_CONFIG = (\\{.*?\\});</script>");
    if (!std::regex_search(html, match, config)) return {};
    return json(match[1]);
}

HttpRequest get(std::string path, std::string query = {}) { return {"GET", std::move(path), std::move(query), {}}; }
HttpRequest post(std::string path, std::string body = {}) { return {"POST", std::move(path), {}, std::move(body)}; }

TEST(AIServiceRoutes, ServeEveryPageTheAssistantLoads) {
    for (const auto& page : kPageAddresses) {
        std::string address = filled(page.format, "/");
        std::string path = address.substr(0, address.find('?'));
        const PageRoute* route = routeForPath(path);
        ASSERT_NE(route, nullptr) << address;
        EXPECT_STREQ(route->kind, page.kind);
        EXPECT_STREQ(route->from, page.from);
        EXPECT_EQ(routeForPath(path + "/"), route) << "a trailing slash reaches the same page";
    }
    EXPECT_EQ(pageRoutes().size(), std::size(kPageAddresses));
    for (auto other : {"/", "", "/thirdParty/dorvaka", "/thirdparty/dorvaka/pmChat", "/thirdParty/dorvaka/pmChatX",
                       "/embed/chat", "/thirdParty/dorvaka/pmChat/more", "thirdParty/dorvaka/pmChat"})
        EXPECT_EQ(routeForPath(other), nullptr) << other;
}

TEST(AIServiceRoutes, QueryParametersAreDecoded) {
    auto query = parseQuery("version=6&standalone=1&text=a+b%20c%2F&empty=&flag&version=7&bad=%zz%4");
    EXPECT_EQ(query["version"], "7");
    EXPECT_EQ(query["standalone"], "1");
    EXPECT_EQ(query["text"], "a b c/");
    EXPECT_EQ(query["empty"], "");
    EXPECT_TRUE(query.count("flag"));
    EXPECT_EQ(query["bad"], "%zz%4");
    EXPECT_TRUE(parseQuery("").empty());
}

TEST(AIService, PagesCarryTheirConfigurationAndScriptInline) {
    ServiceOptions options;
    options.readyDelayMs = 250;
    options.autoLoginMs = 40;
    AIService service(options);
    for (const auto& route : pageRoutes()) {
        HttpResponse response = service.handle(get(route.path, "version=6"));
        ASSERT_EQ(response.status, 200) << route.path;
        EXPECT_EQ(response.contentType, "text/html; charset=utf-8");
        EXPECT_NE(response.body.find(std::string("<title>") + route.title + "</title>"), std::string::npos);
        kit::Value config = pageConfig(response.body);
        EXPECT_EQ(config["kind"], kit::Value(route.kind));
        EXPECT_EQ(config["from"], kit::Value(route.from));
        EXPECT_EQ(config["version"], kit::Value(6));
        EXPECT_EQ(config["readyDelayMs"], kit::Value(250));
        EXPECT_EQ(config["autoLoginMs"], kit::Value(40));
        // The application injects the bridge's page script: a page served to it loads no script.
        EXPECT_EQ(response.body.find("<script src="), std::string::npos);
        EXPECT_NE(response.body.find("setupWebViewJavascriptBridge"), std::string::npos);
        EXPECT_NE(response.body.find("https://__bridge_loaded__"), std::string::npos);
    }
    HttpResponse standalone = service.handle(get("/embed/chat/explain", "version=6&standalone=1"));
    EXPECT_NE(standalone.body.find("<script src=\"/__bridge/WebViewJavascriptBridge.js\"></script>"), std::string::npos);
    EXPECT_EQ(pageConfig(service.handle(get("/thirdParty/dorvaka/pmChat")).body)["version"], kit::Value());
}

TEST(AIService, RemembersWhatWasRequested) {
    AIService service(ServiceOptions{});
    std::vector<std::string> lines;
    AIService logged(ServiceOptions{}, [&](const std::string& line) { lines.push_back(line); });
    for (AIService* s : {&service, &logged}) {
        s->handle(get("/thirdParty/dorvaka/pmChat", "version=6"));
        s->handle(get("/thirdParty/dorvaka/pmChat/", "version=6&x=1"));
        s->handle({"HEAD", "/embed/chat/translate", "version=6", {}});
        s->handle(get("/nowhere"));
        s->handle(post("/thirdParty/quarn/login"));
        s->handle(get("/__status"));
    }
    kit::Value status = service.status();
    EXPECT_EQ(status["pages"]["chat"], kit::Value(2));
    EXPECT_EQ(status["pages"]["translate"], kit::Value(1));
    EXPECT_EQ(status["pages"]["login"], kit::Value(0)) << "a refused method is not a page view";
    EXPECT_EQ(status["pages"]["explain"], kit::Value(0));
    const kit::Array& requests = *status["requests"].asArray();
    ASSERT_EQ(requests.size(), 5u) << "the status endpoint itself is not recorded";
    EXPECT_EQ(requests[0]["query"], kit::Value("version=6"));
    EXPECT_EQ(requests[1]["path"], kit::Value("/thirdParty/dorvaka/pmChat/"));
    EXPECT_EQ(requests[3]["status"], kit::Value(404));
    EXPECT_EQ(requests[3]["page"], kit::Value());
    EXPECT_EQ(requests[4]["status"], kit::Value(405));

    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].rfind("request {", 0), 0u);
    EXPECT_EQ(json(lines[0].substr(8))["page"], kit::Value("chat"));

    EXPECT_EQ(service.handle(post("/__reset")).status, 200);
    EXPECT_EQ(service.status()["requests"].asArray()->size(), 0u);
    EXPECT_EQ(service.status()["pages"]["chat"], kit::Value(0));
}

TEST(AIService, LogsTheTestUserInAndOut) {
    ServiceOptions options;
    options.userName = "Ada";
    AIService service(options);
    service.setPort(4321);
    EXPECT_EQ(json(service.handle(get("/__api/auth")).body),
              json(R"({"state": 1, "avatar": "", "userName": ""})"));

    HttpResponse in = service.handle(post("/__api/login"));
    EXPECT_EQ(in.status, 200);
    EXPECT_EQ(json(in.body), json(R"({"state": 0, "avatar": "http://127.0.0.1:4321/__files/avatar.png", "userName": "Ada"})"));
    EXPECT_EQ(service.authUser(), json(in.body));
    EXPECT_EQ(json(service.handle(post("/__api/login", R"({"userName": "Bo"})")).body)["userName"], kit::Value("Bo"));
    EXPECT_EQ(json(service.handle(post("/__api/login", "not json")).body)["userName"], kit::Value("Ada"));

    EXPECT_EQ(json(service.handle(post("/__api/logout")).body)["state"], kit::Value(1));
    EXPECT_EQ(service.status()["auth"]["state"], kit::Value(1));
    EXPECT_EQ(service.handle(get("/__api/login")).status, 405);
    EXPECT_EQ(service.handle(post("/__api/auth")).status, 405);

    ServiceOptions messenger;
    messenger.startLoggedIn = true;
    messenger.avatar = "https://img.example/ek_zxapp/1.png";
    AIService loggedIn(messenger);
    EXPECT_EQ(loggedIn.authUser()["avatar"], kit::Value("https://img.example/ek_zxapp/1.png"));
    loggedIn.handle(post("/__api/logout"));
    loggedIn.handle(post("/__reset"));
    EXPECT_EQ(loggedIn.authUser()["state"], kit::Value(0)) << "a reset goes back to the starting state";
}

TEST(AIService, RecordsPageTrafficAndRefusesMalformedReports) {
    ServiceOptions options;
    options.historyLimit = 3;
    std::vector<std::string> lines;
    AIService service(options, [&](const std::string& line) { lines.push_back(line); });
    for (int i = 0; i < 5; ++i) {
        HttpResponse ok = service.handle(
            post("/__api/event", R"({"page": "chat", "direction": "n2j", "handlerName": "WebShow", "data": {"n": )" +
                                     std::to_string(i) + "}}"));
        EXPECT_EQ(ok.status, 200);
        EXPECT_EQ(json(ok.body)["id"], kit::Value(i + 1));
    }
    kit::Value status = service.status();
    const kit::Array& events = *status["events"].asArray();
    ASSERT_EQ(events.size(), 3u) << "only the newest events are kept";
    EXPECT_EQ(events[0]["data"]["n"], kit::Value(2));
    EXPECT_EQ(events[2]["id"], kit::Value(5));
    EXPECT_EQ(lines.back(), "page chat n2j WebShow {\"n\":4}");

    for (auto bad : {"", "[]", "{", R"({"page": "chat", "direction": "n2j"})", R"({"page": 1, "direction": "n2j", "handlerName": "X"})"})
        EXPECT_EQ(service.handle(post("/__api/event", bad)).status, 400) << bad;
    EXPECT_EQ(service.handle(get("/__api/event")).status, 405);
    EXPECT_EQ(service.status()["events"].asArray()->size(), 3u);
}

TEST(AIService, HandsCommandsToTheirPageOnceAndTellsTheToolPagesWhetherWorkIsSaved) {
    std::vector<std::string> lines;
    AIService service({}, [&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(service.handle(post("/__page/commands", R"({"page": "chat", "click": "action-picture"})")).status, 200);
    EXPECT_EQ(service.handle(post("/__page/commands", R"({"page": "picture", "saved": false})")).status, 200);
    EXPECT_EQ(lines.back(), R"(command {"page":"picture","saved":false})");
    for (auto bad : {"", "[]", R"({"click": "x"})", R"({"page": "nowhere"})", R"({"page": 3})"})
        EXPECT_EQ(service.handle(post("/__page/commands", bad)).status, 400) << bad;
    EXPECT_EQ(service.handle(get("/__page/commands")).status, 405);

    // Each page kind takes its own commands, once; polling leaves no trace in the history.
    const auto requestsBefore = service.status()["requests"].asArray()->size();
    EXPECT_EQ(json(service.handle(get("/__api/commands", "page=file")).body), kit::Value(kit::Array{}));
    const kit::Value chat = json(service.handle(get("/__api/commands", "page=chat")).body);
    ASSERT_EQ(chat.asArray()->size(), 1u);
    EXPECT_EQ((*chat.asArray())[0]["click"], kit::Value("action-picture"));
    EXPECT_EQ(json(service.handle(get("/__api/commands", "page=chat")).body), kit::Value(kit::Array{}));
    const kit::Value picture = json(service.handle(get("/__api/commands", "page=picture")).body);
    ASSERT_EQ(picture.asArray()->size(), 1u);
    EXPECT_EQ((*picture.asArray())[0]["saved"], kit::Value(false));
    EXPECT_EQ(service.status()["requests"].asArray()->size(), requestsBefore);

    // The tool pages' "work saved" answer starts as the service was told, and the pages ask for
    // commands unless told not to.
    for (bool told : {true, false}) {
        ServiceOptions options;
        options.workSavedAtFirst = told;
        options.pagesTakeCommands = told;
        AIService tool(options);
        const auto config = pageConfig(tool.handle(get("/thirdParty/dorvaka/picture", "version=6")).body);
        EXPECT_EQ(config["workSaved"], kit::Value(told));
        EXPECT_EQ(config["commands"], kit::Value(told));
    }
}

TEST(AIService, ServesFilesForDownloadsAndAvatars) {
    ServiceOptions options;
    options.bridgeScript = QUARN_BRIDGE_SCRIPT;
    AIService service(options);
    HttpResponse pdf = service.handle(get("/__files/sample.pdf"));
    EXPECT_EQ(pdf.contentType, "application/pdf");
    EXPECT_EQ(pdf.body.rfind("%PDF-", 0), 0u);
    ASSERT_FALSE(pdf.headers.empty());
    EXPECT_EQ(pdf.headers[0].second, "attachment; filename=\"sample.pdf\"");
    HttpResponse png = service.handle(get("/__files/avatar.png"));
    EXPECT_EQ(png.contentType, "image/png");
    EXPECT_EQ(png.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    HttpResponse bridge = service.handle(get("/__bridge/WebViewJavascriptBridge.js"));
    EXPECT_EQ(bridge.status, 200);
    EXPECT_NE(bridge.body.find("_handleMessageFromObjC"), std::string::npos);

    ServiceOptions missing;
    missing.bridgeScript = "/nonexistent/bridge.js";
    EXPECT_EQ(AIService(missing).handle(get("/__bridge/WebViewJavascriptBridge.js")).status, 404);
}

TEST(AIServiceServer, ServesEveryPageOnAnEphemeralPort) {
    testing::ServiceThread thread(ServiceOptions{});
    ASSERT_TRUE(thread.ok()) << thread.error();
    ASSERT_GT(thread.port(), 0);
    std::string base = thread.address("/");
    for (const auto& page : kPageAddresses) {
        auto fetched = testing::fetch("GET", filled(page.format, base));
        ASSERT_EQ(fetched.status, 200) << page.format << " " << fetched.error;
        EXPECT_EQ(fetched.contentType, "text/html; charset=utf-8");
        EXPECT_EQ(pageConfig(fetched.body)["kind"], kit::Value(page.kind));
    }
    EXPECT_EQ(testing::fetch("GET", thread.address("/")).status, 200);
    EXPECT_EQ(testing::fetch("GET", thread.address("/missing?version=6")).status, 404);
    auto login = testing::fetch("POST", thread.address("/__api/login"), "{}");
    EXPECT_EQ(json(login.body)["avatar"], kit::Value(base + "__files/avatar.png"));

    auto status = testing::fetch("GET", thread.address("/__status"));
    ASSERT_EQ(status.status, 200);
    EXPECT_EQ(status.contentType, "application/json; charset=utf-8");
    kit::Value report = json(status.body);
    EXPECT_EQ(report["port"], kit::Value(thread.port()));
    EXPECT_EQ(report["auth"]["state"], kit::Value(0));
    for (const auto& page : kPageAddresses) EXPECT_EQ(report["pages"][page.kind], kit::Value(1)) << page.kind;
    const kit::Array& requests = *report["requests"].asArray();
    ASSERT_EQ(requests.size(), std::size(kPageAddresses) + 3);
    EXPECT_EQ(requests[0]["path"], kit::Value("/thirdParty/dorvaka/pmChat"));
    EXPECT_EQ(requests[0]["query"], kit::Value("version=6"));

    testing::ServiceThread second(ServiceOptions{}, thread.port());
    EXPECT_FALSE(second.ok()) << "a port in use is refused";
    EXPECT_NE(second.error().find(std::to_string(thread.port())), std::string::npos);
}

}  // namespace
}  // namespace peers::aiservice
