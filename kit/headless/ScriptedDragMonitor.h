#pragma once
// A scripted desktop for file drags in tests. While an instance lives it is
// GlobalDragMonitor::shared(); the test drags files (or nothing) across the screen and releases
// the mouse, and the running monitor reports each step at once.
//
//   kit::ScriptedDragMonitor drags;
//   drags.beginFileDrag({"/tmp/a.pdf"}, {100, 100});
//   drags.dragTo({1200, 800});
//   drags.release({1200, 800});

#include <memory>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/sys/GlobalDragMonitor.h"

namespace kit {

class ScriptedDragMonitor {
public:
    ScriptedDragMonitor();
    ~ScriptedDragMonitor();
    ScriptedDragMonitor(const ScriptedDragMonitor&) = delete;
    ScriptedDragMonitor& operator=(const ScriptedDragMonitor&) = delete;

    GlobalDragMonitor& monitor();
    bool isRunning() const;

    // A new drag: the drag pasteboard changes to carry these paths (none: a drag of something
    // else), then the mouse is dragged to the point.
    void beginFileDrag(std::vector<std::string> paths, Point at);
    // The mouse is dragged further with what the pasteboard holds now.
    void dragTo(Point at);
    // The mouse button goes up.
    void release(Point at);

    class Implementation;

private:
    std::shared_ptr<Implementation> implementation_;
    std::shared_ptr<GlobalDragMonitor> previous_;
};

}  // namespace kit
