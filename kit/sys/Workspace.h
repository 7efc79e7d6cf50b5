#pragma once
// The running applications of the session and launching. Each of our processes owns its bundle
// identifier as a well-known bus name, which answers "is it running" and "which process is it".

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kit {

struct RunningApplication {
    std::string bundleIdentifier;
    int processId = 0;
};

// Launch options, with the platform's values.
enum LaunchOptions : unsigned {
    LaunchDefault = 0,
    LaunchWithoutAddingToRecents = 256,
};

class Workspace {
public:
    virtual ~Workspace() = default;

    static Workspace& shared();
    static void setShared(std::shared_ptr<Workspace> workspace);

    // Claims the bundle identifier for this process. False when another process holds it.
    virtual bool registerApplication(const std::string& bundleIdentifier) = 0;

    // Running applications with this bundle identifier (all when empty).
    virtual std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) = 0;

    // Brings an application's windows forward; our own when the identifier is this process's.
    virtual void activate(const std::string& bundleIdentifier, unsigned options) = 0;

    // Launch and termination of applications, as the workspace's notifications: observers of
    // kit::kWorkspaceDidLaunchApplication and kit::kWorkspaceDidTerminateApplication on the
    // workspace's notification centre (NotificationCenter, object: this workspace) get a user
    // info with "NSApplicationBundleIdentifier" and "NSApplicationProcessIdentifier".
    virtual class NotificationCenter& notificationCenter() = 0;

    // Starts the bundle at a platform path (resolved under the system root): the executable
    // "<bundle>/Contents/MacOS/<bundle name without .app>", with the arguments. False when there
    // is no executable or it cannot be started.
    virtual bool launchApplication(const std::string& platformBundlePath,
                                   const std::vector<std::string>& arguments, unsigned options) = 0;

    // Opens an address with the desktop's default handler.
    virtual bool openURL(const std::string& url) = 0;
};

inline constexpr const char* kWorkspaceDidLaunchApplication =
    "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr const char* kWorkspaceDidTerminateApplication =
    "NSWorkspaceDidTerminateApplicationNotification";

}  // namespace kit
