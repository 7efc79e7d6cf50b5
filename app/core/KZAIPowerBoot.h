#pragma once
// Starting at login. Two per-user launch agents follow the shared settings: one starts this
// application while the user wants both the status item and start at login, one starts the
// text-grabbing tool while the user has it enabled. On this desktop the same decision writes or
// removes an XDG autostart entry (~/.config/autostart/<bundle identifier>.desktop), which is what
// the session actually runs at login: for this application the running executable, for the tool
// its program in the host's bundle. Turning a process on also
// starts it at once when it is not running.
//
// Called by the settings setters after a change was written, and at launch for the autostart
// entries. No state; main thread. An existing agent file is never rewritten; an autostart entry is
// rewritten whenever it differs from what this program writes, so that an upgrade or a moved
// program keeps starting at login. Files are private to the user (0600, new folders 0700);
// failures are not reported, the settings change stands.

#include <filesystem>
#include <optional>
#include <string>

class KZAIPowerBoot {
public:
    static constexpr const char* kAIBundleIdentifier = "com.morvane.QuarnAIAssistant";
    static constexpr const char* kAIProgramPath =
        "/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAI.app/Contents/MacOS/QuarnAI";
    static constexpr const char* kAIApplicationPath = "/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAI.app";
    static constexpr const char* kGetTextBundleIdentifier = "com.morvane.QuarnGetText";
    static constexpr const char* kGetTextName = "QuarnAITool";
    // "%@" twice, both the tool's name.
    static constexpr const char* kGetTextProgramPathFormat =
        "/Applications/Morvane Quarn.app/Contents/Frameworks/%@.app/Contents/MacOS/%@";
    static constexpr const char* kGetTextApplicationPath =
        "/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAITool.app";

    static void onWindowsProcessPowerBootStatusChanged();
    static void onGetTextProcessPowerBootStatusChanged();

    // <home>/Library/LaunchAgents/<bundle identifier>.agent.plist
    static std::filesystem::path agentPlistPathForBundleID(const std::string& bundleID);
    // Writes the agent for a program at a platform path when missing, and its autostart entry
    // when missing or different.
    static void setupQuarnAiHelperLaunchAgent(const std::string& bundleID, const std::string& appPath);
    // At launch: the autostart entry of each process the settings start at login, written again
    // when it differs from this program's. Writes no agent and starts nothing.
    static void updateAutostartEntries();
    // Launches the bundle at a platform path unless an application with the identifier runs.
    static void launchProcessIfNeededForBundleID(const std::string& bundleID, const std::string& appPath);

    // <home>/.config/autostart/<bundle identifier>.desktop
    static std::filesystem::path autostartEntryPathForBundleID(const std::string& bundleID);
    // The desktop entry that starts a program (a real path) through env(1), with the system root
    // and the resources folder this process resolved when they are not the defaults; nullopt
    // when a path cannot be written into one (control characters, not UTF-8, "=" in the program's).
    static std::optional<std::string> autostartEntryForProgram(const std::filesystem::path& program);
    // The tool's program path, from the format.
    static std::string getTextProgramPath();

private:
    static void removeLaunchAgent(const std::string& bundleID);
    static void updateAutostartEntry(const std::string& bundleID, const std::string& appPath);
};
