#pragma once
// Facts about this process: its arguments, ids and bundle identifier.

#include <sys/types.h>

#include <string>
#include <vector>

namespace kit::process {

// The launch arguments, the executable path first. Set once by the entry point.
void setArguments(std::vector<std::string> arguments);
const std::vector<std::string>& arguments();

int processId();
int userId();
// Whether no process with this id runs any more (files named after a process are its leftovers
// once it has ended). False for ids that are not valid.
bool processHasEnded(long pid);
// The main bundle's identifier; empty until set by the entry point.
void setBundleIdentifier(std::string identifier);
const std::string& bundleIdentifier();

// The file-creation mask the user started the process with (the entry point narrows the
// process's own mask for its private files). Files saved where the user chose get the mode it
// gives: 0666 less this mask. 022 until the entry point sets it.
void setUserFileCreationMask(mode_t mask);
mode_t userFileCreationMask();
inline mode_t userFileMode() { return 0666 & ~userFileCreationMask(); }

}  // namespace kit::process
