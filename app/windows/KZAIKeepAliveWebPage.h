#pragma once
// The login-state manager's hidden keep-alive page: an AI web view that is never shown in a
// window. It forwards the page's ready signal and the network changes to the manager.
//
// Ownership: the login-state manager owns this object, which owns the web view; the web view and
// this object refer to the manager weakly.

#include <memory>
#include <optional>
#include <string>

#include "app/core/KZAIUserManager.h"
#include "app/web/KZAIWebViewDelegate.h"

class KZAIWebView;

class KZAIKeepAliveWebPage : public KZAIKeepAlivePage,
                             public KZAIWebViewDelegate,
                             public std::enable_shared_from_this<KZAIKeepAliveWebPage> {
public:
    static std::shared_ptr<KZAIKeepAliveWebPage> make(std::weak_ptr<KZAIUserManager> manager);

    explicit KZAIKeepAliveWebPage(std::weak_ptr<KZAIUserManager> manager) : manager_(std::move(manager)) {}

    const std::shared_ptr<KZAIWebView>& webView() const { return webView_; }

    void loadRequestWithURL(const std::string& url) override;
    bool isAIWebReady() const override;
    void native2js_requestAuthUser() override;
    void native2js_requestLogout() override;
    void native2js_cancelLogin() override;
    void native2js_loginEventNotify(bool isLogin) override;
    void native2js_clientUserChange(bool isLogin, bool webViewVisible) override;

    void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) override;
    void webviewDidRecieveNetworkChanged(KZBaseWebView& webview, bool reachable) override;

private:
    std::weak_ptr<KZAIUserManager> manager_;
    std::shared_ptr<KZAIWebView> webView_;
};
