#include "app/core/KZAIPowerBoot.h"

#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/core/KZSharedPlistManager.h"
#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/PropertyList.h"
#include "kit/base/Value.h"
#include "kit/sys/Workspace.h"

namespace fs = std::filesystem;

namespace {

// Creates the missing folders of `folder` under `base` (which must exist), each private.
bool makePrivateFolders(const fs::path& base, const fs::path& relative) {
    fs::path current = base;
    for (const auto& part : relative) {
        current /= part;
        std::error_code ec;
        if (fs::is_directory(current, ec)) continue;
        if (::mkdir(current.c_str(), 0700) != 0 && !fs::is_directory(current, ec)) return false;
    }
    return true;
}

// After a new file was written atomically: readable and writable by the user only.
void makePrivate(const fs::path& path, const kit::Status& written) {
    if (written) ::chmod(path.c_str(), 0600);
}

// A file's bytes; nullopt when it cannot be read or is far larger than an entry is.
std::optional<std::string> contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    std::array<char, 4096> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        if (text.size() > 65536) return std::nullopt;
    }
    return text;
}

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void removeIfExists(const fs::path& path) {
    std::error_code ec;
    if (fileExists(path)) fs::remove(path, ec);
}

// An argument of the Exec key, quoted as the desktop-entry format asks.
std::string quotedExecArgument(const std::string& argument) {
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    out += '"';
    return out;
}

// A value of a desktop-entry key: backslashes doubled.
std::string escapedEntryValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string KZAIPowerBoot::getTextProgramPath() {
    std::string path = kGetTextProgramPathFormat;
    for (std::size_t at; (at = path.find("%@")) != std::string::npos;) path.replace(at, 2, kGetTextName);
    return path;
}

fs::path KZAIPowerBoot::agentPlistPathForBundleID(const std::string& bundleID) {
    return kit::paths::home() / "Library/LaunchAgents" / (bundleID + ".agent.plist");
}

fs::path KZAIPowerBoot::autostartEntryPathForBundleID(const std::string& bundleID) {
    return kit::paths::home() / ".config/autostart" / (bundleID + ".desktop");
}

std::optional<std::string> KZAIPowerBoot::autostartEntryForProgram(const fs::path& program) {
    // A login session starts the entry without the environment this process has: the locations
    // it resolved travel with the command, through env(1). With env as the first word, the
    // program's own path is an argument, which is also the only place the format lets a "%"
    // stand as "%%".
    std::vector<std::string> command{"env"};
    if (const fs::path root = kit::paths::systemRoot(); root != "/") {
        std::error_code ec;
        command.push_back("QUARN_SYSTEM_ROOT=" + fs::absolute(root, ec).lexically_normal().string());
    }
    if (const char* resources = std::getenv("QUARN_RESOURCES_DIR"); resources && *resources) {
        std::error_code ec;
        command.push_back("QUARN_RESOURCES_DIR=" + fs::absolute(resources, ec).lexically_normal().string());
    }
    // env(1) would take a program path with "=" for one more variable.
    if (program.string().find('=') != std::string::npos) return std::nullopt;
    command.push_back(program.string());
    std::string exec;
    for (const auto& argument : command) {
        if (!kit::isValidUtf8(argument)) return std::nullopt;
        for (unsigned char c : argument)
            if (c < 0x20 || c == 0x7f) return std::nullopt;
        if (!exec.empty()) exec += ' ';
        exec += argument == "env" ? argument : quotedExecArgument(argument);
    }
    const std::string name = program.filename().string();
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           escapedEntryValue(name) +
           "\n"
           "Exec=" +
           escapedEntryValue(exec) +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void KZAIPowerBoot::onWindowsProcessPowerBootStatusChanged() {
    kit::logLine("[PowerBoot] onWindowsProcessPowerBootStatusChanged");
    auto& settings = KZSharedPlistManager::sharedManager();
    if (settings.db_showAIStatusBarItem() && settings.db_powerBootShowAI()) {
        setupQuarnAiHelperLaunchAgent(kAIBundleIdentifier, kAIProgramPath);
        launchProcessIfNeededForBundleID(kAIBundleIdentifier, kAIApplicationPath);
    } else {
        removeLaunchAgent(kAIBundleIdentifier);
    }
}

void KZAIPowerBoot::onGetTextProcessPowerBootStatusChanged() {
    kit::logLine("[PowerBoot] onGetTextProcessPowerBootStatusChanged");
    if (KZSharedPlistManager::sharedManager().db_getUseGetTextTool()) {
        setupQuarnAiHelperLaunchAgent(kGetTextBundleIdentifier, getTextProgramPath());
        launchProcessIfNeededForBundleID(kGetTextBundleIdentifier, kGetTextApplicationPath);
    } else {
        removeLaunchAgent(kGetTextBundleIdentifier);
    }
}

void KZAIPowerBoot::setupQuarnAiHelperLaunchAgent(const std::string& bundleID, const std::string& appPath) {
    const fs::path home = kit::paths::home();
    const fs::path agent = agentPlistPathForBundleID(bundleID);
    if (!fileExists(agent)) {
        kit::logf("[PowerBoot] setupQuarnAiHelperLaunchAgent: %s", bundleID.c_str());
        const kit::Dictionary contents{
            {"RunAtLoad", true}, {"Label", bundleID}, {"ProgramArguments", kit::Array{kit::Value(appPath)}}};
        if (makePrivateFolders(home, "Library/LaunchAgents"))
            makePrivate(agent, kit::writePropertyListFile(agent, kit::Value(contents)));
    }

    updateAutostartEntry(bundleID, appPath);
}

void KZAIPowerBoot::updateAutostartEntry(const std::string& bundleID, const std::string& appPath) {
    // This application starts as the program the user runs (an installed program lives in its
    // prefix, not in the host's bundle); the text tool lives in the host's bundle.
    const fs::path program =
        bundleID == kAIBundleIdentifier ? kit::paths::executablePath() : kit::paths::resolveSystemPath(appPath);
    const auto text = autostartEntryForProgram(program);
    if (!text) {
        kit::logf("[PowerBoot] no autostart entry: its command cannot hold %s", program.c_str());
        return;
    }
    // An entry written by another version, for a program since moved, or changed by hand would
    // start nothing or something else at login: it is replaced by this program's own.
    const fs::path entry = autostartEntryPathForBundleID(bundleID);
    if (contentsOf(entry) == *text) return;
    if (makePrivateFolders(kit::paths::home(), ".config/autostart"))
        makePrivate(entry, kit::writeFileAtomically(entry, *text));
}

void KZAIPowerBoot::updateAutostartEntries() {
    auto& settings = KZSharedPlistManager::sharedManager();
    if (settings.db_showAIStatusBarItem() && settings.db_powerBootShowAI())
        updateAutostartEntry(kAIBundleIdentifier, kAIProgramPath);
    if (settings.db_getUseGetTextTool()) updateAutostartEntry(kGetTextBundleIdentifier, getTextProgramPath());
}

void KZAIPowerBoot::removeLaunchAgent(const std::string& bundleID) {
    removeIfExists(agentPlistPathForBundleID(bundleID));
    removeIfExists(autostartEntryPathForBundleID(bundleID));
}

void KZAIPowerBoot::launchProcessIfNeededForBundleID(const std::string& bundleID, const std::string& appPath) {
    auto& workspace = kit::Workspace::shared();
    if (!workspace.runningApplications(bundleID).empty()) return;
    workspace.launchApplication(appPath, {}, kit::LaunchWithoutAddingToRecents);
}
