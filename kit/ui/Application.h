#pragma once
// The application object: its windows, the key and main window, activation, appearance, modal
// sessions, event dispatch and termination. One per process, on the main thread.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "kit/ui/Appearance.h"
#include "kit/ui/Event.h"
#include "kit/ui/Window.h"

namespace kit {

inline constexpr const char* kApplicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";
inline constexpr const char* kApplicationWillBecomeActiveNotification = "NSApplicationWillBecomeActiveNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "NSApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";
// Posted after every view has been told of an effective appearance change.
inline constexpr const char* kApplicationDidChangeEffectiveAppearanceNotification =
    "kit.ApplicationDidChangeEffectiveAppearance";
// Posted whenever the backend tells of a change of the system's appearance, also while the
// application's own preference hides it (UiBackend::systemAppearance() answers the new one).
inline constexpr const char* kApplicationDidChangeSystemAppearanceNotification =
    "kit.ApplicationDidChangeSystemAppearance";

// Posted when the desktop starts or stops drawing shadows under windows (a compositor came or
// went), after every view has been told as of an appearance change.
inline constexpr const char* kApplicationDidChangeWindowShadowsNotification = "kit.ApplicationDidChangeWindowShadows";

enum class TerminateReply { Cancel = 0, Now = 1 };

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual TerminateReply applicationShouldTerminate() { return TerminateReply::Now; }
    virtual void applicationWillTerminate() {}
    virtual void applicationDidBecomeActive() {}
    virtual void applicationDidResignActive() {}
};

// A dialog running modally on a nested loop (a file panel, an alert, a modal window), for as long
// as the scope lives. A termination request ends every one of them as cancelled through its
// `end` (which only asks the dialog to close; the nested loop returns afterwards). A scope made
// while a request is pending is ended from the start: the dialog checks ended() before it runs
// and answers as cancelled without showing. Main thread only.
class ModalDialogScope {
public:
    explicit ModalDialogScope(std::function<void()> end);
    ~ModalDialogScope();
    ModalDialogScope(const ModalDialogScope&) = delete;
    ModalDialogScope& operator=(const ModalDialogScope&) = delete;
    bool ended() const { return ended_; }
    void end() const {
        if (ended_) return;
        ended_ = true;
        if (end_) end_();
    }

private:
    std::function<void()> end_;
    mutable bool ended_ = false;
};

class Application {
public:
    static Application& shared();
    // Closes every window and forgets all state, for the next test.
    void reset();

    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

    // Windows alive now, in creation order.
    std::vector<std::shared_ptr<Window>> windows() const;
    // Visible windows, front to back (higher levels first).
    std::vector<std::shared_ptr<Window>> orderedWindows() const;
    std::shared_ptr<Window> keyWindow() const { return keyWindow_.lock(); }
    std::shared_ptr<Window> mainWindow() const { return mainWindow_.lock(); }
    // The topmost visible window that takes mouse events at a screen point.
    std::shared_ptr<Window> windowAtPoint(Point screenPoint) const;

    // Activation.
    bool isActive() const { return active_; }
    void activate(bool ignoringOtherApps = true);
    void deactivate();
    // The backend tells of activation changes made by the user.
    void setActiveFromBackend(BackendBadge, bool active);

    // Appearance.
    Appearance effectiveAppearance() const;
    bool isDarkMode() const { return effectiveAppearance() == Appearance::Dark; }
    AppearancePreference appearancePreference() const { return preference_; }
    void setAppearancePreference(AppearancePreference preference);
    // The backend tells of a change of the system's appearance.
    void systemAppearanceDidChange(BackendBadge);
    // Whether the desktop draws shadows under windows (a compositing display does); without,
    // a window shows no edge but what it draws itself.
    bool drawsWindowShadows() const;
    // The backend tells that this changed.
    void windowShadowsDidChange(BackendBadge);

    // Modal sessions on the run loop's nested loop.
    ModalResponse runModal(const std::shared_ptr<Window>& window);
    void stopModal(ModalResponse response = ModalResponses::Stop);
    void abortModal();
    std::shared_ptr<Window> modalWindow() const { return modalWindow_.lock(); }

    // Events: local monitors first, then the window. Mouse moves also update tracking areas of
    // every window. The event being handled is currentEvent().
    void sendEvent(Event event);
    const Event* currentEvent() const { return currentEvent_; }
    // An event of another application: global monitors only.
    void sendOutsideEvent(const Event& event);
    // An event in one of the application's windows that a view of the backend's own takes itself
    // (a web page takes its clicks): the local monitors see it, as they see every event of the
    // application, and no view of the window gets it. A monitor cannot swallow it.
    void sendEventTakenByBackend(BackendBadge, const Event& event);

    // Termination: asks the delegate, posts kApplicationWillTerminateNotification, tells the
    // delegate, then calls the termination handler that the entry point installed (which ends
    // its run loop). Nothing is torn down here. Called while a panel or an alert is up, it is a
    // termination request (below).
    void terminate();
    bool isTerminationRequested() const { return terminationRequested_; }
    // A request to quit from outside the normal flow of events (a signal, a Quit command): ends
    // every open panel and alert as cancelled (waiting panels too), lets their nested loops
    // return, and then runs `proceed` (terminate() when none is given) on the main loop, after
    // what the ended dialogs posted. A request while one is pending is dropped.
    void requestTermination(std::function<void()> proceed = {});
    bool isTerminationRequestPending() const { return static_cast<bool>(pendingTermination_); }
    // Dialogs running now (for tests and assertions).
    std::size_t modalDialogCount() const { return modalDialogs_.size(); }
    void setTerminationHandler(std::function<void()> handler) { terminationHandler_ = std::move(handler); }

    // Keeps an object alive until a later turn of the run loop (closed windows, views removed
    // from inside their own callbacks).
    void releaseLater(std::shared_ptr<const void> object);

    // Window bookkeeping (Window calls these).
    void registerWindow(const std::shared_ptr<Window>& window);
    void windowDidOrderIn(const std::shared_ptr<Window>& window);
    void windowDidOrderOut(Window& window);
    void windowDidClose(Window& window);
    void setKeyWindow(Window* window);
    void setMainWindow(Window* window);

private:
    friend class ModalDialogScope;
    Application() = default;
    void proceedWithTerminationLater();
    void appearanceChanged(Appearance before);
    void passKeyStatusOn(Window& leaving);

    std::weak_ptr<ApplicationDelegate> delegate_;
    std::vector<std::weak_ptr<Window>> windows_;
    // Visible windows, front to back within each level.
    std::vector<std::shared_ptr<Window>> onScreen_;
    std::weak_ptr<Window> keyWindow_;
    std::weak_ptr<Window> mainWindow_;
    std::weak_ptr<Window> keyBeforeDeactivation_;
    std::weak_ptr<Window> modalWindow_;
    std::optional<ModalResponse> modalResponse_;
    int modalDepth_ = 0;
    bool active_ = false;
    AppearancePreference preference_ = AppearancePreference::System;
    Appearance lastAppearance_ = Appearance::Light;
    const Event* currentEvent_ = nullptr;
    bool terminationRequested_ = false;
    std::function<void()> terminationHandler_;
    std::vector<const ModalDialogScope*> modalDialogs_;
    std::function<void()> pendingTermination_;
};

}  // namespace kit
