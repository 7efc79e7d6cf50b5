#pragma once
// Facts about this process: its arguments, ids and bundle identifier.

#include <string>
#include <vector>

namespace kit::process {

// The launch arguments, the executable path first. Set once by the entry point.
void setArguments(std::vector<std::string> arguments);
const std::vector<std::string>& arguments();

int processId();
int userId();
// The main bundle's identifier; empty until set by the entry point.
void setBundleIdentifier(std::string identifier);
const std::string& bundleIdentifier();

}  // namespace kit::process
