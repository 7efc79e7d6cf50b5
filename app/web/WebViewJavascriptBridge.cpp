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

void WebViewJavascriptBridge::didReceiveServerRedirectForProvisionalNavigation(kit::WebView& webView,
                                                                               kit::NavigationId navigation) {
    passOnTo()->didReceiveServerRedirectForProvisionalNavigation(webView, navigation);
}

void WebViewJavascriptBridge::didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    if (isOwnWebView(webView)) mainFrameDidCommit();
    passOnTo()->didCommitNavigation(webView, navigation);
}

void WebViewJavascriptBridge::webContentProcessDidTerminate(kit::WebView& webView) {
    passOnTo()->webContentProcessDidTerminate(webView);
}
