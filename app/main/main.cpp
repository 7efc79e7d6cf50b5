// The process entry: sets up the platform layer for the desktop (GLib main loop, GTK and X11
// when there is a display, the session bus's distributed notifications and workspace), wires
// the later layers into the core, runs the launch sequence and the main loop until the
// application terminates.

#include <pthread.h>
#include <signal.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/capture/KZScreenshotManager.h"
#include "app/core/AppDelegate.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/HXReport.h"
#include "kit/base/Log.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "kit/sys/DBusWorkspace.h"

#if QUARN_HAVE_DESKTOP
#include "kit/desktop/Desktop.h"
#endif

namespace {

std::shared_ptr<kit::DBusDistributedNotificationCenter> installDistributedCenter() {
    auto connected = kit::DBusDistributedNotificationCenter::connect();
    std::shared_ptr<kit::DBusDistributedNotificationCenter> center;
    if (connected) {
        center = std::move(*connected);
    } else {
        kit::logf("[AppDelegate] no session bus for notifications: %s", connected.error().c_str());
        center = kit::DBusDistributedNotificationCenter::disconnected();
    }
    kit::DistributedNotificationCenter::setDefault(center);
    return center;
}

void installWorkspace() {
    auto connected = kit::DBusWorkspace::connect();
    if (connected) {
        kit::Workspace::setShared(std::move(*connected));
    } else {
        kit::logf("[AppDelegate] no session bus for the workspace: %s", connected.error().c_str());
        kit::Workspace::setShared(kit::DBusWorkspace::disconnected());
    }
}

// Termination requests from outside (SIGTERM, SIGINT, SIGHUP) end the application the way its
// own quit does, on the main loop. The signals are blocked in every thread and taken here.
void startSignalWatcher(const sigset_t& signals, std::weak_ptr<AppDelegate> delegate) {
    std::thread([signals, delegate] {
        int received = 0;
        while (sigwait(&signals, &received) == 0) {
            kit::RunLoop::main().post([delegate] {
                if (auto d = delegate.lock()) d->terminate();
            });
        }
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    kit::process::setArguments(std::vector<std::string>(argv, argv + argc));
    kit::process::setBundleIdentifier(KZBundleInfo::kBundleIdentifier);

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto loop = kit::makeGlibRunLoop();
    kit::RunLoop::setMain(loop);
#if QUARN_HAVE_DESKTOP
    // Without a display the application still runs: settings, notifications and reports work,
    // nothing is shown.
    if (auto status = kit::desktop::install(); !status)
        kit::logf("[AppDelegate] no desktop, running without windows: %s", status.error().c_str());
#endif
    auto center = installDistributedCenter();
    installWorkspace();

    KZCoreHooks::setWindowManagerProvider([]() -> KZWindowControllerManaging* {
        return &KZWindowControllerManager::manager();
    });
    KZCoreHooks::setScreenshotSelecting([] { return KZScreenshotManager::shared().isSelecting(); });
    HXReport::startFileLog(HXReport::defaultFilePath());

    auto delegate = std::make_shared<AppDelegate>();
    AppDelegate::setCurrent(delegate);
    startSignalWatcher(signals, delegate);

    loop->post([delegate] {
        delegate->applicationSupportsSecureRestorableState();
        delegate->applicationDidFinishLaunching();
    });
    loop->run();

    HXReport::stopFileLog();
    center->flush();
    return 0;
}
