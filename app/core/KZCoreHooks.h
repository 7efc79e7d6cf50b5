#pragma once
// The services of later layers that the core calls at start-up and from IPC: the window-
// controller manager and the screenshot tool. They live in libraries that link the core, so
// the core reaches them through this seam, which the process entry wires (tests wire fakes or
// the real ones). Without a wiring the calls do nothing.

#include <functional>
#include <memory>
#include <string>

namespace kit {
class StatusItem;
}

// What the core asks of the window-controller manager.
class KZWindowControllerManaging {
public:
    virtual ~KZWindowControllerManaging() = default;
    virtual void loadSideWindowController() = 0;
    virtual void showAISpliashWindowController() = 0;
    virtual void setShowAIStatusBarItem(bool show) = 0;
    virtual bool showAIStatusBarItem() const = 0;
    virtual void showStatusBarIconWhenQuarnLaunch() = 0;
    virtual void showSideMainWindowController() = 0;
    virtual void hotkeyShowSideMainWindowController() = 0;
    virtual void setStatusItem(std::weak_ptr<kit::StatusItem> item) = 0;
    virtual void showAISideWindowController(int type, const std::string& text) = 0;
    virtual void showPermissionWindowAlone() = 0;
};

class KZCoreHooks {
public:
    using WindowManagerProvider = std::function<KZWindowControllerManaging*()>;

    // The manager, created by the provider on first use (it reads the settings when it is
    // made, so it must not be made before the launch asks for it); nullptr when not wired.
    static KZWindowControllerManaging* windowManager();
    static void setWindowManagerProvider(WindowManagerProvider provider);

    // Whether the screenshot tool is letting the user select a region.
    static bool isScreenshotSelecting();
    static void setScreenshotSelecting(std::function<bool()> query);

    // Before the application ends: when tool windows hold unsaved work, they run their own close
    // questions and this answers true; `decided` then gets true once the work is closed or let
    // go, false when the user kept some. While a quit is under way, a new request answers true and
    // joins it: every caller hears the one answer. With `askUser` false no question is shown: the
    // pages are asked whether their work is saved, and the quit goes on only when nothing unsaved
    // is left (otherwise `decided` gets false); a request that asks joins it and makes it ask.
    // Answers false when nothing holds the termination (also when no window exists yet: none is
    // made for asking).
    using TerminationGuard = std::function<bool(std::function<void(bool proceed)> decided, bool askUser)>;
    static bool holdTermination(std::function<void(bool proceed)> decided, bool askUser = true);
    static void setTerminationGuard(TerminationGuard guard);

    static void reset();
};
