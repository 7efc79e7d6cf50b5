#pragma once
// Where things are. The home folder comes from HOME; the platform's absolute paths
// ("/Applications/...") resolve against a system root taken from QUARN_SYSTEM_ROOT (default "/"),
// so tests and the run command never touch the real machine.

#include <filesystem>
#include <string>
#include <string_view>

namespace kit::paths {

// The user's home folder (HOME; the password database when HOME is unset).
std::filesystem::path home();
// The system root (QUARN_SYSTEM_ROOT, default "/").
std::filesystem::path systemRoot();
// A platform absolute path ("/Applications/Morvane Quarn.app") under the system root.
std::filesystem::path resolveSystemPath(std::string_view platformPath);
// home()/"Library/Application Support"
std::filesystem::path applicationSupport();
// The running executable's path and its last component.
std::filesystem::path executablePath();
std::string executableName();
// The name of the installed data and library folders (<prefix>/share/<name>, <prefix>/lib/<name>).
inline constexpr std::string_view kInstalledName = "quarnai";
// <prefix>/share/<name> for the executable at <prefix>/bin (whether or not it exists).
std::filesystem::path installedDataDirectory();
// The folder of the application's resources: QUARN_RESOURCES_DIR when set, else the installed
// layout's share/<name> beside the executable's folder (a build folder links it to the sources),
// else a "resources" folder found beside or above the executable.
std::filesystem::path resourcesDirectory();

}  // namespace kit::paths
