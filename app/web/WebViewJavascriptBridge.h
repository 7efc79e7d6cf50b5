#pragma once
// The class-level entry of the bridge, which picks the facade by the web view's class, and the
// facade of the legacy kind: it takes only the navigation-action decision (a policy delegate),
// catches the bridge's signal addresses there and passes every other navigation event on to the
// web-view delegate untouched. Like the other facade it resets its engine on a main-frame commit.
//
// The legacy web view evaluated scripts synchronously; here, as everywhere, evaluation is
// asynchronous and the fetched queue is flushed when its result arrives.

#include <memory>

#include "app/web/WKWebViewJavascriptBridge.h"
#include "kit/base/Result.h"
#include "kit/ui/View.h"

class WebViewJavascriptBridge : public WebViewJavascriptBridgeFacade,
                                public kit::WebNavigationDelegate,
                                public std::enable_shared_from_this<WebViewJavascriptBridge> {
public:
    // A web view gets a WKWebViewJavascriptBridge; any other view is an error named
    // "BadWebViewType" with the reason "Unknown web view type.".
    static kit::Result<std::shared_ptr<WebViewJavascriptBridgeFacade>> bridgeForWebView(
        const std::shared_ptr<kit::View>& webView);
    static kit::Result<std::shared_ptr<WebViewJavascriptBridgeFacade>> bridge(const std::shared_ptr<kit::View>& webView) {
        return bridgeForWebView(webView);
    }
    // The legacy facade for a web view: it becomes the web view's policy (navigation) delegate.
    static std::shared_ptr<WebViewJavascriptBridge> legacyBridgeForWebView(const std::shared_ptr<kit::WebView>& webView);

    // Stops being the web view's delegate first.
    ~WebViewJavascriptBridge() override;

    void decidePolicyForNavigationAction(kit::WebView& webView, const kit::NavigationAction& action,
                                         kit::NavigationActionDecision decisionHandler) override;
    void decidePolicyForNavigationResponse(kit::WebView& webView, const kit::NavigationResponse& response,
                                           kit::NavigationResponseDecision decisionHandler) override;
    void didStartProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didReceiveServerRedirectForProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFailProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                      const kit::WebError& error) override;
    void didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didFailNavigation(kit::WebView& webView, kit::NavigationId navigation, const kit::WebError& error) override;
    void didReceiveAuthenticationChallenge(kit::WebView& webView, const kit::AuthenticationChallenge& challenge,
                                           kit::AuthenticationDecision completionHandler) override;
    void webContentProcessDidTerminate(kit::WebView& webView) override;

private:
    std::shared_ptr<kit::WebNavigationDelegate> passOnTo() const;
};
