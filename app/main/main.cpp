// The process entry: sets up the platform layer for the desktop (GLib main loop, GTK and X11
// when there is a display, the session bus's distributed notifications and workspace), wires
// the later layers into the core, runs the launch sequence and the main loop until the
// application terminates.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/capture/KZScreenshotManager.h"
#include "app/core/AppDelegate.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZLaunchQueue.h"
#include "app/ui/KZAppearanceFollower.h"
#include "app/web/KZDownloadFolder.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/HXReport.h"
#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "kit/sys/DBusWorkspace.h"
#include "kit/ui/Application.h"

#if QUARN_HAVE_DESKTOP
#include "kit/desktop/Desktop.h"
#include "kit/desktop/web/WebKitEngine.h"
#endif

namespace {

// How long work that can wait for the side window's page waits at the most (a page that does not
// come: the service is down or slow).
constexpr double kFirstPageWait = 5.0;

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
        // The web views reload a page whose content process died while the machine slept.
        (*connected)->watchSystemWake();
        kit::Workspace::setShared(std::move(*connected));
    } else {
        kit::logf("[AppDelegate] no session bus for the workspace: %s", connected.error().c_str());
        kit::Workspace::setShared(kit::DBusWorkspace::disconnected());
    }
}

// Termination requests from outside (SIGTERM, SIGINT, SIGHUP) end the application the way its
// own quit does, on the main loop, after open panels and alerts have ended as cancelled. Libraries start threads of
// their own with whatever signal mask they like, so the signals are not blocked: a handler, which may run on any
// thread, writes to a pipe that a watcher thread reads.
int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = write(terminationPipe[1], &byte, 1);
}

void startSignalWatcher(const std::weak_ptr<AppDelegate>& delegate) {
    if (pipe2(terminationPipe, O_CLOEXEC) != 0) {
        kit::logf("[AppDelegate] no termination pipe: %s", std::strerror(errno));
        return;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    std::thread([delegate] {
        char byte = 0;
        while (true) {
            ssize_t n = read(terminationPipe[0], &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            // Open panels and alerts end as cancelled first; the application's own quit then
            // runs on the main loop, with its questions.
            kit::RunLoop::main().post([delegate] {
                kit::Application::shared().requestTermination([delegate] {
                    if (auto d = delegate.lock()) d->terminate();
                });
            });
        }
    }).detach();
}

// The application cannot work without its page script (every page call would go unanswered) and
// its bundle information (the AI service's address): starting without them is an error the user
// must see, not a quietly broken window.
bool requiredResourcesPresent() {
    const auto folder = kit::paths::resourcesDirectory();
    bool present = true;
    for (const char* relative : {"bridge/WebViewJavascriptBridge.js", "Info.plist"}) {
        const auto path = folder / relative;
        std::ifstream file(path, std::ios::binary);
        if (!file || file.peek() == std::ifstream::traits_type::eof()) {
            kit::logf("[AppDelegate] cannot start: %s is missing, empty or unreadable (resources are looked for in "
                      "QUARN_RESOURCES_DIR, else ../share/%s beside the program)",
                      path.c_str(), std::string(kit::paths::kInstalledName).c_str());
            present = false;
        }
    }
    return present;
}

}  // namespace

int main(int argc, char** argv) {
    // What the application and its web processes write under the home folder (web data,
    // caches, downloads, saved images) is the user's alone, also where a library picks the mode.
    // Files saved where the user chose keep the mode the user's own mask gives.
    kit::process::setUserFileCreationMask(::umask(077));
    kit::process::setArguments(std::vector<std::string>(argv, argv + argc));
    kit::process::setBundleIdentifier(KZBundleInfo::kBundleIdentifier);
    if (!requiredResourcesPresent()) return 1;

    auto loop = kit::makeGlibRunLoop();
    kit::RunLoop::setMain(loop);
    KZLaunchQueue::hold(kFirstPageWait);
#if QUARN_HAVE_DESKTOP
    // Without a display there is no window, status item or hot key: the application stops before
    // it starts anything or tells its peers anything.
    if (auto status = kit::desktop::install(); !status) {
        kit::logf("[AppDelegate] cannot start: %s", status.error().c_str());
        return 1;
    }
    if (auto web = kit::desktop::installWebEngine(KZDownloadFolder::chain()); !web)
        kit::logf("[AppDelegate] no web engine: %s", web.error().c_str());
    if (!kit::desktop::setDefaultWindowIcon("kz_app_icon"))
        kit::logLine("[AppDelegate] the application icon is missing from the resources");
#endif
    auto center = installDistributedCenter();
    installWorkspace();

    KZCoreHooks::setWindowManagerProvider([]() -> KZWindowControllerManaging* {
        return &KZWindowControllerManager::manager();
    });
    KZCoreHooks::setScreenshotSelecting([] { return KZScreenshotManager::shared().isSelecting(); });
    // The login-state manager's page and window, the web views' login services, and the core's
    // services that reach the windows, panels and capture.
    KZWindowControllerManager::installServices();
    // Every window, popover, panel and tip follows the theme: the host's setting, or the desktop's
    // light or dark appearance while that setting says to follow the system.
    KZAppearanceFollower::start();
    HXReport::startFileLog(HXReport::defaultFilePath());

    auto delegate = std::make_shared<AppDelegate>();
    AppDelegate::setCurrent(delegate);
    startSignalWatcher(delegate);

    loop->post([delegate] {
        delegate->applicationSupportsSecureRestorableState();
        delegate->applicationDidFinishLaunching();
    });
    // Waiting downloads older than a day, and what ended runs left in the staging folders, go
    // once the side window's page is ready, not on the way to it.
    KZLaunchQueue::afterFirstPage([] {
        KZDownloadFolder::removeStaleFiles();
#if QUARN_HAVE_DESKTOP
        kit::desktop::removeDownloadLeftovers();
#endif
    });
    loop->run();

    HXReport::stopFileLog();
    center->flush();
    return 0;
}
