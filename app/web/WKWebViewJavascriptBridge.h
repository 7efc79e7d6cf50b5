#pragma once
// The bridge facade of a web view. It becomes the web view's navigation delegate: it catches the
// bridge's signal addresses (the page asking for the page script, the page's queue holding
// messages), which never reach anyone else, and passes the other navigation events it handles on
// to a web-view delegate.
//
// A new main-frame document has no page script: on a main-frame commit the facade resets its
// engine (unless nothing was delivered since the last reset), so that messages sent from then on
// wait in the start-up queue and reach the new page once it asks for the bridge.
//
// Ownership: the owner (the web view's wrapper) holds the facade strongly; the facade holds its
// engine strongly and the web view and the web-view delegate weakly.

#include <memory>
#include <string>

#include "app/web/WebViewJavascriptBridgeBase.h"
#include "kit/base/Lifetime.h"
#include "kit/web/WebView.h"
#include "kit/web/WebViewDelegates.h"

// What both facades offer, and the navigation handling they share: bridge addresses shown in the
// own web view are cancelled and handled here; responses, provisional start and failure, finish,
// failure and authentication challenges are passed on to the web-view delegate (or its default).
class WebViewJavascriptBridgeFacade : public WebViewJavascriptBridgeBaseDelegate,
                                      public kit::WebNavigationDelegate,
                                      public std::enable_shared_from_this<WebViewJavascriptBridgeFacade> {
public:
    WebViewJavascriptBridgeFacade();
    ~WebViewJavascriptBridgeFacade() override;

    void setWebViewDelegate(std::weak_ptr<kit::WebNavigationDelegate> webViewDelegate) {
        webViewDelegate_ = std::move(webViewDelegate);
    }
    void registerHandler(const std::string& handlerName, WVJBHandler handler);
    void removeHandler(const std::string& handlerName);
    void callHandler(const std::string& handlerName);
    void callHandler(const std::string& handlerName, const kit::Value& data);
    void callHandler(const std::string& handlerName, const kit::Value& data, WVJBResponseCallback responseCallback);
    void send(const kit::Value& data);
    void send(const kit::Value& data, WVJBResponseCallback responseCallback);
    void reset();
    void disableJavscriptAlertBoxSafetyTimeout();

    static void enableLogging();
    static void setLogMaxLength(int length);

    std::shared_ptr<kit::WebView> webView() const { return webView_.lock(); }
    // The engine, for tests.
    WebViewJavascriptBridgeBase& base() { return *base_; }

    // Evaluates in the web view without waiting for a result.
    std::string _evaluateJavascript(const std::string& javascriptCommand) override;

    void decidePolicyForNavigationAction(kit::WebView& webView, const kit::NavigationAction& action,
                                         kit::NavigationActionDecision decisionHandler) override;
    void decidePolicyForNavigationResponse(kit::WebView& webView, const kit::NavigationResponse& response,
                                           kit::NavigationResponseDecision decisionHandler) override;
    void didStartProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFailProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                      const kit::WebError& error) override;
    void didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFailNavigation(kit::WebView& webView, kit::NavigationId navigation, const kit::WebError& error) override;
    void didReceiveAuthenticationChallenge(kit::WebView& webView, const kit::AuthenticationChallenge& challenge,
                                           kit::AuthenticationDecision completionHandler) override;

protected:
    // The web-view delegate, or one that applies the defaults.
    std::shared_ptr<kit::WebNavigationDelegate> passOnTo() const;
    // Handles a bridge address: injects the page script or fetches and flushes the page's queue.
    void handleBridgeURL(const std::string& url);
    // A new main-frame document.
    void mainFrameDidCommit();
    // Whether the document now shown may have the page script and send its queue; a subclass
    // that knows which pages to trust narrows it. Refused signals are cancelled and go no further.
    virtual bool pageMayUseBridge() const { return true; }
    bool isOwnWebView(const kit::WebView& webView) const { return &webView == webView_.lock().get(); }

    std::weak_ptr<kit::WebView> webView_;
    std::weak_ptr<kit::WebNavigationDelegate> webViewDelegate_;
    std::unique_ptr<WebViewJavascriptBridgeBase> base_;
    // Expires with the facade: fetch completions check it.
    kit::Lifetime alive_;
};

class WKWebViewJavascriptBridge : public WebViewJavascriptBridgeFacade {
public:
    // Makes a facade, binds it to the web view as its navigation delegate and resets it.
    static std::shared_ptr<WKWebViewJavascriptBridge> bridgeForWebView(const std::shared_ptr<kit::WebView>& webView);

    // Besides what the facade passes on: commits reset the engine and, like server redirects and
    // content-process terminations, are not passed on.
    void didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
};
