// The application binary as a process: a temporary home and system root, a private session bus,
// and what it leaves on disk. Deadlines are generous; nothing here measures time.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>

#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"
#include "tests/kit/sys/PrivateBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProcessTree.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using kit::testing::Child;
using kit::testing::exitedCleanly;
using kit::testing::readFile;
using kit::testing::waitFor;

// The (first) child process of a process, as this PID namespace numbers it; 0 when none.
pid_t childOf(pid_t parent) {
    std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    pid_t child = 0;
    in >> child;
    return child;
}

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

class AppProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        ASSERT_TRUE(tree_.make("quarn-process", &whyNot)) << whyNot;
    }
    void TearDown() override { tree_.finish(HasFailure()); }

    std::vector<std::string> environment() const {
        std::vector<std::string> env = tree_.environment();
        if (const char* value = std::getenv("QUARN_RESOURCES_DIR")) env.push_back(std::string("QUARN_RESOURCES_DIR=") + value);
        return env;
    }
    std::unique_ptr<Child> startApp(const std::string& outputName) {
        return std::make_unique<Child>(std::vector<std::string>{QUARN_APP_PATH}, environment(), root_ / outputName);
    }
    // The application as process 1 of a new PID namespace (killed with unshare); nullptr with
    // the reason when this machine does not allow one.
    std::unique_ptr<Child> startAppInPidNamespace(const std::string& outputName, std::string* whyNot) {
        const char* unshare = "/usr/bin/unshare";
        if (::access(unshare, X_OK) != 0) {
            *whyNot = "unshare(1) is not installed";
            return nullptr;
        }
        {
            Child probe({unshare, "--pid", "--fork", "--kill-child", "/bin/true"}, environment(), root_ / "probe.out");
            if (!exitedCleanly(probe.waitExit())) {
                *whyNot = "a PID namespace is not permitted here: " + readFile(root_ / "probe.out");
                return nullptr;
            }
        }
        return std::make_unique<Child>(
            std::vector<std::string>{unshare, "--pid", "--fork", "--kill-child", QUARN_APP_PATH}, environment(),
            root_ / outputName);
    }
    void installHostBundle() { fs::create_directories(system_ / "Applications/Morvane Quarn.app"); }

    fs::path logFile() const {
        return (::getuid() == 0 ? system_ : home_) / "Library/Logs" / "QuarnAI.log";
    }
    fs::path settingsFile() const { return home_ / "Library/Application Support/QuarnAI/config/QuarnAIConfig.plist"; }
    fs::path analyticsFile() const { return home_ / "Library/Application Support/QuarnAI/HXReport.jsonl"; }

    // The (key, value) pairs of the report events in the analytics file.
    std::vector<std::pair<std::int64_t, std::string>> settingsReports() {
        std::vector<std::pair<std::int64_t, std::string>> out;
        std::ifstream in(analyticsFile());
        for (std::string line; std::getline(in, line);) {
            auto event = kit::parseJson(line);
            if (!event) continue;
            auto key = (*event)["key"].integerValue();
            if (key >= 21124 && key <= 21128)
                out.emplace_back(key, (*event)["value"].asString() ? *(*event)["value"].asString() : "?");
        }
        return out;
    }
    bool reportedAllFive() { return settingsReports().size() >= 5; }

    kit::testing::ProcessTree tree_;
    const fs::path& root_ = tree_.root;
    const fs::path& home_ = tree_.home;
    const fs::path& system_ = tree_.system;
    std::optional<kit::testing::PrivateBus>& bus_ = tree_.bus;
};

TEST_F(AppProcessTest, WithoutTheHostItWritesItsFilesAndQuitsAtTheFirstTick) {
    auto app = startApp("app.out");
    ASSERT_TRUE(app->started());
    ASSERT_TRUE(exitedCleanly(app->waitExit())) << readFile(root_ / "app.out");

    auto settings = kit::readPropertyListFile(settingsFile());
    ASSERT_TRUE(settings.ok()) << settings.error();
    kit::Dictionary expected{{"kQuarn_AI_QA_WIDNDOW_PIN_STATE", false},
                             {"kQuarn_AI_UD_Accessiblity_Permission", false},
                             {"kQuarn_AI_UD_AuthUserInfo",
                              kit::Dictionary{{"state", 1}, {"avatar", ""}, {"userName", ""}}},
                             {"kQuarn_AI_UD_GuideWindow_HasChoosedShowAIBar", false},
                             {"kQuarn_AI_UD_HasShowGuideWindow", false},
                             {"kQuarn_AI_UD_PowerBootShowAILogo", true},
                             {"kQuarn_AI_UD_ShowStatusBarItem", false},
                             {"kQuarn_AI_UD_StatusBarHiddenOnLiquidScreenAlertShow", false},
                             {"kQuarn_AI_UD_UseSelectTextTool", false}};
    ASSERT_TRUE(settings->isDictionary());
    EXPECT_EQ(*settings->asDictionary(), expected);

    // Private to the user: the folders it made and the files it wrote.
    const auto support = home_ / "Library/Application Support/QuarnAI";
    for (const auto& [path, mode] : std::vector<std::pair<fs::path, fs::perms>>{
             {support, fs::perms::owner_all},
             {support / "config", fs::perms::owner_all},
             {settingsFile(), fs::perms::owner_read | fs::perms::owner_write},
             {analyticsFile(), fs::perms::owner_read | fs::perms::owner_write},
             {logFile(), fs::perms::owner_read | fs::perms::owner_write}}) {
        EXPECT_EQ(fs::status(path).permissions(), mode) << path;
    }

    std::string log = readFile(logFile());
    EXPECT_NE(log.find("[AppDelegate] applicationDidFinishLaunching end"), std::string::npos) << log;
    auto quitLine = log.find("[AppDelegate] found Quarn not exist in /Applications, terminate self.");
    ASSERT_NE(quitLine, std::string::npos) << log;
    EXPECT_LT(quitLine, log.find("[AppDelegate] applicationWillTerminate"));
    // Everything after the redirection went to the file, not to the inherited output.
    std::string output = readFile(root_ / "app.out");
    EXPECT_NE(output.find("Appdelegate -> redirctNSlog ..."), std::string::npos);
    EXPECT_EQ(output.find("terminate self"), std::string::npos);
}

// The desktop backend needs X11: with GDK_BACKEND=wayland in the environment (some Wayland
// sessions set it) the application runs on the X display all the same; without an X display it
// stops at once saying what is missing, having started nothing, written nothing and told no peer
// anything.
TEST_F(AppProcessTest, ItRunsOnTheXDisplayWhateverGdkBackendSaysAndStopsWithoutOne) {
    const char* own = std::getenv("DISPLAY");
    ASSERT_TRUE(own) << "run through run-under-xvfb.sh";
    struct Case {
        const char* name;
        const char* display;      // nullptr: none
        const char* stopsSaying;  // nullptr: it runs
    };
    const Case cases[] = {
        {"no DISPLAY", nullptr, "[AppDelegate] cannot start: no X11 display: DISPLAY is not set"},
        {"a DISPLAY where no server answers", ":4031",
         "[AppDelegate] cannot start: cannot open the X11 display \":4031\" that DISPLAY names"},
        {"the X display", own, nullptr},
    };
    installHostBundle();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto env = environment();
        std::erase_if(env, [](const std::string& v) { return v.starts_with("DISPLAY="); });
        env.emplace_back("GDK_BACKEND=wayland");
        env.emplace_back("WAYLAND_DISPLAY=wayland-quarn-none");
        if (c.display) env.push_back(std::string("DISPLAY=") + c.display);
        const std::string output = std::string(c.name) + ".out";
        Child app({QUARN_APP_PATH}, env, root_ / output);
        ASSERT_TRUE(app.started());
        if (c.stopsSaying) {
            const auto status = app.waitExit();
            ASSERT_TRUE(status && WIFEXITED(*status)) << readFile(root_ / output);
            EXPECT_NE(WEXITSTATUS(*status), 0);
            EXPECT_NE(readFile(root_ / output).find(c.stopsSaying), std::string::npos) << readFile(root_ / output);
            EXPECT_FALSE(fs::exists(logFile()));
            EXPECT_FALSE(fs::exists(settingsFile()));
            continue;
        }
        ASSERT_TRUE(waitFor([&] { return countOf(readFile(logFile()), "applicationDidFinishLaunching end") == 1; }))
            << readFile(root_ / output) << readFile(logFile());
        // Its windows are on the X display (made ahead, not shown yet).
        gchar* found = nullptr;
        const std::string search = std::string("env DISPLAY=") + own + " xdotool search --class QuarnAI";
        ASSERT_TRUE(g_spawn_command_line_sync(search.c_str(), &found, nullptr, nullptr, nullptr));
        EXPECT_NE(std::string(found ? found : ""), "");
        g_free(found);
        EXPECT_EQ(readFile(logFile()).find("cannot"), std::string::npos) << readFile(logFile());
        app.signal(SIGTERM);
        EXPECT_TRUE(exitedCleanly(app.waitExit())) << readFile(logFile());
    }
}

TEST_F(AppProcessTest, HostBundlePresentKeepsItRunningAndReportsSettings) {
    installHostBundle();
    auto app = startApp("app.out");
    ASSERT_TRUE(waitFor([&] { return reportedAllFive(); })) << readFile(logFile());
    const std::vector<std::pair<std::int64_t, std::string>> expected{
        {21124, "0"}, {21125, "1"}, {21126, "0"}, {21127, "0"}, {21128, "0"}};
    EXPECT_EQ(settingsReports(), expected);
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(app->running());
    app->signal(SIGTERM);
    EXPECT_TRUE(exitedCleanly(app->waitExit()));
    EXPECT_NE(readFile(logFile()).find("[AppDelegate] applicationWillTerminate"), std::string::npos);
}

TEST_F(AppProcessTest, HostRunningFromElsewhereKeepsItRunning) {
    Child host({QUARN_BUS_NAME_OWNER_PATH, "com.morvane.Quarn"}, environment(), root_ / "host.out");
    ASSERT_TRUE(waitFor([&] { return readFile(root_ / "host.out").find("owned") != std::string::npos; }));
    auto app = startApp("app.out");
    ASSERT_TRUE(waitFor([&] { return reportedAllFive(); })) << readFile(logFile());
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(app->running());

    // Once the host quits (and nothing is in /Applications), the next tick ends it.
    host.signal(SIGTERM);
    EXPECT_TRUE(exitedCleanly(app->waitExit())) << readFile(logFile());
    EXPECT_NE(readFile(logFile()).find("terminate self"), std::string::npos);
}

TEST_F(AppProcessTest, TheEndOfASleepOnTheSystemBusReachesIt) {
    installHostBundle();
    std::string whyNot;
    auto systemBus = kit::testing::PrivateBus::start(&whyNot);
    ASSERT_TRUE(systemBus.has_value()) << whyNot;
    auto env = environment();
    env.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + systemBus->address());
    Child app({QUARN_APP_PATH}, env, root_ / "app.out");
    ASSERT_TRUE(waitFor([&] {
        return readFile(logFile()).find("applicationDidFinishLaunching end") != std::string::npos;
    })) << readFile(root_ / "app.out");

    // A stand-in of logind: the machine has just resumed.
    GDBusConnection* logind = g_dbus_connection_new_for_address_sync(
        systemBus->address().c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_TRUE(logind);
    GVariant* owned = g_dbus_connection_call_sync(logind, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", "org.freedesktop.login1", 4u),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    ASSERT_TRUE(owned);
    g_variant_unref(owned);
    g_dbus_connection_emit_signal(logind, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                  "PrepareForSleep", g_variant_new("(b)", FALSE), nullptr);
    g_dbus_connection_flush_sync(logind, nullptr, nullptr);
    EXPECT_TRUE(waitFor([&] { return readFile(logFile()).find("[Workspace] the system woke") != std::string::npos; }))
        << readFile(logFile());
    g_dbus_connection_close_sync(logind, nullptr, nullptr);
    g_object_unref(logind);
    app.signal(SIGTERM);
    EXPECT_TRUE(exitedCleanly(app.waitExit()));
}

TEST_F(AppProcessTest, SecondCopyLeavesAtOnceAndTheFirstStays) {
    installHostBundle();
    auto first = startApp("first.out");
    ASSERT_TRUE(waitFor([&] {
        return readFile(logFile()).find("applicationDidFinishLaunching end") != std::string::npos;
    }));
    auto second = startApp("second.out");
    ASSERT_TRUE(exitedCleanly(second->waitExit())) << readFile(root_ / "second.out");

    std::string secondOutput = readFile(root_ / "second.out");
    EXPECT_NE(secondOutput.find("[AppDelegate] applicationWillTerminate"), std::string::npos) << secondOutput;
    EXPECT_EQ(secondOutput.find("redirctNSlog"), std::string::npos);
    EXPECT_EQ(secondOutput.find("listenQuarnProcessLaunch"), std::string::npos);

    ASSERT_TRUE(waitFor([&] { return reportedAllFive(); }));
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(first->running());
    std::string log = readFile(logFile());
    EXPECT_EQ(countOf(log, "[AppDelegate] listenQuarnProcessLaunch"), 1u) << log;
    EXPECT_EQ(countOf(log, "[AppDelegate] applicationWillTerminate"), 0u);
    EXPECT_EQ(settingsReports().size(), 5u);  // one copy reporting
    first->signal(SIGTERM);
    EXPECT_TRUE(exitedCleanly(first->waitExit()));
}

// In a sandbox or container the bus reports other process ids than the process sees: the only
// copy stays, and a second copy (in its own namespace or not) still leaves.
TEST_F(AppProcessTest, InsideAPidNamespaceTheOnlyCopyStaysAndASecondLeaves) {
    installHostBundle();
    std::string whyNot;
    auto first = startAppInPidNamespace("first.out", &whyNot);
    if (!first) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(waitFor([&] { return reportedAllFive(); })) << readFile(logFile()) << readFile(root_ / "first.out");
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(first->running());
    EXPECT_EQ(countOf(readFile(logFile()), "[AppDelegate] applicationWillTerminate"), 0u) << readFile(logFile());

    for (bool inNamespace : {true, false}) {
        SCOPED_TRACE(inNamespace ? "second copy in a namespace" : "second copy outside");
        const std::string output = inNamespace ? "second-ns.out" : "second.out";
        auto second = inNamespace ? startAppInPidNamespace(output, &whyNot) : startApp(output);
        ASSERT_TRUE(second);
        ASSERT_TRUE(exitedCleanly(second->waitExit())) << readFile(root_ / output);
        EXPECT_NE(readFile(root_ / output).find("[AppDelegate] applicationWillTerminate"), std::string::npos);
    }
    EXPECT_TRUE(first->running());
    // Ended as a user would end it: unshare passes on its exit status.
    const pid_t app = childOf(first->pid());
    ASSERT_GT(app, 0);
    ::kill(app, SIGTERM);
    EXPECT_TRUE(exitedCleanly(first->waitExit())) << readFile(root_ / "first.out");
    EXPECT_NE(readFile(logFile()).find("[AppDelegate] applicationWillTerminate"), std::string::npos);
}

}  // namespace
