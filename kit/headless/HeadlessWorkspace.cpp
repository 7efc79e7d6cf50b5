#include "kit/headless/HeadlessWorkspace.h"

#include <algorithm>

#include "kit/base/Log.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusWorkspace.h"

namespace kit {

HeadlessWorkspace::HeadlessWorkspace() = default;
HeadlessWorkspace::~HeadlessWorkspace() = default;

void HeadlessWorkspace::postLater(const char* name, const RunningApplication& application) {
    RunLoop::main().post([this, alive = lifetime_.watch(), name, application] {
        if (alive.expired()) return;
        notifications_.post(name, this,
                            Value(Dictionary{{"NSApplicationBundleIdentifier", Value(application.bundleIdentifier)},
                                             {"NSApplicationProcessIdentifier", Value(application.processId)}}));
    });
}

int HeadlessWorkspace::addRunningApplication(const std::string& bundleIdentifier, int processId) {
    if (processId == 0) processId = nextProcessId_++;
    RunningApplication application{bundleIdentifier, processId};
    running_.push_back(application);
    postLater(kWorkspaceDidLaunchApplication, application);
    return processId;
}

bool HeadlessWorkspace::removeRunningApplication(const std::string& bundleIdentifier, int processId) {
    bool removed = false;
    for (auto it = running_.begin(); it != running_.end();) {
        if (it->bundleIdentifier == bundleIdentifier && (processId == 0 || it->processId == processId)) {
            postLater(kWorkspaceDidTerminateApplication, *it);
            it = running_.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    bool stillOurs = std::any_of(running_.begin(), running_.end(), [&](const auto& application) {
        return application.bundleIdentifier == bundleIdentifier && application.processId == process::processId();
    });
    if (!stillOurs) registered_.erase(bundleIdentifier);
    return removed;
}

void HeadlessWorkspace::setLaunchStartsApplication(const std::string& platformBundlePath,
                                                   const std::string& bundleIdentifier) {
    launchTargets_[platformBundlePath] = bundleIdentifier;
}

void HeadlessWorkspace::clearRecords() {
    activations_.clear();
    launches_.clear();
    openedURLs_.clear();
}

bool HeadlessWorkspace::registerApplication(const std::string& bundleIdentifier) {
    if (!looksLikeBundleIdentifier(bundleIdentifier)) {
        logf("[Workspace] cannot register \"%s\": not a bus name", bundleIdentifier.c_str());
        return false;
    }
    if (registered_.contains(bundleIdentifier)) return true;
    // A bus name has one owner: any running application with the identifier holds it.
    for (const auto& application : running_)
        if (application.bundleIdentifier == bundleIdentifier) return false;
    registered_.insert(bundleIdentifier);
    // Added directly: addRunningApplication would give a process id of 0 a new one.
    const int processId = registeredProcessId_.value_or(process::processId());
    running_.push_back({bundleIdentifier, processId});
    postLater(kWorkspaceDidLaunchApplication, running_.back());
    return true;
}

std::vector<RunningApplication> HeadlessWorkspace::runningApplications(const std::string& bundleIdentifier) {
    std::vector<RunningApplication> result;
    for (const auto& application : running_)
        if (bundleIdentifier.empty() || application.bundleIdentifier == bundleIdentifier)
            result.push_back(application);
    return result;
}

void HeadlessWorkspace::activate(const std::string& bundleIdentifier, unsigned options) {
    activations_.push_back({bundleIdentifier, options});
    const std::string& ours = process::bundleIdentifier();
    if ((!ours.empty() && bundleIdentifier == ours) || registered_.contains(bundleIdentifier))
        NotificationCenter::defaultCenter().post(kApplicationActivateRequest, nullptr,
                                                 Value(Dictionary{{"options", Value(options)}}));
}

bool HeadlessWorkspace::launchApplication(const std::string& platformBundlePath,
                                          const std::vector<std::string>& arguments, unsigned options) {
    launches_.push_back({platformBundlePath, arguments, options});
    auto target = launchTargets_.find(platformBundlePath);
    if (target == launchTargets_.end()) {
        logf("[Workspace] cannot launch %s: no executable", platformBundlePath.c_str());
        return false;
    }
    addRunningApplication(target->second);
    return true;
}

bool HeadlessWorkspace::openURL(const std::string& url) {
    openedURLs_.push_back(url);
    return openURLResult_;
}

}  // namespace kit
