#pragma once
// The delegates of a web view. Every operation has a default that matches a delegate that does
// not implement it, so an override that only adds to the default may call the base version.
// Decision handlers and completions must be called exactly once (later calls are ignored); the
// web view holds its delegates weakly. Everything is called on the main run loop.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/web/WebError.h"
#include "kit/web/WebNavigation.h"

namespace kit {

class WebView;
struct WebViewConfiguration;

class WebNavigationDelegate {
public:
    virtual ~WebNavigationDelegate() = default;

    // Default: allow.
    virtual void decidePolicyForNavigationAction(WebView& webView, const NavigationAction& action,
                                                 NavigationActionDecision decisionHandler);
    // Default: allow.
    virtual void decidePolicyForNavigationResponse(WebView& webView, const NavigationResponse& response,
                                                   NavigationResponseDecision decisionHandler);
    virtual void didStartProvisionalNavigation(WebView& webView, NavigationId navigation);
    virtual void didReceiveServerRedirectForProvisionalNavigation(WebView& webView, NavigationId navigation);
    virtual void didFailProvisionalNavigation(WebView& webView, NavigationId navigation, const WebError& error);
    // Main-frame navigations only: the new document replaced the old one.
    virtual void didCommitNavigation(WebView& webView, NavigationId navigation);
    virtual void didFinishNavigation(WebView& webView, NavigationId navigation);
    virtual void didFailNavigation(WebView& webView, NavigationId navigation, const WebError& error);
    // Default: perform default handling, no credential.
    virtual void didReceiveAuthenticationChallenge(WebView& webView, const AuthenticationChallenge& challenge,
                                                   AuthenticationDecision completionHandler);
    virtual void webContentProcessDidTerminate(WebView& webView);
};

struct WindowFeatures {
    std::optional<double> x, y, width, height;
    std::optional<bool> menuBarVisibility, statusBarVisibility, toolbarsVisibility, allowsResizing;
};

struct OpenPanelParameters {
    bool allowsMultipleSelection = false;
    bool allowsDirectories = false;
    // What the page's file input accepts ("image/*", ".pdf"); may be empty.
    std::vector<std::string> acceptedTypes;
};

class WebUIDelegate {
public:
    virtual ~WebUIDelegate() = default;

    // A page asks for a new window. Return a web view made with `configuration` to show it, or
    // nullptr to refuse (the default).
    virtual std::shared_ptr<WebView> createWebView(WebView& webView, const WebViewConfiguration& configuration,
                                                   const NavigationAction& action, const WindowFeatures& features);
    // The page called window.close().
    virtual void webViewDidClose(WebView& webView);
    // Default: dismissed at once.
    virtual void runJavaScriptAlertPanel(WebView& webView, const std::string& message, const FrameInfo& frame,
                                         std::function<void()> completionHandler);
    // Default: declined.
    virtual void runJavaScriptConfirmPanel(WebView& webView, const std::string& message, const FrameInfo& frame,
                                           std::function<void(bool)> completionHandler);
    // Default: no text (as cancelling the prompt).
    virtual void runJavaScriptTextInputPanel(WebView& webView, const std::string& prompt,
                                             const std::string& defaultText, const FrameInfo& frame,
                                             std::function<void(std::optional<std::string>)> completionHandler);
    // A file input asks for files. Answer the chosen files' addresses, or nullopt for cancel
    // (the default).
    virtual void runOpenPanel(WebView& webView, const OpenPanelParameters& parameters, const FrameInfo& frame,
                              std::function<void(std::optional<std::vector<std::string>>)> completionHandler);
    // The user dropped files from another program on the page: what it carried, in order, a file
    // of this computer as its local path ("/..."), any other address (another host's file, a web
    // address) as it came. The page's own drop event may see their names without their
    // contents; what the application wants of the files it reads here. The drop never becomes a
    // load of the page. Default: nothing.
    virtual void didDropFiles(WebView& webView, const std::vector<std::string>& paths);
};

}  // namespace kit
