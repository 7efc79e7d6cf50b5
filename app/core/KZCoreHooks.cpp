#include "app/core/KZCoreHooks.h"

namespace {

struct Hooks {
    KZCoreHooks::WindowManagerProvider windowManager;
    std::function<bool()> screenshotSelecting;
};

Hooks& hooks() {
    static Hooks h;
    return h;
}

}  // namespace

KZWindowControllerManaging* KZCoreHooks::windowManager() {
    auto provider = hooks().windowManager;
    return provider ? provider() : nullptr;
}

void KZCoreHooks::setWindowManagerProvider(WindowManagerProvider provider) {
    hooks().windowManager = std::move(provider);
}

bool KZCoreHooks::isScreenshotSelecting() {
    auto query = hooks().screenshotSelecting;
    return query ? query() : false;
}

void KZCoreHooks::setScreenshotSelecting(std::function<bool()> query) {
    hooks().screenshotSelecting = std::move(query);
}

void KZCoreHooks::reset() { hooks() = Hooks{}; }
