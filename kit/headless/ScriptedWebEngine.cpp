#include "kit/headless/ScriptedWebEngine.h"

#include <algorithm>

#include "kit/base/Json.h"
#include "kit/base/RunLoop.h"
#include "kit/headless/ScriptedDownloadService.h"
#include "kit/web/JavaScriptString.h"
#include "kit/web/Url.h"
#include "kit/web/WebsiteDataStore.h"

namespace kit {

namespace {

constexpr std::string_view kFetchScript = "WebViewJavascriptBridge._fetchQueue();";
constexpr std::string_view kMessagePrefix = "WebViewJavascriptBridge._handleMessageFromObjC('";
constexpr std::string_view kMessageSuffix = "');";
constexpr std::string_view kOriginGuardPrefix = "if (location.origin === '";
constexpr std::string_view kOriginGuardSuffix = "') ";

std::string webOriginOf(const std::string& address) {
    auto url = Url::parse(address);
    return url ? url->webOrigin() : std::string();
}

// Runs the origin check a message script may start with: false when it is there and fails.
bool passesOriginGuard(std::string_view& script, const std::string& documentOrigin) {
    if (!script.starts_with(kOriginGuardPrefix)) return true;
    const auto end = script.find(kOriginGuardSuffix, kOriginGuardPrefix.size());
    if (end == std::string_view::npos) return false;
    auto origin =
        decodeSingleQuotedJavaScript(script.substr(kOriginGuardPrefix.size(), end - kOriginGuardPrefix.size()));
    script.remove_prefix(end + kOriginGuardSuffix.size());
    return origin && *origin == documentOrigin;
}

}  // namespace

ScriptedWebEngine::ScriptedWebEngine(WebView& view, const WebViewConfiguration& configuration)
    : view_(view),
      configuration_(configuration),
      lastActionPolicy_(std::make_shared<std::optional<NavigationActionPolicy>>()),
      lastResponsePolicy_(std::make_shared<std::optional<NavigationResponsePolicy>>()),
      lastOpenPanelAnswer_(std::make_shared<std::optional<std::optional<std::vector<std::string>>>>()) {}

ScriptedWebEngine::~ScriptedWebEngine() = default;

ScriptedWebEngine* ScriptedWebEngine::of(const WebView& view) { return dynamic_cast<ScriptedWebEngine*>(&view.engine()); }

std::vector<std::string> ScriptedWebEngine::takeEvaluatedScripts() {
    std::vector<std::string> out(scripts_.begin() + static_cast<std::ptrdiff_t>(scriptsTaken_), scripts_.end());
    scriptsTaken_ = scripts_.size();
    return out;
}

std::vector<Value> ScriptedWebEngine::takeBridgeMessages() {
    std::vector<Value> out;
    for (std::size_t i = messagesTaken_; i < scripts_.size(); ++i) {
        std::string_view script = scripts_[i];
        if (!passesOriginGuard(script, scriptOrigins_[i])) continue;
        if (!script.starts_with(kMessagePrefix)) continue;
        Value message;
        if (script.size() >= kMessagePrefix.size() + kMessageSuffix.size() && script.ends_with(kMessageSuffix)) {
            auto json = decodeSingleQuotedJavaScript(
                script.substr(kMessagePrefix.size(), script.size() - kMessagePrefix.size() - kMessageSuffix.size()));
            if (json) {
                if (auto parsed = parseJson(*json)) message = std::move(*parsed);
            }
        }
        out.push_back(std::move(message));
    }
    messagesTaken_ = scripts_.size();
    return out;
}

void ScriptedWebEngine::queueBridgeMessage(Value message) { bridgeQueue_.push_back(std::move(message)); }

void ScriptedWebEngine::setNextFetchAnswer(ScriptResult answer) { nextFetchAnswer_ = std::move(answer); }

ScriptResult ScriptedWebEngine::answer(const std::string& script) {
    if (script == kFetchScript) {
        ++fetchCount_;
        if (nextFetchAnswer_) {
            ScriptResult result = std::move(*nextFetchAnswer_);
            nextFetchAnswer_.reset();
            return result;
        }
        std::string text = toJson(Value(std::move(bridgeQueue_)));
        bridgeQueue_.clear();
        return Value(std::move(text));
    }
    if (responder_) return responder_(script);
    return Value();
}

void ScriptedWebEngine::loadRequest(const UrlRequest& request) { loadedRequests_.push_back(request); }

void ScriptedWebEngine::reload() { ++reloadCount_; }

void ScriptedWebEngine::stopLoading() { ++stopCount_; }

void ScriptedWebEngine::customUserAgentDidChange(const std::string& userAgent) { customUserAgent_ = userAgent; }

void ScriptedWebEngine::evaluateJavaScript(std::uint64_t scriptId, const std::string& script) {
    scripts_.push_back(script);
    // The document shown: not the address being loaded, which the view already names.
    const std::string& document = !documentAhead_.empty()       ? documentAhead_
                                  : !committedDocument_.empty() ? committedDocument_
                                                                : view_.url();
    scriptOrigins_.push_back(webOriginOf(document));
    LifetimeWatch alive = alive_.watch();
    // Answered on a later turn, after the scripts given before it.
    RunLoop::main().post([this, alive, scriptId, script] {
        if (alive.expired()) return;
        view_.engineScriptDidFinish(backendBadge(), scriptId, answer(script));
    });
}

FrameInfo ScriptedWebEngine::mainFrame() const {
    FrameInfo frame;
    frame.isMainFrame = true;
    frame.request = UrlRequest(view_.url());
    if (auto url = Url::parse(view_.url())) frame.securityOrigin = url->origin();
    return frame;
}

std::optional<NavigationActionPolicy> ScriptedWebEngine::requestNavigation(const NavigationAction& action) {
    auto decision = std::make_shared<std::optional<NavigationActionPolicy>>();
    lastActionPolicy_ = decision;
    view_.engineDecidePolicyForNavigationAction(backendBadge(), action, [decision](NavigationActionPolicy policy) { *decision = policy; });
    return *decision;
}

std::optional<NavigationActionPolicy> ScriptedWebEngine::requestNavigation(const std::string& url, NavigationType type,
                                                                           bool targetsMainFrame) {
    NavigationAction action;
    action.request = UrlRequest(url);
    action.navigationType = type;
    action.sourceFrame = mainFrame();
    action.targetsMainFrame = targetsMainFrame;
    return requestNavigation(action);
}

std::optional<NavigationActionPolicy> ScriptedWebEngine::signalBridgeQueue() {
    return requestNavigation("wvjbscheme://__wvjb_queue_message__", NavigationType::Other, false);
}

std::optional<NavigationActionPolicy> ScriptedWebEngine::requestBridgeLoaded(const std::string& url) {
    return requestNavigation(url, NavigationType::Other, false);
}

std::optional<NavigationResponsePolicy> ScriptedWebEngine::receiveResponse(const NavigationResponse& response) {
    auto decision = std::make_shared<std::optional<NavigationResponsePolicy>>();
    lastResponsePolicy_ = decision;
    view_.engineDecidePolicyForNavigationResponse(backendBadge(), response, [decision](NavigationResponsePolicy policy) { *decision = policy; });
    return *decision;
}

NavigationId ScriptedWebEngine::startProvisionalNavigation(const std::string& url) {
    navigation_ = nextNavigation_++;
    view_.engineDidChangeLoading(backendBadge(), true);
    view_.engineDidChangeUrl(backendBadge(), url);
    view_.engineDidChangeEstimatedProgress(backendBadge(), 0.1);
    view_.engineDidStartProvisionalNavigation(backendBadge(), navigation_);
    return navigation_;
}

void ScriptedWebEngine::receiveServerRedirect(const std::string& url) {
    view_.engineDidChangeUrl(backendBadge(), url);
    view_.engineDidReceiveServerRedirect(backendBadge(), navigation_);
}

void ScriptedWebEngine::commitInPageProcessOnly(const std::string& url) { documentAhead_ = url; }

void ScriptedWebEngine::commitNavigation() {
    documentAhead_.clear();
    committedDocument_ = view_.url();
    view_.engineDidChangeTitle(backendBadge(), "");
    view_.engineDidChangeEstimatedProgress(backendBadge(), 0.5);
    view_.engineDidCommitNavigation(backendBadge(), navigation_);
}

void ScriptedWebEngine::finishNavigation(const std::string& title) {
    view_.engineDidChangeTitle(backendBadge(), title);
    view_.engineDidChangeEstimatedProgress(backendBadge(), 1.0);
    view_.engineDidChangeLoading(backendBadge(), false);
    view_.engineDidFinishNavigation(backendBadge(), navigation_);
}

void ScriptedWebEngine::failProvisionalNavigation(const WebError& error) {
    view_.engineDidChangeEstimatedProgress(backendBadge(), 1.0);
    view_.engineDidChangeLoading(backendBadge(), false);
    view_.engineDidFailProvisionalNavigation(backendBadge(), navigation_, error);
}

void ScriptedWebEngine::failNavigation(const WebError& error) {
    view_.engineDidChangeEstimatedProgress(backendBadge(), 1.0);
    view_.engineDidChangeLoading(backendBadge(), false);
    view_.engineDidFailNavigation(backendBadge(), navigation_, error);
}

bool ScriptedWebEngine::loadPage(const std::string& url, const std::string& title) {
    LifetimeWatch alive = alive_.watch();
    auto policy = requestNavigation(url, NavigationType::Other, true);
    if (alive.expired() || policy != NavigationActionPolicy::Allow) return false;
    startProvisionalNavigation(url);
    if (alive.expired()) return false;
    NavigationResponse response;
    response.response.url = url;
    response.response.statusCode = 200;
    response.response.mimeType = "text/html";
    auto responsePolicy = receiveResponse(response);
    if (alive.expired()) return false;
    if (responsePolicy != NavigationResponsePolicy::Allow) {
        failProvisionalNavigation(WebError{kWebKitErrorDomain, kWebKitErrorFrameLoadInterruptedByPolicyChange,
                                           "Frame load interrupted", url});
        return false;
    }
    commitNavigation();
    if (alive.expired()) return false;
    finishNavigation(title);
    return true;
}

bool ScriptedWebEngine::completePendingLoad(const std::string& title) {
    if (loadedRequests_.empty()) return false;
    return loadPage(loadedRequests_.back().url, title);
}

void ScriptedWebEngine::terminateWebContentProcess(bool clearPage) {
    view_.engineDidChangeLoading(backendBadge(), false);
    if (clearPage) {
        view_.engineDidChangeTitle(backendBadge(), "");
        view_.engineDidChangeUrl(backendBadge(), "");
    }
    view_.engineWebContentProcessDidTerminate(backendBadge());
}

void ScriptedWebEngine::setTitle(const std::string& title) { view_.engineDidChangeTitle(backendBadge(), title); }

void ScriptedWebEngine::setEstimatedProgress(double progress) { view_.engineDidChangeEstimatedProgress(backendBadge(), progress); }

std::optional<ScriptedWebEngine::ChallengeAnswer> ScriptedWebEngine::receiveAuthenticationChallenge(
    const AuthenticationChallenge& challenge) {
    auto answer = std::make_shared<std::optional<ChallengeAnswer>>();
    view_.engineDidReceiveAuthenticationChallenge(backendBadge(), 
        challenge, [answer](AuthChallengeDisposition disposition, std::shared_ptr<const Credential> credential) {
            *answer = ChallengeAnswer{disposition, std::move(credential)};
        });
    return *answer;
}

void ScriptedWebEngine::runOpenPanel(const OpenPanelParameters& parameters,
                                     std::function<void(std::optional<std::vector<std::string>>)> completionHandler) {
    view_.engineRunOpenPanel(backendBadge(), parameters, mainFrame(), std::move(completionHandler));
}

std::optional<ScriptedWebEngine::ChallengeAnswer> ScriptedWebEngine::receiveServerTrustChallenge(
    bool certificateValidates, int previousFailureCount) {
    AuthenticationChallenge challenge;
    auto url = Url::parse(view_.url());
    challenge.protectionSpace.host = url ? url->host() : std::string();
    challenge.protectionSpace.authenticationMethod = kAuthenticationMethodServerTrust;
    auto trust = std::make_shared<ServerTrust>();
    trust->host = challenge.protectionSpace.host;
    trust->validates = certificateValidates;
    if (!certificateValidates) trust->failureReason = "the certificate is not trusted";
    challenge.protectionSpace.serverTrust = trust;
    challenge.previousFailureCount = previousFailureCount;
    return receiveAuthenticationChallenge(challenge);
}

std::shared_ptr<WebView> ScriptedWebEngine::openNewWindow(const std::string& url, NavigationType type,
                                                          bool userGesture) {
    NavigationAction action;
    action.userGesture = userGesture;
    action.request = UrlRequest(url);
    action.navigationType = type;
    action.sourceFrame = mainFrame();
    action.targetsMainFrame = false;
    action.targetsNewWindow = true;
    auto created = view_.engineCreateWebView(backendBadge(), action, WindowFeatures{});
    if (created) created->loadRequest(action.request);
    return created;
}

void ScriptedWebEngine::closeWindow() { view_.engineDidClose(backendBadge()); }

std::optional<bool> ScriptedWebEngine::runConfirmPanel(const std::string& message) {
    auto answer = std::make_shared<std::optional<bool>>();
    view_.engineRunJavaScriptConfirmPanel(backendBadge(), message, mainFrame(), [answer](bool ok) { *answer = ok; });
    return *answer;
}

std::optional<std::optional<std::string>> ScriptedWebEngine::runTextInputPanel(const std::string& prompt,
                                                                                const std::string& defaultText) {
    auto answer = std::make_shared<std::optional<std::optional<std::string>>>();
    view_.engineRunJavaScriptTextInputPanel(backendBadge(), prompt, defaultText, mainFrame(),
                                            [answer](std::optional<std::string> text) { *answer = std::move(text); });
    return *answer;
}

bool ScriptedWebEngine::runAlertPanel(const std::string& message) {
    auto answered = std::make_shared<bool>(false);
    view_.engineRunJavaScriptAlertPanel(backendBadge(), message, mainFrame(), [answered] { *answered = true; });
    return *answered;
}

void ScriptedWebEngine::dropFiles(const std::vector<std::string>& paths) {
    view_.engineDidDropFiles(backendBadge(), paths);
}

std::optional<std::optional<std::vector<std::string>>> ScriptedWebEngine::runOpenPanel(
    const OpenPanelParameters& parameters) {
    auto answer = std::make_shared<std::optional<std::optional<std::vector<std::string>>>>();
    lastOpenPanelAnswer_ = answer;
    view_.engineRunOpenPanel(backendBadge(), parameters, mainFrame(), [answer](std::optional<std::vector<std::string>> files) {
        *answer = std::move(files);
    });
    return *answer;
}

// ---- ScriptedWebBackend -----------------------------------------------------------------------

class ScriptedWebBackend::Factory : public WebEngineFactory {
public:
    std::unique_ptr<WebEngine> makeEngine(WebView& webView, const WebViewConfiguration& configuration) override {
        auto engine = std::make_unique<ScriptedWebEngine>(webView, configuration);
        views.push_back(std::static_pointer_cast<WebView>(webView.weak_from_this().lock()));
        return engine;
    }
    std::vector<std::weak_ptr<WebView>> views;
};

ScriptedWebBackend::ScriptedWebBackend()
    : factory_(std::make_shared<Factory>()), downloads_(std::make_shared<ScriptedDownloadService>()) {
    WebsiteDataStore::resetDefaultDataStore();
    WebEngineFactory::install(factory_);
    DownloadService::install(downloads_);
}

ScriptedWebBackend::~ScriptedWebBackend() {
    if (WebEngineFactory::current() == factory_) WebEngineFactory::uninstall();
    if (DownloadService::current() == downloads_) DownloadService::uninstall();
    WebsiteDataStore::resetDefaultDataStore();
}

std::vector<ScriptedWebEngine*> ScriptedWebBackend::engines() const {
    std::vector<ScriptedWebEngine*> out;
    for (const auto& weak : factory_->views) {
        if (auto view = weak.lock()) {
            if (auto* engine = ScriptedWebEngine::of(*view)) out.push_back(engine);
        }
    }
    return out;
}

}  // namespace kit
