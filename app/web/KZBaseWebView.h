#pragma once
// The view every page lives in. It wraps one platform web view with the fixed configuration and
// user agent, and adds a 2-point progress bar along the top, a loading view while a request is
// under way, an error view with a refresh button when a load fails, reloading when the network
// comes back while the error view shows and when a dead content process left an empty page (on
// activation and wake), the navigation and window policies, and the reports of the first load.
//
// Made with kit::create<KZBaseWebView>(); subclasses override the hooks marked below and call
// the base versions. Ownership: the wrapper owns the web view, the loading view, the error view
// and the progress bar; the web view holds the wrapper (its delegates) weakly; the network
// listener, the centres and the delegate are held weakly or by tokens that go with the wrapper.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/KZGlobalNetworkListener.h"
#include "kit/sys/Workspace.h"
#include "kit/ui/View.h"
#include "kit/web/WebViewDelegates.h"

class KZWKWebView;
class KZWebLoadingView;
class KZNetworkStatusView;
class KZBaseWebView;

class KZBaseWebViewDelegate {
public:
    virtual ~KZBaseWebViewDelegate() = default;
    virtual void webviewDidRecieveNetworkChanged(KZBaseWebView& webview, bool reachable) {
        (void)webview;
        (void)reachable;
    }
};

inline constexpr const char* kKZWebViewUserAgent = "Chrome/109.1.18.0/Morvane QuarnAI/MAC";
inline constexpr const char* kKZWebViewApplicationName = "QuarnAIAssistant";
inline constexpr double kKZWebViewRequestTimeout = 10.0;
inline constexpr const char* kKZErrorViewImageName = "tips_no_net_placeholder";
// The workspace's wake notifications.
inline constexpr const char* kKZWorkspaceDidWakeNotification = kit::kWorkspaceDidWake;
inline constexpr const char* kKZWorkspaceScreensDidWakeNotification = kit::kWorkspaceScreensDidWake;

class KZBaseWebView : public kit::View,
                      public KZGlobalNetworkListenerDelegate,
                      public kit::WebNavigationDelegate,
                      public kit::WebUIDelegate {
public:
    explicit KZBaseWebView(kit::Rect frame = {});
    ~KZBaseWebView() override;
    void init() override;
    std::string className() const override { return "KZBaseWebView"; }

    // ---- Loading. ------------------------------------------------------------------------------
    // Resets the request status; an empty address stops there. Otherwise loads it with the
    // default cache policy and a 10-second timeout and remembers it as the root address.
    void loadRequestWithURL(const std::string& url);
    // Refused (only logged) while a request is under way; reloads the page, or the root
    // address when the web view has none.
    void reload();
    // A fresh load of the root address.
    void reloadOriginUrl();
    // Reloads and reports when a dead content process left the page without title and address.
    void reloadIfTerminate();

    bool isLoading() const { return isLoading_; }
    // Shows (and animates) or hides the loading view.
    void setIsLoading(bool isLoading);

    // ---- State. -------------------------------------------------------------------------------
    const std::shared_ptr<KZWKWebView>& webView() const { return webView_; }
    // The page's content process has ended (until the next load starts): it cannot answer.
    bool isContentProcessTerminated() const;
    // The address last given to loadRequestWithURL ("origin url"); empty when none.
    const std::string& rootURL() const { return rootURL_; }
    const std::string& currentURL() const { return currentURL_; }
    const std::string& title() const { return title_; }
    int webViewLoadStep() const { return webViewLoadStep_; }

    std::shared_ptr<KZBaseWebViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<KZBaseWebViewDelegate> delegate) { delegate_ = std::move(delegate); }

    bool showsRefreshButtonInErrorView() const { return showsRefreshButtonInErrorView_; }
    void setShowsRefreshButtonInErrorView(bool shows) { showsRefreshButtonInErrorView_ = shows; }
    bool showsErrorViewIfAIWebReadyTimeout() const { return showsErrorViewIfAIWebReadyTimeout_; }
    void setShowsErrorViewIfAIWebReadyTimeout(bool shows) { showsErrorViewIfAIWebReadyTimeout_ = shows; }
    bool isErrorViewShowing() const;

    // Made on first use.
    const std::shared_ptr<kit::View>& progressView();
    const std::shared_ptr<KZWebLoadingView>& loadingView();
    // Made at the first error; null before.
    const std::shared_ptr<KZNetworkStatusView>& networkErrorView() const { return networkErrorView_; }

    // The text of the error view when a page did not say it is ready in time. Overridable.
    virtual std::string errorTextOfWaitingReadyTimeout() const;

    // ---- Network listener. ---------------------------------------------------------------------
    void onReceiveNetworkChanged(bool reachable) override;

    // ---- Notifications. ------------------------------------------------------------------------
    void applicationWillBecomeActive();
    void didWake();
    void screensDidWake();

    // ---- Navigation delegate. ------------------------------------------------------------------
    void decidePolicyForNavigationAction(kit::WebView& webView, const kit::NavigationAction& action,
                                         kit::NavigationActionDecision decisionHandler) override;
    void decidePolicyForNavigationResponse(kit::WebView& webView, const kit::NavigationResponse& response,
                                           kit::NavigationResponseDecision decisionHandler) override;
    void didStartProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didReceiveServerRedirectForProvisionalNavigation(kit::WebView& webView,
                                                          kit::NavigationId navigation) override;
    void didFailProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                      const kit::WebError& error) override;
    void didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFailNavigation(kit::WebView& webView, kit::NavigationId navigation, const kit::WebError& error) override;
    // Trusts a server certificate only when it validates.
    void didReceiveAuthenticationChallenge(kit::WebView& webView, const kit::AuthenticationChallenge& challenge,
                                           kit::AuthenticationDecision completionHandler) override;
    void webContentProcessDidTerminate(kit::WebView& webView) override;

    // ---- UI delegate. --------------------------------------------------------------------------
    // Opens http and https addresses in the default browser when mayOpenNewWindow allows the
    // request; makes no web view.
    std::shared_ptr<kit::WebView> createWebView(kit::WebView& webView, const kit::WebViewConfiguration& configuration,
                                                const kit::NavigationAction& action,
                                                const kit::WindowFeatures& features) override;
    // Whether a page's request for a new window may open anything at all. The AI service's pages
    // always may. Other sites' pages (wherever they are shown: the side window follows links to
    // any site) may only for a click or key press of the user's, and at most once a second for
    // the whole process, so that no page can launch the browser by itself or again and again.
    // An allowed request of another site counts towards that second.
    static bool mayOpenNewWindow(const kit::NavigationAction& action);
    static constexpr double kForeignNewWindowInterval = 1.0;
    void webViewDidClose(kit::WebView& webView) override;
    // Declined at once.
    void runJavaScriptConfirmPanel(kit::WebView& webView, const std::string& message, const kit::FrameInfo& frame,
                                   std::function<void(bool)> completionHandler) override;
    // No text, at once.
    void runJavaScriptTextInputPanel(kit::WebView& webView, const std::string& prompt, const std::string& defaultText,
                                     const kit::FrameInfo& frame,
                                     std::function<void(std::optional<std::string>)> completionHandler) override;

    // ---- Error view. ---------------------------------------------------------------------------
    void __showErrorViewWithError(const kit::WebError& error);
    void __showErrorViewWithText(const std::string& text);
    void __dismissErrorView();
    // The text shown for a failed load.
    static std::string errorTextForError(const kit::WebError& error);

    // ---- Reports. ------------------------------------------------------------------------------
    static void _reportWithKey(std::int64_t key, const std::vector<std::string>& arrayValue);
    // The web view's current absolute address, or "".
    std::string reportAddress() const;

    // The progress bar's frame for a progress value.
    kit::Rect progressRectForProgress(double progress) const;
    static constexpr double kProgressBarHeight = 2.0;
    static constexpr double kProgressFinishDuration = 0.2;

protected:
    // Overridable steps; overrides call the base first.
    virtual void __resetRequestStatus();
    virtual void _reportWebViewDidStartLoad();
    void _reportWebViewDidFinishLoad();
    void _reportWebViewDidFailLoadWithError(const kit::WebError& error);
    void _reportWebViewDidTerminate(long reason) const;

    // The last step of a new-window request: a web address goes to the default browser.
    void openNewWindowInBrowser(const std::string& url);
    std::shared_ptr<KZWKWebView> createWebView();
    // The page process this view shares with others of the same name; the AI service's pages
    // share one. Empty for a process of its own.
    virtual std::string sharedPageProcessName() const { return "ai-service"; }
    bool isOwnWebView(const kit::WebView& webView) const;
    // "(null)" for an empty address, as log lines print a missing one.
    static std::string logText(const std::string& text);

    void resizeSubviewsWithOldSize(kit::Size oldSize) override;

private:
    void __createNetworkErrorViewHasFlushButton(bool hasFlushButton);
    void updateProgress(double progress);
    void observeNotifications();

    std::shared_ptr<KZWKWebView> webView_;
    std::shared_ptr<kit::View> progressView_;
    std::shared_ptr<KZWebLoadingView> loadingView_;
    std::shared_ptr<KZNetworkStatusView> networkErrorView_;
    bool isLoading_ = false;
    std::string rootURL_;
    std::string currentURL_;
    std::string title_;
    int webViewLoadStep_ = 0;
    double didStartLoadDate_ = 0;
    std::weak_ptr<KZBaseWebViewDelegate> delegate_;
    bool showsRefreshButtonInErrorView_ = true;
    bool showsErrorViewIfAIWebReadyTimeout_ = true;
    // Observation of the web view and of the centres (default and workspace) ends when these go.
    std::vector<std::shared_ptr<void>> observationTokens_;
};
