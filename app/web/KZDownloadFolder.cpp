#include "app/web/KZDownloadFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/core/KZBundleInfo.h"
#include "kit/base/FolderChain.h"
#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/Utf8.h"
#include "kit/base/Value.h"

namespace KZDownloadFolder {

namespace {

constexpr std::size_t kMaxNameBytes = kit::kMaxFileNameBytes;

std::string errnoText(const char* what, const std::filesystem::path& path) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// A new temporary file beside `path` with the given mode; -1 on failure (errno set).
int makeSiblingTemporary(const std::filesystem::path& path, std::string& temporary, mode_t mode = 0600) {
    const std::string name = path.filename().string();
    temporary = (path.parent_path() / ("." + name.substr(0, kit::utf8PrefixLength(name, 64)) + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd >= 0) ::fchmod(fd, mode);
    return fd;
}

kit::Status finishTemporary(int fd, const std::string& temporary, const std::filesystem::path& path, bool ok) {
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) return kit::Status::success();
    const std::string failure = errnoText("cannot write", path);
    ::unlink(temporary.c_str());
    return kit::Error{failure};
}

}  // namespace

kit::FolderChain chain() {
    return {kit::paths::home() / "Library" / "Caches",
            std::filesystem::path(KZBundleInfo::kBundleIdentifier) / "downloads"};
}

kit::Result<std::filesystem::path> ensure() { return kit::ensureFolderChain(chain()); }

OfferedFile::OfferedFile(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_SH | LOCK_NB);
}

OfferedFile::~OfferedFile() {
    if (fd_ >= 0) ::close(fd_);
}

void removeStaleFiles() {
    constexpr std::time_t kKeptFor = std::time_t{24} * 60 * 60;
    auto folder = ensure();
    if (!folder) return;
    const std::time_t now = std::time(nullptr);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(*folder, error)) {
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (now - info.st_mtime <= kKeptFor) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // A panel (of this instance or another) that still offers it holds it.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(entry.path().c_str()) == 0)
            kit::logf("[Download] removed %s: it waited more than a day for a save panel", entry.path().c_str());
        ::close(fd);
    }
}

std::string sanitizedFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        out += (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) ? '_' : ch;
    }
    const auto strip = [](char c) { return c == ' ' || c == '.'; };
    std::size_t begin = 0;
    std::size_t end = out.size();
    while (begin < end && strip(out[begin])) ++begin;
    while (end > begin && strip(out[end - 1])) --end;
    out = kit::fittedFileName(std::string_view(out).substr(begin, end - begin));
    return out.empty() ? "download" : out;
}

std::optional<std::string> removingPercentEncoding(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!kit::isValidUtf8(out)) return std::nullopt;
    return out;
}

std::string numberedName(const std::string& name, int attempt) {
    if (attempt <= 1) return name;
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= kit::kMaxKeptExtensionBytes;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const std::string number = " (" + std::to_string(attempt) + ")";
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::size_t room = kMaxNameBytes - extension.size() - number.size();
    stem.resize(kit::utf8PrefixLength(stem, room));
    return stem + number + extension;
}

kit::Result<std::filesystem::path> reserveFreeName(const std::filesystem::path& folder,
                                                   const std::function<std::string(int attempt)>& nameFor) {
    constexpr int kMaxAttempts = 10000;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        const std::filesystem::path path = folder / nameFor(attempt);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return kit::Error{errnoText("cannot create", path)};
    }
    return kit::Error{"no free name in " + folder.string()};
}

kit::Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::string temporary;
    const int fd = makeSiblingTemporary(path, temporary);
    if (fd < 0) return kit::Error{errnoText("cannot create a file beside", path)};
    return finishTemporary(fd, temporary, path, writeAll(fd, bytes.data(), bytes.size()));
}

kit::Status moveReplacing(const std::filesystem::path& from, const std::filesystem::path& to, mode_t mode) {
    // The mode is set on the open file before it takes its place: once it is there, its path may
    // already name something else (another user can swap a link in, in a folder shared with them).
    const int source = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0) return kit::Error{errnoText("cannot read", from)};
    if (::fchmod(source, mode) != 0) {
        const std::string failure = errnoText("cannot set the mode of", from);
        ::close(source);
        return kit::Error{failure};
    }
    if (::rename(from.c_str(), to.c_str()) == 0) {
        ::close(source);
        return kit::Status::success();
    }
    if (errno != EXDEV) {
        const std::string failure = errnoText("cannot move a file to", to);
        ::close(source);
        return kit::Error{failure};
    }
    // Another file system: a whole copy beside the destination takes its place.
    std::string temporary;
    const int fd = makeSiblingTemporary(to, temporary, mode);
    if (fd < 0) {
        const std::string failure = errnoText("cannot create a file beside", to);
        ::close(source);
        return kit::Error{failure};
    }
    bool ok = true;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(source, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (!writeAll(fd, buffer, static_cast<std::size_t>(count))) {
            ok = false;
            break;
        }
    }
    ::close(source);
    if (auto status = finishTemporary(fd, temporary, to, ok); !status) return status;
    ::unlink(from.c_str());
    return kit::Status::success();
}

std::string fileURL(const std::filesystem::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : path.string()) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                           c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace KZDownloadFolder
