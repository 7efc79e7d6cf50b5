#include "app/core/AppDelegate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/core/KZAIIPCClient.h"
#include "app/core/KZAIPowerBoot.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZGlobalNetworkListener.h"
#include "app/core/KZLaunchQueue.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/core/KZShortcutSideWindowReceiver.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/JWTipManager.h"
#include "frameworks/KZShortcutManager.h"
#include "frameworks/LanguageHelper.h"
#include "frameworks/MachineModel.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/Paths.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/base/UserDefaults.h"
#include "kit/sys/DistributedNotificationCenter.h"
#include "kit/sys/Workspace.h"
#include "kit/ui/Alert.h"
#include "kit/ui/StatusItem.h"
#include "sdk/core/Frolk.h"

namespace {

constexpr unsigned kActivateAllWindowsIgnoringOtherApps = 3;
constexpr const char* kThemeModeKey = "theme_mode_setted";
constexpr const char* kLiquidScreenAlertText =
    KZLocalizableKey("Quarn AI助手状态栏可能被刘海屏遮挡，尝试显示更少的图标或者关闭其余不使用的状态栏图标");

std::weak_ptr<AppDelegate>& currentSlot() {
    static std::weak_ptr<AppDelegate> delegate;
    return delegate;
}

// The file's birth time in seconds since 1970, when the file system keeps it.
std::optional<double> birthTime(int fd) {
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &info) != 0) return std::nullopt;
    if (!(info.stx_mask & STATX_BTIME)) return std::nullopt;
    return static_cast<double>(info.stx_btime.tv_sec) + info.stx_btime.tv_nsec * 1e-9;
}

int openForWriting(const std::string& path, int extraFlags = 0) {
    return kit::openPrivateFile(path, O_WRONLY | extraFlags);
}

}  // namespace

AppDelegate::AppDelegate(Options options) : options_(std::move(options)) {}

AppDelegate::~AppDelegate() {
    if (reportTimer_) reportTimer_->invalidate();
}

std::shared_ptr<AppDelegate> AppDelegate::current() { return currentSlot().lock(); }

void AppDelegate::setCurrent(const std::shared_ptr<AppDelegate>& delegate) { currentSlot() = delegate; }

void AppDelegate::step(std::string_view name) {
    if (stepObserver_) stepObserver_(name);
}

// ---- Launch

void AppDelegate::applicationDidFinishLaunching() {
    step("singleInstance");
    if (!__isSingleInstance()) {
        terminate();
        return;
    }
    step("language");
    _setupLanguage();

    step("network");
    KZGlobalNetworkListener::shared().start();

    step("hotKeys");
    auto& shortcuts = KZShortcutManager::shared();
    shortcuts.registerGlobalMonitorForKeyboardEvent();
    shortcuts.addShortcutReceiver(std::make_shared<KZShortcutSideWindowReceiver>());
    shortcuts.addShortcutReceiver(std::make_shared<KZShortcutScreenshotReceiver>());

    step("log");
    redirctNSlog();

    step("settings");
    KZSharedPlistManager::sharedManager();
    KZAIUserManager::shared();
    KZLaunchQueue::afterFirstPage([] { KZAIPowerBoot::updateAutostartEntries(); });

    step("analytics");
    HXReport::initialize();

    step("crashReport");
    Frolk::startWithAppId(kit::Value(KZBundleInfo::frolkAppId()));

    step("theme");
    addObservers();

    step("tips");
    JWTipManager::manager();

    step("hostLaunchWatch");
    __listenQuarnProcessLaunch();

    step("ipc");
    __startIPC();

    step("windows");
    if (auto* windows = KZCoreHooks::windowManager()) {
        windows->loadSideWindowController();
        windows->showAISpliashWindowController();
    }

    step("hostRemovalWatch");
    __listenMainAppUninstalled();

    step("launchArguments");
    getProcessInfoParams();

    step("settingsReport");
    scheuledReport();

    step("languageChanges");
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    languageObserver_ = kit::DistributedNotificationCenter::defaultCenter().addObserver(
        "user_language_change", std::nullopt, [weak](const kit::DistributedNotification&) {
            if (auto self = weak.lock()) self->_userChangeLanguage();
        });

    step("end");
    kit::logLine("[AppDelegate] applicationDidFinishLaunching end");
}

void AppDelegate::applicationWillTerminate() { kit::logLine("[AppDelegate] applicationWillTerminate"); }

bool AppDelegate::applicationSupportsSecureRestorableState() {
    kit::logLine("[AppDelegate] applicationSupportsSecureRestorableState");
    return true;
}

void AppDelegate::terminate() {
    if (terminating_) return;
    // Unsaved work in the tool windows is asked about first; the quit in progress is the window
    // layer's, which answers it once (a request while it asks joins it).
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    const bool held = KZCoreHooks::holdTermination([weak](bool proceed) {
        auto self = weak.lock();
        if (!self) return;
        if (proceed) {
            self->terminateNow();
        } else {
            kit::logLine("[AppDelegate] terminate cancelled: the user kept open files");
        }
    });
    if (held) {
        kit::logLine("[AppDelegate] terminate held: tool windows have open files");
        return;
    }
    terminateNow();
}

void AppDelegate::terminateNow() {
    if (terminating_) return;
    terminating_ = true;
    applicationWillTerminate();
    if (options_.quit) {
        options_.quit();
    } else {
        kit::RunLoop::main().quit();
    }
}

bool AppDelegate::__isSingleInstance() {
    auto& workspace = kit::Workspace::shared();
    const std::string& mine = kit::process::bundleIdentifier();
    // Owning the bus name makes this copy the one others find, and the only one: a bus name has
    // one owner. Process ids are not compared: in a PID namespace (a sandbox, a container) the
    // bus reports another id than the process sees as its own, or none at all.
    if (workspace.registerApplication(KZBundleInfo::kBundleIdentifier)) return true;
    // Not ours: a running application with the identifier is another copy.
    for (const auto& application : workspace.runningApplications(KZBundleInfo::kBundleIdentifier)) {
        if (application.bundleIdentifier == mine) {
            workspace.activate(mine, kActivateAllWindowsIgnoringOtherApps);
            return false;
        }
    }
    // Without a session bus no other copy can be seen (nor could it see this one): run alone.
    kit::logLine("[AppDelegate] bundle identifier not registered; running without the single-instance check");
    return true;
}

void AppDelegate::_setupLanguage() { BundleLanguage::setLanguage(LanguageHelper::getCurrentLanguage()); }

void AppDelegate::_userChangeLanguage() { _setupLanguage(); }

// ---- Log file

std::string AppDelegate::logFilePath() {
    std::string relative = "/Library/Logs/" + kit::paths::executableName() + ".log";
    if (kit::process::userId() != 0) return kit::paths::home().string() + relative;
    return kit::paths::resolveSystemPath(relative).string();
}

void AppDelegate::redirctNSlog() const {
    kit::logLine("Appdelegate -> redirctNSlog ...");
    std::string path = logFilePath();
    // Created empty when missing; the folder is not created.
    int fd = openForWriting(path, O_CREAT);
    if (fd < 0) return;
    if (auto created = options_.fileBirthTime ? options_.fileBirthTime(fd) : birthTime(fd)) {
        double age = kit::RunLoop::main().wallTime() - *created;
        if (age > kLogAgeLimit) {
            // A new file, so that its birth time starts again.
            ::close(fd);
            ::unlink(path.c_str());
            fd = openForWriting(path, O_CREAT | O_TRUNC);
            if (fd < 0) return;
        } else {
            ::lseek(fd, 0, SEEK_END);
        }
    } else {
        // Without the birth time there is no age check. Appended to: written from the start, the
        // new lines would leave the old file's tail after them.
        ::lseek(fd, 0, SEEK_END);
    }
    if (fd != options_.logTargetDescriptor) {
        ::dup2(fd, options_.logTargetDescriptor);
        ::close(fd);
    }
}

// ---- Theme

void AppDelegate::addObservers() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    themeObserver_ = kit::DistributedNotificationCenter::defaultCenter().addObserver(
        "theme_changed_notify", std::nullopt, [weak](const kit::DistributedNotification&) {
            if (auto self = weak.lock()) self->updateTheme();
        });
    updateTheme();
}

void AppDelegate::updateTheme() {
    auto& defaults = kit::UserDefaults::standard();
    defaults.reload();  // the host writes this key
    switch (defaults.integerForKey(kThemeModeKey)) {
        case 0: JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::System); break;
        case 1: JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light); break;
        case 2: JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Dark); break;
        default: break;
    }
}

// ---- Host application

void AppDelegate::__listenQuarnProcessLaunch() {
    kit::logLine("[AppDelegate] listenQuarnProcessLaunch");
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    workspaceObserver_ = kit::Workspace::shared().notificationCenter().addObserverForName(
        kit::kWorkspaceDidLaunchApplication, nullptr, [weak](const kit::Notification& notification) {
            auto self = weak.lock();
            const auto* identifier = notification.userInfo["NSApplicationBundleIdentifier"].asString();
            if (self && identifier) self->__quarnApplicationDidLaunch(*identifier);
        });
}

void AppDelegate::__quarnApplicationDidLaunch(const std::string& bundleIdentifier) {
    if (bundleIdentifier != KZBundleInfo::kHostBundleIdentifier) return;
    kit::logLine("[AppDelegate] quarn Application Did Launch");
    if (auto* windows = KZCoreHooks::windowManager()) windows->showStatusBarIconWhenQuarnLaunch();
}

void AppDelegate::__startIPC() {
    kit::logLine("[AppDelegate] start IPC");
    auto& client = KZAIIPCClient::shared();
    client.registerObservers();
    client.showStatusBarChangedHandler = [](bool show) {
        if (auto* windows = KZCoreHooks::windowManager()) windows->setShowAIStatusBarItem(show);
    };
}

void AppDelegate::__listenMainAppUninstalled() {
    kit::logLine("[AppDelegate] listen Main App Uninstalled");
    KZGlobalTimer::shared().registerListener(shared_from_this());
}

void AppDelegate::onTimerTick(KZGlobalTimer&) {
    if (terminating_) return;
    std::error_code ec;
    bool present = std::filesystem::exists(kit::paths::resolveSystemPath(KZBundleInfo::kHostApplicationPath), ec);
    if (!present && kit::Workspace::shared().runningApplications(KZBundleInfo::kHostBundleIdentifier).empty()) {
        terminateForRemovedHost();
        return;
    }
    __processAnimate();
}

void AppDelegate::terminateForRemovedHost() {
    // One quit at a time, and none of them brings a window forward: while one is under way (this
    // tick's, or one the user asked for) the tick waits for its answer. Once the user has kept
    // unsaved work, no question is asked again: the application ends when nothing unsaved is left.
    if (hostQuitPending_) return;
    const bool askUser = !hostQuitKept_;
    if (askUser) kit::logLine("[AppDelegate] found Quarn not exist in /Applications, terminate self.");
    hostQuitPending_ = true;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    const bool held = KZCoreHooks::holdTermination(
        [weak](bool proceed) {
            auto self = weak.lock();
            if (!self) return;
            self->hostQuitPending_ = false;
            if (proceed) {
                kit::logLine("[AppDelegate] Quarn is gone and no unsaved work is left: terminate self.");
                self->terminateNow();
                return;
            }
            if (!self->hostQuitKept_)
                kit::logLine(
                    "[AppDelegate] Quarn is gone; the user kept unsaved work: quitting once it is saved or closed");
            self->hostQuitKept_ = true;
        },
        askUser);
    if (held) return;
    hostQuitPending_ = false;
    if (!askUser) kit::logLine("[AppDelegate] Quarn is gone and no unsaved work is left: terminate self.");
    terminateNow();
}

// ---- Notch alert

void AppDelegate::__processAnimate() {
    auto& settings = KZSharedPlistManager::sharedManager();
    if (!settings.db_showAIStatusBarItem() || !MachineModel::isLiquidScreen() || statusTipWillShow_) return;
    if (KZCoreHooks::isScreenshotSelecting()) return;
    bool alreadyShown = settings.db_showStatusBarHiddenOnLiquidScreenAlert();
    // Without the item and its window nothing can be hidden by the notch.
    if (!statusItem_ || !statusItem_->hasWindow()) return;
    if (statusItem_->windowOcclusionState() & kit::kWindowOcclusionStateVisible) return;
    if (alreadyShown) return;

    statusTipWillShow_ = true;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto model = JWTipModel::tipModelWithPriority(
        JWTipTaskPriorityDefault, 0.5, [weak](const std::shared_ptr<JWTipModel>& task) {
            auto self = weak.lock();
            if (!self || !self->statusItem_ || !self->statusItem_->hasWindow()) {
                // The item went away while the task waited: nothing is stored, and the alert
                // may be queued again once the item is back.
                if (self) self->statusTipWillShow_ = false;
                task->notifyTaskCompleted();
                return;
            }
            KZSharedPlistManager::sharedManager().db_setShowStatusBarHiddenOnLiquidScreenAlert(true);
            self->alertWithTipModel(task);
        });
    model->setName("ai status");
    JWTipManager::manager().addTaskModel(model);
}

void AppDelegate::alertWithTipModel(const std::shared_ptr<JWTipModel>& model) {
    kit::Alert alert;
    alert.iconName = "vx_logo_lightGuide";
    alert.messageText = KZLocalizedString(kLiquidScreenAlertText);
    alert.addButtonWithTitle(KZLocalizedString("好的"));
    alert.runModal();
    model->notifyTaskCompleted();
}

// ---- Status item

void AppDelegate::createStatueBar() {
    if (statusItem_) return;
    auto item = kit::StatusBar::system().statusItemWithLength(kit::kStatusItemSquareLength);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    item->updateButton([weak](kit::StatusItemButton& button) {
        button.imageName = "kz_ai_status_logo";
        button.imageSize = {15, 15};
        button.imageIsTemplate = true;
        // The name the tray and its tooltip show.
        button.toolTip = KZLocalizedString("Quarn AI助手");
        button.action = [weak] {
            if (auto self = weak.lock()) self->openMainApp();
        };
    });
    statusItem_ = item;
    if (auto* windows = KZCoreHooks::windowManager()) windows->setStatusItem(item);
}

void AppDelegate::removeStatusBar() {
    if (!statusItem_) return;
    kit::StatusBar::system().removeStatusItem(statusItem_);
    statusItem_.reset();
}

void AppDelegate::openMainApp() {
    HXReport::reportButtonClick(21001);
    HXReport::reportCommonKeyValue(24023, "1");
    HXReport::reportCommonKeyValue(24020, "31");
    kit::logLine("[AppDelegate] openMainApp");
    if (auto* windows = KZCoreHooks::windowManager()) windows->showSideMainWindowController();
}

// ---- Launch arguments

void AppDelegate::getProcessInfoParams() {
    const auto& arguments = kit::process::arguments();
    if (arguments.size() >= 2) KZAIIPCClient::shared().handleText2AIEventWithArguments(arguments);
}

// ---- Settings report

void AppDelegate::scheuledReport() {
    scheduleAndImmediateReport();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    reportTimer_ = kit::RunLoop::main().scheduleTimer(kSettingsReportPeriod, true, [weak](kit::Timer&) {
        if (auto self = weak.lock()) self->scheduleAndImmediateReport();
    });
}

void AppDelegate::scheduleAndImmediateReport() { __asyncReportWhenLaunch(); }

void AppDelegate::__asyncReportWhenLaunch() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    kit::RunLoop::main().postAfter(kSettingsReportDelay, [weak] {
        auto self = weak.lock();
        if (!self) return;
        auto& settings = KZSharedPlistManager::sharedManager();
        self->__asyncReportSettingValueWithKey(21124, settings.db_showAIStatusBarItem());
        self->__asyncReportSettingValueWithKey(21125, settings.db_fileDragState());
        self->__asyncReportSettingValueWithKey(21126, settings.db_getUseGetTextTool());
        self->__asyncReportSettingValueWithKey(21127, settings.db_hasSideWinShortcut());
        self->__asyncReportSettingValueWithKey(21128, settings.db_hasScreenshotShortcut());
    });
}

void AppDelegate::__asyncReportSettingValueWithKey(int key, bool value) {
    HXReport::reportCommonKeyValue(key, value ? "1" : "0");
}
