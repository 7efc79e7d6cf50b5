#include "app/core/KZCoreHooks.h"

namespace {

struct Hooks {
    KZCoreHooks::WindowManagerProvider windowManager;
    std::function<bool()> screenshotSelecting;
    KZCoreHooks::TerminationGuard terminationGuard;
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

bool KZCoreHooks::holdTermination(std::function<void(bool proceed)> decided, bool askUser) {
    auto guard = hooks().terminationGuard;
    return guard ? guard(std::move(decided), askUser) : false;
}

void KZCoreHooks::setTerminationGuard(TerminationGuard guard) { hooks().terminationGuard = std::move(guard); }

void KZCoreHooks::reset() { hooks() = Hooks{}; }
