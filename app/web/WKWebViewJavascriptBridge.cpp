#include "app/web/WKWebViewJavascriptBridge.h"

#include "kit/base/Log.h"

WebViewJavascriptBridgeFacade::WebViewJavascriptBridgeFacade()
    : base_(std::make_unique<WebViewJavascriptBridgeBase>()) {
    base_->delegate = this;
}

WebViewJavascriptBridgeFacade::~WebViewJavascriptBridgeFacade() = default;

void WebViewJavascriptBridgeFacade::registerHandler(const std::string& handlerName, WVJBHandler handler) {
    base_->registerHandler(handlerName, std::move(handler));
}

void WebViewJavascriptBridgeFacade::removeHandler(const std::string& handlerName) { base_->removeHandler(handlerName); }

void WebViewJavascriptBridgeFacade::callHandler(const std::string& handlerName) {
    base_->sendData(kit::Value(), nullptr, handlerName);
}

void WebViewJavascriptBridgeFacade::callHandler(const std::string& handlerName, const kit::Value& data) {
    base_->sendData(data, nullptr, handlerName);
}

void WebViewJavascriptBridgeFacade::callHandler(const std::string& handlerName, const kit::Value& data,
                                                WVJBResponseCallback responseCallback) {
    base_->sendData(data, std::move(responseCallback), handlerName);
}

void WebViewJavascriptBridgeFacade::send(const kit::Value& data) { base_->sendData(data, nullptr, std::nullopt); }

void WebViewJavascriptBridgeFacade::send(const kit::Value& data, WVJBResponseCallback responseCallback) {
    base_->sendData(data, std::move(responseCallback), std::nullopt);
}

void WebViewJavascriptBridgeFacade::reset() { base_->reset(); }

void WebViewJavascriptBridgeFacade::disableJavscriptAlertBoxSafetyTimeout() {
    base_->sendData(kit::Value(), nullptr, "_disableJavascriptAlertBoxSafetyTimeout");
}

void WebViewJavascriptBridgeFacade::enableLogging() { WebViewJavascriptBridgeBase::enableLogging(); }

void WebViewJavascriptBridgeFacade::setLogMaxLength(int length) { WebViewJavascriptBridgeBase::setLogMaxLength(length); }

std::string WebViewJavascriptBridgeFacade::_evaluateJavascript(const std::string& javascriptCommand) {
    if (auto view = webView_.lock()) view->evaluateJavaScript(javascriptCommand);
    return {};
}

void WebViewJavascriptBridgeFacade::handleBridgeURL(const std::string& url) {
    if (base_->isBridgeLoadedURL(url)) {
        base_->injectJavascriptFile();
        return;
    }
    if (!base_->isQueueMessageURL(url)) return;
    auto view = webView_.lock();
    if (!view) return;
    kit::LifetimeWatch alive = alive_.watch();
    view->evaluateJavaScript(WebViewJavascriptBridgeBase::webViewJavascriptFetchQueyCommand(),
                             [this, alive](const kit::ScriptResult& result) {
                                 if (alive.expired()) return;
                                 std::optional<std::string> text;
                                 if (!result.ok()) {
                                     kit::logf("WebViewJavascriptBridge: WARNING: Error when trying to fetch data "
                                               "from WKWebView: %s",
                                               result.error().c_str());
                                 } else if (const std::string* s = result->asString()) {
                                     text = *s;
                                 }
                                 base_->flushMessageQueue(text);
                             });
}

void WebViewJavascriptBridgeFacade::mainFrameDidCommit() {
    // While the start-up queue exists nothing has reached any page since the last reset: the
    // waiting messages and their callbacks are for the page now coming.
    if (base_->hasStartupQueue()) return;
    base_->reset();
}

std::shared_ptr<WKWebViewJavascriptBridge> WKWebViewJavascriptBridge::bridgeForWebView(
    const std::shared_ptr<kit::WebView>& webView) {
    auto bridge = std::make_shared<WKWebViewJavascriptBridge>();
    bridge->webView_ = webView;
    if (webView) webView->setNavigationDelegate(bridge);
    bridge->reset();
    return bridge;
}

void WKWebViewJavascriptBridge::didCommitNavigation(kit::WebView& webView, kit::NavigationId) {
    if (isOwnWebView(webView)) mainFrameDidCommit();
}

std::shared_ptr<kit::WebNavigationDelegate> WebViewJavascriptBridgeFacade::passOnTo() const {
    if (auto delegate = webViewDelegate_.lock()) return delegate;
    static kit::WebNavigationDelegate defaults;
    return std::shared_ptr<kit::WebNavigationDelegate>(std::shared_ptr<void>(), &defaults);
}

void WebViewJavascriptBridgeFacade::decidePolicyForNavigationAction(kit::WebView& webView,
                                                                    const kit::NavigationAction& action,
                                                                    kit::NavigationActionDecision decisionHandler) {
    if (isOwnWebView(webView) && base_->isWebViewJavascriptBridgeURL(action.request.url)) {
        auto keep = shared_from_this();
        if (pageMayUseBridge()) {
            handleBridgeURL(action.request.url);
        } else {
            kit::logf("WebViewJavascriptBridge: refused %s from a page that may not use the bridge",
                      base_->isBridgeLoadedURL(action.request.url) ? "the page script" : "the page's queue");
        }
        decisionHandler(kit::NavigationActionPolicy::Cancel);
        return;
    }
    passOnTo()->decidePolicyForNavigationAction(webView, action, std::move(decisionHandler));
}

void WebViewJavascriptBridgeFacade::decidePolicyForNavigationResponse(kit::WebView& webView,
                                                                      const kit::NavigationResponse& response,
                                                                      kit::NavigationResponseDecision decisionHandler) {
    passOnTo()->decidePolicyForNavigationResponse(webView, response, std::move(decisionHandler));
}

void WebViewJavascriptBridgeFacade::didStartProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    passOnTo()->didStartProvisionalNavigation(webView, navigation);
}

void WebViewJavascriptBridgeFacade::didFailProvisionalNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                                                 const kit::WebError& error) {
    passOnTo()->didFailProvisionalNavigation(webView, navigation, error);
}

void WebViewJavascriptBridgeFacade::didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    passOnTo()->didFinishNavigation(webView, navigation);
}

void WebViewJavascriptBridgeFacade::didFailNavigation(kit::WebView& webView, kit::NavigationId navigation,
                                                      const kit::WebError& error) {
    passOnTo()->didFailNavigation(webView, navigation, error);
}

void WebViewJavascriptBridgeFacade::didReceiveAuthenticationChallenge(kit::WebView& webView,
                                                                      const kit::AuthenticationChallenge& challenge,
                                                                      kit::AuthenticationDecision completionHandler) {
    passOnTo()->didReceiveAuthenticationChallenge(webView, challenge, std::move(completionHandler));
}
