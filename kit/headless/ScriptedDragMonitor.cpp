#include "kit/headless/ScriptedDragMonitor.h"

namespace kit {

class ScriptedDragMonitor::Implementation final : public GlobalDragMonitor {
public:
    void start(Handler h) override { handler = std::move(h); }
    void stop() override { handler = nullptr; }
    bool isRunning() const override { return static_cast<bool>(handler); }

    void send(GlobalDragEvent::Type type, Point at) const {
        if (!handler) return;
        GlobalDragEvent event;
        event.type = type;
        event.location = at;
        event.pasteboardChangeCount = changeCount;
        event.filePaths = paths;
        // A copy: the handler may stop the monitor.
        auto run = handler;
        run(event);
    }

    Handler handler;
    long changeCount = 0;
    std::vector<std::string> paths;
};

ScriptedDragMonitor::ScriptedDragMonitor()
    : implementation_(std::make_shared<Implementation>()), previous_(GlobalDragMonitor::installedShared()) {
    GlobalDragMonitor::setShared(implementation_);
}

ScriptedDragMonitor::~ScriptedDragMonitor() { GlobalDragMonitor::setShared(previous_); }

GlobalDragMonitor& ScriptedDragMonitor::monitor() { return *implementation_; }
bool ScriptedDragMonitor::isRunning() const { return implementation_->isRunning(); }

void ScriptedDragMonitor::beginFileDrag(std::vector<std::string> paths, Point at) {
    ++implementation_->changeCount;
    implementation_->paths = std::move(paths);
    implementation_->send(GlobalDragEvent::Type::Dragged, at);
}

void ScriptedDragMonitor::dragTo(Point at) { implementation_->send(GlobalDragEvent::Type::Dragged, at); }

void ScriptedDragMonitor::release(Point at) { implementation_->send(GlobalDragEvent::Type::MouseUp, at); }

}  // namespace kit
