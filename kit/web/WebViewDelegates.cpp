#include "kit/web/WebViewDelegates.h"

namespace kit {

// The default answers of the delegates' virtual operations. Overrides keep or move their
// decision blocks, so the blocks are taken by value.
// NOLINTBEGIN(performance-unnecessary-value-param)

void WebNavigationDelegate::decidePolicyForNavigationAction(WebView&, const NavigationAction&,
                                                            NavigationActionDecision decisionHandler) {
    decisionHandler(NavigationActionPolicy::Allow);
}

void WebNavigationDelegate::decidePolicyForNavigationResponse(WebView&, const NavigationResponse&,
                                                              NavigationResponseDecision decisionHandler) {
    decisionHandler(NavigationResponsePolicy::Allow);
}

void WebNavigationDelegate::didStartProvisionalNavigation(WebView&, NavigationId) {}
void WebNavigationDelegate::didReceiveServerRedirectForProvisionalNavigation(WebView&, NavigationId) {}
void WebNavigationDelegate::didFailProvisionalNavigation(WebView&, NavigationId, const WebError&) {}
void WebNavigationDelegate::didCommitNavigation(WebView&, NavigationId) {}
void WebNavigationDelegate::didFinishNavigation(WebView&, NavigationId) {}
void WebNavigationDelegate::didFailNavigation(WebView&, NavigationId, const WebError&) {}

void WebNavigationDelegate::didReceiveAuthenticationChallenge(WebView&, const AuthenticationChallenge&,
                                                              AuthenticationDecision completionHandler) {
    completionHandler(AuthChallengeDisposition::PerformDefaultHandling, nullptr);
}

void WebNavigationDelegate::webContentProcessDidTerminate(WebView&) {}

std::shared_ptr<WebView> WebUIDelegate::createWebView(WebView&, const WebViewConfiguration&, const NavigationAction&,
                                                      const WindowFeatures&) {
    return nullptr;
}

void WebUIDelegate::webViewDidClose(WebView&) {}

void WebUIDelegate::runJavaScriptAlertPanel(WebView&, const std::string&, const FrameInfo&,
                                            std::function<void()> completionHandler) {
    completionHandler();
}

void WebUIDelegate::runJavaScriptConfirmPanel(WebView&, const std::string&, const FrameInfo&,
                                              std::function<void(bool)> completionHandler) {
    completionHandler(false);
}

void WebUIDelegate::runJavaScriptTextInputPanel(WebView&, const std::string&, const std::string&, const FrameInfo&,
                                                std::function<void(std::optional<std::string>)> completionHandler) {
    completionHandler(std::nullopt);
}

void WebUIDelegate::runOpenPanel(WebView&, const OpenPanelParameters&, const FrameInfo&,
                                 std::function<void(std::optional<std::vector<std::string>>)> completionHandler) {
    completionHandler(std::nullopt);
}

void WebUIDelegate::didDropFiles(WebView&, const std::vector<std::string>&) {}

// NOLINTEND(performance-unnecessary-value-param)

}  // namespace kit
