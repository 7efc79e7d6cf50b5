#include "app/web/KZBaseWebView.h"

#include <cmath>
#include <optional>

#include "app/core/KZBundleInfo.h"
#include "app/ui/KZNetworkStatusView.h"
#include "app/web/KZBaseWebViewReportHelper.h"
#include "app/web/KZWKWebView.h"
#include "app/web/KZWebLoadingView.h"
#include "frameworks/ColorHelpers.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/Workspace.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/web/Url.h"
#include "kit/web/WebView.h"

namespace {

// A localised text whose "%ld" takes a number. The number is put in by replacement, never by
// using the (table-supplied) text as a format.
std::string localizedWithCode(std::string_view key, long code) {
    std::string text = KZLocalizedString(key);
    if (auto at = text.find("%ld"); at != std::string::npos) text.replace(at, 3, std::to_string(code));
    return text;
}

}  // namespace

KZBaseWebView::KZBaseWebView(kit::Rect frame) : kit::View(frame) {}

KZBaseWebView::~KZBaseWebView() {
    kit::logf("[WebView] dealloc : %s", logText(rootURL_).c_str());
    KZGlobalNetworkListener::shared().unregisterListener(this);
    // Releasing the tokens ends the web view's property observation and every notification
    // observation, on whichever centre it was registered.
    observationTokens_.clear();
}

void KZBaseWebView::init() {
    kit::View::init();
    showsRefreshButtonInErrorView_ = true;
    showsErrorViewIfAIWebReadyTimeout_ = true;

    webView_ = createWebView();
    webView_->setFrame(bounds());
    webView_->setAutoresizingMask(kit::ViewWidthSizable | kit::ViewHeightSizable);
    addSubview(webView_);

    auto self = std::static_pointer_cast<KZBaseWebView>(shared_from_this());
    KZGlobalNetworkListener::shared().registerListener(self);
    observeNotifications();
}

void KZBaseWebView::observeNotifications() {
    std::weak_ptr<KZBaseWebView> weak = std::static_pointer_cast<KZBaseWebView>(shared_from_this());
    auto on = [weak](void (KZBaseWebView::*method)()) {
        return [weak, method](const kit::Notification&) {
            if (auto self = weak.lock()) ((*self).*method)();
        };
    };
    auto& center = kit::NotificationCenter::defaultCenter();
    observationTokens_.push_back(center.addObserverForName(kit::kApplicationWillBecomeActiveNotification, nullptr,
                                                           on(&KZBaseWebView::applicationWillBecomeActive)));
    auto& workspaceCenter = kit::Workspace::shared().notificationCenter();
    observationTokens_.push_back(
        workspaceCenter.addObserverForName(kKZWorkspaceDidWakeNotification, nullptr, on(&KZBaseWebView::didWake)));
    observationTokens_.push_back(workspaceCenter.addObserverForName(kKZWorkspaceScreensDidWakeNotification, nullptr,
                                                                    on(&KZBaseWebView::screensDidWake)));
}

std::shared_ptr<KZWKWebView> KZBaseWebView::createWebView() {
    kit::WebViewConfiguration configuration;
    configuration.applicationNameForUserAgent = kKZWebViewApplicationName;
    configuration.preferences.elementFullscreenEnabled = true;
    configuration.preferences.javaScriptCanOpenWindowsAutomatically = true;
    configuration.preferences.developerExtrasEnabled = true;
    configuration.sharedProcessName = sharedPageProcessName();

    auto webView = kit::create<KZWKWebView>(kit::Rect{}, configuration);
    webView->setDisableRightMenu(true);
    webView->setWantsLayer(true);
    webView->setBackgroundColor(kit::Color::white());

    auto self = std::static_pointer_cast<KZBaseWebView>(shared_from_this());
    webView->setNavigationDelegate(std::static_pointer_cast<kit::WebNavigationDelegate>(self));
    webView->setUIDelegate(std::static_pointer_cast<kit::WebUIDelegate>(self));
    webView->setCustomUserAgent(kKZWebViewUserAgent);

    std::weak_ptr<KZBaseWebView> weak = self;
    observationTokens_.push_back(webView->observe(kit::WebViewProperty::EstimatedProgress, [weak](kit::WebView& view) {
        auto strong = weak.lock();
        if (strong && strong->isOwnWebView(view)) strong->updateProgress(view.estimatedProgress());
    }));
    observationTokens_.push_back(webView->observe(kit::WebViewProperty::Url, [weak](kit::WebView& view) {
        auto strong = weak.lock();
        if (strong && strong->isOwnWebView(view)) strong->currentURL_ = view.url();
    }));
    observationTokens_.push_back(webView->observe(kit::WebViewProperty::Title, [weak](kit::WebView& view) {
        auto strong = weak.lock();
        if (strong && strong->isOwnWebView(view)) strong->title_ = view.title();
    }));
    return webView;
}

bool KZBaseWebView::isOwnWebView(const kit::WebView& webView) const { return &webView == webView_.get(); }

std::string KZBaseWebView::logText(const std::string& text) { return text.empty() ? "(null)" : text; }

// ---- Loading --------------------------------------------------------------------------------------

void KZBaseWebView::loadRequestWithURL(const std::string& url) {
    kit::logf("[WebView] Load Request URL : %s", logText(url).c_str());
    __resetRequestStatus();
    if (url.empty()) return;
    rootURL_ = url;
    webView_->loadRequest(kit::UrlRequest(url, kit::UrlRequestCachePolicy::UseProtocolCachePolicy,
                                          kKZWebViewRequestTimeout));
    setIsLoading(true);
}

void KZBaseWebView::__resetRequestStatus() {
    setIsLoading(false);
    __dismissErrorView();
}

void KZBaseWebView::reload() {
    if (isLoading_) {
        kit::logLine("[WebView] isLoading !");
        return;
    }
    kit::logf("[WebView] reload, origin url: %s, current url: %s", logText(rootURL_).c_str(),
              logText(webView_->url()).c_str());
    __dismissErrorView();
    if (!webView_->url().empty()) {
        webView_->reload();
    } else {
        reloadOriginUrl();
    }
    setIsLoading(true);
}

void KZBaseWebView::reloadOriginUrl() {
    kit::logf("[WebView] reloadOriginUrl, origin url: %s", logText(rootURL_).c_str());
    loadRequestWithURL(rootURL_);
}

bool KZBaseWebView::isContentProcessTerminated() const { return webView_ && webView_->isContentProcessTerminated(); }

void KZBaseWebView::reloadIfTerminate() {
    const std::string& pageTitle = webView_->title();
    const std::string& pageURL = webView_->url();
    kit::logf("[KZBaseWebView] reloadIfTerminate. title = %s, URL = %s, should load URL = %s",
              logText(pageTitle).c_str(), logText(pageURL).c_str(), logText(rootURL_).c_str());
    if (!pageTitle.empty() || !pageURL.empty() || rootURL_.empty()) return;
    kit::logf("[KZBaseWebView] reloadForTerminate, currentURL: %s", rootURL_.c_str());
    reload();
    _reportWebViewDidTerminate(2);
}

void KZBaseWebView::applicationWillBecomeActive() {
    kit::logLine("[KZBaseWebView] applicationWillBecomeActive");
    reloadIfTerminate();
}

void KZBaseWebView::didWake() {
    kit::logLine("[KZBaseWebView] didWake");
    reloadIfTerminate();
}

void KZBaseWebView::screensDidWake() {
    kit::logLine("[KZBaseWebView] screensDidWake");
    reloadIfTerminate();
}

void KZBaseWebView::onReceiveNetworkChanged(bool reachable) {
    kit::logf("[WebView] onReceiveNetworkChanged : %d, current url: %s", reachable ? 1 : 0,
              logText(webView_->url()).c_str());
    if (auto d = delegate()) d->webviewDidRecieveNetworkChanged(*this, reachable);
    if (reachable && isErrorViewShowing()) reload();
}

std::string KZBaseWebView::errorTextOfWaitingReadyTimeout() const { return KZLocalizedString("加载超时，请稍后再试"); }

// ---- Loading view and progress bar ----------------------------------------------------------------

const std::shared_ptr<KZWebLoadingView>& KZBaseWebView::loadingView() {
    if (!loadingView_) loadingView_ = kit::create<KZWebLoadingView>();
    return loadingView_;
}

void KZBaseWebView::setIsLoading(bool isLoading) {
    isLoading_ = isLoading;
    auto& view = loadingView();
    // Topmost on every change: above the page and an error view shown earlier.
    if (view->superview() == this) view->removeFromSuperview();
    addSubview(view);
    auto self = shared_from_this();
    kit::remakeConstraints(view, [&](kit::ConstraintMaker& make) {
        make.top().equalTo(self).offset(kProgressBarHeight);
        make.left().right().bottom().equalTo(self);
    });
    view->setHidden(!isLoading);
    if (isLoading) {
        view->startAnimation();
    } else {
        view->stopAnimation();
    }
}

const std::shared_ptr<kit::View>& KZBaseWebView::progressView() {
    if (!progressView_) {
        progressView_ = kit::create<kit::View>();
        progressView_->setWantsLayer(true);
        progressView_->setBackgroundColor(intlGreenColor());
        addSubview(progressView_, Ordering::Above, webView_.get());
    }
    return progressView_;
}

kit::Rect KZBaseWebView::progressRectForProgress(double progress) const {
    kit::Rect rect = bounds();
    rect.size.width *= 0.9 * progress + 0.1;
    rect.size.height = kProgressBarHeight;
    rect.origin.y = bounds().height() - kProgressBarHeight;
    return rect;
}

void KZBaseWebView::updateProgress(double progress) {
    auto bar = progressView();
    const kit::Rect rect = progressRectForProgress(progress);
    if (progress < 1.0) {
        bar->setFrame(rect);
        bar->setHidden(false);
        return;
    }
    std::weak_ptr<kit::View> weakBar = bar;
    kit::AnimationContext::runAnimationGroup(
        [&](kit::AnimationContext& context) {
            context.duration = kProgressFinishDuration;
            bar->animator().setFrame(rect);
        },
        [weakBar](bool finished) {
            // A new load that took the bar over meanwhile keeps it visible.
            if (!finished) return;
            if (auto b = weakBar.lock()) b->setHidden(true);
        });
}

void KZBaseWebView::resizeSubviewsWithOldSize(kit::Size oldSize) {
    kit::View::resizeSubviewsWithOldSize(oldSize);
    if (webView_) updateProgress(webView_->estimatedProgress());
}

// ---- Error view -------------------------------------------------------------------------------------

bool KZBaseWebView::isErrorViewShowing() const { return networkErrorView_ && networkErrorView_->superview(); }

std::string KZBaseWebView::errorTextForError(const kit::WebError& error) {
    if (error.domain == kit::kURLErrorDomain && error.code != kit::kURLErrorCancelled)
        return localizedWithCode(KZLocalizableKey("当前网络不佳，请稍后再试(%ld)"), error.code);
    return localizedWithCode(KZLocalizableKey("加载失败，请稍后再试(%ld)"), error.code);
}

void KZBaseWebView::__showErrorViewWithError(const kit::WebError& error) { __showErrorViewWithText(errorTextForError(error)); }

void KZBaseWebView::__createNetworkErrorViewHasFlushButton(bool hasFlushButton) {
    networkErrorView_ = KZNetworkStatusView::initWithStyle(hasFlushButton ? KZNetworkStatusViewStyleImageTextButton
                                                                          : KZNetworkStatusViewStyleImageText);
    if (!hasFlushButton) return;
    std::weak_ptr<KZBaseWebView> weak = std::static_pointer_cast<KZBaseWebView>(shared_from_this());
    networkErrorView_->setClickEvent([weak](KZNetworkStatusView&) {
        if (auto self = weak.lock()) self->reloadOriginUrl();
    });
}

void KZBaseWebView::__showErrorViewWithText(const std::string& text) {
    if (!networkErrorView_) __createNetworkErrorViewHasFlushButton(showsRefreshButtonInErrorView_);
    networkErrorView_->setImageName(kKZErrorViewImageName);
    networkErrorView_->setDescText(text);
    networkErrorView_->setButtonTitle(KZLocalizedString("刷新"));
    if (networkErrorView_->superview() == this) networkErrorView_->removeFromSuperview();
    addSubview(networkErrorView_);
    auto self = shared_from_this();
    kit::remakeConstraints(networkErrorView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(self); });
}

void KZBaseWebView::__dismissErrorView() {
    if (networkErrorView_ && networkErrorView_->superview()) networkErrorView_->removeFromSuperview();
}

// ---- Navigation delegate ---------------------------------------------------------------------------

void KZBaseWebView::decidePolicyForNavigationAction(kit::WebView&, const kit::NavigationAction& action,
                                                    kit::NavigationActionDecision decisionHandler) {
    const std::string url = kit::asciiLowercase(action.request.url);
    kit::logf("[WebView] decidePolicyForNavigationAction origin url: %s, to url : %s", logText(rootURL_).c_str(),
              url.c_str());
    if (url.starts_with("blob:")) {
        kit::logLine("[WebView] cancel blob");
        decisionHandler(kit::NavigationActionPolicy::Cancel);
        return;
    }
    decisionHandler(kit::NavigationActionPolicy::Allow);
}

void KZBaseWebView::decidePolicyForNavigationResponse(kit::WebView&, const kit::NavigationResponse&,
                                                      kit::NavigationResponseDecision decisionHandler) {
    decisionHandler(kit::NavigationResponsePolicy::Allow);
}

void KZBaseWebView::didStartProvisionalNavigation(kit::WebView&, kit::NavigationId) {
    kit::logLine("[WebView] didStartProvisionalNavigation");
    _reportWebViewDidStartLoad();
}

void KZBaseWebView::didReceiveServerRedirectForProvisionalNavigation(kit::WebView&, kit::NavigationId) {
    kit::logf("[WebView] didReceiveServerRedirectForProvisionalNavigation origin url: %s", logText(rootURL_).c_str());
}

void KZBaseWebView::didFailProvisionalNavigation(kit::WebView&, kit::NavigationId, const kit::WebError& error) {
    kit::logf("[WebView] didFailProvisionalNavigation origin url: %s, error: %s", logText(rootURL_).c_str(),
              error.description().c_str());
    setIsLoading(false);
    // A load that another load replaced (or that was stopped) is not a failure to show.
    if (!error.isCancellation()) __showErrorViewWithError(error);
    _reportWebViewDidFailLoadWithError(error);
}

void KZBaseWebView::didCommitNavigation(kit::WebView&, kit::NavigationId) {
    kit::logf("[WebView] didCommitNavigation origin url: %s", logText(rootURL_).c_str());
}

void KZBaseWebView::didFinishNavigation(kit::WebView&, kit::NavigationId) {
    kit::logf("[WebView] didFinishNavigation origin url: %s", logText(rootURL_).c_str());
    setIsLoading(false);
    _reportWebViewDidFinishLoad();
}

void KZBaseWebView::didFailNavigation(kit::WebView&, kit::NavigationId, const kit::WebError& error) {
    kit::logf("[WebView] didFailNavigation origin url: %s, error: %s", logText(rootURL_).c_str(),
              error.description().c_str());
    setIsLoading(false);
    if (!error.isCancellation()) __showErrorViewWithError(error);
    _reportWebViewDidFailLoadWithError(error);
}

void KZBaseWebView::didReceiveAuthenticationChallenge(kit::WebView&, const kit::AuthenticationChallenge& challenge,
                                                      kit::AuthenticationDecision completionHandler) {
    const auto& space = challenge.protectionSpace;
    if (space.authenticationMethod == kit::kAuthenticationMethodServerTrust && challenge.previousFailureCount == 0 &&
        space.serverTrust && space.serverTrust->validates) {
        auto credential = std::make_shared<kit::Credential>();
        credential->serverTrust = space.serverTrust;
        completionHandler(kit::AuthChallengeDisposition::UseCredential, std::move(credential));
        return;
    }
    if (space.authenticationMethod == kit::kAuthenticationMethodServerTrust) {
        kit::logf("[WebView] server certificate of %s refused: %s", space.host.c_str(),
                  space.serverTrust ? space.serverTrust->failureReason.c_str() : "no certificate");
    }
    completionHandler(kit::AuthChallengeDisposition::CancelAuthenticationChallenge, nullptr);
}

void KZBaseWebView::webContentProcessDidTerminate(kit::WebView&) {
    kit::logf("[WebView] WebViewWebContentProcessDidTerminate origin url: %s", logText(rootURL_).c_str());
    _reportWebViewDidTerminate(1);
    webView_->reload();
}

// ---- UI delegate -----------------------------------------------------------------------------------

std::shared_ptr<kit::WebView> KZBaseWebView::createWebView(kit::WebView&, const kit::WebViewConfiguration&,
                                                           const kit::NavigationAction& action,
                                                           const kit::WindowFeatures&) {
    kit::logf("[WebView] createWebViewWithConfiguration origin url: %s, to url: %s", logText(rootURL_).c_str(),
              logText(action.request.url).c_str());
    if (mayOpenNewWindow(action)) openNewWindowInBrowser(action.request.url);
    return nullptr;
}

bool KZBaseWebView::mayOpenNewWindow(const kit::NavigationAction& action) {
    const auto comparable = [](const std::string& address) {
        auto url = kit::Url::parse(address);
        return url ? url->webOrigin() : std::string();
    };
    const std::string service = comparable(KZBundleInfo::aiBaseURL());
    const std::string source = comparable(action.sourceFrame.securityOrigin);
    if (!service.empty() && source == service) return true;
    static std::optional<double> lastAllowed;
    const double now = kit::RunLoop::main().now();
    if (!action.userGesture) {
        kit::logf("[WebView] new window dropped, not asked for by the user: %s, page: %s",
                  logText(action.request.url).c_str(), logText(source).c_str());
        return false;
    }
    if (lastAllowed && now >= *lastAllowed && now - *lastAllowed < kForeignNewWindowInterval) {
        kit::logf("[WebView] new window dropped, another one was opened just before: %s, page: %s",
                  logText(action.request.url).c_str(), logText(source).c_str());
        return false;
    }
    lastAllowed = now;
    return true;
}

void KZBaseWebView::openNewWindowInBrowser(const std::string& url) {
    auto parsed = kit::Url::parse(url);
    // Only web addresses go to the browser: other schemes would launch whatever handles them.
    if (!parsed || (parsed->scheme() != "http" && parsed->scheme() != "https")) {
        kit::logf("[WebView] new window dropped, not a web address: %s", logText(url).c_str());
        return;
    }
    kit::Workspace::shared().openURL(parsed->absoluteString());
}

void KZBaseWebView::webViewDidClose(kit::WebView&) {
    kit::logf("[WebView] webView Did Close, origin url: %s", logText(rootURL_).c_str());
}

void KZBaseWebView::runJavaScriptConfirmPanel(kit::WebView&, const std::string& message, const kit::FrameInfo&,
                                              std::function<void(bool)> completionHandler) {
    kit::logf("[WebView] runJavaScriptConfirmPanelWithMessage: %s, origin url: %s", message.c_str(),
              logText(rootURL_).c_str());
    completionHandler(false);
}

void KZBaseWebView::runJavaScriptTextInputPanel(kit::WebView&, const std::string& prompt, const std::string&,
                                                const kit::FrameInfo&,
                                                std::function<void(std::optional<std::string>)> completionHandler) {
    kit::logf("[WebView] runJavaScriptTextInputPanelWithPrompt: %s, origin url: %s", prompt.c_str(),
              logText(rootURL_).c_str());
    completionHandler(std::nullopt);
}

// ---- Reports -----------------------------------------------------------------------------------------

void KZBaseWebView::_reportWithKey(std::int64_t key, const std::vector<std::string>& arrayValue) {
    KZBaseWebViewReportHelper::_reportWithKey(key, arrayValue);
}

std::string KZBaseWebView::reportAddress() const { return webView_ ? webView_->url() : std::string(); }

void KZBaseWebView::_reportWebViewDidStartLoad() {
    if (webViewLoadStep_ != 0) return;
    webViewLoadStep_ = 1;
    didStartLoadDate_ = kit::RunLoop::main().now();
    const std::string address = reportAddress();
    _reportWithKey(24001, {address});
    kit::logf("[KZBaseWebView] WebViewDidStartLoad: %s", address.c_str());
}

void KZBaseWebView::_reportWebViewDidFinishLoad() {
    if (webViewLoadStep_ != 1) return;
    webViewLoadStep_ = 2;
    const std::string address = reportAddress();
    _reportWithKey(24002, {address, std::to_string(KZBaseWebViewReportHelper::millisecondsSince(didStartLoadDate_))});
    kit::logf("[KZBaseWebView] WebViewDidFinishLoad: %s", address.c_str());
}

void KZBaseWebView::_reportWebViewDidFailLoadWithError(const kit::WebError& error) {
    if (webViewLoadStep_ != 1) return;
    webViewLoadStep_ = 2;
    const std::string address = reportAddress();
    _reportWithKey(24003, {address, std::to_string(KZBaseWebViewReportHelper::millisecondsSince(didStartLoadDate_)),
                           error.domain, std::to_string(error.code)});
    kit::logf("[KZBaseWebView] WebViewDidFailLoad: %s", address.c_str());
}

void KZBaseWebView::_reportWebViewDidTerminate(long reason) const {
    _reportWithKey(24004, {reportAddress(), std::to_string(reason)});
    kit::logf("[KZBaseWebView] WebViewDidTerminate: %ld", reason);
}
