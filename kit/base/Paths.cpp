#include "kit/base/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

#include "kit/base/ProcessInfo.h"

namespace kit::paths {
namespace fs = std::filesystem;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool isDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

}  // namespace

fs::path home() {
    if (auto value = environment("HOME"); !value.empty()) return value;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return "/";
}

fs::path systemRoot() {
    if (auto value = environment("QUARN_SYSTEM_ROOT"); !value.empty()) return value;
    return "/";
}

fs::path resolveSystemPath(std::string_view platformPath) {
    // Lexical clamping: ".." never climbs above the root, so "/../etc" is root/"etc".
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= platformPath.size()) {
        std::size_t end = platformPath.find('/', start);
        if (end == std::string_view::npos) end = platformPath.size();
        std::string_view part = platformPath.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    fs::path result = systemRoot();
    for (auto part : parts) result /= fs::path(std::string(part));
    return result;
}

fs::path applicationSupport() { return home() / "Library" / "Application Support"; }

fs::path executablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        // A binary replaced while running reads as "<path> (deleted)".
        std::string text = exe.string();
        constexpr std::string_view kDeleted = " (deleted)";
        if (text.size() > kDeleted.size() && text.ends_with(kDeleted))
            exe = text.substr(0, text.size() - kDeleted.size());
        return exe;
    }
    const auto& arguments = process::arguments();
    if (!arguments.empty()) return fs::absolute(arguments.front(), ec);
    return {};
}

std::string executableName() { return executablePath().filename().string(); }

fs::path installedDataDirectory() {
    return executablePath().parent_path().parent_path() / "share" / std::string(kInstalledName);
}

fs::path resourcesDirectory() {
    if (auto value = environment("QUARN_RESOURCES_DIR"); !value.empty()) return value;
    // Installed, and every build folder (which links share/<name> to the sources' resources):
    // <prefix>/bin/<program> beside <prefix>/share/<name>.
    if (fs::path installed = installedDataDirectory(); isDirectory(installed)) return installed;
    fs::path folder = executablePath().parent_path();
    fs::path first = folder / "resources";
    for (int level = 0; level <= 3 && !folder.empty(); ++level) {
        if (isDirectory(folder / "resources")) return folder / "resources";
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
    }
#ifdef QUARN_SOURCE_DIR
    if (fs::path source = fs::path(QUARN_SOURCE_DIR) / "resources"; isDirectory(source)) return source;
#endif
    if (auto source = environment("QUARN_SOURCE_DIR"); !source.empty() && isDirectory(fs::path(source) / "resources"))
        return fs::path(source) / "resources";
    return first;
}

}  // namespace kit::paths
