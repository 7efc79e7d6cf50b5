#include "app/web/KZAIWebServices.h"

#include "kit/base/Log.h"

namespace {
struct Handlers {
    std::function<void(const kit::Dictionary&)> loginStateChanged;
    std::function<void()> showLoginWindow;
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

void KZAIWebServices::reset() { handlers() = Handlers{}; }
