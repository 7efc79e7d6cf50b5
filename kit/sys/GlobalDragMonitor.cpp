#include "kit/sys/GlobalDragMonitor.h"

#include <mutex>

namespace kit {

namespace {

class SilentGlobalDragMonitor final : public GlobalDragMonitor {
public:
    void start(Handler) override { running_ = true; }
    void stop() override { running_ = false; }
    bool isRunning() const override { return running_; }

private:
    bool running_ = false;
};

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<GlobalDragMonitor>& installed() {
    // Never destroyed: used until the very end of the process.
    static auto* monitor = new std::shared_ptr<GlobalDragMonitor>;
    return *monitor;
}

}  // namespace

GlobalDragMonitor& GlobalDragMonitor::shared() {
    std::lock_guard lock(sharedMutex());
    auto& monitor = installed();
    if (!monitor) monitor = makeSilentGlobalDragMonitor();
    return *monitor;
}

void GlobalDragMonitor::setShared(std::shared_ptr<GlobalDragMonitor> monitor) {
    std::lock_guard lock(sharedMutex());
    installed() = std::move(monitor);
}

std::shared_ptr<GlobalDragMonitor> GlobalDragMonitor::installedShared() {
    std::lock_guard lock(sharedMutex());
    return installed();
}

std::shared_ptr<GlobalDragMonitor> makeSilentGlobalDragMonitor() { return std::make_shared<SilentGlobalDragMonitor>(); }

}  // namespace kit
