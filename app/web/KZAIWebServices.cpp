#include "app/web/KZAIWebServices.h"

#include "kit/base/Log.h"

namespace {
struct Handlers {
    std::function<void(const kit::Dictionary&)> loginStateChanged;
    std::function<void()> showLoginWindow;
    std::function<void()> showImageWindow;
    std::function<void(const std::string&)> showDocumentWindow;
};

Handlers& handlers() {
    static Handlers h;
    return h;
}
}  // namespace

void KZAIWebServices::setLoginStateChangedHandler(std::function<void(const kit::Dictionary& info)> handler) {
    handlers().loginStateChanged = std::move(handler);
}

void KZAIWebServices::setShowLoginWindowHandler(std::function<void()> handler) {
    handlers().showLoginWindow = std::move(handler);
}

void KZAIWebServices::onLoginStateChanged(const kit::Dictionary& info) {
    // A copy: the handler may rewire the services.
    auto run = handlers().loginStateChanged;
    if (!run) {
        kit::logLine("[WebView] login state from the page dropped: no login-state manager is wired");
        return;
    }
    run(info);
}

void KZAIWebServices::showLoginWindowRelateToWindow() {
    auto run = handlers().showLoginWindow;
    if (!run) {
        kit::logLine("[WebView] login window not shown: no login-state manager is wired");
        return;
    }
    run();
}

void KZAIWebServices::setShowImageWindowHandler(std::function<void()> handler) {
    handlers().showImageWindow = std::move(handler);
}

void KZAIWebServices::setShowDocumentWindowHandler(std::function<void(const std::string& url)> handler) {
    handlers().showDocumentWindow = std::move(handler);
}

void KZAIWebServices::showAIImageWindowControllerAndCreateNewTab() {
    auto run = handlers().showImageWindow;
    if (!run) {
        kit::logLine("[WebView] image window not shown: no window-controller manager is wired");
        return;
    }
    run();
}

void KZAIWebServices::showAIDocumentWindowControllerAndCreateNewTab(const std::string& url) {
    auto run = handlers().showDocumentWindow;
    if (!run) {
        kit::logLine("[WebView] document window not shown: no window-controller manager is wired");
        return;
    }
    run(url);
}

void KZAIWebServices::reset() { handlers() = Handlers{}; }
