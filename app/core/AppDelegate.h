#pragma once
// The application delegate: the launch sequence, one instance per session, the log file, theme
// and language, the host application's watch, the status item, launch arguments as an IPC
// command, and the periodic settings report. It lives for the whole process.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/KZGlobalTimer.h"

namespace kit {
class StatusItem;
class Timer;
}
class JWTipModel;

class AppDelegate : public KZGlobalTimerDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    static constexpr double kLogAgeLimit = 604800;
    static constexpr double kSettingsReportPeriod = 14400;
    static constexpr double kSettingsReportDelay = 3;

    struct Options {
        // The descriptor the log file replaces (the standard error stream in the application).
        int logTargetDescriptor = 2;
        // Ends the process's main loop; by default RunLoop::main().quit().
        std::function<void()> quit;
        // The log file's birth time (seconds since 1970), nullopt where the file system does not
        // keep it; by default statx(2).
        std::function<std::optional<double>(int fd)> fileBirthTime;
    };

    explicit AppDelegate(Options options);
    AppDelegate() : AppDelegate(Options{}) {}
    ~AppDelegate() override;

    // The application's delegate, reached by the window-controller manager.
    static std::shared_ptr<AppDelegate> current();
    static void setCurrent(const std::shared_ptr<AppDelegate>& delegate);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationSupportsSecureRestorableState();
    // Logs applicationWillTerminate and ends the main loop, once the tool windows have asked
    // about unsaved work (KZCoreHooks::holdTermination); later calls do nothing. A request while
    // they ask joins that question; the user's Cancel leaves the application running.
    void terminate();
    bool isTerminating() const { return terminating_; }

    void createStatueBar();
    void removeStatusBar();
    void openMainApp();
    const std::shared_ptr<kit::StatusItem>& statusItem() const { return statusItem_; }
    bool statusTipWillShow() const { return statusTipWillShow_; }

    void onTimerTick(KZGlobalTimer& timer) override;
    void getProcessInfoParams();

    // Applies the language the user chose in the host product, if any.
    static void _setupLanguage();
    void updateTheme();

    // home/Library/Logs/<executable>.log (the system root's /Library/Logs for user id 0).
    static std::string logFilePath();
    void redirctNSlog() const;

    // Called with each launch step's name just before it runs (tests look at the state there).
    void setLaunchStepObserver(std::function<void(std::string_view)> observer) {
        stepObserver_ = std::move(observer);
    }

private:
    void step(std::string_view name);
    void terminateNow();
    // The host application is gone: the application ends, asking about unsaved work once.
    void terminateForRemovedHost();
    bool __isSingleInstance();
    void addObservers();
    void __listenQuarnProcessLaunch();
    void __quarnApplicationDidLaunch(const std::string& bundleIdentifier);
    void __startIPC();
    void __listenMainAppUninstalled();
    void scheuledReport();
    void scheduleAndImmediateReport();
    void __asyncReportWhenLaunch();
    void __asyncReportSettingValueWithKey(int key, bool value);
    void _userChangeLanguage();
    void __processAnimate();
    void alertWithTipModel(const std::shared_ptr<JWTipModel>& model);

    Options options_;
    std::shared_ptr<kit::StatusItem> statusItem_;
    bool statusTipWillShow_ = false;
    bool terminating_ = false;
    // A quit for the removed host is under way / the user kept unsaved work in one.
    bool hostQuitPending_ = false;
    bool hostQuitKept_ = false;
    std::function<void(std::string_view)> stepObserver_;
    std::shared_ptr<void> themeObserver_;
    std::shared_ptr<void> languageObserver_;
    std::shared_ptr<void> workspaceObserver_;
    std::shared_ptr<kit::Timer> reportTimer_;
};
