#include "kit/base/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kit {

namespace fs = std::filesystem;

namespace {

constexpr mode_t kGroupAndOthers = 077;

// Takes group and other permissions from a file or folder of this user's.
void closeUp(int fd, const struct stat& info) {
    if (info.st_uid != ::geteuid() || !(info.st_mode & kGroupAndOthers)) return;
    ::fchmod(fd, info.st_mode & 07700);
}

}  // namespace

Status createPrivateFolders(const fs::path& folder) {
    if (folder.empty()) return Error{"cannot create a folder without a path"};
    fs::path path;
    for (const auto& part : folder) {
        path /= part;
        if (::mkdir(path.c_str(), kPrivateFolderMode) == 0) {
            // mkdir applies the umask; a new folder of ours is exactly 0700.
            ::chmod(path.c_str(), kPrivateFolderMode);
        } else if (errno != EEXIST) {
            return Error{"cannot create " + path.string() + ": " + std::strerror(errno)};
        }
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A symbolic link to a folder is the user's own choice: it is used, not changed.
        std::error_code ec;
        if (fs::is_directory(folder, ec)) return Status::success();
        return Error{"cannot use " + folder.string() + " as a folder: " + std::strerror(errno)};
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0) closeUp(fd, info);
    ::close(fd);
    return Status::success();
}

Status ensureOwnFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
        return Error{"cannot create " + folder.string() + ": " + std::strerror(errno)};
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Error{"cannot use " + folder.string() + " as a private folder: " + std::strerror(errno)};
    struct stat info {};
    Status status = Status::success();
    if (::fstat(fd, &info) != 0) {
        status = Error{"cannot look at " + folder.string() + ": " + std::strerror(errno)};
    } else if (info.st_uid != ::geteuid()) {
        status = Error{folder.string() + " belongs to another user"};
    } else if ((info.st_mode & 07777) != kPrivateFolderMode && ::fchmod(fd, kPrivateFolderMode) != 0) {
        status = Error{"cannot make " + folder.string() + " private: " + std::strerror(errno)};
    }
    ::close(fd);
    return status;
}

int openPrivateFile(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) return fd;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) closeUp(fd, info);
    return fd;
}

}  // namespace kit
