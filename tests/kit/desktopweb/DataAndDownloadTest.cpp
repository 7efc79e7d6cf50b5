// Downloads through WebKit into the platform layer's download model, and the one persistent
// website data store that every web view (and every download) shares.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "WebTestSupport.h"
#include "kit/base/Paths.h"
#include "kit/desktop/web/WebKitDownloadService.h"
#include "kit/desktop/web/WebKitErrors.h"
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

// A long CJK name of `bytes` bytes, ending in ".pdf".
std::string longName(std::size_t bytes) {
    std::string name;
    while (name.size() + 3 <= bytes - 4) name += "\xE6\x96\x87";
    return name + std::string(bytes - 4 - name.size(), 'n') + ".pdf";
}

TEST_F(DownloadTest, TransfersAreStagedWhereOnlyTheUserReachesAndRunningInstancesKeepTheirFolders) {
    namespace fs = std::filesystem;
    const auto modeOf = [](const fs::path& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0u;
    };
    const fs::path scratch = fs::temp_directory_path() / ("desktopweb-staging-" + std::to_string(::getpid()));
    fs::remove_all(scratch);
    for (const char* folder : {"caches", "elsewhere", "real-caches", "others"})
        fs::create_directories(scratch / folder);
    std::ofstream(scratch / "a-file") << "not a folder";
    fs::create_directory_symlink(scratch / "real-caches", scratch / "linked-caches");
    fs::create_directories(scratch / "caches" / "linked-app");
    fs::create_directory_symlink(scratch / "elsewhere", scratch / "caches" / "linked-app" / "downloads");
    const bool othersMade = ::chown((scratch / "others").c_str(), 65534, 65534) == 0;
    // Left by runs that have ended (nobody holds their lock), whatever their number, and folders
    // that are no run's.
    const fs::path root = scratch / "caches" / "app" / "downloads" / ".staging";
    for (const std::string& name :
         std::vector<std::string>{"4194999.aaaaaa", std::to_string(::getpid()) + ".bbbbbb", "notes", "12.abc"})
        fs::create_directories(root / name / "1");
    const fs::path temporary = fs::temp_directory_path();
    fs::create_directories(temporary / "QuarnAI-Downloads-4194999");
    fs::create_directories(temporary / "QuarnAI-Downloads-mine-backup");
    std::ofstream(temporary / "QuarnAI-Downloads-mine-backup" / "thesis.tex") << "mine";

    struct Case {
        const char* what;
        FolderChain folder;
        std::string name;
        bool delivered;
    };
    std::vector<Case> cases = {
        {"a chain of the user's own", {scratch / "caches", "app/downloads"}, "s.pdf", true},
        {"a name of 255 bytes", {scratch / "caches", "app/downloads"}, longName(255), true},
        {"a name of 400 bytes", {scratch / "caches", "app/downloads"}, longName(400), true},
        {"the caches a link to the user's own folder", {scratch / "linked-caches", "app/downloads"}, "s.pdf", true},
        {"the application's folder a link", {scratch / "caches", "linked-app/downloads"}, "s.pdf", false},
        {"the caches a file", {scratch / "a-file", "app/downloads"}, "s.pdf", false},
    };
    if (othersMade)
        cases.push_back({"the caches another user's", {scratch / "others", "app/downloads"}, "s.pdf", false});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server.route("/files/s",
                     TestServer::Response{200,
                                          "application/pdf",
                                          "%PDF staged",
                                          {{"Content-Disposition", "attachment; filename=\"" + c.name + "\""}}});
        auto previous = DownloadService::current();
        DownloadService::install(std::make_shared<desktop::WebKitDownloadService>(c.folder));
        const int requests = server.count("/files/s");
        auto delegate = std::make_shared<RecordingDownloadDelegate>();
        DownloadTask::start(UrlRequest(server.url("/files/s")), delegate);
        ASSERT_TRUE(waitFor([&] { return delegate->completed; }));
        EXPECT_EQ(!delegate->error, c.delivered) << (delegate->error ? delegate->error->description() : "");
        if (c.delivered) {
            EXPECT_EQ(delegate->contents, "%PDF staged");
            const std::string staged = delegate->location.filename().string();
            ASSERT_GT(staged.size(), 4u);
            EXPECT_LE(staged.size(), 255u);
            EXPECT_EQ(staged.substr(staged.size() - 4), ".pdf");
            EXPECT_EQ(c.name.substr(0, staged.size() - 4), staged.substr(0, staged.size() - 4));
            // <download folder>/.staging/<pid>.XXXXXX/<task>/<name>, each folder of ours 0700.
            const fs::path run = delegate->location.parent_path().parent_path();
            EXPECT_EQ(run.parent_path(), c.folder.path() / ".staging");
            EXPECT_EQ(run.filename().string().rfind(std::to_string(::getpid()) + ".", 0), 0u);
            for (const auto& folder : {run, run.parent_path(), c.folder.path()}) EXPECT_EQ(modeOf(folder), 0700u);
            // Another instance starting meanwhile, in a PID namespace of its own, leaves this
            // run's folder alone.
            const std::string command = std::string("unshare --pid --fork ") + QUARN_SECOND_INSTANCE_HELPER + " '" +
                                        c.folder.userFolder.string() + "' '" + c.folder.ownFolders.string() + "'";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
            EXPECT_TRUE(fs::is_directory(run));
        } else {
            EXPECT_EQ(delegate->error->code, kURLErrorCannotCreateFile);
            EXPECT_EQ(server.count("/files/s"), requests) << "nothing is downloaded";
        }
        DownloadService::install(previous);  // the service goes, and its run's folder with it
        if (c.delivered) {
            EXPECT_FALSE(fs::exists(delegate->location.parent_path().parent_path()));
        }
        EXPECT_TRUE(fs::is_empty(scratch / "elsewhere"));
    }
    EXPECT_FALSE(fs::exists(root / "4194999.aaaaaa"));
    EXPECT_FALSE(fs::exists(root / (std::to_string(::getpid()) + ".bbbbbb")));
    EXPECT_TRUE(fs::exists(root / "notes" / "1"));
    EXPECT_TRUE(fs::exists(root / "12.abc" / "1"));
    EXPECT_FALSE(fs::exists(temporary / "QuarnAI-Downloads-4194999"));
    EXPECT_TRUE(fs::exists(temporary / "QuarnAI-Downloads-mine-backup" / "thesis.tex"));
    fs::remove_all(temporary / "QuarnAI-Downloads-mine-backup");
    fs::remove_all(scratch);
}

TEST_F(WebsiteDataTest, EveryViewAndDownloadSharesOnePersistentStore) {
    server.route("/login", TestServer::Response{200, "text/html", "<title>in</title>",
                                                {{"Set-Cookie", "session=abc123; Path=/; Max-Age=3600"}}});
    server.page("/account", "<title>account</title>");
    server.route("/export", TestServer::Response{200, "text/csv", "a,b\n", {}});

    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    auto first = makeWebView(delegate);
    auto second = makeWebView(delegate);
    auto private1 = makeWebView(delegate, nullptr, [] {
        WebViewConfiguration c;
        c.websiteDataStore = WebsiteDataStore::nonPersistentDataStore();
        return c;
    }());

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
