#include "peers/common/PeerProcess.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kit/base/Json.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/Workspace.h"
#include "peers/common/SharedSettings.h"

namespace peers {

// Splits the bytes of one descriptor into lines on the GLib main context.
class LineReader {
public:
    static constexpr std::size_t kMaxLine = 1 << 20;

    LineReader(int fd, bool ownsFd, PeerProcess::LineHandler handler, std::function<void()> atEnd, PeerOutput& output)
        : fd_(fd), ownsFd_(ownsFd), handler_(std::move(handler)), atEnd_(std::move(atEnd)), output_(output) {
        source_ = g_unix_fd_add(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &LineReader::ready, this);
    }
    ~LineReader() {
        if (source_) g_source_remove(source_);
        if (ownsFd_) ::close(fd_);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

private:
    static gboolean ready(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<LineReader*>(data);
        return self->readAvailable() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }

    bool readAvailable() {
        char chunk[4096];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) {
            if (!pending_.empty()) deliver(std::exchange(pending_, {}));
            source_ = 0;
            if (atEnd_) atEnd_();
            return false;
        }
        pending_.append(chunk, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1)
            deliver(pending_.substr(start, end - start));
        pending_.erase(0, start);
        if (pending_.size() > kMaxLine) {
            output_.error("a command line longer than 1 MiB was dropped");
            pending_.clear();
        }
        return true;
    }

    void deliver(std::string line) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        handler_(line);
    }

    int fd_;
    bool ownsFd_;
    guint source_ = 0;
    std::string pending_;
    PeerProcess::LineHandler handler_;
    std::function<void()> atEnd_;
    PeerOutput& output_;
};

PeerProcess::PeerProcess(PeerOutput& output) : output_(output) {
    // A reader that went away must not kill us in the middle of a line.
    ::signal(SIGPIPE, SIG_IGN);
    loop_ = kit::makeGlibRunLoop();
    kit::RunLoop::setMain(loop_);
}

PeerProcess::~PeerProcess() {
    for (unsigned id : signalSources_) g_source_remove(id);
    readers_.clear();
    tokens_.clear();
    if (center_) center_->flush();
    center_.reset();
    workspace_.reset();
    if (!createdFifo_.empty()) {
        std::error_code ec;
        std::filesystem::remove(createdFifo_, ec);
    }
}

kit::Status PeerProcess::connect() {
    auto center = kit::DBusDistributedNotificationCenter::connect();
    if (!center) return kit::Error{"cannot connect to the session bus: " + center.error()};
    center_ = *center;
    auto workspace = kit::DBusWorkspace::connect();
    if (!workspace) return kit::Error{"cannot connect to the session bus: " + workspace.error()};
    workspace_ = *workspace;
    kit::Workspace::setShared(workspace_);
    return {};
}

kit::Status PeerProcess::claimName(const std::string& bundleIdentifier) {
    kit::process::setBundleIdentifier(bundleIdentifier);
    if (!workspace_->registerApplication(bundleIdentifier))
        return kit::Error{"the bus name " + bundleIdentifier + " is owned by another process"};
    tokens_.push_back(kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kApplicationActivateRequest, nullptr, [this](const kit::Notification& n) {
            output_.line("activated " + kit::toJson(n.userInfo));
        }));
    return {};
}

void PeerProcess::observe(std::function<bool(std::string_view)> filter, NotificationHandler handler) {
    tokens_.push_back(center_->addObserver(
        {}, std::nullopt, [filter = std::move(filter), handler = std::move(handler)](const kit::DistributedNotification& n) {
            if (filter(n.name)) handler(n);
        }));
    center_->flush();
}

void PeerProcess::readLines(int fd, LineHandler handler, std::function<void()> atEnd) {
    readers_.push_back(std::make_unique<LineReader>(fd, false, std::move(handler), std::move(atEnd), output_));
}

kit::Status PeerProcess::openControlFifo(const std::filesystem::path& path, LineHandler handler) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISFIFO(info.st_mode)) return kit::Error{path.string() + " exists and is not a FIFO"};
    } else if (errno == ENOENT) {
        if (::mkfifo(path.c_str(), 0600) != 0)
            return kit::Error{"cannot create the FIFO " + path.string() + ": " + std::strerror(errno)};
        createdFifo_ = path;
    } else {
        return kit::Error{path.string() + ": " + std::strerror(errno)};
    }
    // Opened for writing too, so that the FIFO does not end when a writer closes it.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kit::Error{"cannot open the FIFO " + path.string() + ": " + std::strerror(errno)};
    readers_.push_back(std::make_unique<LineReader>(fd, true, std::move(handler), nullptr, output_));
    return {};
}

void PeerProcess::post(const std::string& name, const kit::Value& userInfo) {
    center_->post(name, {}, userInfo);
    center_->flush();
    output_.line(notificationLine("sent", name, userInfo));
}

bool PeerProcess::perform(const PeerAction& action, const std::vector<std::string>& help) {
    switch (action.kind) {
    case PeerAction::Kind::None:
        return true;
    case PeerAction::Kind::Post:
        if (action.fileDragState) {
            auto written = writeSharedSetting(sharedSettingsPath(), kFileDragStateKey, *action.fileDragState);
            if (!written) {
                output_.error("the file-drag setting was not written, nothing sent: " + written.error());
                return false;
            }
            output_.line(std::string("setting ") + kFileDragStateKey + " " + (*action.fileDragState ? "true" : "false"));
        }
        post(action.name, action.userInfo);
        return true;
    case PeerAction::Kind::Quit:
        quit();
        return true;
    case PeerAction::Kind::Help:
        for (const auto& line : help) output_.line("help " + line);
        return true;
    case PeerAction::Kind::AutoFrame:
        output_.line(std::string("autoframe ") + (action.enable ? "on" : "off"));
        return true;
    }
    return true;
}

int PeerProcess::run() {
    auto onSignal = +[](gpointer data) -> gboolean {
        static_cast<PeerProcess*>(data)->quit();
        return G_SOURCE_CONTINUE;
    };
    signalSources_.push_back(g_unix_signal_add(SIGINT, onSignal, this));
    signalSources_.push_back(g_unix_signal_add(SIGTERM, onSignal, this));
    auto watchdog = loop_->scheduleTimer(0.5, true, [this](kit::Timer&) {
        if (center_ && !center_->isConnected()) {
            output_.error("the session bus went away");
            exitStatus_ = 1;
            quit();
        }
    });
    loop_->run();
    watchdog->invalidate();
    output_.line("bye");
    return exitStatus_;
}

void PeerProcess::quit() { loop_->quit(); }

}  // namespace peers
