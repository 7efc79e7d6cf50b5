#include "app/web/WebViewJavascriptBridge.h"

kit::Result<std::shared_ptr<WebViewJavascriptBridgeFacade>> WebViewJavascriptBridge::bridgeForWebView(
    const std::shared_ptr<kit::View>& webView) {
    if (auto view = std::dynamic_pointer_cast<kit::WebView>(webView)) {
        return std::shared_ptr<WebViewJavascriptBridgeFacade>(WKWebViewJavascriptBridge::bridgeForWebView(view));
    }
    return kit::Error{"BadWebViewType: Unknown web view type."};
}

std::shared_ptr<WebViewJavascriptBridge> WebViewJavascriptBridge::legacyBridgeForWebView(
    const std::shared_ptr<kit::WebView>& webView) {
    auto bridge = std::make_shared<WebViewJavascriptBridge>();
    bridge->webView_ = webView;
    if (webView) webView->setNavigationDelegate(bridge);
    bridge->reset();
    return bridge;
}

WebViewJavascriptBridge::~WebViewJavascriptBridge() {
    // The web view's weak reference to this facade has already expired; clear the slot so that
    // nothing mistakes it for a delegate that is still to come.
    auto view = webView_.lock();
    if (view && !view->navigationDelegate()) view->setNavigationDelegate({});
}

std::shared_ptr<kit::WebNavigationDelegate> WebViewJavascriptBridge::passOnTo() const {
    if (auto delegate = webViewDelegate_.lock()) return delegate;
    static kit::WebNavigationDelegate defaults;
    return std::shared_ptr<kit::WebNavigationDelegate>(std::shared_ptr<void>(), &defaults);
}

void WebViewJavascriptBridge::decidePolicyForNavigationAction(kit::WebView& webView, const kit::NavigationAction& action,
                                                              kit::NavigationActionDecision decisionHandler) {
    if (isOwnWebView(webView) && base_->isWebViewJavascriptBridgeURL(action.request.url)) {
        auto keep = shared_from_this();
        handleBridgeURL(action.request.url);
        decisionHandler(kit::NavigationActionPolicy::Cancel);
        return;
    }
    passOnTo()->decidePolicyForNavigationAction(webView, action, std::move(decisionHandler));
}

void WebViewJavascriptBridge::decidePolicyForNavigationResponse(kit::WebView& webView,
                                                                const kit::NavigationResponse& response,
                                                                kit::NavigationResponseDecision decisionHandler) {
    passOnTo()->decidePolicyForNavigationResponse(webView, response, std::move(decisionHandler));
}

void WebViewJavascriptBridge::didStartProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    passOnTo()->didStartProvisionalNavigation(webView, navigation);
}

void WebViewJavascriptBridge::didReceiveServerRedirectForProvisionalNavigation(kit::WebView& webView,
                                                                               kit::NavigationId navigation) {
    passOnTo()->didReceiveServerRedirectForProvisionalNavigation(webView, navigation);
}

void WebViewJavascriptBridge::didFailProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                                           const kit::WebError& error) {
    passOnTo()->didFailProvisionalNavigation(webView, navigation, error);
}

void WebViewJavascriptBridge::didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    if (isOwnWebView(webView)) mainFrameDidCommit();
    passOnTo()->didCommitNavigation(webView, navigation);
}

void WebViewJavascriptBridge::didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    passOnTo()->didFinishNavigation(webView, navigation);
}

void WebViewJavascriptBridge::didFailNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                                const kit::WebError& error) {
    passOnTo()->didFailNavigation(webView, navigation, error);
}

void WebViewJavascriptBridge::didReceiveAuthenticationChallenge(kit::WebView& webView,
                                                                const kit::AuthenticationChallenge& challenge,
                                                                kit::AuthenticationDecision completionHandler) {
    passOnTo()->didReceiveAuthenticationChallenge(webView, challenge, std::move(completionHandler));
}

void WebViewJavascriptBridge::webContentProcessDidTerminate(kit::WebView& webView) {
    passOnTo()->webContentProcessDidTerminate(webView);
}
