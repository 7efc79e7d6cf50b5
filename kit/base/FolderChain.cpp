#include "kit/base/FolderChain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kit/base/Paths.h"
#include "kit/base/PrivateFiles.h"

namespace kit {

namespace fs = std::filesystem;

namespace {

// A folder the user keeps, links followed: made when missing; it must be a folder of this user's.
Status ensureUserFolder(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT) return Error{"cannot look at " + folder.string() + ": " + std::strerror(errno)};
        if (auto made = createPrivateFolders(folder); !made) return made;
        if (::stat(folder.c_str(), &info) != 0)
            return Error{"cannot look at " + folder.string() + ": " + std::strerror(errno)};
    }
    if (!S_ISDIR(info.st_mode)) return Error{folder.string() + " is not a folder"};
    if (info.st_uid != ::geteuid()) return Error{folder.string() + " belongs to another user"};
    return Status::success();
}

}  // namespace

Result<fs::path> ensureFolderChain(const FolderChain& chain) {
    if (!chain.userFolder.is_absolute() || chain.ownFolders.empty() || chain.ownFolders.is_absolute())
        return Error{"no folder named for " + chain.path().string()};
    if (auto status = ensureUserFolder(chain.userFolder); !status) return Error{status.error()};
    // Above it, up to the home: someone else's folder there could move ours away.
    const fs::path home = paths::home();
    const auto mismatch = std::mismatch(home.begin(), home.end(), chain.userFolder.begin(), chain.userFolder.end());
    if (mismatch.first == home.end() && chain.userFolder != home) {
        for (fs::path folder = chain.userFolder.parent_path(); folder != home && folder.has_relative_path();
             folder = folder.parent_path()) {
            if (auto status = ensureUserFolder(folder); !status) return Error{status.error()};
        }
    }
    fs::path folder = chain.userFolder;
    for (const auto& name : chain.ownFolders) {
        if (name.empty() || name == "." || name == "..") return Error{"no folder named for " + chain.path().string()};
        folder /= name;
        if (auto status = ensureOwnFolder(folder); !status) return Error{status.error()};
    }
    return folder;
}

}  // namespace kit
