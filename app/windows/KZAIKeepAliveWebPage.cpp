#include "app/windows/KZAIKeepAliveWebPage.h"

#include "app/web/KZAIWebView.h"
#include "kit/ui/Create.h"

std::shared_ptr<KZAIKeepAliveWebPage> KZAIKeepAliveWebPage::make(std::weak_ptr<KZAIUserManager> manager) {
    auto page = std::make_shared<KZAIKeepAliveWebPage>(std::move(manager));
    page->webView_ = kit::create<KZAIWebView>(kit::Rect{0, 0, 400, 600});
    page->webView_->setDelegate(std::static_pointer_cast<KZAIWebViewDelegate>(page));
    return page;
}

void KZAIKeepAliveWebPage::loadRequestWithURL(const std::string& url) { webView_->loadRequestWithURL(url); }
bool KZAIKeepAliveWebPage::isAIWebReady() const { return webView_->isAIWebReady(); }
void KZAIKeepAliveWebPage::native2js_requestAuthUser() { webView_->native2js_requestAuthUser(); }
void KZAIKeepAliveWebPage::native2js_requestLogout() { webView_->native2js_requestLogout(); }
void KZAIKeepAliveWebPage::native2js_cancelLogin() { webView_->native2js_cancelLogin(); }
void KZAIKeepAliveWebPage::native2js_loginEventNotify(bool isLogin) { webView_->native2js_loginEventNotify(isLogin); }
void KZAIKeepAliveWebPage::native2js_clientUserChange(bool isLogin, bool webViewVisible) {
    webView_->native2js_clientUserChange(isLogin, webViewVisible);
}

void KZAIKeepAliveWebPage::webviewIsReadyFrom(KZAIWebView&, const std::optional<std::string>& from) {
    if (auto manager = manager_.lock()) manager->webviewIsReadyFrom(from);
}

void KZAIKeepAliveWebPage::webviewDidRecieveNetworkChanged(KZBaseWebView&, bool reachable) {
    if (auto manager = manager_.lock()) manager->webviewDidRecieveNetworkChanged(reachable);
}
