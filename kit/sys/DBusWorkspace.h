#pragma once
// The workspace on a D-Bus bus (the user's session bus by default):
// - registerApplication owns the bundle identifier as a well-known bus name (not queued, not
//   replaceable) and exports the object "/com/morvane/Application" with the method
//   com.morvane.Application.Activate(u options), which posts kApplicationActivateRequest here;
// - running applications are the owners of well-known names that read as reverse-DNS
//   identifiers, with the owners' process ids;
// - launches and terminations are the bus's NameOwnerChanged signals, posted on the workspace's
//   notification centre on a later turn of RunLoop::main();
// - another application is activated by calling its Activate method (no reply awaited);
// - bundles start detached; addresses open with the desktop's default handler;
// - with watchSystemWake, the end of a sleep (logind's PrepareForSleep(false) on the system bus)
//   is posted as kWorkspaceDidWake and the end of the screen saver (ActiveChanged(false) of
//   org.freedesktop.ScreenSaver or org.gnome.ScreenSaver on this bus) as kWorkspaceScreensDidWake,
//   on a later turn of RunLoop::main(). Only the owners of those names are heard; where a
//   service or the system bus is missing, nothing is posted for it.
// Create it on the main thread: signals arrive on that thread's GLib main context.

#include <memory>
#include <string>
#include <vector>

#include "kit/base/Result.h"
#include "kit/sys/Workspace.h"

namespace kit {

class DBusWorkspace final : public Workspace {
public:
    // Connects to the bus at a D-Bus address, or to the session bus when it is empty.
    static Result<std::shared_ptr<DBusWorkspace>> connect(const std::string& address = {});
    // A workspace without a bus: no names, nothing running; launching and opening still work.
    static std::shared_ptr<DBusWorkspace> disconnected();

    ~DBusWorkspace() override;

    bool registerApplication(const std::string& bundleIdentifier) override;
    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) override;
    void activate(const std::string& bundleIdentifier, unsigned options) override;
    NotificationCenter& notificationCenter() override;
    bool launchApplication(const std::string& platformBundlePath, const std::vector<std::string>& arguments,
                           unsigned options) override;
    bool openURL(const std::string& url) override;

    bool isConnected() const;

    // Starts watching for wake; the system bus at a D-Bus address, or the system's own when
    // empty. Once only; later calls do nothing.
    void watchSystemWake(const std::string& systemBusAddress = {});

    struct Impl;

private:
    explicit DBusWorkspace(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

// Whether a bus name reads as a bundle identifier: a well-known name (not ":1.42") of at least
// two dot-separated elements, other than the bus's own "org.freedesktop.DBus".
bool looksLikeBundleIdentifier(const std::string& busName);

}  // namespace kit
