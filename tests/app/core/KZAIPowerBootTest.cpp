#include <sys/stat.h>

#include <optional>

#include "CoreTestSupport.h"
#include "app/core/KZAIPowerBoot.h"

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
    std::string program(const std::string& platformPath) {
        return (env().systemRoot() / platformPath.substr(1)).string();
    }
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
    EXPECT_EQ(readFile(entry(id)), expectedEntry("QuarnAI", "\"" + program(KZAIPowerBoot::kAIProgramPath) + "\""));
    for (const auto& path : {agent(id), entry(id)}) EXPECT_EQ(modeOf(path), 0600u) << path;
    for (const auto& folder : {env().home() / "Library/LaunchAgents", env().home() / ".config",
                               env().home() / ".config/autostart"})
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
        EXPECT_EQ(readFile(entry(id)),
                  expectedEntry("QuarnAITool", "\"" + program(KZAIPowerBoot::getTextProgramPath()) + "\""));
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

TEST_F(PowerBootTest, ExistingFilesAreLeftAsTheyAre) {
    const char* id = KZAIPowerBoot::kAIBundleIdentifier;
    env().workspace().addRunningApplication(id);
    struct Case {
        std::optional<std::string> agentBefore, entryBefore;
    };
    const Case cases[] = {
        {"<plist>someone else's</plist>", "[Desktop Entry]\nHidden=true\n"},
        {"<plist>someone else's</plist>", std::nullopt},
        {std::nullopt, "[Desktop Entry]\nHidden=true\n"},
    };
    for (const auto& c : cases) {
        settings().db_setShowAIStatusBarItem(false);
        if (c.agentBefore) writeFile(agent(id), *c.agentBefore);
        if (c.entryBefore) writeFile(entry(id), *c.entryBefore);
        env().log().clear();
        settings().db_setShowAIStatusBarItem(true);
        if (c.agentBefore) {
            EXPECT_EQ(readFile(agent(id)), *c.agentBefore);
            EXPECT_FALSE(env().log().contains("setupQuarnAiHelperLaunchAgent"));
        } else {
            EXPECT_TRUE(kit::readPropertyListFile(agent(id)).ok());
        }
        if (c.entryBefore) {
            EXPECT_EQ(readFile(entry(id)), *c.entryBefore);
        } else {
            EXPECT_EQ(readFile(entry(id)),
                      expectedEntry("QuarnAI", "\"" + program(KZAIPowerBoot::kAIProgramPath) + "\""));
        }
    }
}

TEST_F(PowerBootTest, AutostartEntryQuotesTheProgramPath) {
    const struct {
        std::string path;
        std::optional<std::string> exec;
    } cases[] = {
        {"/Applications/A B.app/Contents/MacOS/A B", "\"ROOT/Applications/A B.app/Contents/MacOS/A B\""},
        {"/Apps/it's $HOME `x` \"q\".app/x", "\"ROOT/Apps/it's \\\\$HOME \\\\`x\\\\` \\\\\"q\\\\\".app/x\""},
        {"/Apps/back\\slash/100%/x", "\"ROOT/Apps/back\\\\\\\\slash/100%%/x\""},
        {"/Apps/new\nline/x", std::nullopt},
        {"/Apps/tab\t/x", std::nullopt},
    };
    const std::string root = env().systemRoot().string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto text = KZAIPowerBoot::autostartEntryForProgram(c.path);
        ASSERT_EQ(text.has_value(), c.exec.has_value());
        if (!text) continue;
        std::string exec = *c.exec;
        exec.replace(exec.find("ROOT"), 4, root);
        EXPECT_EQ(*text, expectedEntry(fs::path(c.path).filename().string(), exec));
    }
}

}  // namespace
