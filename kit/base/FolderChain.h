#pragma once
// A folder of the application's own inside a folder the user keeps (such as the home's caches).
// The application names both; every part that writes there, the platform layer included, checks
// them with ensureFolderChain, the one rule for such folders.

#include <filesystem>
#include <string>

#include "kit/base/Result.h"

namespace kit {

struct FolderChain {
    std::filesystem::path userFolder;  // absolute
    std::filesystem::path ownFolders;  // relative to userFolder, one or more names
    std::filesystem::path path() const { return userFolder / ownFolders; }
    FolderChain inside(const std::string& name) const { return {userFolder, ownFolders / name}; }
};

// The user's folder and any missing parent are made (0700); it may be reached through links the
// user made, but it, and each folder above it up to the home, must be a folder of this user's.
// Then each of the application's own folders in turn is made or checked with ensureOwnFolder:
// never a link, never another user's, narrowed to 0700. The deepest, or why the chain is refused.
Result<std::filesystem::path> ensureFolderChain(const FolderChain& chain);

}  // namespace kit
