#include "kit/ui/Application.h"

#include <algorithm>

#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Backend.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Panels.h"
#include "kit/ui/View.h"

namespace kit {

Application& Application::shared() {
    static Application* application = new Application();
    return *application;
}

void Application::reset() {
    for (auto& window : windows()) {
        window->setDelegate({});
        window->close();
    }
    windows_.clear();
    onScreen_.clear();
    keyWindow_.reset();
    mainWindow_.reset();
    keyBeforeDeactivation_.reset();
    modalWindow_.reset();
    modalResponse_.reset();
    modalDepth_ = 0;
    active_ = true;
    preference_ = AppearancePreference::System;
    lastAppearance_ = effectiveAppearance();
    currentEvent_ = nullptr;
    terminationRequested_ = false;
    terminationHandler_ = nullptr;
    pendingTermination_ = nullptr;
    SavePanel::resetTurns();
    delegate_.reset();
}

std::vector<std::shared_ptr<Window>> Application::windows() const {
    std::vector<std::shared_ptr<Window>> live;
    for (const auto& weak : windows_) {
        if (auto window = weak.lock()) live.push_back(window);
    }
    return live;
}

std::vector<std::shared_ptr<Window>> Application::orderedWindows() const { return onScreen_; }

std::shared_ptr<Window> Application::windowAtPoint(Point screenPoint) const {
    for (const auto& window : onScreen_) {
        if (!window->isVisible() || window->ignoresMouseEvents()) continue;
        if (window->frame().contains(screenPoint)) return window;
    }
    return nullptr;
}

void Application::registerWindow(const std::shared_ptr<Window>& window) {
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const auto& w) { return w.expired(); }), windows_.end());
    windows_.push_back(window);
}

void Application::windowDidOrderIn(const std::shared_ptr<Window>& window) {
    onScreen_.erase(std::remove(onScreen_.begin(), onScreen_.end(), window), onScreen_.end());
    // Front of its level: before the first window of the same or a lower level.
    auto it = std::find_if(onScreen_.begin(), onScreen_.end(), [&](const auto& w) { return w->level() <= window->level(); });
    onScreen_.insert(it, window);
}

void Application::windowDidOrderOut(Window& window) {
    auto it = std::find_if(onScreen_.begin(), onScreen_.end(), [&](const auto& w) { return w.get() == &window; });
    if (it != onScreen_.end()) {
        // The window may be ordered out from inside its own callback: release it later.
        releaseLater(*it);
        onScreen_.erase(it);
    }
    if (keyWindow_.lock().get() == &window) passKeyStatusOn(window);
    if (mainWindow_.lock().get() == &window) mainWindow_.reset();
    if (keyBeforeDeactivation_.lock().get() == &window) keyBeforeDeactivation_.reset();
}

void Application::windowDidClose(Window& window) {
    if (modalWindow_.lock().get() == &window) abortModal();
}

void Application::passKeyStatusOn(Window& leaving) {
    setKeyWindow(nullptr);
    if (!active_) return;
    for (const auto& window : onScreen_) {
        if (window.get() != &leaving && window->isVisible() && window->canBecomeKeyWindow() && !window->attachedSheet()) {
            window->makeKeyWindow();
            return;
        }
    }
}

void Application::setKeyWindow(Window* window) {
    auto current = keyWindow_.lock();
    if (current.get() == window) return;
    if (window && !active_) {
        // Becomes key once the application is active again.
        keyBeforeDeactivation_ = window->weak_from_this();
        return;
    }
    keyWindow_.reset();
    if (current) current->resignKeyStatus();
    if (!window) return;
    auto next = window->shared_from_this();
    keyWindow_ = next;
    next->becomeKeyStatus();
}

void Application::setMainWindow(Window* window) {
    auto current = mainWindow_.lock();
    if (current.get() == window) return;
    mainWindow_.reset();
    if (current) {
        if (auto d = current->delegate()) d->windowDidResignMain(*current);
        NotificationCenter::defaultCenter().post(kWindowDidResignMainNotification, current.get());
    }
    if (!window) return;
    auto next = window->shared_from_this();
    mainWindow_ = next;
    if (auto d = next->delegate()) d->windowDidBecomeMain(*next);
    NotificationCenter::defaultCenter().post(kWindowDidBecomeMainNotification, next.get());
}

// Activation.

void Application::activate(bool) {
    if (active_) return;
    auto& center = NotificationCenter::defaultCenter();
    center.post(kApplicationWillBecomeActiveNotification, this);
    active_ = true;
    UiBackend::current().activateApplication();
    auto pending = keyBeforeDeactivation_.lock();
    keyBeforeDeactivation_.reset();
    if (pending && pending->isVisible()) pending->makeKeyWindow();
    center.post(kApplicationDidBecomeActiveNotification, this);
    if (auto d = delegate()) d->applicationDidBecomeActive();
}

void Application::deactivate() {
    if (!active_) return;
    auto& center = NotificationCenter::defaultCenter();
    center.post(kApplicationWillResignActiveNotification, this);
    auto key = keyWindow_.lock();
    setKeyWindow(nullptr);
    active_ = false;
    keyBeforeDeactivation_ = key;
    UiBackend::current().deactivateApplication();
    for (auto& window : orderedWindows()) {
        if (window->hidesOnDeactivate()) window->orderOut();
    }
    center.post(kApplicationDidResignActiveNotification, this);
    if (auto d = delegate()) d->applicationDidResignActive();
}

void Application::setActiveFromBackend(BackendBadge, bool active) {
    if (active) {
        activate(false);
    } else {
        deactivate();
    }
}

// Appearance.

Appearance Application::effectiveAppearance() const {
    switch (preference_) {
        case AppearancePreference::Light: return Appearance::Light;
        case AppearancePreference::Dark: return Appearance::Dark;
        case AppearancePreference::System: break;
    }
    return UiBackend::current().systemAppearance();
}

void Application::setAppearancePreference(AppearancePreference preference) {
    preference_ = preference;
    const Appearance now = effectiveAppearance();
    if (now != lastAppearance_) appearanceChanged(lastAppearance_);
}

void Application::systemAppearanceDidChange(BackendBadge) {
    const Appearance now = effectiveAppearance();
    if (now != lastAppearance_) appearanceChanged(lastAppearance_);
    NotificationCenter::defaultCenter().post(kApplicationDidChangeSystemAppearanceNotification, this);
}

bool Application::drawsWindowShadows() const { return UiBackend::current().drawsWindowShadows(); }

void Application::windowShadowsDidChange(BackendBadge) {
    for (auto& window : windows()) window->frameView()->appearanceChangedRecursive();
    NotificationCenter::defaultCenter().post(kApplicationDidChangeWindowShadowsNotification, this);
}

void Application::appearanceChanged(Appearance) {
    lastAppearance_ = effectiveAppearance();
    for (auto& window : windows()) window->frameView()->appearanceChangedRecursive();
    NotificationCenter::defaultCenter().post(kApplicationDidChangeEffectiveAppearanceNotification, this);
}

// Modal sessions.

ModalResponse Application::runModal(const std::shared_ptr<Window>& window) {
    if (!window) return ModalResponses::Abort;
    auto previous = modalWindow_;
    auto previousResponse = modalResponse_;
    modalWindow_ = window;
    modalResponse_.reset();
    ++modalDepth_;
    window->makeKeyAndOrderFront();
    bool endedByRequest = false;
    bool ended = false;
    {
        ModalDialogScope scope([&endedByRequest] { endedByRequest = true; });
        endedByRequest = scope.ended();
        ended = RunLoop::main().runNested([&] { return modalResponse_.has_value() || endedByRequest; });
    }
    ModalResponse response = ended && modalResponse_ && !endedByRequest ? *modalResponse_ : ModalResponses::Abort;
    --modalDepth_;
    modalWindow_ = previous;
    modalResponse_ = previousResponse;
    return response;
}

void Application::stopModal(ModalResponse response) {
    if (modalDepth_ > 0) modalResponse_ = response;
}

void Application::abortModal() { stopModal(ModalResponses::Abort); }

// Events.

namespace {
bool belongsToModal(const std::shared_ptr<Window>& window, const std::shared_ptr<Window>& modal) {
    for (auto w = window; w; w = w->sheetParent()) {
        if (w == modal) return true;
    }
    return false;
}
}  // namespace

void Application::sendEvent(Event event) {
    auto result = EventMonitor::runLocalMonitors(std::move(event));
    if (!result) return;
    const Event& e = *result;
    const Event* previous = currentEvent_;
    currentEvent_ = &e;
    auto window = e.windowShared();
    if (e.type == EventType::MouseMoved || e.type == EventType::LeftMouseDragged ||
        e.type == EventType::RightMouseDragged || e.type == EventType::OtherMouseDragged) {
        const Point screenPoint = e.locationInScreen();
        auto under = windowAtPoint(screenPoint);
        for (auto& w : orderedWindows()) w->updateTracking(screenPoint, w == under, &e);
    }
    auto modal = modalWindow_.lock();
    const bool blocked = modal && window && !belongsToModal(window, modal) &&
                         e.type != EventType::MouseMoved && e.type != EventType::MouseEntered &&
                         e.type != EventType::MouseExited;
    if (window && !blocked) window->sendEvent(e);
    currentEvent_ = previous;
}

void Application::sendOutsideEvent(const Event& event) { EventMonitor::runGlobalMonitors(event); }

void Application::sendEventTakenByBackend(BackendBadge, const Event& event) {
    const Event* previous = currentEvent_;
    currentEvent_ = &event;
    EventMonitor::runLocalMonitors(event);
    currentEvent_ = previous;
}

// Termination.

void Application::terminate() {
    // Asked from inside a panel's or an alert's nested loop: those end first.
    if (!modalDialogs_.empty()) {
        requestTermination();
        return;
    }
    if (auto d = delegate(); d && d->applicationShouldTerminate() == TerminateReply::Cancel) return;
    NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification, this);
    if (auto d = delegate()) d->applicationWillTerminate();
    terminationRequested_ = true;
    if (terminationHandler_) {
        auto handler = terminationHandler_;
        handler();
    }
}

void Application::requestTermination(std::function<void()> proceed) {
    if (pendingTermination_) return;
    pendingTermination_ = proceed ? std::move(proceed) : [this] { terminate(); };
    SavePanel::cancelWaitingPanels();
    // Innermost first; each only asks its dialog to close.
    const auto dialogs = modalDialogs_;
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
        if (std::find(modalDialogs_.begin(), modalDialogs_.end(), *it) != modalDialogs_.end()) (*it)->end();
    }
    if (modalDialogs_.empty()) proceedWithTerminationLater();
}

void Application::proceedWithTerminationLater() {
    // Two turns: what the ended dialogs posted on their way out (their completions) runs first.
    RunLoop::main().post([this] {
        RunLoop::main().post([this] {
            if (!pendingTermination_ || !modalDialogs_.empty()) return;
            auto proceed = std::move(pendingTermination_);
            pendingTermination_ = nullptr;
            proceed();
        });
    });
}

ModalDialogScope::ModalDialogScope(std::function<void()> end) : end_(std::move(end)) {
    auto& app = Application::shared();
    app.modalDialogs_.push_back(this);
    // Opened while a quit is under way: ended before it shows.
    if (app.pendingTermination_) ended_ = true;
}

ModalDialogScope::~ModalDialogScope() {
    auto& app = Application::shared();
    auto& dialogs = app.modalDialogs_;
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), this), dialogs.end());
    if (dialogs.empty() && app.pendingTermination_) app.proceedWithTerminationLater();
}

void Application::releaseLater(std::shared_ptr<const void> object) {
    if (!object) return;
    RunLoop::main().post([object = std::move(object)]() mutable { object.reset(); });
}

}  // namespace kit
