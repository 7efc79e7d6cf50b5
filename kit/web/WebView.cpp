#include "kit/web/WebView.h"

#include <mutex>
#include <utility>

#include "kit/base/MainThread.h"
#include "kit/base/RunLoop.h"
#include "kit/web/WebsiteDataStore.h"

namespace kit {

namespace {

// Wraps a handler so that only its first call goes through.
template <class... Args>
std::function<void(Args...)> callOnce(std::function<void(Args...)> handler) {
    auto shared = std::make_shared<std::function<void(Args...)>>(std::move(handler));
    return [shared](Args... args) {
        if (!*shared) return;
        auto run = std::move(*shared);
        *shared = nullptr;
        run(std::forward<Args>(args)...);
    };
}

WebNavigationDelegate& defaultNavigationDelegate() {
    static WebNavigationDelegate defaults;
    return defaults;
}

WebUIDelegate& defaultUIDelegate() {
    static WebUIDelegate defaults;
    return defaults;
}

// Loads nothing; scripts fail.
class NullWebEngine : public WebEngine {
public:
    explicit NullWebEngine(WebView& view) : view_(view) {}
    void loadRequest(const UrlRequest&) override {}
    void reload() override {}
    void stopLoading() override {}
    void evaluateJavaScript(std::uint64_t scriptId, const std::string&) override {
        view_.engineScriptDidFinish(backendBadge(), scriptId, Error{"no web engine is installed"});
    }
    void customUserAgentDidChange(const std::string&) override {}

private:
    WebView& view_;
};

std::mutex gFactoryMutex;
std::shared_ptr<WebEngineFactory> gFactory;

}  // namespace

void WebEngineFactory::install(std::shared_ptr<WebEngineFactory> factory) {
    std::lock_guard lock(gFactoryMutex);
    gFactory = std::move(factory);
}

void WebEngineFactory::uninstall() { install(nullptr); }

std::shared_ptr<WebEngineFactory> WebEngineFactory::current() {
    std::lock_guard lock(gFactoryMutex);
    return gFactory;
}

struct WebView::Observer {
    WebViewProperty property;
    std::function<void(WebView&)> handler;
};

WebView::WebView(Rect frame, WebViewConfiguration configuration)
    : View(frame), configuration_(std::move(configuration)) {
    if (!configuration_.websiteDataStore) configuration_.websiteDataStore = WebsiteDataStore::defaultDataStore();
}

WebView::~WebView() {
    engine_.reset();
    // Pending completions still hear back, with an error, on a later turn.
    for (auto& [id, completion] : pendingScripts_) {
        if (!completion) continue;
        RunLoop::main().post([completion = std::move(completion)] {
            completion(ScriptResult(Error{"the web view was closed before the script finished"}));
        });
    }
}

void WebView::init() {
    View::init();
    if (auto factory = WebEngineFactory::current()) engine_ = factory->makeEngine(*this, configuration_);
    if (!engine_) engine_ = std::make_unique<NullWebEngine>(*this);
}

std::shared_ptr<View> WebView::keepAlive() { return weak_from_this().lock(); }

void WebView::loadRequest(const UrlRequest& request) { engine_->loadRequest(request); }

void WebView::reload() { engine_->reload(); }

void WebView::stopLoading() { engine_->stopLoading(); }

std::shared_ptr<void> WebView::observe(WebViewProperty property, std::function<void(WebView&)> handler) {
    auto observer = std::make_shared<Observer>(Observer{property, std::move(handler)});
    observers_.push_back(observer);
    return observer;
}

void WebView::notify(WebViewProperty property) {
    auto keep = keepAlive();
    std::erase_if(observers_, [](const std::weak_ptr<Observer>& o) { return o.expired(); });
    // A snapshot: handlers may add or release observers.
    const auto snapshot = observers_;
    for (const auto& weak : snapshot) {
        auto observer = weak.lock();
        if (observer && observer->property == property) observer->handler(*this);
    }
}

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    const std::uint64_t id = nextScriptId_++;
    if (completion) pendingScripts_.emplace(id, std::move(completion));
    engine_->evaluateJavaScript(id, script);
}

void WebView::engineScriptDidFinish(BackendBadge, std::uint64_t scriptId, ScriptResult result) {
    KIT_ASSERT_MAIN_THREAD();
    auto it = pendingScripts_.find(scriptId);
    if (it == pendingScripts_.end()) return;
    ScriptCompletion completion = std::move(it->second);
    pendingScripts_.erase(it);
    RunLoop::main().post([completion = std::move(completion), result = std::move(result)] { completion(result); });
}

void WebView::setCustomUserAgent(std::string userAgent) {
    customUserAgent_ = std::move(userAgent);
    engine_->customUserAgentDidChange(customUserAgent_);
}

void WebView::viewDidMoveToWindow() {
    View::viewDidMoveToWindow();
    if (engine_) engine_->viewGeometryDidChange();
}

void WebView::layout() {
    View::layout();
    if (engine_) engine_->viewGeometryDidChange();
}

void WebView::rightMouseDown(const Event& event) {
    if (askingAboutContextMenu_) {
        rightClickReachedPage_ = true;
        return;
    }
    View::rightMouseDown(event);
}

bool WebView::engineAllowsContextMenu(BackendBadge, const Event& rightMouseDown) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    askingAboutContextMenu_ = true;
    rightClickReachedPage_ = false;
    this->rightMouseDown(rightMouseDown);
    askingAboutContextMenu_ = false;
    return std::exchange(rightClickReachedPage_, false);
}

void WebView::engineDecidePolicyForNavigationAction(BackendBadge, const NavigationAction& action,
                                                    NavigationActionDecision decisionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = navigationDelegate();
    (delegate ? *delegate : defaultNavigationDelegate())
        .decidePolicyForNavigationAction(*this, action, callOnce(std::move(decisionHandler)));
}

void WebView::engineDecidePolicyForNavigationResponse(BackendBadge, const NavigationResponse& response,
                                                      NavigationResponseDecision decisionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = navigationDelegate();
    (delegate ? *delegate : defaultNavigationDelegate())
        .decidePolicyForNavigationResponse(*this, response, callOnce(std::move(decisionHandler)));
}

void WebView::engineDidReceiveAuthenticationChallenge(BackendBadge, const AuthenticationChallenge& challenge,
                                                      AuthenticationDecision completionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = navigationDelegate();
    (delegate ? *delegate : defaultNavigationDelegate())
        .didReceiveAuthenticationChallenge(*this, challenge, callOnce(std::move(completionHandler)));
}

void WebView::engineDidStartProvisionalNavigation(BackendBadge, NavigationId navigation) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (std::exchange(contentProcessTerminated_, false)) notify(WebViewProperty::ContentProcessTerminated);
    if (auto delegate = navigationDelegate()) delegate->didStartProvisionalNavigation(*this, navigation);
}

void WebView::engineDidReceiveServerRedirect(BackendBadge, NavigationId navigation) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (auto delegate = navigationDelegate()) delegate->didReceiveServerRedirectForProvisionalNavigation(*this, navigation);
}

void WebView::engineDidFailProvisionalNavigation(BackendBadge, NavigationId navigation, const WebError& error) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (auto delegate = navigationDelegate()) delegate->didFailProvisionalNavigation(*this, navigation, error);
}

void WebView::engineDidCommitNavigation(BackendBadge, NavigationId navigation) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (auto delegate = navigationDelegate()) delegate->didCommitNavigation(*this, navigation);
}

void WebView::engineDidFinishNavigation(BackendBadge, NavigationId navigation) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (auto delegate = navigationDelegate()) delegate->didFinishNavigation(*this, navigation);
}

void WebView::engineDidFailNavigation(BackendBadge, NavigationId navigation, const WebError& error) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (auto delegate = navigationDelegate()) delegate->didFailNavigation(*this, navigation, error);
}

void WebView::engineWebContentProcessDidTerminate(BackendBadge) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (!std::exchange(contentProcessTerminated_, true)) notify(WebViewProperty::ContentProcessTerminated);
    if (auto delegate = navigationDelegate()) delegate->webContentProcessDidTerminate(*this);
}

void WebView::engineDidChangeUrl(BackendBadge, std::string url) {
    KIT_ASSERT_MAIN_THREAD();
    if (url == url_) return;
    url_ = std::move(url);
    notify(WebViewProperty::Url);
}

void WebView::engineDidChangeTitle(BackendBadge, std::string title) {
    KIT_ASSERT_MAIN_THREAD();
    if (title == title_) return;
    title_ = std::move(title);
    notify(WebViewProperty::Title);
}

void WebView::engineDidChangeEstimatedProgress(BackendBadge, double progress) {
    KIT_ASSERT_MAIN_THREAD();
    if (progress < 0) progress = 0;
    if (progress > 1) progress = 1;
    if (progress == estimatedProgress_) return;
    estimatedProgress_ = progress;
    notify(WebViewProperty::EstimatedProgress);
}

void WebView::engineDidChangeLoading(BackendBadge, bool loading) {
    KIT_ASSERT_MAIN_THREAD();
    if (loading == loading_) return;
    loading_ = loading;
    notify(WebViewProperty::Loading);
}

std::shared_ptr<WebView> WebView::engineCreateWebView(BackendBadge, const NavigationAction& action, const WindowFeatures& features) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = uiDelegate();
    if (!delegate) return nullptr;
    return delegate->createWebView(*this, configuration_, action, features);
}

void WebView::engineDidClose(BackendBadge) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    if (auto delegate = uiDelegate()) delegate->webViewDidClose(*this);
}

void WebView::engineRunJavaScriptAlertPanel(BackendBadge, const std::string& message, const FrameInfo& frame,
                                            std::function<void()> completionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = uiDelegate();
    (delegate ? *delegate : defaultUIDelegate())
        .runJavaScriptAlertPanel(*this, message, frame, callOnce(std::move(completionHandler)));
}

void WebView::engineRunJavaScriptConfirmPanel(BackendBadge, const std::string& message, const FrameInfo& frame,
                                              std::function<void(bool)> completionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = uiDelegate();
    (delegate ? *delegate : defaultUIDelegate())
        .runJavaScriptConfirmPanel(*this, message, frame, callOnce(std::move(completionHandler)));
}

void WebView::engineRunJavaScriptTextInputPanel(BackendBadge, const std::string& prompt, const std::string& defaultText,
                                                const FrameInfo& frame,
                                                std::function<void(std::optional<std::string>)> completionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = uiDelegate();
    (delegate ? *delegate : defaultUIDelegate())
        .runJavaScriptTextInputPanel(*this, prompt, defaultText, frame, callOnce(std::move(completionHandler)));
}

void WebView::engineRunOpenPanel(BackendBadge, const OpenPanelParameters& parameters, const FrameInfo& frame,
                                 std::function<void(std::optional<std::vector<std::string>>)> completionHandler) {
    KIT_ASSERT_MAIN_THREAD();
    auto keep = keepAlive();
    auto delegate = uiDelegate();
    (delegate ? *delegate : defaultUIDelegate())
        .runOpenPanel(*this, parameters, frame, callOnce(std::move(completionHandler)));
}

}  // namespace kit
