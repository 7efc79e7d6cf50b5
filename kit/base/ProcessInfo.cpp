#include "kit/base/ProcessInfo.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <iterator>
#include <mutex>

namespace kit::process {
namespace {

struct State {
    std::mutex mutex;
    bool argumentsSet = false;
    std::vector<std::string> arguments;
    std::string bundleIdentifier;
    mode_t userMask = 022;
};

State& state() {
    static State s;
    return s;
}

// Before the entry point sets them, the arguments are the kernel's record of the command line.
std::vector<std::string> readCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        result.emplace_back(bytes, start, end - start);
        start = end + 1;
    }
    return result;
}

}  // namespace

void setArguments(std::vector<std::string> arguments) {
    std::lock_guard lock(state().mutex);
    state().arguments = std::move(arguments);
    state().argumentsSet = true;
}

const std::vector<std::string>& arguments() {
    std::lock_guard lock(state().mutex);
    if (!state().argumentsSet) {
        state().arguments = readCommandLine();
        state().argumentsSet = true;
    }
    return state().arguments;
}

int processId() { return static_cast<int>(::getpid()); }

bool processHasEnded(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }
int userId() { return static_cast<int>(::getuid()); }

void setBundleIdentifier(std::string identifier) {
    std::lock_guard lock(state().mutex);
    state().bundleIdentifier = std::move(identifier);
}

const std::string& bundleIdentifier() {
    std::lock_guard lock(state().mutex);
    return state().bundleIdentifier;
}

void setUserFileCreationMask(mode_t mask) {
    std::lock_guard lock(state().mutex);
    state().userMask = mask & 0777;
}

mode_t userFileCreationMask() {
    std::lock_guard lock(state().mutex);
    return state().userMask;
}

}  // namespace kit::process
