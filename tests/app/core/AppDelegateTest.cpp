#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "CoreTestSupport.h"
#include "kit/base/UserDefaults.h"
#include "tests/support/ScopedEnvironment.h"

namespace {

constexpr const char* kHostPath = "/Applications/Morvane Quarn.app";

class AppDelegateTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        logSink_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(logSink_, 0);
        KZCoreHooks::setWindowManagerProvider(
            []() -> KZWindowControllerManaging* { return &KZWindowControllerManager::manager(); });
    }
    void TearDown() override {
        delegate_.reset();
        ::close(logSink_);
        CoreTest::TearDown();
    }

    AppDelegate& makeDelegate() {
        AppDelegate::Options options;
        options.logTargetDescriptor = logSink_;
        options.quit = [this] { ++quitCalls_; };
        delegate_ = std::make_shared<AppDelegate>(options);
        AppDelegate::setCurrent(delegate_);
        return *delegate_;
    }
    AppDelegate& launch() {
        auto& d = makeDelegate();
        d.applicationDidFinishLaunching();
        env().runUntilIdle();
        return d;
    }
    void installHost() { env().makeSystemFolder(kHostPath); }

    std::filesystem::path logFile() const { return AppDelegate::logFilePath(); }
    // Whether the sink descriptor now writes to the log file.
    bool sinkIsLogFile() const {
        struct stat a {}, b {};
        return ::fstat(logSink_, &a) == 0 && ::stat(logFile().c_str(), &b) == 0 && a.st_ino == b.st_ino &&
               a.st_dev == b.st_dev;
    }
    std::ptrdiff_t logIndex(std::string_view text) {
        const auto& lines = env().log().lines();
        auto it = std::find_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.find(text) != std::string::npos; });
        return it == lines.end() ? -1 : it - lines.begin();
    }

    int logSink_ = -1;
    int quitCalls_ = 0;
    std::shared_ptr<AppDelegate> delegate_;
};

TEST_F(AppDelegateTest, LaunchRunsEveryStepInOrder) {
    std::filesystem::create_directories(logFile().parent_path());
    auto& d = makeDelegate();
    std::vector<std::string> steps;
    d.setLaunchStepObserver([&](std::string_view name) {
        steps.emplace_back(name);
        if (name == "log") {
            EXPECT_NE(KZGlobalNetworkListener::shared().reachAbility(), nullptr);
            EXPECT_TRUE(KZShortcutManager::shared().isMonitoring());
            EXPECT_EQ(KZShortcutManager::shared().receivers().size(), 2u);
            EXPECT_FALSE(std::filesystem::exists(logFile()));
            EXPECT_FALSE(std::filesystem::exists(plistPath()));
        } else if (name == "analytics") {
            EXPECT_TRUE(sinkIsLogFile());
            EXPECT_TRUE(std::filesystem::exists(plistPath()));
            EXPECT_FALSE(HXReport::isInitialized());
        } else if (name == "crashReport") {
            EXPECT_TRUE(HXReport::isInitialized());
            EXPECT_FALSE(Frolk::isStarted());
        } else if (name == "theme") {
            EXPECT_TRUE(Frolk::isStarted());
        } else if (name == "hostRemovalWatch") {
            EXPECT_EQ(KZGlobalTimer::shared().listenerCount(), 1u);  // the side window
        } else if (name == "end") {
            EXPECT_EQ(KZGlobalTimer::shared().listenerCount(), 2u);
        }
    });
    d.applicationDidFinishLaunching();

    const std::vector<std::string> expected{
        "singleInstance", "language", "network", "hotKeys", "log", "settings", "analytics", "crashReport",
        "theme", "tips", "hostLaunchWatch", "ipc", "windows", "hostRemovalWatch", "launchArguments",
        "settingsReport", "languageChanges", "end"};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(Frolk::appId(), "5be0c3a91d");
    EXPECT_EQ(Frolk::startCount(), 1);
    std::vector<std::ptrdiff_t> order{logIndex("Appdelegate -> redirctNSlog ..."),
                                      logIndex("[AppDelegate] listenQuarnProcessLaunch"),
                                      logIndex("[AppDelegate] start IPC"),
                                      logIndex("[WndCtrl] Preload Side Window"),
                                      logIndex("[AppDelegate] listen Main App Uninstalled"),
                                      logIndex("[AppDelegate] applicationDidFinishLaunching end")};
    EXPECT_GE(order.front(), 0);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(env().workspace().registeredIdentifiers().count(KZBundleInfo::kBundleIdentifier), 1u);
    EXPECT_EQ(quitCalls_, 0);
}

// Once the bus name is ours the launch goes on, whatever process id the bus gives its owner: its
// own, another one (seen from outside a PID namespace), or none (the bus cannot tell).
TEST_F(AppDelegateTest, OwningTheBusNameIsEnoughInsideAPidNamespace) {
    for (int busProcessId : {kit::process::processId(), 1, 0, kit::process::processId() + 7}) {
        SCOPED_TRACE(busProcessId);
        TearDown();
        SetUp();
        installHost();
        env().workspace().setRegisteredProcessId(busProcessId);
        std::vector<std::string> steps;
        auto& d = makeDelegate();
        d.setLaunchStepObserver([&](std::string_view name) { steps.emplace_back(name); });
        d.applicationDidFinishLaunching();
        env().advance(3);
        EXPECT_EQ(quitCalls_, 0);
        EXPECT_EQ(steps.back(), "end");
        EXPECT_TRUE(env().workspace().activations().empty());
        EXPECT_FALSE(env().log().contains("[AppDelegate] applicationWillTerminate"));
    }
}

TEST_F(AppDelegateTest, SecondCopyActivatesItselfAndStopsBeforeAnythingElse) {
    env().workspace().addRunningApplication(KZBundleInfo::kBundleIdentifier, 4242);
    std::filesystem::create_directories(logFile().parent_path());
    auto& d = makeDelegate();
    std::vector<std::string> steps;
    d.setLaunchStepObserver([&](std::string_view name) { steps.emplace_back(name); });
    d.applicationDidFinishLaunching();
    env().advance(5);

    EXPECT_EQ(steps, std::vector<std::string>{"singleInstance"});
    EXPECT_EQ(quitCalls_, 1);
    ASSERT_EQ(env().workspace().activations().size(), 1u);
    EXPECT_EQ(env().workspace().activations()[0].bundleIdentifier, KZBundleInfo::kBundleIdentifier);
    EXPECT_EQ(env().workspace().activations()[0].options, 3u);
    EXPECT_TRUE(env().log().contains("[AppDelegate] applicationWillTerminate"));
    EXPECT_FALSE(env().log().contains("redirctNSlog"));
    EXPECT_FALSE(std::filesystem::exists(logFile()));
    EXPECT_FALSE(std::filesystem::exists(plistPath()));
    EXPECT_EQ(env().distributedCenter().observerCount(), 0u);
    EXPECT_TRUE(kit::StatusBar::system().items().empty());
}

TEST_F(AppDelegateTest, TerminatesAtTheFirstTickWithoutTheHost) {
    launch();
    env().advance(0.9);
    EXPECT_EQ(quitCalls_, 0);
    env().advance(0.1);
    EXPECT_EQ(quitCalls_, 1);
    EXPECT_TRUE(env().log().contains("[AppDelegate] found Quarn not exist in /Applications, terminate self."));
    EXPECT_LT(logIndex("found Quarn not exist"), logIndex("[AppDelegate] applicationWillTerminate"));
    env().advance(3);
    EXPECT_EQ(quitCalls_, 1);
}

TEST_F(AppDelegateTest, HostBundleOrRunningHostKeepsTheProcess) {
    installHost();
    launch();
    env().advance(10);
    EXPECT_EQ(quitCalls_, 0);

    // Removed from /Applications while running: stays until the host quits.
    int hostPid = env().workspace().addRunningApplication(KZBundleInfo::kHostBundleIdentifier);
    std::filesystem::remove_all(env().systemRoot() / "Applications");
    env().advance(10);
    EXPECT_EQ(quitCalls_, 0);
    env().workspace().removeRunningApplication(KZBundleInfo::kHostBundleIdentifier, hostPid);
    env().advance(1);
    EXPECT_EQ(quitCalls_, 1);
}

TEST_F(AppDelegateTest, LogFileAgeRule) {
    std::filesystem::create_directories(logFile().parent_path());
    writeFile(logFile(), "old\n");
    int probe = ::open(logFile().c_str(), O_RDONLY);
    struct statx info {};
    bool hasBirth = ::statx(probe, "", AT_EMPTY_PATH, STATX_BTIME, &info) == 0 && (info.stx_mask & STATX_BTIME);
    ::close(probe);
    if (!hasBirth) GTEST_SKIP() << "the file system keeps no birth times";
    double born = static_cast<double>(info.stx_btime.tv_sec) + info.stx_btime.tv_nsec * 1e-9;

    // Exactly 7 days old: appended to.
    env().loop().setWallTime(born + AppDelegate::kLogAgeLimit);
    makeDelegate().redirctNSlog();
    ASSERT_TRUE(sinkIsLogFile());
    ASSERT_EQ(::write(logSink_, "new\n", 4), 4);
    EXPECT_EQ(readFile(logFile()), "old\nnew\n");

    // One second older: a new, empty file.
    env().loop().setWallTime(born + AppDelegate::kLogAgeLimit + 1);
    makeDelegate().redirctNSlog();
    ASSERT_TRUE(sinkIsLogFile());
    ASSERT_EQ(::write(logSink_, "fresh\n", 6), 6);
    EXPECT_EQ(readFile(logFile()), "fresh\n");
}

TEST_F(AppDelegateTest, LogWithoutABirthTimeIsAppendedTo) {
    std::filesystem::create_directories(logFile().parent_path());
    writeFile(logFile(), "an older, longer line\n");
    AppDelegate::Options options;
    options.logTargetDescriptor = logSink_;
    options.fileBirthTime = [](int) -> std::optional<double> { return std::nullopt; };
    delegate_ = std::make_shared<AppDelegate>(options);
    delegate_->redirctNSlog();
    ASSERT_TRUE(sinkIsLogFile());
    ASSERT_EQ(::write(logSink_, "new\n", 4), 4);
    EXPECT_EQ(readFile(logFile()), "an older, longer line\nnew\n");
}

TEST_F(AppDelegateTest, LogStaysWhereItWasWithoutTheLogsFolder) {
    std::filesystem::remove_all(logFile().parent_path());
    makeDelegate().redirctNSlog();
    EXPECT_FALSE(std::filesystem::exists(logFile()));
    struct stat sink {}, devNull {};
    ASSERT_EQ(::fstat(logSink_, &sink), 0);
    ASSERT_EQ(::stat("/dev/null", &devNull), 0);
    EXPECT_EQ(sink.st_rdev, devNull.st_rdev);
}

// What the application writes under the home folder is the user's alone, whatever the umask, and
// files and folders an earlier version left open to others are closed up when next written.
TEST_F(AppDelegateTest, WhatItWritesIsPrivate) {
    struct UmaskScope {
        mode_t previous = ::umask(022);
        ~UmaskScope() { ::umask(previous); }
    } umaskScope;
    const auto home = env().home();
    const auto support = home / "Library/Application Support/QuarnAI";
    // An earlier version's settings folder and file, open to everyone.
    writeSettings({{"kQuarn_AI_UD_ShowStatusBarItem", false}});
    ::chmod(configFolder().c_str(), 0755);
    ::chmod(plistPath().c_str(), 0644);
    std::filesystem::create_directories(logFile().parent_path());
    writeFile(logFile(), "an old line\n");
    ::chmod(logFile().c_str(), 0644);

    // Saved before the launch: without a desktop no hot key can be grabbed.
    auto saved = KZShortcutManager::shared().updateConfig(
        KZShortcutConfig(1, KZModifierFlag::Command | KZModifierFlag::Shift, 49));
    ASSERT_TRUE(saved.ok()) << saved.error();
    installHost();
    launch();
    HXReport::startFileLog(HXReport::defaultFilePath());
    KZSharedPlistManager::sharedManager().db_setAuthUserInfo(
        kit::Dictionary{{"state", 0}, {"avatar", "https://ai.quarn.test/a.png"}, {"userName", "someone"}});
    KZSharedPlistManager::sharedManager().db_setQAWindowPinState(true);  // a second replace
    kit::UserDefaults::standard().set("theme_mode_setted", 1);
    HXReport::reportButtonClick(21001);
    HXReport::stopFileLog();

    const std::vector<std::pair<std::filesystem::path, mode_t>> expected{
        {support, 0700},
        {configFolder(), 0700},
        {plistPath(), 0600},  // the login record is in it
        {std::filesystem::path(plistPath()) += ".lock", 0600},
        {configFolder() / "shortcut", 0700},
        {configFolder() / "shortcut" / "1", 0600},
        {support / "HXReport.jsonl", 0600},
        {logFile(), 0600},
        {home / "Library/Preferences", 0700},
        {home / "Library/Preferences" / (KZBundleInfo::kBundleIdentifier + std::string(".plist")), 0600},
    };
    for (const auto& [path, mode] : expected) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 07777, mode) << path;
    }
    EXPECT_EQ(fileValue()["kQuarn_AI_UD_AuthUserInfo"]["userName"], kit::Value("someone"));
}

TEST_F(AppDelegateTest, ThemeFollowsTheSettingZeroToThree) {
    installHost();
    auto& defaults = kit::UserDefaults::standard();
    defaults.set("theme_mode_setted", 2);
    launch();
    EXPECT_TRUE(JWAppThemeHelper::isDarkMode());

    auto host = env().makeProcessCenter("host");
    auto themeIs = [&](int mode) {
        kit::UserDefaults(KZBundleInfo::kBundleIdentifier).set("theme_mode_setted", mode);
        host->post("theme_changed_notify");
        env().runUntilIdle();
        return JWAppThemeHelper::applicationAppearance();
    };
    JWAppThemeHelper::setSystemDarkMode(true);
    EXPECT_EQ(themeIs(1), kit::AppearancePreference::Light);
    EXPECT_FALSE(JWAppThemeHelper::isDarkMode());
    EXPECT_EQ(themeIs(3), kit::AppearancePreference::Light);  // left as it is
    EXPECT_EQ(themeIs(0), kit::AppearancePreference::System);
    EXPECT_TRUE(JWAppThemeHelper::isDarkMode());  // follows the desktop again
    EXPECT_EQ(themeIs(2), kit::AppearancePreference::Dark);
    EXPECT_EQ(themeIs(-1), kit::AppearancePreference::Dark);
}

TEST_F(AppDelegateTest, SettingsReportThreeSecondsAfterLaunchAndEveryFourHours) {
    installHost();
    KZShortcutManager::shared().updateConfig(KZShortcutConfig(2, KZModifierFlag::Command, 0x13)).ok();
    launch();
    env().advance(2.9);
    EXPECT_TRUE(reportsWithKey(21124).empty());
    env().advance(0.1);
    std::vector<std::pair<std::int64_t, std::string>> first;
    for (auto& e : HXReport::recordedEvents())
        if (e.key >= 21124 && e.key <= 21128) first.emplace_back(e.key, e.value);
    const std::vector<std::pair<std::int64_t, std::string>> expected{
        {21124, "0"}, {21125, "1"}, {21126, "0"}, {21127, "0"}, {21128, "1"}};
    EXPECT_EQ(first, expected);
    EXPECT_EQ(reportsWithKey(21124)[0].method, "reportCommonKeyValue");

    KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(true);
    env().advance(14400 - 0.1);
    EXPECT_EQ(reportsWithKey(21124).size(), 1u);
    env().advance(0.1);
    ASSERT_EQ(reportsWithKey(21124).size(), 2u);
    EXPECT_EQ(reportsWithKey(21124)[1].value, "1");
    EXPECT_EQ(reportsWithKey(21128).size(), 2u);
    env().advance(14400);
    EXPECT_EQ(reportsWithKey(21125).size(), 3u);
}

TEST_F(AppDelegateTest, StatusItemFollowsTheManagerAndAnswersClicks) {
    installHost();
    auto& d = launch();
    auto& manager = KZWindowControllerManager::manager();
    EXPECT_EQ(d.statusItem(), nullptr);

    manager.setShowAIStatusBarItem(true);
    ASSERT_NE(d.statusItem(), nullptr);
    EXPECT_EQ(manager.statusItem(), d.statusItem());
    EXPECT_EQ(d.statusItem()->length(), kit::kStatusItemSquareLength);
    EXPECT_EQ(d.statusItem()->button().imageName, "kz_ai_status_logo");
    EXPECT_EQ(d.statusItem()->button().imageSize, (kit::Size{15, 15}));
    EXPECT_TRUE(d.statusItem()->button().imageIsTemplate);
    EXPECT_TRUE(KZSharedPlistManager::sharedManager().db_showAIStatusBarItem());
    EXPECT_EQ(reportsWithKey(21000).size(), 1u);
    env().runUntilIdle();
    const auto* post = env().distributedBus().lastPost("kA2M_KZAIIPCShowAIStatusItemChangedNotification");
    ASSERT_NE(post, nullptr);
    EXPECT_EQ(post->userInfo["code"].integerValue(), 1);
    EXPECT_EQ(post->userInfo["message"], kit::Value("ai2main_showAIStatusItemChangedNotification"));
    EXPECT_TRUE(post->userInfo["data"].boolValue());

    HXReport::takeRecordedEvents();
    d.statusItem()->performClick();
    auto clicks = HXReport::recordedEvents();
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].key, 21001);
    EXPECT_EQ(clicks[0].method, "reportButtonClick");
    EXPECT_EQ(std::make_pair(clicks[1].key, clicks[1].value), std::make_pair(std::int64_t{24023}, std::string("1")));
    EXPECT_EQ(std::make_pair(clicks[2].key, clicks[2].value), std::make_pair(std::int64_t{24020}, std::string("31")));
    EXPECT_TRUE(env().log().contains("[AppDelegate] openMainApp"));

    // The same value again changes nothing and tells no one.
    env().distributedBus().clearPosts();
    auto item = d.statusItem();
    manager.setShowAIStatusBarItem(true);
    d.createStatueBar();
    EXPECT_EQ(d.statusItem(), item);
    env().runUntilIdle();
    EXPECT_EQ(env().distributedBus().postCount("kA2M_KZAIIPCShowAIStatusItemChangedNotification"), 0u);

    // The host's choice through the IPC handler.
    KZAIIPCClient::shared().showStatusBarChangedHandler(false);
    EXPECT_EQ(d.statusItem(), nullptr);
    EXPECT_TRUE(item->isRemoved());
    EXPECT_TRUE(kit::StatusBar::system().items().empty());
    EXPECT_FALSE(KZSharedPlistManager::sharedManager().db_showAIStatusBarItem());
}

TEST_F(AppDelegateTest, HostLaunchBringsTheStatusItemBack) {
    installHost();
    KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(true);
    auto& d = launch();
    ASSERT_NE(d.statusItem(), nullptr);  // shown by the manager on a later turn
    d.removeStatusBar();
    env().workspace().addRunningApplication("com.morvane.Other");
    env().runUntilIdle();
    EXPECT_EQ(d.statusItem(), nullptr);
    env().workspace().addRunningApplication(KZBundleInfo::kHostBundleIdentifier);
    env().runUntilIdle();
    EXPECT_TRUE(env().log().contains("[AppDelegate] quarn Application Did Launch"));
    EXPECT_NE(d.statusItem(), nullptr);
}

class NotchAlertTest : public AppDelegateTest {
protected:
    void SetUp() override {
        AppDelegateTest::SetUp();
        installHost();
        MachineModel::setLiquidScreen(true);
        KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(true);
        // The onboarding splash would hold the tip queue until it is closed.
        KZSharedPlistManager::sharedManager().db_setHasShowGuideWindow(true);
        kit::Alert::setPresenter([this](const kit::Alert& alert) {
            alerts_.push_back(alert.messageText);
            storedBeforeAlert_ = KZSharedPlistManager::sharedManager().db_showStatusBarHiddenOnLiquidScreenAlert();
            EXPECT_EQ(alert.iconName, "vx_logo_lightGuide");
            EXPECT_EQ(alert.buttons(), std::vector<std::string>{"好的"});
            return long{kit::kAlertFirstButtonReturn};
        });
    }
    bool stored() { return KZSharedPlistManager::sharedManager().db_showStatusBarHiddenOnLiquidScreenAlert(); }

    std::vector<std::string> alerts_;
    bool storedBeforeAlert_ = false;
    // A Chinese system: the alert's texts are the source texts.
    kit::testing::ScopedEnv chinese_{"LC_ALL", "zh_CN.UTF-8"};
};

TEST_F(NotchAlertTest, ShownOnceEverAndStoredBeforeItOpens) {
    auto& d = launch();
    ASSERT_NE(d.statusItem(), nullptr);
    d.statusItem()->setWindowState(true, 0);  // hidden behind the notch
    env().advance(1);
    EXPECT_TRUE(d.statusTipWillShow());
    EXPECT_TRUE(alerts_.empty());  // waits 0.5 s in the tip queue
    env().advance(0.6);
    ASSERT_EQ(alerts_.size(), 1u);
    EXPECT_EQ(alerts_[0], "Quarn AI助手状态栏可能被刘海屏遮挡，尝试显示更少的图标或者关闭其余不使用的状态栏图标");
    EXPECT_TRUE(storedBeforeAlert_);
    env().advance(30);
    EXPECT_EQ(alerts_.size(), 1u);
    EXPECT_EQ(JWTipManager::manager().currentTask(), nullptr);  // the task was completed

    // A later launch never shows it again.
    resetProcessServices();
    KZCoreHooks::setWindowManagerProvider(
        []() -> KZWindowControllerManaging* { return &KZWindowControllerManager::manager(); });
    MachineModel::setLiquidScreen(true);
    auto& again = launch();
    ASSERT_NE(again.statusItem(), nullptr);
    again.statusItem()->setWindowState(true, 0);
    env().advance(30);
    EXPECT_EQ(alerts_.size(), 1u);
    EXPECT_FALSE(again.statusTipWillShow());
}

TEST_F(NotchAlertTest, NothingWhileVisibleSelectingOrWithoutTheItemsWindow) {
    auto& d = launch();
    ASSERT_NE(d.statusItem(), nullptr);
    env().advance(3);  // the item has no window yet
    EXPECT_FALSE(d.statusTipWillShow());
    d.statusItem()->setWindowState(true, kit::kWindowOcclusionStateVisible);
    env().advance(3);
    EXPECT_FALSE(d.statusTipWillShow());
    bool selecting = true;
    KZCoreHooks::setScreenshotSelecting([&] { return selecting; });
    d.statusItem()->setWindowState(true, 0);
    env().advance(3);
    EXPECT_FALSE(d.statusTipWillShow());
    MachineModel::setLiquidScreen(false);
    selecting = false;
    env().advance(3);
    EXPECT_FALSE(d.statusTipWillShow());
    EXPECT_TRUE(alerts_.empty());
    EXPECT_FALSE(stored());
}

TEST_F(NotchAlertTest, ItemRemovedWhileQueuedStoresNothing) {
    auto& d = launch();
    d.statusItem()->setWindowState(true, 0);
    env().advance(1);
    ASSERT_TRUE(d.statusTipWillShow());
    d.removeStatusBar();
    env().advance(0.6);
    EXPECT_TRUE(alerts_.empty());
    EXPECT_FALSE(stored());
    EXPECT_FALSE(d.statusTipWillShow());
    // Once the item is back the alert can come.
    d.createStatueBar();
    d.statusItem()->setWindowState(true, 0);
    env().advance(2);
    EXPECT_EQ(alerts_.size(), 1u);
    EXPECT_TRUE(stored());
}

TEST_F(AppDelegateTest, LaunchArgumentsGoToTheDispatcher) {
    installHost();
    kit::process::setArguments({"/x/QuarnAI", "2", "ai"});
    launch();
    // Event "2" needs five elements.
    EXPECT_TRUE(env().log().contains("[KZAIIPCClientHandler] arguments is invalid: " +
                                      kit::describe(kit::Array{"/x/QuarnAI", "2", "ai"})));

    resetProcessServices();
    env().log().clear();
    kit::process::setArguments({"/x/QuarnAI"});
    launch();
    EXPECT_FALSE(env().log().contains("[KZAIIPCClientHandler]"));
}

// The host's language when it records one, else the system's (LC_ALL, LC_MESSAGES, LANG, the first
// set); at launch and at each change the host announces.
TEST_F(AppDelegateTest, LanguageComesFromTheHostElseFromTheSystem) {
    installHost();
    struct Case {
        std::optional<std::string> file, all, messages, lang;
        const char* language;
        const char* preferences;  // what the settings popover's first entry reads
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, "en_US.UTF-8", "en", "Preferences"},
        {"en\n", std::nullopt, std::nullopt, "zh_CN.UTF-8", "en", "Preferences"},
        {"zh-Hans\n", std::nullopt, std::nullopt, "en_US.UTF-8", "zh-Hans", "偏好设置"},
        {"en-GB\n", std::nullopt, std::nullopt, std::nullopt, "en-GB", "Preferences"},
        {std::nullopt, std::nullopt, std::nullopt, "zh_CN.UTF-8", "zh-Hans", "偏好设置"},
        {std::nullopt, std::nullopt, "zh_TW.UTF-8", "en_US.UTF-8", "zh-Hans", "偏好设置"},
        {std::nullopt, "en_GB.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", "en", "Preferences"},
        {std::nullopt, "", "", "C.UTF-8", "en", "Preferences"},
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt, "en", "Preferences"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i);
        std::filesystem::remove(LanguageHelper::userLanguageFile());
        if (c.file) writeFile(LanguageHelper::userLanguageFile(), *c.file);
        kit::testing::ScopedEnv all("LC_ALL", c.all), messages("LC_MESSAGES", c.messages), lang("LANG", c.lang);
        if (i == 0) {
            launch();
            KZWindowControllerManager::manager();
            // Theme, language, the manager's language, and the six names of the IPC client.
            EXPECT_EQ(env().distributedCenter().observerCount(), 9u);
        } else {
            env().makeProcessCenter("host")->post("user_language_change");
            env().runUntilIdle();
        }
        EXPECT_EQ(BundleLanguage::currentLanguage(), c.language);
        EXPECT_EQ(KZLocalizedString("偏好设置"), c.preferences);
    }
    EXPECT_TRUE(env().log().contains("[WndCtrl] user language changed"));
}

}  // namespace
