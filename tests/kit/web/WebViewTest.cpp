#include "kit/web/WebView.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kit/headless/ScriptedDownloadService.h"
#include "kit/headless/ScriptedWebEngine.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Create.h"
#include "kit/web/Download.h"
#include "kit/web/Url.h"
#include "kit/web/WebsiteDataStore.h"

using kit::Value;

namespace {

class WebViewTest : public ::testing::Test {
protected:
    std::shared_ptr<kit::WebView> makeView(kit::WebViewConfiguration configuration = {}) {
        return kit::create<kit::WebView>(kit::Rect{0, 0, 300, 200}, std::move(configuration));
    }

    kit::TestEnvironment env;
    kit::ScriptedWebBackend web;
};

TEST_F(WebViewTest, ScriptCompletionsArriveLaterAndInOrder) {
    auto view = makeView();
    auto& page = *kit::ScriptedWebEngine::of(*view);
    page.setResponder([](const std::string& script) -> kit::ScriptResult {
        if (script == "document.title") return Value("Chat");
        if (script == "1 + 1") return Value(2);
        if (script == "throw 1") return kit::Error{"JavaScript exception"};
        return Value();
    });
    std::vector<std::string> results;
    view->evaluateJavaScript("document.title", [&](const kit::ScriptResult& r) { results.push_back(*r->asString()); });
    view->evaluateJavaScript("fireAndForget()");
    view->evaluateJavaScript("1 + 1", [&](const kit::ScriptResult& r) { results.push_back(std::to_string(*r->asInteger())); });
    view->evaluateJavaScript("throw 1", [&](const kit::ScriptResult& r) { results.push_back("error: " + r.error()); });
    view->evaluateJavaScript("undefined", [&](const kit::ScriptResult& r) { results.push_back(r->isNull() ? "null" : "?"); });
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(page.evaluatedScripts(),
              (std::vector<std::string>{"document.title", "fireAndForget()", "1 + 1", "throw 1", "undefined"}));
    env.runUntilIdle();
    EXPECT_EQ(results, (std::vector<std::string>{"Chat", "2", "error: JavaScript exception", "null"}));
}

TEST_F(WebViewTest, CompletionsPendingWhenTheViewGoesGetAnError) {
    auto view = makeView();
    std::vector<std::string> errors;
    view->evaluateJavaScript("slow()", [&](const kit::ScriptResult& r) { errors.push_back(r.ok() ? "ok" : r.error()); });
    view.reset();
    EXPECT_TRUE(errors.empty());
    env.runUntilIdle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("closed"), std::string::npos);
}

TEST_F(WebViewTest, PropertiesFollowTheNavigationAndAreObservable) {
    auto view = makeView();
    auto& page = *kit::ScriptedWebEngine::of(*view);
    std::vector<std::string> seen;
    auto urlToken = view->observe(kit::WebViewProperty::Url, [&](kit::WebView& v) { seen.push_back("url " + v.url()); });
    auto titleToken = view->observe(kit::WebViewProperty::Title, [&](kit::WebView& v) { seen.push_back("title " + v.title()); });
    auto progressToken = view->observe(kit::WebViewProperty::EstimatedProgress, [&](kit::WebView& v) {
        seen.push_back("progress " + std::to_string(static_cast<int>(v.estimatedProgress() * 10)));
    });
    auto loadingToken =
        view->observe(kit::WebViewProperty::Loading, [&](kit::WebView& v) { seen.push_back(v.isLoading() ? "loading" : "idle"); });

    view->loadRequest(kit::UrlRequest("https://ai.example.com/chat", kit::UrlRequestCachePolicy::UseProtocolCachePolicy, 10));
    ASSERT_EQ(page.loadedRequests().size(), 1u);
    EXPECT_EQ(page.loadedRequests()[0].timeoutInterval, 10);
    ASSERT_TRUE(page.completePendingLoad("Chat"));
    EXPECT_EQ(seen, (std::vector<std::string>{"loading", "url https://ai.example.com/chat", "progress 1", "progress 5",
                                              "title Chat", "progress 10", "idle"}));
    EXPECT_EQ(view->url(), "https://ai.example.com/chat");
    EXPECT_EQ(view->title(), "Chat");
    EXPECT_FALSE(view->isLoading());

    // A released token ends its observation; an unchanged value is not announced.
    seen.clear();
    titleToken.reset();
    page.setTitle("Other");
    page.setEstimatedProgress(1.0);
    EXPECT_TRUE(seen.empty());

    // The content process ends: announced once, and over when the next load starts.
    urlToken.reset(), progressToken.reset(), loadingToken.reset();
    auto processToken = view->observe(kit::WebViewProperty::ContentProcessTerminated, [&](kit::WebView& v) {
        seen.push_back(v.isContentProcessTerminated() ? "process ended" : "process back");
    });
    page.terminateWebContentProcess();
    page.terminateWebContentProcess();
    EXPECT_TRUE(view->isContentProcessTerminated());
    view->reload();
    ASSERT_TRUE(page.completePendingLoad("Chat"));
    EXPECT_FALSE(view->isContentProcessTerminated());
    EXPECT_EQ(seen, (std::vector<std::string>{"process ended", "process back"}));
}

// Answers decisions twice, or keeps them for later.
class AwkwardDelegate : public kit::WebNavigationDelegate {
public:
    void decidePolicyForNavigationAction(kit::WebView&, const kit::NavigationAction&,
                                         kit::NavigationActionDecision decisionHandler) override {
        if (deferDecisions) {
            kept = std::move(decisionHandler);
            return;
        }
        decisionHandler(kit::NavigationActionPolicy::Cancel);
        decisionHandler(kit::NavigationActionPolicy::Allow);
    }
    bool deferDecisions = false;
    kit::NavigationActionDecision kept;
};

TEST_F(WebViewTest, DecisionsCountOnceAndMayComeLater) {
    auto view = makeView();
    auto& page = *kit::ScriptedWebEngine::of(*view);
    EXPECT_EQ(page.requestNavigation("https://a.example/"), kit::NavigationActionPolicy::Allow);  // no delegate

    auto delegate = std::make_shared<AwkwardDelegate>();
    view->setNavigationDelegate(delegate);
    EXPECT_EQ(page.requestNavigation("https://a.example/"), kit::NavigationActionPolicy::Cancel);

    delegate->deferDecisions = true;
    EXPECT_EQ(page.requestNavigation("https://b.example/"), std::nullopt);
    delegate->kept(kit::NavigationActionPolicy::Allow);
    EXPECT_EQ(page.lastNavigationActionPolicy(), kit::NavigationActionPolicy::Allow);

    // The delegate is held weakly.
    delegate.reset();
    EXPECT_EQ(view->navigationDelegate(), nullptr);
    EXPECT_EQ(page.requestNavigation("https://c.example/"), kit::NavigationActionPolicy::Allow);
}

TEST_F(WebViewTest, WithoutDelegatesTheEngineGetsThePlatformDefaults) {
    auto view = makeView();
    auto& page = *kit::ScriptedWebEngine::of(*view);
    auto challenge = page.receiveServerTrustChallenge(true);
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->first, kit::AuthChallengeDisposition::PerformDefaultHandling);
    EXPECT_EQ(page.runConfirmPanel("Sure?"), std::optional<bool>(false));
    auto text = page.runTextInputPanel("Name?");
    ASSERT_TRUE(text);
    EXPECT_FALSE(*text);
    EXPECT_TRUE(page.runAlertPanel("Hi"));
    auto panel = page.runOpenPanel();
    ASSERT_TRUE(panel);
    EXPECT_FALSE(*panel);
    EXPECT_EQ(page.openNewWindow("https://elsewhere.example/"), nullptr);
}

class WindowMaker : public kit::WebUIDelegate {
public:
    std::shared_ptr<kit::WebView> createWebView(kit::WebView&, const kit::WebViewConfiguration& configuration,
                                                const kit::NavigationAction& action, const kit::WindowFeatures&) override {
        requested.push_back(action.request.url);
        newWindowAction = action;
        made = kit::create<kit::WebView>(kit::Rect{}, configuration);
        return made;
    }
    void webViewDidClose(kit::WebView&) override { ++closed; }
    std::vector<std::string> requested;
    kit::NavigationAction newWindowAction;
    std::shared_ptr<kit::WebView> made;
    int closed = 0;
};

TEST_F(WebViewTest, NewWindowsAreMadeByTheUIDelegateAndGetTheirRequest) {
    auto view = makeView();
    auto& page = *kit::ScriptedWebEngine::of(*view);
    auto maker = std::make_shared<WindowMaker>();
    view->setUIDelegate(maker);
    auto created = page.openNewWindow("https://elsewhere.example/doc");
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(maker->newWindowAction.targetsNewWindow);
    EXPECT_FALSE(maker->newWindowAction.targetsMainFrame);
    auto& newPage = *kit::ScriptedWebEngine::of(*created);
    ASSERT_EQ(newPage.loadedRequests().size(), 1u);
    EXPECT_EQ(newPage.loadedRequests()[0].url, "https://elsewhere.example/doc");
    page.closeWindow();
    EXPECT_EQ(maker->closed, 1);
}

TEST_F(WebViewTest, CustomUserAgentReachesTheEngine) {
    auto view = makeView();
    view->setCustomUserAgent("Chrome/109.1.18.0/Morvane QuarnAI/MAC");
    EXPECT_EQ(kit::ScriptedWebEngine::of(*view)->customUserAgent(), "Chrome/109.1.18.0/Morvane QuarnAI/MAC");
    EXPECT_EQ(view->customUserAgent(), "Chrome/109.1.18.0/Morvane QuarnAI/MAC");
}

TEST_F(WebViewTest, EveryViewSharesOnePersistentDataStore) {
    kit::WebViewConfiguration configuration;
    configuration.applicationNameForUserAgent = "QuarnAIAssistant";
    configuration.preferences.elementFullscreenEnabled = true;
    auto first = makeView(configuration);
    auto second = makeView();
    auto store = first->configuration().websiteDataStore;
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store, second->configuration().websiteDataStore);
    EXPECT_TRUE(store->isPersistent());
    EXPECT_EQ(store->dataDirectory().parent_path().parent_path(), env.home() / "Library/Application Support");
    EXPECT_TRUE(kit::ScriptedWebEngine::of(*first)->configuration().preferences.elementFullscreenEnabled);

    kit::HttpCookie cookie;
    cookie.name = "session";
    cookie.value = "abc";
    cookie.domain = ".example.com";
    store->httpCookieStore().setCookie(cookie);
    cookie.value = "def";
    store->httpCookieStore().setCookie(cookie);
    std::vector<kit::HttpCookie> seen;
    second->configuration().websiteDataStore->httpCookieStore().getAllCookies(
        [&](std::vector<kit::HttpCookie> cookies) { seen = std::move(cookies); });
    env.runUntilIdle();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].value, "def");

    auto privateStore = kit::WebsiteDataStore::nonPersistentDataStore();
    EXPECT_FALSE(privateStore->isPersistent());
    EXPECT_NE(privateStore, store);
}

class RecordingDownload : public kit::DownloadDelegate {
public:
    void downloadDidReceiveResponse(kit::DownloadTask&, const kit::UrlResponse& response) override {
        events.push_back("response " + response.suggestedFilename);
    }
    void downloadDidWriteData(kit::DownloadTask&, std::int64_t written, std::int64_t total, std::int64_t) override {
        events.push_back("data " + std::to_string(written) + "/" + std::to_string(total));
    }
    void downloadDidFinishDownloadingTo(kit::DownloadTask&, const std::filesystem::path& location) override {
        std::ifstream file(location);
        std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        events.push_back("finished " + content);
        temporary = location;
        if (!keepAt.empty()) std::filesystem::rename(location, keepAt);
    }
    void downloadDidComplete(kit::DownloadTask&, const std::optional<kit::WebError>& error) override {
        events.push_back(error ? "failed " + std::to_string(error->code) : "completed");
    }
    std::vector<std::string> events;
    std::filesystem::path temporary;
    std::filesystem::path keepAt;
};

TEST_F(WebViewTest, DownloadsReportTheirStepsAndLeaveNoTemporaryFile) {
    auto delegate = std::make_shared<RecordingDownload>();
    delegate->keepAt = env.home() / "report.pdf";
    auto task = kit::DownloadTask::start(
        kit::UrlRequest("https://files.example/report.pdf", kit::UrlRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData, 10),
        delegate);
    ASSERT_EQ(web.downloads().lastTask(), task);
    EXPECT_EQ(task->originalRequest().cachePolicy, kit::UrlRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData);
    web.downloads().finish(*task, "%PDF-1.4", "report.pdf");
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"response report.pdf", "data 8/8", "finished %PDF-1.4", "completed"}));
    EXPECT_TRUE(std::filesystem::exists(delegate->keepAt));
    EXPECT_EQ(task->state(), kit::DownloadTask::State::Completed);

    // A file the delegate does not move away is removed after the call.
    auto second = std::make_shared<RecordingDownload>();
    auto other = kit::DownloadTask::start(kit::UrlRequest("https://files.example/a.zip"), second);
    web.downloads().finish(*other, "zip", "a.zip");
    EXPECT_FALSE(second->temporary.empty());
    EXPECT_FALSE(std::filesystem::exists(second->temporary));
}

TEST_F(WebViewTest, DownloadsFailAndCancel) {
    auto delegate = std::make_shared<RecordingDownload>();
    auto failing = kit::DownloadTask::start(kit::UrlRequest("https://files.example/x.zip"), delegate);
    web.downloads().fail(*failing, kit::WebError{kit::kURLErrorDomain, kit::kURLErrorNotConnectedToInternet});
    auto cancelled = kit::DownloadTask::start(kit::UrlRequest("https://files.example/y.zip"), delegate);
    cancelled->cancel();
    EXPECT_EQ(cancelled->state(), kit::DownloadTask::State::Canceling);
    env.runUntilIdle();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"failed -1009", "failed -999"}));
    EXPECT_EQ(web.downloads().cancelCount(), 1);

    // Events after completion are ignored; a gone delegate hears nothing.
    web.downloads().finish(*failing, "late", "x.zip");
    EXPECT_EQ(delegate->events.size(), 2u);
    auto orphan = kit::DownloadTask::start(kit::UrlRequest("https://files.example/z.zip"), delegate);
    delegate.reset();
    web.downloads().finish(*orphan, "data", "z.zip");
    EXPECT_EQ(orphan->state(), kit::DownloadTask::State::Completed);
}

TEST(WebViewWithoutBackend, ScriptsFailAndDownloadsFailWithoutEngineOrService) {
    kit::TestEnvironment env;
    auto view = kit::create<kit::WebView>(kit::Rect{});
    std::string error;
    view->evaluateJavaScript("1", [&](const kit::ScriptResult& r) { error = r.error(); });
    auto delegate = std::make_shared<RecordingDownload>();
    auto task = kit::DownloadTask::start(kit::UrlRequest("https://files.example/a.zip"), delegate);
    env.runUntilIdle();
    EXPECT_EQ(error, "no web engine is installed");
    EXPECT_EQ(delegate->events, std::vector<std::string>{"failed -1"});
}

TEST(Url, PartsOfAddresses) {
    auto url = kit::Url::parse("HTTPS://User@AI.Example.com:8443/chat/a%20b?version=6&x=1#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(url->host(), "AI.Example.com");
    EXPECT_EQ(url->port(), 8443);
    EXPECT_EQ(url->path(), "/chat/a%20b");
    EXPECT_EQ(url->query(), std::optional<std::string>("version=6&x=1"));
    EXPECT_EQ(url->fragment(), std::optional<std::string>("top"));
    EXPECT_EQ(url->origin(), "https://ai.example.com:8443");
    EXPECT_EQ(url->absoluteString(), "HTTPS://User@AI.Example.com:8443/chat/a%20b?version=6&x=1#top");

    auto data = kit::Url::parse("data:image/png;base64,AAAA");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->scheme(), "data");
    EXPECT_EQ(data->host(), "");
    EXPECT_EQ(data->origin(), "");

    EXPECT_FALSE(kit::Url::parse("relative/path"));
    EXPECT_FALSE(kit::Url::parse(""));
    EXPECT_FALSE(kit::Url::parse(std::string_view("https://a\0b", 11)));
}

}  // namespace
