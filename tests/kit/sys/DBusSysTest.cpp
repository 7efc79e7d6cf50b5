// The D-Bus centre and workspace between real processes, on a private session bus started here.
// A peer process (test_kit_sys_peer) answers over the bus; every wait has a deadline of seconds
// and nothing here measures speed.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "kit/sys/DBusWorkspace.h"
#include "tests/kit/sys/PrivateBus.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/ScopedEnvironment.h"

namespace kit {
namespace {

constexpr double kDeadline = 20;

Value everyKind() {
    return Value(Dictionary{
        {"bool", Value(true)},
        {"integer", Value(std::numeric_limits<std::int64_t>::min())},
        {"real", Value(-0.125)},
        {"string", Value("naïve \"text\" with 'quotes' and\nnewline")},
        {"data", Value(Data{0, 0x7f, 0x80, 0xff})},
        {"date", Value(Date{788918400.5})},
        {"array", Value(Array{Value(1), Value(false), Value(Array{Value("in")})})},
        {"dictionary", Value(Dictionary{{"inner", Value(Dictionary{{"x", Value(2.0)}})}, {"empty", Value(Array{})}})},
        {"null", Value()},
    });
}

class DBusSysTest : public ::testing::Test {
protected:
    static inline std::optional<testing::PrivateBus> bus;
    static inline std::string busProblem;
    static inline bool daemonMissing = false;
    static inline std::optional<std::string> savedAddress;

    static void SetUpTestSuite() {
        bus = testing::PrivateBus::start(&busProblem);
        daemonMissing = !bus && busProblem.find("not installed") != std::string::npos;
        if (!bus) return;
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) savedAddress = old;
        // The peers and the centres of this process find the private bus here.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
    }

    static void TearDownTestSuite() {
        bus.reset();
        if (savedAddress) ::setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress->c_str(), 1);
        else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    std::shared_ptr<RunLoop> previousLoop;
    std::shared_ptr<RunLoop> loop;
    std::shared_ptr<DBusDistributedNotificationCenter> center;
    std::vector<GPid> peers;
    std::map<std::string, Value> ready;
    std::shared_ptr<void> readyToken;

    void SetUp() override {
        if (daemonMissing) GTEST_SKIP() << "dbus-daemon is not installed: " << busProblem;
        ASSERT_TRUE(bus) << busProblem;
        previousLoop = RunLoop::mainShared();
        loop = makeGlibRunLoop();
        RunLoop::setMain(loop);
        auto connected = DBusDistributedNotificationCenter::connect(bus->address());
        ASSERT_TRUE(connected) << connected.error();
        center = *connected;
        readyToken = center->addObserver("test.peer.ready", std::nullopt, [this](const DistributedNotification& n) {
            ready[n.object] = n.userInfo;
        });
    }

    void TearDown() override {
        for (GPid pid : peers) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        readyToken.reset();
        center.reset();
        if (loop) RunLoop::setMain(previousLoop);
    }

    // Runs the main loop until the condition holds or the deadline passes.
    bool waitFor(const std::function<bool()>& condition, double seconds = kDeadline) {
        return testing::runLoopUntil(condition, seconds);
    }

    static std::filesystem::path peerPath() {
        return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "test_kit_sys_peer";
    }

    // Starts a peer and waits until it listens; its pid, or 0.
    GPid startPeer(const std::string& label, std::vector<std::string> extra = {}) {
        center->flush();
        std::vector<std::string> args{peerPath().string(), label};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<gchar*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        GPid pid = 0;
        GError* error = nullptr;
        if (!g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, &error)) {
            ADD_FAILURE() << "cannot start the peer: " << error->message;
            g_error_free(error);
            return 0;
        }
        peers.push_back(pid);
        if (!waitFor([&] { return ready.contains(label); })) {
            ADD_FAILURE() << "the peer " << label << " did not get ready";
            return 0;
        }
        return pid;
    }

    std::shared_ptr<DBusWorkspace> connectWorkspace() {
        auto workspace = DBusWorkspace::connect(bus->address());
        EXPECT_TRUE(workspace) << workspace.error();
        return workspace ? *workspace : nullptr;
    }

    // Reaps a peer that has exited.
    bool processExited(GPid pid) {
        if (std::find(peers.begin(), peers.end(), pid) == peers.end()) return true;
        if (::waitpid(pid, nullptr, WNOHANG) != pid) return false;
        std::erase(peers, pid);
        return true;
    }
};

TEST_F(DBusSysTest, notificationsWithEveryValueKindTravelToAnotherProcessAndBack) {
    std::vector<DistributedNotification> pongs;
    std::vector<DistributedNotification> ownPings;
    auto pongToken = center->addObserver("test.pong", std::string("round-1"),
                                         [&](const DistributedNotification& n) { pongs.push_back(n); });
    auto pingToken = center->addObserver("test.ping", std::nullopt,
                                         [&](const DistributedNotification& n) { ownPings.push_back(n); });
    ASSERT_NE(startPeer("echo"), 0);

    center->post("test.ping", "round-1", everyKind());
    EXPECT_TRUE(ownPings.empty()) << "delivered inside post()";
    ASSERT_TRUE(waitFor([&] { return !pongs.empty() && !ownPings.empty(); }));

    EXPECT_EQ(ownPings[0].userInfo, everyKind()) << "this process hears its own posts";
    Value echoed = pongs[0].userInfo;
    ASSERT_TRUE(echoed.isDictionary());
    EXPECT_EQ(echoed["from"], Value("echo"));
    echoed.asDictionary()->erase("from");
    EXPECT_EQ(echoed, everyKind());
    EXPECT_TRUE(echoed["integer"].isInteger());
    EXPECT_TRUE(echoed["date"].isDate());
    EXPECT_TRUE(echoed["data"].isData());

    // A post without user info arrives without one; the object filter holds.
    center->post("test.ping", "round-2");
    center->post("test.ping", "round-1");
    ASSERT_TRUE(waitFor([&] { return pongs.size() >= 2; }));
    EXPECT_EQ(pongs[1].object, "round-1");
    EXPECT_EQ(pongs[1].userInfo, Value(Dictionary{{"from", Value("echo")}}));
}

TEST_F(DBusSysTest, releasedObserversAndCentresStopHearing) {
    int heard = 0;
    auto token = center->addObserver("test.self", std::nullopt, [&](const DistributedNotification&) { ++heard; });
    auto other = *DBusDistributedNotificationCenter::connect(bus->address());
    int otherHeard = 0;
    auto otherToken = other->addObserver("", std::nullopt, [&](const DistributedNotification&) { ++otherHeard; });
    other->flush();

    center->post("test.self");
    ASSERT_TRUE(waitFor([&] { return heard == 1 && otherHeard == 1; }));

    token.reset();
    other.reset();  // its token outlives it and must stay harmless
    int stillHeard = 0;
    auto marker = center->addObserver("test.marker", std::nullopt, [&](const DistributedNotification&) { ++stillHeard; });
    center->post("test.self");
    center->post("test.marker");
    ASSERT_TRUE(waitFor([&] { return stillHeard == 1; }));
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(otherHeard, 1);
    otherToken.reset();
}

TEST_F(DBusSysTest, oneProcessSeesAnothersLaunchAndTerminationAndItsProcessId) {
    auto workspace = connectWorkspace();
    ASSERT_TRUE(workspace);
    std::vector<Notification> events;
    auto onEvent = [&](const Notification& n) {
        if (n.userInfo["NSApplicationBundleIdentifier"] == Value("com.test.Watched")) events.push_back(n);
    };
    auto launched = workspace->notificationCenter().addObserverForName(kWorkspaceDidLaunchApplication, nullptr, onEvent);
    auto terminated =
        workspace->notificationCenter().addObserverForName(kWorkspaceDidTerminateApplication, nullptr, onEvent);

    GPid pid = startPeer("watched", {"--register", "com.test.Watched"});
    ASSERT_NE(pid, 0);
    EXPECT_EQ(ready["watched"]["registered"], Value(true));
    ASSERT_TRUE(waitFor([&] { return !events.empty(); }));
    EXPECT_EQ(events[0].name, kWorkspaceDidLaunchApplication);
    EXPECT_EQ(events[0].object, workspace.get());
    EXPECT_EQ(events[0].userInfo["NSApplicationProcessIdentifier"].integerValue(), pid);

    auto running = workspace->runningApplications("com.test.Watched");
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processId, pid);
    bool listed = false;
    for (const auto& application : workspace->runningApplications("")) {
        EXPECT_NE(application.bundleIdentifier[0], ':');
        EXPECT_NE(application.bundleIdentifier, "org.freedesktop.DBus");
        listed |= application.bundleIdentifier == "com.test.Watched" && application.processId == pid;
    }
    EXPECT_TRUE(listed);

    // The second claimant is refused while the peer holds the name.
    EXPECT_FALSE(workspace->registerApplication("com.test.Watched"));

    center->post("test.peer.exit", "watched");
    ASSERT_TRUE(waitFor([&] { return events.size() >= 2; }));
    EXPECT_EQ(events[1].name, kWorkspaceDidTerminateApplication);
    EXPECT_EQ(events[1].userInfo["NSApplicationProcessIdentifier"].integerValue(), pid);
    EXPECT_TRUE(waitFor([&] { return processExited(pid); }));
    EXPECT_TRUE(workspace->runningApplications("com.test.Watched").empty());

    // Once it is free, the name can be claimed, and claiming it again is harmless.
    EXPECT_TRUE(workspace->registerApplication("com.test.Watched"));
    EXPECT_TRUE(workspace->registerApplication("com.test.Watched"));
    EXPECT_FALSE(workspace->registerApplication(":1.1"));
    EXPECT_FALSE(workspace->registerApplication("no dots allowed"));
}

TEST_F(DBusSysTest, aNameWeHoldIsRefusedToAnotherProcessAndActivationReachesIt) {
    auto workspace = connectWorkspace();
    ASSERT_TRUE(workspace);
    ASSERT_TRUE(workspace->registerApplication("com.test.Ours"));
    std::vector<Value> answers;
    auto answer = center->addObserver("test.peer.registered", std::string("claimant"),
                                      [&](const DistributedNotification& n) { answers.push_back(n.userInfo); });
    std::vector<Value> activations;
    auto activated = center->addObserver("test.peer.activated", std::string("claimant"),
                                         [&](const DistributedNotification& n) { activations.push_back(n.userInfo); });
    ASSERT_NE(startPeer("claimant"), 0);

    center->post("test.peer.register", "claimant", Value(Dictionary{{"id", Value("com.test.Ours")}}));
    center->post("test.peer.register", "claimant", Value(Dictionary{{"id", Value("com.test.Theirs")}}));
    ASSERT_TRUE(waitFor([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers[0]["ok"], Value(false));
    EXPECT_EQ(answers[1]["ok"], Value(true));

    workspace->activate("com.test.Theirs", 3);
    ASSERT_TRUE(waitFor([&] { return !activations.empty(); }));
    EXPECT_EQ(activations[0]["options"], Value(3));

    // Activating a name of ours asks our own interface to come forward, on this process's centre.
    std::vector<std::int64_t> ownRequests;
    auto own = NotificationCenter::defaultCenter().addObserverForName(
        kApplicationActivateRequest, nullptr,
        [&](const Notification& n) { ownRequests.push_back(n.userInfo["options"].integerValue()); });
    workspace->activate("com.test.Ours", 2);
    EXPECT_EQ(ownRequests, std::vector<std::int64_t>{2});
    // Activating what nobody owns is dropped quietly.
    workspace->activate("com.test.Nobody", 1);
    workspace->activate("not a name", 1);
}

TEST_F(DBusSysTest, launchApplicationStartsABundleLaidOutUnderTheSystemRoot) {
    testing::TempFolder folder("quarn-sys-launch");
    ASSERT_FALSE(folder.path().empty());
    const std::filesystem::path& root = folder.path();
    testing::ScopedEnv systemRoot("QUARN_SYSTEM_ROOT", root.string());

    auto macos = root / "Applications" / "Peer App.app" / "Contents" / "MacOS";
    std::filesystem::create_directories(macos);
    {
        std::ofstream script(macos / "Peer App");
        script << "#!/bin/sh\nexec '" << peerPath().string() << "' launched --register com.test.Launched \"$@\"\n";
    }
    ::chmod((macos / "Peer App").c_str(), 0755);
    std::filesystem::create_directories(root / "Applications" / "Plain.app" / "Contents" / "MacOS");
    std::ofstream(root / "Applications" / "Plain.app" / "Contents" / "MacOS" / "Plain") << "not executable";

    auto workspace = connectWorkspace();
    ASSERT_TRUE(workspace);
    std::vector<std::int64_t> launches;
    auto token = workspace->notificationCenter().addObserverForName(
        kWorkspaceDidLaunchApplication, nullptr, [&](const Notification& n) {
            if (n.userInfo["NSApplicationBundleIdentifier"] == Value("com.test.Launched"))
                launches.push_back(n.userInfo["NSApplicationProcessIdentifier"].integerValue());
        });

    {
        LogCapture log;
        EXPECT_FALSE(workspace->launchApplication("/Applications/Missing.app", {}, LaunchDefault));
        EXPECT_FALSE(workspace->launchApplication("/Applications/Plain.app", {}, LaunchDefault));
        EXPECT_FALSE(workspace->launchApplication("", {}, LaunchDefault));
        EXPECT_EQ(log.count("cannot launch"), 3u);
    }
    center->flush();
    EXPECT_TRUE(workspace->launchApplication("/Applications/Peer App.app/", {"2", "two words"},
                                             LaunchWithoutAddingToRecents));
    EXPECT_TRUE(waitFor([&] { return ready.contains("launched") && !launches.empty(); }));
    EXPECT_EQ(ready["launched"]["arguments"], Value(Array{Value("2"), Value("two words")}));
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches[0], ready["launched"]["pid"].integerValue());

    // The launched process is not our child; tell it to go and wait until its name is released.
    center->post("test.peer.exit", "launched");
    EXPECT_TRUE(waitFor([&] { return workspace->runningApplications("com.test.Launched").empty(); }));
}

TEST_F(DBusSysTest, signalsPostedFromAShellAreReadAndMalformedOnesIgnored) {
    LogCapture log;
    std::vector<DistributedNotification> heard;
    auto token = center->addObserver("", std::nullopt, [&](const DistributedNotification& n) {
        if (n.name != "test.peer.ready") heard.push_back(n);
    });
    center->flush();

    auto emit = [](std::vector<std::string> arguments) {
        std::vector<std::string> args{"gdbus", "emit", "--session", "--object-path",
                                      "/com/morvane/DistributedNotification", "--signal",
                                      "com.morvane.DistributedNotification.Posted"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<gchar*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        gint status = -1;
        GError* error = nullptr;
        bool ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                                nullptr, &status, &error);
        if (error) {
            ADD_FAILURE() << "cannot run gdbus: " << error->message;
            g_error_free(error);
        }
        return ran && g_spawn_check_wait_status(status, nullptr);
    };
    ASSERT_TRUE(emit({"42"}));
    ASSERT_TRUE(emit({"'Bad'", "7", "{'data': <true>}"}));
    ASSERT_TRUE(emit({"'Bad'", "''", "{'huge': <uint64 18446744073709551615>, 'kept': <int32 -3>}"}));
    // Around and beyond the nesting that the bus and GDBus accept: whatever arrives must leave
    // the connection working. (The bus may cut off the sender of a message too deep for it, so
    // gdbus can report a failure here.)
    for (int levels : {17, 18, 19, 20, 21, 22, 30}) {
        std::string deep = "<1>";
        for (int i = 0; i < levels; ++i) deep = "<{'d': " + deep + "}>";
        emit({"'Deep'", "''", "{'x': " + deep + "}"});
    }
    ASSERT_TRUE(emit({"'ShellPost'", "''", "{'data': <true>}"}));
    auto heardNamed = [&](const std::string& name) {
        return std::find_if(heard.begin(), heard.end(), [&](const auto& n) { return n.name == name; });
    };
    ASSERT_TRUE(waitFor([&] { return heardNamed("ShellPost") != heard.end(); }));
    // Nothing else is still on its way: the shell's signals arrive in order.
    center->post("test.after");
    ASSERT_TRUE(waitFor([&] { return heardNamed("test.after") != heard.end(); }));

    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard[0].name, "Bad");
    EXPECT_EQ(heard[0].userInfo, Value(Dictionary{{"kept", Value(-3)}}));
    EXPECT_EQ(heardNamed("ShellPost")->userInfo, Value(Dictionary{{"data", Value(true)}}));
    for (const auto& n : heard) EXPECT_TRUE(n.name == "Bad" || n.name == "Deep" || n.name == "ShellPost" || n.name == "test.after") << n.name;
    EXPECT_EQ(log.count("ignored a signal"), 2u);
    EXPECT_TRUE(log.contains("left out parts of a signal"));
}

TEST_F(DBusSysTest, theEndOfASleepOrOfTheScreenSaverIsPostedAsWake) {
    std::string why;
    auto systemBus = testing::PrivateBus::start(&why);
    ASSERT_TRUE(systemBus) << why;
    auto workspace = connectWorkspace();
    ASSERT_TRUE(workspace);
    workspace->watchSystemWake(systemBus->address());
    workspace->watchSystemWake("unix:path=/nonexistent");  // only the first call counts
    std::vector<std::string> heard;
    auto record = [&](const Notification& n) {
        EXPECT_EQ(n.object, workspace.get());
        heard.push_back(n.name == kWorkspaceDidWake ? "wake" : "screens");
    };
    auto wake = workspace->notificationCenter().addObserverForName(kWorkspaceDidWake, nullptr, record);
    auto screens = workspace->notificationCenter().addObserverForName(kWorkspaceScreensDidWake, nullptr, record);

    // Stand-ins of logind on the system bus and of two screen savers on the session bus, and
    // impostors without their names.
    auto connect = [](const std::string& address, const char* name) -> GDBusConnection* {
        GError* error = nullptr;
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        GDBusConnection* c = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, &error);
        EXPECT_TRUE(c) << (error ? error->message : "");
        if (error) g_error_free(error);
        if (c && name) {
            GVariant* reply = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                          "org.freedesktop.DBus", "RequestName",
                                                          g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"),
                                                          G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
            EXPECT_TRUE(reply) << name;
            if (reply) g_variant_unref(reply);
        }
        return c;
    };
    GDBusConnection* logind = connect(systemBus->address(), "org.freedesktop.login1");
    GDBusConnection* systemImpostor = connect(systemBus->address(), nullptr);
    GDBusConnection* freedesktop = connect(bus->address(), "org.freedesktop.ScreenSaver");
    GDBusConnection* gnome = connect(bus->address(), "org.gnome.ScreenSaver");
    GDBusConnection* sessionImpostor = connect(bus->address(), nullptr);
    ASSERT_TRUE(logind && systemImpostor && freedesktop && gnome && sessionImpostor);
    auto sleep = [](GDBusConnection* c, GVariant* arguments) {
        g_dbus_connection_emit_signal(c, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                      "PrepareForSleep", arguments, nullptr);
        g_dbus_connection_flush_sync(c, nullptr, nullptr);
    };
    auto saver = [](GDBusConnection* c, const char* name, const char* path, bool active) {
        g_dbus_connection_emit_signal(c, nullptr, path, name, "ActiveChanged", g_variant_new("(b)", active), nullptr);
        g_dbus_connection_flush_sync(c, nullptr, nullptr);
    };
    sleep(systemImpostor, g_variant_new("(b)", FALSE));
    sleep(logind, g_variant_new("(b)", TRUE));
    sleep(logind, g_variant_new("(s)", "false"));
    saver(sessionImpostor, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", false);
    saver(freedesktop, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", true);
    sleep(logind, g_variant_new("(b)", FALSE));
    ASSERT_TRUE(waitFor([&] { return !heard.empty(); }));
    EXPECT_EQ(heard, std::vector<std::string>{"wake"});
    heard.clear();
    saver(freedesktop, "org.freedesktop.ScreenSaver", "/ScreenSaver", false);
    saver(gnome, "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", false);
    ASSERT_TRUE(waitFor([&] { return heard.size() >= 2; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"screens", "screens"}));

    for (GDBusConnection* c : {logind, systemImpostor, freedesktop, gnome, sessionImpostor}) {
        g_dbus_connection_close_sync(c, nullptr, nullptr);
        g_object_unref(c);
    }
    // Without a system bus no sleep can be heard, and the log says so.
    LogCapture log;
    auto alone = connectWorkspace();
    alone->watchSystemWake("unix:path=/nonexistent");
    EXPECT_TRUE(log.contains("no system bus, so no wake from sleep"));
}

TEST_F(DBusSysTest, openURLFailsCleanlyWithoutAHandler) {
    auto workspace = connectWorkspace();
    ASSERT_TRUE(workspace);
    LogCapture log;
    EXPECT_FALSE(workspace->openURL(""));
    EXPECT_FALSE(workspace->openURL("quarn-test-unhandled-scheme://nothing"));
    EXPECT_EQ(log.count("cannot open"), 2u);
}

TEST(DBusDefaults, aCentreAndAWorkspaceWithoutABusStillWorkWithinTheProcess) {
    auto loop = makeVirtualRunLoop();
    auto previous = RunLoop::mainShared();
    RunLoop::setMain(loop);
    auto center = DBusDistributedNotificationCenter::disconnected();
    EXPECT_FALSE(center->isConnected());
    int heard = 0;
    auto token = center->addObserver("local", std::nullopt, [&](const DistributedNotification& n) {
        heard += static_cast<int>(n.userInfo["n"].integerValue());
    });
    center->post("local", "", Value(Dictionary{{"n", Value(2)}}));
    EXPECT_EQ(heard, 0);
    loop->runUntilIdle();
    EXPECT_EQ(heard, 2);

    auto workspace = DBusWorkspace::disconnected();
    LogCapture log;
    EXPECT_FALSE(workspace->registerApplication("com.test.Alone"));
    EXPECT_TRUE(workspace->runningApplications("").empty());
    RunLoop::setMain(previous);
}

TEST(BundleExecutablePath, isTheExecutableNamedAfterTheBundle) {
    EXPECT_EQ(bundleExecutablePath("/A/Morvane Quarn.app"), "/A/Morvane Quarn.app/Contents/MacOS/Morvane Quarn");
    EXPECT_EQ(bundleExecutablePath("/A/Tool.app/"), "/A/Tool.app/Contents/MacOS/Tool");
    EXPECT_EQ(bundleExecutablePath("/A/NoSuffix"), "/A/NoSuffix/Contents/MacOS/NoSuffix");
    EXPECT_TRUE(looksLikeBundleIdentifier("com.morvane.Quarn"));
    EXPECT_FALSE(looksLikeBundleIdentifier(":1.5"));
    EXPECT_FALSE(looksLikeBundleIdentifier("org.freedesktop.DBus"));
    EXPECT_FALSE(looksLikeBundleIdentifier("single"));
    EXPECT_FALSE(looksLikeBundleIdentifier(""));
}

}  // namespace
}  // namespace kit
