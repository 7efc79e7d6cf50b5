#pragma once
// Mouse drags anywhere on the desktop, whichever application they start in: the drag's moves and
// its release, with the drag pasteboard's change count and the file paths it carries. A new drag
// of files shows as a change count not seen before.
//
// One handler at a time, called on the main loop. The implementation is chosen once at start-up;
// until one is installed, a default one reports nothing. Locations are screen coordinates
// (points, origin at the bottom left of the main screen, y up). Change counts are 0 when the
// monitor starts, whatever the pasteboard held before.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"

namespace kit {

struct GlobalDragEvent {
    enum class Type { Dragged, MouseUp };
    Type type = Type::Dragged;
    Point location;
    // The drag pasteboard's change count and the local paths of the files it carries now
    // (empty when it carries no file addresses).
    long pasteboardChangeCount = 0;
    std::vector<std::string> filePaths;
};

class GlobalDragMonitor {
public:
    using Handler = std::function<void(const GlobalDragEvent& event)>;

    virtual ~GlobalDragMonitor() = default;

    // Starts reporting to the handler, replacing an earlier one.
    virtual void start(Handler handler) = 0;
    // Stops reporting; no handler runs after it returns.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // The installed implementation, or the default one.
    static GlobalDragMonitor& shared();
    static void setShared(std::shared_ptr<GlobalDragMonitor> monitor);
    static std::shared_ptr<GlobalDragMonitor> installedShared();
};

// Reports nothing.
std::shared_ptr<GlobalDragMonitor> makeSilentGlobalDragMonitor();

}  // namespace kit
