#pragma once
// Files and folders that are the user's own: what the application keeps under the home folder
// (settings, login state, hot keys, logs, analytics, web data) is readable by the user alone.
// Folders are made 0700 and files 0600 whatever the process's umask; a file or folder of ours
// left more open by an earlier version is closed up when it is next written.

#include <sys/types.h>

#include <filesystem>

#include "kit/base/Result.h"

namespace kit {

inline constexpr mode_t kPrivateFolderMode = 0700;
inline constexpr mode_t kPrivateFileMode = 0600;

// Creates `folder` and each missing parent with kPrivateFolderMode. The folder itself, when it
// already exists and belongs to this user, loses any group and other permissions; existing
// parents are left as they are.
Status createPrivateFolders(const std::filesystem::path& folder);

// A folder that only this user can reach, for files on their way somewhere: made with
// kPrivateFolderMode when missing (its parent must exist), narrowed to it when wider. Refused,
// never followed nor changed, when the path is a symbolic link, not a folder, or another user's.
Status ensureOwnFolder(const std::filesystem::path& folder);

// open(2) with O_CLOEXEC added and kPrivateFileMode for a new file; an existing file that
// belongs to this user loses any group and other permissions. -1 with errno on failure.
int openPrivateFile(const std::filesystem::path& path, int flags);

}  // namespace kit
