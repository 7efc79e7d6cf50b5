#include <gio/gdesktopappinfo.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include "CoreTestSupport.h"
#include "app/core/KZAIPowerBoot.h"
#include "kit/base/Paths.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"

namespace {

namespace fs = std::filesystem;

class PowerBootTest : public CoreTest {
protected:
    KZSharedPlistManager& settings() { return KZSharedPlistManager::sharedManager(); }
    static fs::path agent(const char* id) { return KZAIPowerBoot::agentPlistPathForBundleID(id); }
    static fs::path entry(const char* id) { return KZAIPowerBoot::autostartEntryPathForBundleID(id); }
    static unsigned modeOf(const fs::path& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    // The Exec value for a program without awkward characters: through env(1), with the system
    // root and the resources folder of this process.
    std::string execOf(const std::string& program) {
        std::string exec = "env \"QUARN_SYSTEM_ROOT=" + env().systemRoot().string() + "\"";
        if (const char* resources = std::getenv("QUARN_RESOURCES_DIR"); resources && *resources)
            exec += " \"QUARN_RESOURCES_DIR=" + std::string(resources) + "\"";
        return exec + " \"" + program + "\"";
    }
    std::string toolProgram() { return (env().systemRoot() / KZAIPowerBoot::getTextProgramPath().substr(1)).string(); }
    std::string expectedEntry(const std::string& name, const std::string& exec) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
               "\nTerminal=false\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n";
    }
};

TEST_F(PowerBootTest, ThisApplicationStartsAtLoginWhileStatusItemAndStartAtLoginAreOn) {
    const char* id = KZAIPowerBoot::kAIBundleIdentifier;
    env().workspace().addRunningApplication(id);
    ASSERT_TRUE(settings().db_powerBootShowAI());  // on for a new user
    struct Step {
        void (KZSharedPlistManager::*setter)(bool);
        bool value;
        bool startsAtLogin;
    };
    const Step steps[] = {
        {&KZSharedPlistManager::db_setShowAIStatusBarItem, true, true},
        {&KZSharedPlistManager::db_setPowerBootShowAI, false, false},
        {&KZSharedPlistManager::db_setPowerBootShowAI, true, true},
        {&KZSharedPlistManager::db_setShowAIStatusBarItem, false, false},
        {&KZSharedPlistManager::db_setShowAIStatusBarItem, true, true},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        (settings().*steps[i].setter)(steps[i].value);
        EXPECT_EQ(fs::exists(agent(id)), steps[i].startsAtLogin) << "step " << i;
        EXPECT_EQ(fs::exists(entry(id)), steps[i].startsAtLogin) << "step " << i;
    }
    // Running already: never launched again.
    EXPECT_TRUE(env().workspace().launches().empty());
    EXPECT_EQ(env().log().count("[PowerBoot] onWindowsProcessPowerBootStatusChanged"), 5u);
    EXPECT_EQ(env().log().count("[PowerBoot] setupQuarnAiHelperLaunchAgent: com.morvane.QuarnAIAssistant"), 3u);

    EXPECT_EQ(agent(id), env().home() / "Library/LaunchAgents/com.morvane.QuarnAIAssistant.agent.plist");
    EXPECT_EQ(kit::readPropertyListFile(agent(id)).value(),
              kit::Value(kit::Dictionary{{"RunAtLoad", true},
                                         {"Label", id},
                                         {"ProgramArguments", kit::Array{kit::Value(KZAIPowerBoot::kAIProgramPath)}}}));
    EXPECT_EQ(entry(id), env().home() / ".config/autostart/com.morvane.QuarnAIAssistant.desktop");
    EXPECT_EQ(readFile(entry(id)), expectedEntry(kit::paths::executableName(), execOf(kit::paths::executablePath())));
    for (const auto& path : {agent(id), entry(id)}) EXPECT_EQ(modeOf(path), 0600u) << path;
    for (const auto& folder :
         {env().home() / "Library/LaunchAgents", env().home() / ".config", env().home() / ".config/autostart"})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
}

TEST_F(PowerBootTest, TextToolStartsAtLoginWhileEnabledAndIsLaunchedWhenNotRunning) {
    const char* id = KZAIPowerBoot::kGetTextBundleIdentifier;
    for (bool running : {true, false}) {
        SCOPED_TRACE(running ? "tool running" : "tool not running");
        env().workspace().clearRecords();
        if (running) env().workspace().addRunningApplication(id);
        settings().db_setUseGetTextTool(true);
        EXPECT_EQ(kit::readPropertyListFile(agent(id)).value(),
                  kit::Value(kit::Dictionary{
                      {"RunAtLoad", true},
                      {"Label", id},
                      {"ProgramArguments",
                       kit::Array{kit::Value("/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAITool.app/"
                                             "Contents/MacOS/QuarnAITool")}}}));
        EXPECT_EQ(readFile(entry(id)), expectedEntry("QuarnAITool", execOf(toolProgram())));
        const auto& launches = env().workspace().launches();
        if (running) {
            EXPECT_TRUE(launches.empty());
        } else {
            ASSERT_EQ(launches.size(), 1u);
            EXPECT_EQ(launches[0].platformBundlePath, KZAIPowerBoot::kGetTextApplicationPath);
            EXPECT_TRUE(launches[0].arguments.empty());
            EXPECT_EQ(launches[0].options, 256u);
        }
        settings().db_setUseGetTextTool(false);
        EXPECT_FALSE(fs::exists(agent(id)));
        EXPECT_FALSE(fs::exists(entry(id)));
        if (running) env().workspace().removeRunningApplication(id);
    }
    // This application's files were never touched.
    EXPECT_FALSE(fs::exists(agent(KZAIPowerBoot::kAIBundleIdentifier)));
}

// An existing agent file stays as it is; an autostart entry that differs from this program's (an
// earlier version's, a moved program's, one changed by hand) is written again, when a setting turns
// start at login on and at every launch while it is on.
TEST_F(PowerBootTest, ExistingAgentStaysAndADifferentAutostartEntryIsWrittenAgain) {
    const char* id = KZAIPowerBoot::kAIBundleIdentifier;
    env().workspace().addRunningApplication(id);
    const std::string ours = expectedEntry(kit::paths::executableName(), execOf(kit::paths::executablePath()));
    const std::string moved = expectedEntry("QuarnAI", "env \"/opt/old place/QuarnAI\"");
    struct Case {
        const char* what;
        std::optional<std::string> agentBefore, entryBefore;
        bool atLaunch;  // else by turning the status item on
        bool on;        // start at login wanted
        std::optional<std::string> entryAfter;
    };
    const Case cases[] = {
        {"setting, both there", "<plist>someone else's</plist>", "[Desktop Entry]\nHidden=true\n", false, true, ours},
        {"setting, agent only", "<plist>someone else's</plist>", std::nullopt, false, true, ours},
        {"setting, moved program", std::nullopt, moved, false, true, ours},
        {"launch, moved program", std::nullopt, moved, true, true, ours},
        {"launch, entry missing", std::nullopt, std::nullopt, true, true, ours},
        {"launch, entry is ours", std::nullopt, ours, true, true, ours},
        {"launch, start at login off", std::nullopt, moved, true, false, moved},
        {"launch, off and no entry", std::nullopt, std::nullopt, true, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        settings().db_setShowAIStatusBarItem(false);
        settings().db_setPowerBootShowAI(c.on);
        if (c.atLaunch) settings().db_setShowAIStatusBarItem(true);
        if (c.on && c.atLaunch) fs::remove(agent(id));
        if (c.agentBefore) writeFile(agent(id), *c.agentBefore);
        if (c.entryBefore) writeFile(entry(id), *c.entryBefore);
        if (!c.entryBefore) fs::remove(entry(id));
        env().log().clear();
        if (c.atLaunch) {
            KZAIPowerBoot::updateAutostartEntries();
        } else {
            settings().db_setShowAIStatusBarItem(true);
        }
        // An agent there stays as it was; the launch writes none, the setting writes a missing one.
        if (c.agentBefore) {
            EXPECT_EQ(readFile(agent(id)), *c.agentBefore);
        }
        EXPECT_EQ(fs::exists(agent(id)), c.agentBefore || !c.atLaunch);
        EXPECT_EQ(env().log().contains("setupQuarnAiHelperLaunchAgent"), !c.agentBefore && !c.atLaunch);
        if (c.entryAfter) {
            EXPECT_EQ(readFile(entry(id)), *c.entryAfter);
            if (c.entryBefore != c.entryAfter) {
                EXPECT_EQ(modeOf(entry(id)), 0600u);
            }
        } else {
            EXPECT_FALSE(fs::exists(entry(id)));
        }
    }
}

// The entry as a login session runs it: loaded and launched by GLib's desktop-entry code in an
// environment without this process's locations. The program, a script in a folder with the
// awkward name, records its path and the system root it got, then stays up.
TEST_F(PowerBootTest, AutostartEntriesLaunchThroughGLibWhateverThePaths) {
    const struct {
        const char* folder;
        bool written;
    } cases[] = {
        {"A B", true},
        {"it's $HOME `x` \"q\"", true},
        {"back\\slash 100% %f %%", true},
        {"\xc3\x9cnic\xc3\xb6"
         "de \xe6\x97\xa5\xe6\x9c\xac",
         true},
        {"new\nline", false},
        {"tab\t", false},
        {"latin1 \xff", false},
        {"a=b", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const fs::path folder = env().root() / c.folder;
        const fs::path root = folder / "system root";
        const fs::path program = folder / "bin" / "Quarn Tool";
        fs::create_directories(root);
        fs::create_directories(program.parent_path());
        writeFile(program,
                  "#!/bin/sh\nprintf '%s\\n%s\\n' \"$0\" \"$QUARN_SYSTEM_ROOT\" > \"${0%/*}/started\"\n"
                  "exec sleep 120\n");
        fs::permissions(program, fs::perms::owner_all);
        kit::testing::ScopedEnv systemRoot("QUARN_SYSTEM_ROOT", root.string());
        const auto text = KZAIPowerBoot::autostartEntryForProgram(program);
        ASSERT_EQ(text.has_value(), c.written);
        if (!text) continue;

        const fs::path entryFile = env().root() / "entry.desktop";
        writeFile(entryFile, *text);
        GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entryFile.c_str());
        ASSERT_NE(info, nullptr) << *text;
        GAppLaunchContext* login = g_app_launch_context_new();
        for (const char* name : {"QUARN_SYSTEM_ROOT", "QUARN_RESOURCES_DIR"})
            g_app_launch_context_unsetenv(login, name);
        GPid pid = 0;
        GError* error = nullptr;
        const gboolean launched = g_desktop_app_info_launch_uris_as_manager(
            info, nullptr, login, G_SPAWN_DEFAULT, nullptr, nullptr,
            [](GDesktopAppInfo*, GPid launchedPid, gpointer out) { *static_cast<GPid*>(out) = launchedPid; }, &pid,
            &error);
        g_object_unref(login);
        g_object_unref(info);
        ASSERT_TRUE(launched) << (error ? error->message : "");
        ASSERT_GT(pid, 0);
        const fs::path started = program.parent_path() / "started";
        const std::string expected = program.string() + "\n" + root.string() + "\n";
        EXPECT_TRUE(kit::testing::waitFor([&] { return readFile(started) == expected; })) << readFile(started);
        EXPECT_EQ(::kill(pid, 0), 0) << "the program stays up";
        ::kill(pid, SIGKILL);
    }
}

}  // namespace
