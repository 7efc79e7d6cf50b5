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

class WebViewJavascriptBridge : public WebViewJavascriptBridgeFacade {
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

    // Besides what the facade passes on: server redirects, commits (after resetting the engine)
    // and content-process terminations.
    void didReceiveServerRedirectForProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    void webContentProcessDidTerminate(kit::WebView& webView) override;
};
