// The host and text-tool stand-ins as processes on a private session bus: they own their bus
// names, send what their commands say, and log what the assistant sends them. The test plays the
// assistant with kit's D-Bus centre. Every wait has a deadline of seconds; nothing is timed.

#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "kit/sys/DBusWorkspace.h"
#include "tests/kit/sys/PrivateBus.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/ScopedEnvironment.h"

namespace peers {
namespace {

constexpr double kDeadline = 20;

// Runs the main loop until the condition holds or the deadline passes.
bool waitFor(const std::function<bool()>& condition, double seconds = kDeadline) {
    return kit::testing::runLoopUntil(condition, seconds);
}

// A stand-in process with its standard input and output on pipes; output lines are collected on
// the main loop.
class PeerChild {
public:
    static std::unique_ptr<PeerChild> start(const std::vector<std::string>& arguments, gchar** environment) {
        std::unique_ptr<PeerChild> child(new PeerChild());
        std::vector<std::string> args = arguments;
        std::vector<gchar*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, argv.data(), environment, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                      &child->pid_, &child->stdin_, &child->stdout_, nullptr, &error)) {
            ADD_FAILURE() << "cannot start " << arguments[0] << ": " << (error ? error->message : "");
            if (error) g_error_free(error);
            return nullptr;
        }
        g_unix_set_fd_nonblocking(child->stdout_, TRUE, nullptr);
        child->outputSource_ = g_unix_fd_add(child->stdout_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                             &PeerChild::readable, child.get());
        child->watch_ = g_child_watch_add(child->pid_, &PeerChild::exited, child.get());
        return child;
    }

    ~PeerChild() {
        if (outputSource_) g_source_remove(outputSource_);
        if (!hasExited_) {
            g_source_remove(watch_);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeInput();
        ::close(stdout_);
        g_spawn_close_pid(pid_);
    }

    void send(const std::string& line) const {
        std::string text = line + "\n";
        ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeInput() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }

    // The first output line starting with the prefix, after waiting for it.
    std::optional<std::string> waitForLine(const std::string& prefix) {
        std::optional<std::string> found;
        waitFor([&] {
            for (const auto& line : lines_)
                if (line.starts_with(prefix)) {
                    found = line;
                    return true;
                }
            return false;
        });
        return found;
    }
    bool hasLine(const std::string& prefix) const {
        for (const auto& line : lines_)
            if (line.starts_with(prefix)) return true;
        return false;
    }
    // The JSON after "<verb> <name> " of a notification line.
    std::optional<kit::Value> waitForNotificationLine(const std::string& verb, const std::string& name) {
        auto line = waitForLine(verb + " " + name + " ");
        if (!line) return std::nullopt;
        auto parsed = kit::parseJson(std::string_view(*line).substr(verb.size() + name.size() + 2));
        if (!parsed) return std::nullopt;
        return *parsed;
    }
    std::optional<int> waitForExit() {
        waitFor([this] { return hasExited_; });
        if (!hasExited_) return std::nullopt;
        return exitStatus_;
    }

    GPid pid() const { return pid_; }
    const std::vector<std::string>& lines() const { return lines_; }
    std::string allOutput() const {
        std::string text;
        for (const auto& line : lines_) text += line + "\n";
        return text;
    }

private:
    PeerChild() = default;

    static gboolean readable(gint fd, GIOCondition, gpointer data) {
        auto* self = static_cast<PeerChild*>(data);
        char chunk[4096];
        for (;;) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                self->pending_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            std::size_t start = 0;
            for (std::size_t end; (end = self->pending_.find('\n', start)) != std::string::npos; start = end + 1)
                self->lines_.push_back(self->pending_.substr(start, end - start));
            self->pending_.erase(0, start);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                self->outputSource_ = 0;
                return G_SOURCE_REMOVE;
            }
            return G_SOURCE_CONTINUE;
        }
    }

    static void exited(GPid, gint status, gpointer data) {
        auto* self = static_cast<PeerChild*>(data);
        self->hasExited_ = true;
        self->exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    GPid pid_ = 0;
    int stdin_ = -1;
    int stdout_ = -1;
    guint outputSource_ = 0;
    guint watch_ = 0;
    bool hasExited_ = false;
    int exitStatus_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

kit::Value json(std::string_view text) {
    auto parsed = kit::parseJson(text);
    EXPECT_TRUE(parsed) << text;
    return parsed ? *parsed : kit::Value();
}

class PeerBusTest : public ::testing::Test {
protected:
    static inline std::optional<kit::testing::PrivateBus> bus;
    static inline std::string busProblem;

    static void SetUpTestSuite() { bus = kit::testing::PrivateBus::start(&busProblem); }
    static void TearDownTestSuite() { bus.reset(); }

    std::shared_ptr<kit::RunLoop> previousLoop;
    std::shared_ptr<kit::DBusDistributedNotificationCenter> center;
    std::shared_ptr<kit::DBusWorkspace> workspace;
    std::shared_ptr<void> observer;
    std::vector<kit::DistributedNotification> heard;
    kit::testing::TempFolder homeFolder{"quarn-peers-home"};
    const std::filesystem::path& home = homeFolder.path();
    gchar** environment = nullptr;
    std::vector<std::unique_ptr<PeerChild>> children;

    void SetUp() override {
        if (!bus && busProblem.find("not installed") != std::string::npos) GTEST_SKIP() << busProblem;
        ASSERT_TRUE(bus) << busProblem;
        previousLoop = kit::RunLoop::mainShared();
        kit::RunLoop::setMain(kit::makeGlibRunLoop());
        auto connected = kit::DBusDistributedNotificationCenter::connect(bus->address());
        ASSERT_TRUE(connected) << connected.error();
        center = *connected;
        auto ws = kit::DBusWorkspace::connect(bus->address());
        ASSERT_TRUE(ws) << ws.error();
        workspace = *ws;
        observer = center->addObserver({}, std::nullopt, [this](const kit::DistributedNotification& n) { heard.push_back(n); });
        center->flush();

        ASSERT_FALSE(home.empty());
        environment = g_get_environ();
        environment = g_environ_setenv(environment, "DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), TRUE);
        environment = g_environ_setenv(environment, "HOME", home.c_str(), TRUE);
        environment = g_environ_unsetenv(environment, "QUARN_HOST_CONTROL");
        environment = g_environ_unsetenv(environment, "QUARN_HOST_OUTPUT");
        environment = g_environ_unsetenv(environment, "QUARN_GETTEXT_CONTROL");
        environment = g_environ_unsetenv(environment, "QUARN_GETTEXT_OUTPUT");
    }

    void TearDown() override {
        children.clear();
        observer.reset();
        center.reset();
        workspace.reset();
        if (previousLoop) kit::RunLoop::setMain(previousLoop);
        g_strfreev(environment);
    }

    static std::string program(const char* name) { return std::string(QUARN_PEERS_BIN_DIR) + "/" + name; }

    PeerChild* start(const char* name, std::vector<std::string> arguments = {}, bool waitUntilReady = true) {
        arguments.insert(arguments.begin(), program(name));
        auto child = PeerChild::start(arguments, environment);
        if (!child) return nullptr;
        children.push_back(std::move(child));
        PeerChild* started = children.back().get();
        if (waitUntilReady) {
            EXPECT_TRUE(started->waitForLine("ready ")) << name << " did not start:\n" << started->allOutput();
        }
        return started;
    }

    // The user information of the first notification of that name heard from now on.
    std::optional<kit::Value> waitForNotification(const std::string& name, std::size_t* cursor = nullptr) {
        std::size_t from = cursor ? *cursor : 0;
        std::optional<kit::Value> found;
        waitFor([&] {
            for (std::size_t i = from; i < heard.size(); ++i)
                if (heard[i].name == name) {
                    found = heard[i].userInfo;
                    if (cursor) *cursor = i + 1;
                    return true;
                }
            return false;
        });
        return found;
    }

    std::vector<int> ownersOf(const std::string& bundleIdentifier) {
        std::vector<int> pids;
        for (const auto& app : workspace->runningApplications(bundleIdentifier)) pids.push_back(app.processId);
        return pids;
    }
};

TEST_F(PeerBusTest, HostOwnsItsNameAndSendsItsNotificationsOnCommand) {
    PeerChild* host = start("QuarnHost");
    ASSERT_TRUE(host);
    kit::Value ready = json(host->waitForLine("ready ")->substr(6));
    EXPECT_EQ(ready["busName"], kit::Value("com.morvane.Quarn"));
    EXPECT_EQ(ready["pid"], kit::Value(static_cast<int>(host->pid())));
    EXPECT_EQ(ownersOf("com.morvane.Quarn"), std::vector<int>{host->pid()});

    struct Case {
        const char* command;
        const char* name;
        const char* userInfo;
    };
    const Case cases[] = {
        {"status on", "kM2A_KZAIIPCShowAIStatusItemChangedNotification", R"({"data": true})"},
        {"hotkey on 49 option+command", "kM2A_KZAIIPCUseHotKeyChangedNotification",
         R"({"data": {"use": true, "keyCode": 49, "modifiers": 1572864}})"},
        {"shortcut 2 70000 shift", "M2A_KZAIIPCShortcutDidChangeNotification", R"({"type": 2, "keyCode": 70000, "flags": 131072})"},
        {"accessibility", "kM2A_KZAIIPCShowAccessibilityPermissionWindowNotification", "null"},
        {"status off", "kM2A_KZAIIPCShowAIStatusItemChangedNotification", R"({"data": false})"},
    };
    std::size_t cursor = 0;
    for (const auto& c : cases) {
        host->send(c.command);
        auto userInfo = waitForNotification(c.name, &cursor);
        ASSERT_TRUE(userInfo) << c.command << "\n" << host->allOutput();
        EXPECT_EQ(*userInfo, json(c.userInfo)) << c.command;
        EXPECT_TRUE(host->waitForNotificationLine("sent", c.name)) << c.command;
    }

    // File dropping: the setting is in the shared file before the notification goes out.
    host->send("filedrag off");
    ASSERT_TRUE(waitForNotification("MA2T_KZAIIPCFileDragValueDidChangeNotification", &cursor));
    auto settings = kit::readPropertyListFile(home / "Library/Application Support/QuarnAI/config/QuarnAIConfig.plist");
    ASSERT_TRUE(settings) << settings.error();
    EXPECT_EQ((*settings)["kQuarn_AI_FILE_DRAG_STATE"], kit::Value(false));
    EXPECT_TRUE(host->hasLine("setting kQuarn_AI_FILE_DRAG_STATE false"));

    host->send("status sideways");
    EXPECT_TRUE(host->waitForLine("error expected on or off"));
}

TEST_F(PeerBusTest, HostLogsEveryNotificationTheAssistantSendsTheFamily) {
    PeerChild* host = start("QuarnHost");
    ASSERT_TRUE(host);
    struct Sent {
        const char* name;
        const char* userInfo;
    };
    const Sent logged[] = {
        {"kA2M_KZAIIPCShowAIStatusItemChangedNotification",
         R"({"code": 1, "message": "ai2main_showAIStatusItemChangedNotification", "data": 1})"},
        {"kA2M_KZAIIPCShowAIPreferencesNotification", "null"},
        {"kA2M_KZAIIPCEnableGetTextProcessNotification", "null"},
        {"A2T_KZAIIPCShowAccessibilityPromptNotification", "null"},
        {"MA2Other_KZAIIPCUseGetTextChangedNotification", R"({"data": 0})"},
        {"M2A_KZAIIPCHotKeySettingFailedNotification", R"({"type": 1, "keyCode": 49, "flags": 1048576})"},
    };
    // Not the host's: its own notifications and the tool's.
    center->post("MT2A_KZAIIPCCommonNotification", {}, kit::Dictionary{{"data", kit::Array{kit::Value("x"), kit::Value("4")}}});
    center->post("kM2A_KZAIIPCShowAIStatusItemChangedNotification", {}, kit::Dictionary{{"data", true}});
    for (const auto& s : logged) center->post(s.name, {}, json(s.userInfo));
    center->flush();

    for (const auto& s : logged) {
        auto line = host->waitForNotificationLine("received", s.name);
        ASSERT_TRUE(line) << s.name << "\n" << host->allOutput();
        EXPECT_EQ(*line, json(s.userInfo)) << s.name;
    }
    EXPECT_TRUE(host->waitForLine("open-preferences ai"));
    EXPECT_FALSE(host->hasLine("received MT2A_"));
    EXPECT_FALSE(host->hasLine("received kM2A_"));
}

TEST_F(PeerBusTest, TextToolSendsEventsAndAnswersPanelSizesWithFrames) {
    PeerChild* tool = start("QuarnGetText");
    ASSERT_TRUE(tool);
    EXPECT_EQ(ownersOf("com.morvane.QuarnGetText"), std::vector<int>{tool->pid()});
    struct Case {
        const char* command;
        const char* data;
    };
    const Case cases[] = {
        {"side 2 what is this", R"(["QuarnGetText", "1", "2", "what is this"])"},
        {"explain hello world 10 20", R"(["QuarnGetText", "2", "1", "hello world", "{10, 20}"])"},
        {"translate bonjour 30 40", R"(["QuarnGetText", "2", "2", "bonjour", "{30, 40}"])"},
        {"frame 1 10 20 420 324", R"(["QuarnGetText", "3", "1", "{{10, 20}, {420, 324}}"])"},
        {"sidebar", R"(["QuarnGetText", "4"])"},
        {"shortcut 1 49 command", R"(["QuarnGetText", "5", "1", "49", "1048576"])"},
        {"filedrag", R"(["QuarnGetText", "6"])"},
        {"raw [\"x\", \"2\", \"1\"]", R"(["x", "2", "1"])"},
    };
    std::size_t cursor = 0;
    for (const auto& c : cases) {
        tool->send(c.command);
        auto userInfo = waitForNotification("MT2A_KZAIIPCCommonNotification", &cursor);
        ASSERT_TRUE(userInfo) << c.command << "\n" << tool->allOutput();
        EXPECT_EQ((*userInfo)["data"], json(c.data)) << c.command;
    }

    // The explain panel's page grew: the tool answers with the panel's frame at its origin.
    center->post("A2T_KZAIIPCPanelWindowSizeChangedNotification", {}, kit::Dictionary{{"type", 1}, {"size", "{400, 512}"}});
    center->flush();
    auto logged = tool->waitForNotificationLine("received", "A2T_KZAIIPCPanelWindowSizeChangedNotification");
    ASSERT_TRUE(logged) << tool->allOutput();
    EXPECT_EQ(*logged, json(R"({"type": 1, "size": "{400, 512}"})"));
    auto frame = waitForNotification("MT2A_KZAIIPCCommonNotification", &cursor);
    ASSERT_TRUE(frame) << tool->allOutput();
    EXPECT_EQ((*frame)["data"], json(R"(["QuarnGetText", "3", "1", "{{10, 20}, {400, 512}}"])"));

    center->post("MA2Other_KZAIIPCUseGetTextChangedNotification", {}, kit::Dictionary{{"data", 1}});
    center->post("kA2M_KZAIIPCShowAIPreferencesNotification");
    center->post("A2T_KZAIIPCShowAccessibilityPromptNotification");
    center->flush();
    EXPECT_TRUE(tool->waitForNotificationLine("received", "A2T_KZAIIPCShowAccessibilityPromptNotification"));
    EXPECT_TRUE(tool->hasLine("received MA2Other_KZAIIPCUseGetTextChangedNotification {\"data\":1}"));
    EXPECT_FALSE(tool->hasLine("received kA2M_"));
}

TEST_F(PeerBusTest, HostStartedWithTheAssistantsArgumentsOpensItsPreferences) {
    PeerChild* host = start("QuarnHost", {"2", "ai"});
    ASSERT_TRUE(host);
    EXPECT_EQ(json(host->waitForLine("ready ")->substr(6))["arguments"], json(R"(["2", "ai"])"));
    EXPECT_TRUE(host->waitForLine("open-preferences ai"));

    PeerChild* second = start("QuarnHost", {}, false);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->waitForExit(), std::optional<int>(1));
    EXPECT_TRUE(second->hasLine("error the bus name com.morvane.Quarn is owned by another process")) << second->allOutput();
    EXPECT_EQ(ownersOf("com.morvane.Quarn"), std::vector<int>{host->pid()});
}

TEST_F(PeerBusTest, CommandsComeThroughTheControlFifoAndOneShotSends) {
    std::string fifo = (home / "host.fifo").string();
    PeerChild* host = start("QuarnHost", {"--control", fifo, "--no-stdin"});
    ASSERT_TRUE(host);
    std::size_t cursor = 0;
    // Each writer opens, writes and closes, as "echo status on > fifo" does.
    for (const char* command : {"status on", "status off"}) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << fifo;
        std::string line = std::string(command) + "\n";
        EXPECT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        ::close(fd);
        auto userInfo = waitForNotification("kM2A_KZAIIPCShowAIStatusItemChangedNotification", &cursor);
        ASSERT_TRUE(userInfo) << command << "\n" << host->allOutput();
        EXPECT_EQ((*userInfo)["data"], kit::Value(std::string(command) == "status on"));
    }

    PeerChild* once = start("QuarnGetText", {"--send", "sidebar", "--send", "side 1"}, false);
    ASSERT_TRUE(once);
    EXPECT_EQ(once->waitForExit(), std::optional<int>(0)) << once->allOutput();
    auto first = waitForNotification("MT2A_KZAIIPCCommonNotification", &cursor);
    auto second = waitForNotification("MT2A_KZAIIPCCommonNotification", &cursor);
    ASSERT_TRUE(first && second);
    EXPECT_EQ((*first)["data"], json(R"(["QuarnGetText", "4"])"));
    EXPECT_EQ((*second)["data"], json(R"(["QuarnGetText", "1", "1", ""])"));
    EXPECT_FALSE(once->hasLine("ready ")) << "a one-shot send does not take the tool's name";

    PeerChild* failing = start("QuarnHost", {"--send", "status maybe"}, false);
    ASSERT_TRUE(failing);
    EXPECT_EQ(failing->waitForExit(), std::optional<int>(1));
    EXPECT_TRUE(failing->hasLine("error "));

    host->closeInput();
    ::kill(host->pid(), SIGTERM);
    EXPECT_EQ(host->waitForExit(), std::optional<int>(0));
    EXPECT_FALSE(std::filesystem::exists(fifo)) << "the FIFO it made goes with it";
}

TEST_F(PeerBusTest, StandInsEndCleanlyAndGiveTheirNamesBack) {
    PeerChild* host = start("QuarnHost", {"--quit-on-eof"});
    PeerChild* tool = start("QuarnGetText");
    ASSERT_TRUE(host && tool);
    host->closeInput();
    EXPECT_EQ(host->waitForExit(), std::optional<int>(0));
    EXPECT_TRUE(host->hasLine("bye"));

    // Without --quit-on-eof the end of standard input is not the end of the tool.
    tool->closeInput();
    center->post("A2T_StillThere");
    center->flush();
    EXPECT_TRUE(tool->waitForNotificationLine("received", "A2T_StillThere"));
    ::kill(tool->pid(), SIGTERM);
    EXPECT_EQ(tool->waitForExit(), std::optional<int>(0));
    EXPECT_TRUE(tool->hasLine("bye"));
    EXPECT_TRUE(waitFor([&] { return ownersOf("com.morvane.Quarn").empty() && ownersOf("com.morvane.QuarnGetText").empty(); }));
}

// Sets variables of this process's environment and puts them back when it goes.
class EnvironmentGuard {
public:
    ~EnvironmentGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else ::unsetenv(it->first.c_str());
        }
    }
    void set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name, value.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The assistant starts its host as the platform does: the executable of the bundle at
// "/Applications/Morvane Quarn.app" under the system root, laid out by layout-sysroot.sh.
TEST_F(PeerBusTest, TheAssistantStartsTheHostFromTheLaidOutBundle) {
    std::filesystem::path root = home / "sysroot";
    std::string layout = std::string("bash '") + QUARN_LAYOUT_SCRIPT + "' '" + root.string() + "' --bin '" +
                         QUARN_PEERS_BIN_DIR + "'";
    gint status = 0;
    gchar* out = nullptr;
    gchar* err = nullptr;
    ASSERT_TRUE(g_spawn_command_line_sync(layout.c_str(), &out, &err, &status, nullptr));
    std::string errors = std::string(out ? out : "") + (err ? err : "");
    g_free(out);
    g_free(err);
    ASSERT_TRUE(g_spawn_check_wait_status(status, nullptr)) << errors;

    std::filesystem::path bundle = root / "Applications/Morvane Quarn.app";
    EXPECT_EQ(std::filesystem::canonical(kit::bundleExecutablePath(bundle)),
              std::filesystem::canonical(program("QuarnHost")));
    EXPECT_EQ(std::filesystem::canonical(kit::bundleExecutablePath(bundle / "Contents/Frameworks/QuarnAITool.app")),
              std::filesystem::canonical(program("QuarnGetText")));

    // What the launched host inherits from the assistant.
    std::filesystem::path output = home / "host.out";
    EnvironmentGuard environment;
    environment.set("QUARN_SYSTEM_ROOT", root.string());
    environment.set("QUARN_HOST_OUTPUT", output.string());
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus->address());
    environment.set("HOME", home.string());
    ASSERT_TRUE(workspace->launchApplication("/Applications/Morvane Quarn.app", {"2", "ai"}, kit::LaunchWithoutAddingToRecents));

    auto outputText = [&] {
        std::ifstream file(output);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    EXPECT_TRUE(waitFor([&] { return outputText().find("open-preferences ai\n") != std::string::npos; })) << outputText();
    std::vector<int> owners;
    EXPECT_TRUE(waitFor([&] { return !(owners = ownersOf("com.morvane.Quarn")).empty(); }));
    ASSERT_EQ(owners.size(), 1u);
    // Its standard input is closed: it goes on running until it is told to stop.
    center->post("kA2M_KZAIIPCShowAIPreferencesNotification");
    center->flush();
    EXPECT_TRUE(waitFor([&] { return outputText().find("received kA2M_KZAIIPCShowAIPreferencesNotification null") != std::string::npos; }));
    ::kill(owners[0], SIGTERM);
    EXPECT_TRUE(waitFor([&] { return ownersOf("com.morvane.Quarn").empty(); }));
    EXPECT_TRUE(waitFor([&] { return outputText().find("bye\n") != std::string::npos; }));

    // Uninstalling the host removes the bundle, not the programs of the build.
    std::filesystem::remove_all(bundle);
    EXPECT_TRUE(std::filesystem::exists(program("QuarnHost")));
    EXPECT_FALSE(workspace->launchApplication("/Applications/Morvane Quarn.app", {}, 0));
}

}  // namespace
}  // namespace peers
