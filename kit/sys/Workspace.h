#pragma once
// The running applications of the session and launching. Each of our processes owns its bundle
// identifier as a well-known bus name, which answers "is it running" and "which process is it".

#include <filesystem>
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

    // The process's workspace; when none was installed, the first call connects a D-Bus one to
    // the session bus. setShared(nullptr) forgets the installed one.
    static Workspace& shared();
    static void setShared(std::shared_ptr<Workspace> workspace);
    // The installed workspace, or null; creates nothing (for code that saves and restores it).
    static std::shared_ptr<Workspace> installedShared();

    // Claims the bundle identifier for this process. False when another process holds it.
    virtual bool registerApplication(const std::string& bundleIdentifier) = 0;

    // Running applications with this bundle identifier (all when empty).
    virtual std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) = 0;

    // Brings an application's windows forward; our own when the identifier is this process's
    // (kit::process::bundleIdentifier()): then kit::kApplicationActivateRequest is posted on the
    // default NotificationCenter with the user info {"options": options}, for the user interface.
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

    // Shows files in the file manager. Default: opens the folder of the first one.
    virtual bool activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files);
};

// The executable of a bundle folder: "<bundle>/Contents/MacOS/<bundle name without .app>".
std::filesystem::path bundleExecutablePath(const std::filesystem::path& bundle);

inline constexpr const char* kWorkspaceDidLaunchApplication =
    "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr const char* kWorkspaceDidTerminateApplication =
    "NSWorkspaceDidTerminateApplicationNotification";
// The machine woke from sleep, and the screens woke (the screen saver ended); posted on the
// workspace's notification centre (object: the workspace) by workspaces that watch the system.
inline constexpr const char* kWorkspaceDidWake = "NSWorkspaceDidWakeNotification";
inline constexpr const char* kWorkspaceScreensDidWake = "NSWorkspaceScreensDidWakeNotification";
// Posted on the default NotificationCenter when this process is asked to come forward, by
// activate() or by another process.
inline constexpr const char* kApplicationActivateRequest = "KitApplicationActivateRequest";

}  // namespace kit
