#pragma once
// The workspace for tests. Running applications live in memory: tests add and remove them, and
// each change posts the launch or termination notification on the workspace's centre on a later
// turn of RunLoop::main(), as the bus would. Activations, launches and opened addresses are
// recorded; a launch starts an application only when the test said which one
// (setLaunchStartsApplication), and otherwise fails as a missing bundle would.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kit/base/Lifetime.h"
#include "kit/base/NotificationCenter.h"
#include "kit/sys/Workspace.h"

namespace kit {

class HeadlessWorkspace final : public Workspace {
public:
    struct Activation {
        std::string bundleIdentifier;
        unsigned options = 0;
    };
    struct Launch {
        std::string platformBundlePath;
        std::vector<std::string> arguments;
        unsigned options = 0;
    };

    HeadlessWorkspace();
    ~HeadlessWorkspace() override;

    // Adds a running application and posts its launch. A process id of 0 picks a new one
    // (above any real pid range used here); the id used is returned.
    int addRunningApplication(const std::string& bundleIdentifier, int processId = 0);
    // Removes the running applications with this identifier (only the one with this process id
    // when it is not 0) and posts their terminations. False when none matched.
    bool removeRunningApplication(const std::string& bundleIdentifier, int processId = 0);
    // Makes launches of this platform bundle path start an application with this identifier.
    void setLaunchStartsApplication(const std::string& platformBundlePath, const std::string& bundleIdentifier);
    // The process id that the running application of a name this process registers carries: its
    // own unless set; another one as a bus outside this process's PID namespace reports it, or 0
    // when the bus cannot tell.
    void setRegisteredProcessId(int processId) { registeredProcessId_ = processId; }
    // What openURL answers (true unless set).
    void setOpenURLResult(bool result) { openURLResult_ = result; }

    const std::vector<Activation>& activations() const { return activations_; }
    const std::vector<Launch>& launches() const { return launches_; }
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    const std::set<std::string>& registeredIdentifiers() const { return registered_; }
    void clearRecords();

    bool registerApplication(const std::string& bundleIdentifier) override;
    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) override;
    void activate(const std::string& bundleIdentifier, unsigned options) override;
    NotificationCenter& notificationCenter() override { return notifications_; }
    bool launchApplication(const std::string& platformBundlePath, const std::vector<std::string>& arguments,
                           unsigned options) override;
    bool openURL(const std::string& url) override;

private:
    void postLater(const char* name, const RunningApplication& application);

    NotificationCenter notifications_;
    std::vector<RunningApplication> running_;
    std::set<std::string> registered_;
    std::map<std::string, std::string> launchTargets_;
    std::vector<Activation> activations_;
    std::vector<Launch> launches_;
    std::vector<std::string> openedURLs_;
    bool openURLResult_ = true;
    std::optional<int> registeredProcessId_;
    int nextProcessId_ = 100000;
    // Tasks posted on the loop check that the workspace still exists.
    Lifetime lifetime_;
};

}  // namespace kit
