#pragma once
// A web view: a view that shows a page of a web engine (see WebEngine.h). It holds what the
// application reads (address, title, estimated progress, loading) with change observation, and
// passes the engine's events to its navigation and UI delegates (held weakly; see
// WebViewDelegates.h).
//
// Made with kit::create<WebView>(frame, configuration). Everything runs on the main run loop:
// delegate calls come from the engine there, and script completions are delivered there on a
// later turn, in the order the scripts were given. Completions still pending when the view goes
// are called with an error. Debug builds check that the engine calls come on the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Result.h"
#include "kit/base/Value.h"
#include "kit/ui/BackendBadge.h"
#include "kit/ui/View.h"
#include "kit/web/UrlRequest.h"
#include "kit/web/WebEngine.h"
#include "kit/web/WebError.h"
#include "kit/web/WebNavigation.h"
#include "kit/web/WebViewConfiguration.h"
#include "kit/web/WebViewDelegates.h"

namespace kit {

// A script's result: its value (a string, a number, an object as a dictionary, null for
// undefined) or an error message.
using ScriptResult = Result<Value>;
using ScriptCompletion = std::function<void(const ScriptResult&)>;

// The observable properties (key paths "URL", "title", "estimatedProgress", "loading"), and
// whether the page's content process has ended.
enum class WebViewProperty { Url, Title, EstimatedProgress, Loading, ContentProcessTerminated };

class WebView : public View {
public:
    explicit WebView(Rect frame = {}, WebViewConfiguration configuration = {});
    ~WebView() override;

    void init() override;
    std::string className() const override { return "WKWebView"; }

    const WebViewConfiguration& configuration() const { return configuration_; }

    std::shared_ptr<WebNavigationDelegate> navigationDelegate() const { return navigationDelegate_.lock(); }
    void setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) { navigationDelegate_ = std::move(delegate); }
    std::shared_ptr<WebUIDelegate> uiDelegate() const { return uiDelegate_.lock(); }
    void setUIDelegate(std::weak_ptr<WebUIDelegate> delegate) { uiDelegate_ = std::move(delegate); }

    // Loading.
    void loadRequest(const UrlRequest& request);
    void reload();
    void stopLoading();

    // The page: its address (absolute, empty when none), title, progress 0...1 and whether a
    // main-frame load is under way.
    const std::string& url() const { return url_; }
    const std::string& title() const { return title_; }
    double estimatedProgress() const { return estimatedProgress_; }
    bool isLoading() const { return loading_; }
    // The content process of the page shown has ended (crashed or killed): the page can no longer
    // run scripts or answer. Until the next navigation starts (a reload brings a new process).
    bool isContentProcessTerminated() const { return contentProcessTerminated_; }

    // Calls the handler after the property changed. The view holds the returned token weakly:
    // observation ends when the token is released.
    [[nodiscard]] std::shared_ptr<void> observe(WebViewProperty property, std::function<void(WebView&)> handler);

    // Scripts run in the order given; a completion gets the result on a later turn.
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion = {});

    // Replaces the whole user agent string; empty restores the engine's own.
    const std::string& customUserAgent() const { return customUserAgent_; }
    void setCustomUserAgent(std::string userAgent);

    WebEngine& engine() const { return *engine_; }

    void viewDidMoveToWindow() override;
    void layout() override;
    // A right click for the page. Subclasses that drop right clicks do not call this version, and
    // the page then shows no context menu (see engineAllowsContextMenu).
    void rightMouseDown(const Event& event) override;

    // ---- For engines: what the page did (only an engine holds the badge). ------------------
    // Decisions go to the delegate, or take the default without one; a handler answers once.
    void engineDecidePolicyForNavigationAction(BackendBadge, const NavigationAction& action, NavigationActionDecision decisionHandler);
    void engineDecidePolicyForNavigationResponse(BackendBadge, const NavigationResponse& response,
                                                 NavigationResponseDecision decisionHandler);
    void engineDidReceiveAuthenticationChallenge(BackendBadge, const AuthenticationChallenge& challenge,
                                                 AuthenticationDecision completionHandler);
    void engineDidStartProvisionalNavigation(BackendBadge, NavigationId navigation);
    void engineDidReceiveServerRedirect(BackendBadge, NavigationId navigation);
    void engineDidFailProvisionalNavigation(BackendBadge, NavigationId navigation, const WebError& error);
    void engineDidCommitNavigation(BackendBadge, NavigationId navigation);
    void engineDidFinishNavigation(BackendBadge, NavigationId navigation);
    void engineDidFailNavigation(BackendBadge, NavigationId navigation, const WebError& error);
    void engineWebContentProcessDidTerminate(BackendBadge);
    void engineDidChangeUrl(BackendBadge, std::string url);
    void engineDidChangeTitle(BackendBadge, std::string title);
    void engineDidChangeEstimatedProgress(BackendBadge, double progress);
    void engineDidChangeLoading(BackendBadge, bool loading);
    void engineScriptDidFinish(BackendBadge, std::uint64_t scriptId, ScriptResult result);
    // The page was right-clicked: true when the click reaches the page (see rightMouseDown), so
    // that the engine may show the page's context menu.
    bool engineAllowsContextMenu(BackendBadge, const Event& rightMouseDown);
    // UI: a new window (nullptr: refused), window.close(), dialogs and file inputs.
    std::shared_ptr<WebView> engineCreateWebView(BackendBadge, const NavigationAction& action, const WindowFeatures& features);
    void engineDidClose(BackendBadge);
    void engineRunJavaScriptAlertPanel(BackendBadge, const std::string& message, const FrameInfo& frame,
                                       std::function<void()> completionHandler);
    void engineRunJavaScriptConfirmPanel(BackendBadge, const std::string& message, const FrameInfo& frame,
                                         std::function<void(bool)> completionHandler);
    void engineRunJavaScriptTextInputPanel(BackendBadge, const std::string& prompt, const std::string& defaultText,
                                           const FrameInfo& frame,
                                           std::function<void(std::optional<std::string>)> completionHandler);
    void engineRunOpenPanel(BackendBadge, const OpenPanelParameters& parameters, const FrameInfo& frame,
                            std::function<void(std::optional<std::vector<std::string>>)> completionHandler);

private:
    struct Observer;
    void notify(WebViewProperty property);
    // Keeps the view alive across a delegate call that may release it.
    std::shared_ptr<View> keepAlive();

    WebViewConfiguration configuration_;
    std::unique_ptr<WebEngine> engine_;
    std::weak_ptr<WebNavigationDelegate> navigationDelegate_;
    std::weak_ptr<WebUIDelegate> uiDelegate_;
    std::string url_;
    std::string title_;
    double estimatedProgress_ = 0;
    bool loading_ = false;
    bool contentProcessTerminated_ = false;
    std::string customUserAgent_;
    std::vector<std::weak_ptr<Observer>> observers_;
    std::uint64_t nextScriptId_ = 1;
    std::map<std::uint64_t, ScriptCompletion> pendingScripts_;
    // While an engine asks about a right click on the page.
    bool askingAboutContextMenu_ = false;
    bool rightClickReachedPage_ = false;
};

}  // namespace kit
