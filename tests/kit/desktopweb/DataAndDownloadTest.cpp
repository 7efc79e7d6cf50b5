// Downloads through WebKit into the platform layer's download model, and the one persistent
// website data store that every web view (and every download) shares.

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "WebTestSupport.h"
#include "kit/base/Paths.h"
#include "kit/desktop/WebKitDownloadService.h"
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
    std::filesystem::path location;

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
    void downloadDidFinishDownloadingTo(DownloadTask&, const std::filesystem::path& where) override {
        events.push_back("finished");
        location = where;
        std::ifstream file(where, std::ios::binary);
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

TEST_F(DownloadTest, TransfersAreStagedWhereOnlyTheUserReaches) {
    namespace fs = std::filesystem;
    server.route(
        "/files/s",
        TestServer::Response{
            200, "application/pdf", "%PDF staged", {{"Content-Disposition", "attachment; filename=\"s.pdf\""}}});
    const auto modeOf = [](const fs::path& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0u;
    };
    const fs::path scratch = fs::temp_directory_path() / ("desktopweb-staging-" + std::to_string(::getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch / "elsewhere");
    // Left by a run that has ended (no process has that id), and one of this run.
    const fs::path root = scratch / "root";
    fs::create_directories(root / "4194999.aaaaaa" / "1");
    fs::create_directories(root / (std::to_string(::getpid()) + ".bbbbbb"));
    struct Case {
        const char* name;
        bool linkedRoot;  // the root is a link to another folder
        bool delivered;
    };
    for (const Case c : {Case{"a root of the user's own", false, true}, Case{"a root that is a link", true, false}}) {
        SCOPED_TRACE(c.name);
        const fs::path used = c.linkedRoot ? scratch / "linked" : root;
        if (c.linkedRoot) fs::create_directory_symlink(scratch / "elsewhere", used);
        auto previous = DownloadService::current();
        DownloadService::install(std::make_shared<desktop::WebKitDownloadService>(used));
        auto delegate = std::make_shared<RecordingDownloadDelegate>();
        DownloadTask::start(UrlRequest(server.url("/files/s")), delegate);
        ASSERT_TRUE(waitFor([&] { return delegate->completed; }));
        EXPECT_EQ(!delegate->error, c.delivered);
        if (c.delivered) {
            EXPECT_EQ(delegate->contents, "%PDF staged");
            // <root>/<pid>.XXXXXX/<task>/s.pdf, each folder 0700.
            const fs::path run = delegate->location.parent_path().parent_path();
            EXPECT_EQ(run.parent_path(), root);
            EXPECT_EQ(run.filename().string().rfind(std::to_string(::getpid()) + ".", 0), 0u);
            EXPECT_EQ(modeOf(run), 0700u);
            EXPECT_EQ(modeOf(root), 0700u);
        }
        DownloadService::install(previous);  // the service goes, and its run's folder with it
        EXPECT_EQ(fs::exists(delegate->location.parent_path().parent_path()), false);
        EXPECT_TRUE(fs::is_empty(scratch / "elsewhere"));
    }
    EXPECT_FALSE(fs::exists(root / "4194999.aaaaaa"));
    EXPECT_TRUE(fs::exists(root / (std::to_string(::getpid()) + ".bbbbbb")));
    fs::remove_all(scratch);
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
