// Downloads through WebKit into the platform layer's download model, and the one persistent
// website data store that every web view (and every download) shares.

#include <fstream>
#include <sstream>

#include "WebTestSupport.h"
#include "kit/base/Paths.h"
#include "kit/web/Download.h"

namespace kit::testing {
namespace {

using DownloadTest = WebEngineTest;
using WebsiteDataTest = WebEngineTest;

class RecordingDownloadDelegate : public DownloadDelegate {
public:
    std::vector<std::string> events;
    std::optional<UrlResponse> response;
    std::int64_t written = 0;
    std::int64_t lastTotal = 0;
    std::string contents;
    std::optional<WebError> error;
    bool completed = false;

    void downloadDidReceiveResponse(DownloadTask&, const UrlResponse& r) override {
        events.push_back("response");
        response = r;
    }
    void downloadDidWriteData(DownloadTask&, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                              std::int64_t) override {
        if (events.empty() || events.back() != "data") events.push_back("data");
        written += bytesWritten;
        lastTotal = totalBytesWritten;
    }
    void downloadDidFinishDownloadingTo(DownloadTask&, const std::filesystem::path& location) override {
        events.push_back("finished");
        std::ifstream file(location, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        contents = text.str();
    }
    void downloadDidComplete(DownloadTask&, const std::optional<WebError>& e) override {
        events.push_back("completed");
        error = e;
        completed = true;
    }
};

std::string bytes(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + 3) % 251);
    return out;
}

TEST_F(DownloadTest, AFileArrivesWithItsResponseAndProgressAndTheTaskCompletes) {
    const std::string body = bytes(std::size_t{300} * 1024);
    server.route("/files/r", TestServer::Response{200, "application/pdf", body,
                                                  {{"Content-Disposition", "attachment; filename=\"report 1.pdf\""}}});
    auto delegate = std::make_shared<RecordingDownloadDelegate>();
    auto task = DownloadTask::start(UrlRequest(server.url("/files/r"), UrlRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData, 10),
                                    delegate);
    ASSERT_TRUE(waitFor([&] { return delegate->completed; }));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"response", "data", "finished", "completed"}));
    EXPECT_FALSE(delegate->error) << delegate->error->description();
    ASSERT_TRUE(delegate->response);
    EXPECT_EQ(delegate->response->statusCode, 200);
    EXPECT_EQ(delegate->response->suggestedFilename, "report 1.pdf");
    EXPECT_EQ(delegate->response->expectedContentLength, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(delegate->written, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(task->countOfBytesReceived(), static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(delegate->contents, body);
    EXPECT_EQ(task->state(), DownloadTask::State::Completed);
}

TEST_F(DownloadTest, ACancelledOrSilentTransferCompletesWithTheMatchingError) {
    server.route("/stalled", TestServer::Response{200, "application/zip", "", {}, true});

    auto cancelled = std::make_shared<RecordingDownloadDelegate>();
    auto task = DownloadTask::start(UrlRequest(server.url("/stalled")), cancelled);
    ASSERT_TRUE(waitFor([&] { return server.count("/stalled") == 1; }));
    task->cancel();
    ASSERT_TRUE(waitFor([&] { return cancelled->completed; }));
    ASSERT_TRUE(cancelled->error);
    EXPECT_TRUE(cancelled->error->isCancellation()) << cancelled->error->description();
    EXPECT_EQ(std::count(cancelled->events.begin(), cancelled->events.end(), "finished"), 0);

    auto silent = std::make_shared<RecordingDownloadDelegate>();
    DownloadTask::start(UrlRequest(server.url("/stalled"), UrlRequestCachePolicy::UseProtocolCachePolicy, 0.3), silent);
    ASSERT_TRUE(waitFor([&] { return silent->completed; }));
    ASSERT_TRUE(silent->error);
    EXPECT_EQ(silent->error->domain, kURLErrorDomain);
    EXPECT_EQ(silent->error->code, kURLErrorTimedOut);
}

TEST_F(WebsiteDataTest, EveryViewAndDownloadSharesOnePersistentStore) {
    server.route("/login", TestServer::Response{200, "text/html", "<title>in</title>",
                                                {{"Set-Cookie", "session=abc123; Path=/; Max-Age=3600"}}});
    server.page("/account", "<title>account</title>");
    server.route("/export", TestServer::Response{200, "text/csv", "a,b\n", {}});

    auto first = makeWebView();
    auto second = makeWebView();
    auto private1 = makeWebView([] {
        WebViewConfiguration c;
        c.websiteDataStore = WebsiteDataStore::nonPersistentDataStore();
        return c;
    }());
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    for (auto* view : {first.get(), second.get(), private1.get()}) view->setNavigationDelegate(delegate);

    ASSERT_TRUE(loadAndWait(*first, server.url("/login"), *delegate));
    // The login of one view is seen by the others and by downloads...
    ASSERT_TRUE(loadAndWait(*second, server.url("/account"), *delegate));
    EXPECT_EQ(server.lastRequest("/account")->headers["Cookie"], "session=abc123");
    auto download = std::make_shared<RecordingDownloadDelegate>();
    DownloadTask::start(UrlRequest(server.url("/export")), download);
    ASSERT_TRUE(waitFor([&] { return download->completed; }));
    EXPECT_EQ(server.lastRequest("/export")->headers["Cookie"], "session=abc123");
    // ...but not by a private page.
    ASSERT_TRUE(loadAndWait(*private1, server.url("/account"), *delegate));
    EXPECT_EQ(server.lastRequest("/account")->headers.count("Cookie"), 0u);

    // The store's cookie jar is WebKit's: what the page set is there, and what is set there
    // reaches the pages.
    std::optional<std::vector<HttpCookie>> cookies;
    auto& jar = WebsiteDataStore::defaultDataStore()->httpCookieStore();
    jar.getAllCookies([&](std::vector<HttpCookie> all) { cookies = std::move(all); });
    ASSERT_TRUE(waitFor([&] { return cookies.has_value(); }));
    auto session = std::find_if(cookies->begin(), cookies->end(), [](const HttpCookie& c) { return c.name == "session"; });
    ASSERT_NE(session, cookies->end());
    EXPECT_EQ(session->value, "abc123");
    EXPECT_TRUE(session->expiresDate.has_value());

    bool stored = false;
    jar.setCookie(HttpCookie{"theme", "dark", "127.0.0.1", "/", std::nullopt, false, false}, [&] { stored = true; });
    ASSERT_TRUE(waitFor([&] { return stored; }));
    ASSERT_TRUE(loadAndWait(*second, server.url("/account"), *delegate));
    const std::string sent = server.lastRequest("/account")->headers["Cookie"];
    EXPECT_NE(sent.find("theme=dark"), std::string::npos) << sent;

    bool deleted = false;
    jar.deleteCookie(*session, [&] { deleted = true; });
    ASSERT_TRUE(waitFor([&] { return deleted; }));
    ASSERT_TRUE(loadAndWait(*second, server.url("/account"), *delegate));
    EXPECT_EQ(server.lastRequest("/account")->headers["Cookie"], "theme=dark");

    // It is kept on disk in the application's support folder.
    const auto folder = paths::applicationSupport() / "QuarnAI" / "WebData";
    EXPECT_EQ(WebsiteDataStore::defaultDataStore()->dataDirectory(), folder);
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(folder / "Cookies.sqlite"); }));
    // Only the user may read it.
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace kit::testing
