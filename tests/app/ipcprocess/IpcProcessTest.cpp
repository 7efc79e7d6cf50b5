// The application and its peers as real processes on a private session bus: the host's stand-in
// runs (owning the host's bus name and logging what it receives), one-shot stand-ins post the
// host's and the text tool's notifications, and the application answers through the bus, its
// settings file, its analytics file and its log. Deadlines are generous; nothing here measures
// time.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>


#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

bool contains(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

struct Received {
    std::string name;
    kit::Value userInfo;
};

class IpcProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        ASSERT_TRUE(tree_.make("quarn-ipc-process", &whyNot)) << whyNot;

        const std::string layout = "bash '" QUARN_LAYOUT_SCRIPT "' '" + system_.string() + "' --bin '" +
                                   fs::path(QUARN_HOST_PATH).parent_path().string() + "' >'" +
                                   (root_ / "layout.out").string() + "' 2>&1";
        ASSERT_EQ(std::system(layout.c_str()), 0) << readFile(root_ / "layout.out");
        ASSERT_TRUE(fs::exists(system_ / "Applications/Morvane Quarn.app/Contents/MacOS/Morvane Quarn"));
    }

    void TearDown() override {
        app_.reset();
        host_.reset();
        tree_.finish(HasFailure());
    }

    std::vector<std::string> environment() const {
        std::vector<std::string> env = tree_.environment();
        env.push_back(std::string("QUARN_RESOURCES_DIR=") + QUARN_RESOURCES_PATH);
        return env;
    }

    void startHost() {
        host_ = std::make_unique<Child>(std::vector<std::string>{QUARN_HOST_PATH, "--no-stdin"}, environment(),
                                        root_ / "host.out");
        ASSERT_TRUE(host_->started());
        ASSERT_TRUE(waitFor([&] { return contains(readFile(root_ / "host.out"), "ready "); }))
            << readFile(root_ / "host.out");
    }

    void startApp(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), QUARN_APP_PATH);
        app_ = std::make_unique<Child>(arguments, environment(), root_ / "app.out");
        ASSERT_TRUE(app_->started());
        ASSERT_TRUE(waitFor([&] { return contains(appLog(), "[AppDelegate] applicationDidFinishLaunching end"); }))
            << appLog() << readFile(root_ / "app.out");
    }

    // One notification posted by a one-shot stand-in, as a user of the peer would.
    void send(const char* program, const std::string& command) {
        Child once({program, "--send", command}, environment(), root_ / "send.out");
        ASSERT_TRUE(exitedCleanly(once.waitExit())) << command << "\n" << readFile(root_ / "send.out");
    }
    void hostSends(const std::string& command) { send(QUARN_HOST_PATH, command); }
    void toolSends(const std::string& command) { send(QUARN_GETTEXT_PATH, command); }

    fs::path logFile() const { return (::getuid() == 0 ? system_ : home_) / "Library/Logs/QuarnAI.log"; }
    std::string appLog() const { return readFile(logFile()); }
    fs::path settingsFile() const { return home_ / "Library/Application Support/QuarnAI/config/QuarnAIConfig.plist"; }

    std::optional<bool> savedStatusItemChoice() const {
        auto settings = kit::readPropertyListFile(settingsFile());
        if (!settings) return std::nullopt;
        const auto* value = (*settings)["kQuarn_AI_UD_ShowStatusBarItem"].asBool();
        return value ? std::optional<bool>(*value) : std::nullopt;
    }

    // The notifications the host's stand-in received, in order.
    std::vector<Received> hostReceived(const std::string& name) const {
        std::vector<Received> out;
        std::istringstream lines(readFile(root_ / "host.out"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("received ", 0) != 0) continue;
            auto space = line.find(' ', 9);
            if (space == std::string::npos || line.substr(9, space - 9) != name) continue;
            auto info = kit::parseJson(line.substr(space + 1));
            out.push_back({name, info ? *info : kit::Value()});
        }
        return out;
    }

    // The (key, value) pairs of the analytics file.
    std::vector<std::string> reports() const {
        std::vector<std::string> out;
        std::istringstream lines(readFile(home_ / "Library/Application Support/QuarnAI/HXReport.jsonl"));
        for (std::string line; std::getline(lines, line);) {
            auto event = kit::parseJson(line);
            if (!event) continue;
            const auto* value = (*event)["value"].asString();
            out.push_back(std::to_string((*event)["key"].integerValue()) + " " + (value ? *value : ""));
        }
        return out;
    }
    bool reported(const std::string& keyAndValue) const {
        for (const auto& r : reports())
            if (r == keyAndValue) return true;
        return false;
    }

    void quitApp() {
        app_->signal(SIGTERM);
        EXPECT_TRUE(exitedCleanly(app_->waitExit())) << appLog();
    }

    kit::testing::ProcessTree tree_;
    const fs::path& root_ = tree_.root;
    const fs::path& home_ = tree_.home;
    const fs::path& system_ = tree_.system;
    std::optional<kit::testing::PrivateBus>& bus_ = tree_.bus;
    std::unique_ptr<Child> host_;
    std::unique_ptr<Child> app_;
};

TEST_F(IpcProcessTest, HostAndToolDriveTheApplication) {
    startHost();
    startApp();

    // The host turns the status item on. The first post may race the application's subscription
    // reaching the bus, so it is repeated until the choice is saved (turning it on is idempotent).
    ASSERT_TRUE(waitFor([&] {
        hostSends("status on");
        return waitFor([&] { return savedStatusItemChoice() == true; }, 2s);
    })) << appLog();
    ASSERT_TRUE(waitFor([&] { return !hostReceived("kA2M_KZAIIPCShowAIStatusItemChangedNotification").empty(); }))
        << readFile(root_ / "host.out");
    auto statusReplies = hostReceived("kA2M_KZAIIPCShowAIStatusItemChangedNotification");
    ASSERT_EQ(statusReplies.size(), 1u) << readFile(root_ / "host.out");
    EXPECT_EQ(statusReplies[0].userInfo["code"].integerValue(), 1);
    EXPECT_EQ(*statusReplies[0].userInfo["message"].asString(), "ai2main_showAIStatusItemChangedNotification");
    EXPECT_TRUE(statusReplies[0].userInfo["data"].boolValue());
    EXPECT_TRUE(contains(appLog(), "AIIPC-- Received notification: "));

    hostSends("status off");
    ASSERT_TRUE(waitFor([&] { return savedStatusItemChoice() == false; })) << appLog();
    ASSERT_TRUE(waitFor([&] { return hostReceived("kA2M_KZAIIPCShowAIStatusItemChangedNotification").size() == 2; }));
    EXPECT_FALSE(hostReceived("kA2M_KZAIIPCShowAIStatusItemChangedNotification")[1].userInfo["data"].boolValue());

    // A shortcut change is answered with exactly what was sent. Without a display no key can be
    // grabbed, so the answer is the failure.
    // (The text after the name of a "post" is the JSON as it stands.)
    hostSends("post M2A_KZAIIPCShortcutDidChangeNotification "
              "{\"type\": 1, \"keyCode\": 65585, \"flags\": 1179648, \"request\": \"r-7\"}");
    ASSERT_TRUE(waitFor([&] { return !hostReceived("M2A_KZAIIPCHotKeySettingFailedNotification").empty(); }))
        << readFile(root_ / "host.out") << appLog();
    auto reply = hostReceived("M2A_KZAIIPCHotKeySettingFailedNotification")[0].userInfo;
    EXPECT_EQ(reply, kit::Value(kit::Dictionary{{"type", 1}, {"keyCode", 65585}, {"flags", 1179648}, {"request", "r-7"}}));
    EXPECT_TRUE(hostReceived("M2A_KZAIIPCHotKeySetSuccessNotification").empty());

    // The host's own hot key: asked for, and refused for the same reason.
    hostSends("hotkey on 0x28 cmd+shift");
    ASSERT_TRUE(waitFor([&] { return contains(appLog(), "AIIPC-- hotkey 2: "); })) << appLog();
    EXPECT_TRUE(contains(appLog(), "AIIPC-- hotkey 1: "));
    EXPECT_TRUE(contains(appLog(), "AIIPC-- hotkey 2: -9878, 40, 768"));

    // The text tool asks for the side window with a question.
    toolSends("side 2 what is a stand-in");
    ASSERT_TRUE(waitFor([&] { return contains(appLog(), "[WndCtrl] Show AI Side Window, type: 2, text: what is a stand-in"); }))
        << appLog();

    // Hostile selected text cannot forge log lines nor reach a terminal as escapes: it stays on
    // its own line, escaped, and no raw control character reaches the log.
    toolSends(
        R"(raw ["QuarnGetText", "1", "2", "a\n2026-01-01 00:00:00.000 QuarnAI[1:1] forged\r\u001b[2J\u0085\u2028\u007fz"])");
    ASSERT_TRUE(waitFor([&] {
        return contains(appLog(),
                        "text: a\\n2026-01-01 00:00:00.000 QuarnAI[1:1] forged\\r\\x1B[2J\\u0085\\u2028\\x7Fz");
    })) << appLog();
    {
        const std::string log = appLog();
        EXPECT_EQ(log.find_first_of(std::string("\r\x1b\x7f", 3)), std::string::npos);
        EXPECT_EQ(log.find("\u0085"), std::string::npos);
        EXPECT_EQ(log.find("\u2028"), std::string::npos);
        std::istringstream lines(log);
        const std::regex prefixed(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} QuarnAI\[\d+:\d+\] .*)");
        for (std::string line; std::getline(lines, line);) {
            if (line.find("forged") == std::string::npos) continue;
            EXPECT_TRUE(std::regex_match(line, prefixed)) << line;
            EXPECT_EQ(line.rfind("2026-01-01 00:00:00.000 QuarnAI[1:1] forged", 0), std::string::npos) << line;
        }
    }

    // The search sidebar opens the side window, with its reports.
    toolSends("sidebar");
    ASSERT_TRUE(waitFor([&] { return reported("24023 6") && reported("24020 35"); })) << appLog();

    // Too few arguments, and payloads of the wrong shape, are logged; the application stays.
    toolSends("raw QuarnGetText 2 ai");
    ASSERT_TRUE(waitFor([&] { return contains(appLog(), "[KZAIIPCClientHandler] arguments is invalid: "); })) << appLog();
    toolSends("post MT2A_KZAIIPCCommonNotification {\"data\": 5}");
    toolSends("post MT2A_KZAIIPCCommonNotification {\"data\": [\"t\", 1, {}]}");
    hostSends("post kM2A_KZAIIPCUseHotKeyChangedNotification {\"data\": \"on\"}");
    ASSERT_TRUE(waitFor([&] {
        const auto log = appLog();
        std::size_t n = 0;
        for (auto at = log.find("AIIPC-- ignored "); at != std::string::npos; at = log.find("AIIPC-- ignored ", at + 1)) ++n;
        return n == 3;
    })) << appLog();
    EXPECT_TRUE(app_->running());

    quitApp();
    EXPECT_TRUE(host_->running());
}

TEST_F(IpcProcessTest, LaunchArgumentsAreAnIpcCommand) {
    startHost();
    startApp({"1", "2", "from the command line"});
    EXPECT_TRUE(contains(appLog(), "[WndCtrl] Show AI Side Window, type: 2, text: from the command line")) << appLog();
    quitApp();

    // A new log for the second run.
    fs::remove(logFile());
    startApp({"2", "ai"});
    EXPECT_TRUE(contains(appLog(), "[KZAIIPCClientHandler] arguments is invalid: ")) << appLog();
    quitApp();
}

}  // namespace
