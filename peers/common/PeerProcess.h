#pragma once
// The life of a stand-in process: the GLib main loop, the session bus (distributed notifications
// and a bundle identifier owned as a bus name), commands read line by line from standard input
// and from a control FIFO, and a clean end on quit, SIGINT, SIGTERM or the loss of the bus.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Result.h"
#include "kit/base/RunLoop.h"
#include "kit/base/Value.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "kit/sys/DBusWorkspace.h"
#include "peers/common/PeerAction.h"
#include "peers/common/PeerOutput.h"

namespace peers {

class LineReader;

class PeerProcess {
public:
    using LineHandler = std::function<void(const std::string& line)>;
    using NotificationHandler = std::function<void(const kit::DistributedNotification&)>;

    // Installs the GLib loop as the main run loop.
    explicit PeerProcess(PeerOutput& output);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS).
    kit::Status connect();
    // Owns the bundle identifier as a bus name; fails when another process holds it.
    kit::Status claimName(const std::string& bundleIdentifier);

    // Every notification whose name passes the filter goes to the handler.
    void observe(std::function<bool(std::string_view)> filter, NotificationHandler handler);

    // Feeds lines of a file descriptor (standard input) to the handler; `atEnd` runs once at the
    // end of the input.
    void readLines(int fd, LineHandler handler, std::function<void()> atEnd = {});
    // Creates the FIFO when missing (removed again at exit) and feeds its lines to the handler.
    // Writers may come and go: the FIFO never reaches its end while this process runs.
    kit::Status openControlFifo(const std::filesystem::path& path, LineHandler handler);

    // Posts a notification, waits until the bus has taken it and writes the "sent" line.
    void post(const std::string& name, const kit::Value& userInfo);

    // Carries out a parsed command: posts (writing the shared setting first when asked), prints
    // the help, quits. False, with an "error" line, when the setting cannot be written.
    bool perform(const PeerAction& action, const std::vector<std::string>& help);

    // Runs until quit(), SIGINT, SIGTERM or the loss of the bus; the exit status.
    int run();
    void quit();

    kit::DBusDistributedNotificationCenter& center() { return *center_; }
    PeerOutput& output() { return output_; }

private:
    PeerOutput& output_;
    std::shared_ptr<kit::RunLoop> loop_;
    std::shared_ptr<kit::DBusDistributedNotificationCenter> center_;
    std::shared_ptr<kit::DBusWorkspace> workspace_;
    std::vector<std::shared_ptr<void>> tokens_;
    std::vector<std::unique_ptr<LineReader>> readers_;
    std::filesystem::path createdFifo_;
    std::vector<unsigned> signalSources_;
    int exitStatus_ = 0;
};

}  // namespace peers
