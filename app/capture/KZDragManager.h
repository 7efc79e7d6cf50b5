#pragma once
// The process-wide watcher of file drags anywhere on screen. A drag qualifies when it carries a
// new set of file addresses of which at least one has an accepted extension (and, unless
// `multiple`, exactly one file is dragged). While a qualifying drag lasts, `dragging` is on;
// with dropping enabled the watcher calls the drag-start block when the drag begins and the
// drop block, with whether the drop landed inside the drop rectangle, on the mouse-up.
//
// Fed by kit::GlobalDragMonitor::shared(), which it starts when it is made. Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"

namespace kit {
struct GlobalDragEvent;
}

class KZDragManager : public std::enable_shared_from_this<KZDragManager> {
public:
    using ShowDropViewBlock = std::function<void(const std::vector<std::string>& paths)>;
    using DropCompletionBlock = std::function<void(bool insideDropWindow)>;
    // Observation of the key "dragging", with the old and the new value.
    using DraggingObserver = std::function<void(bool oldValue, bool newValue)>;

    static KZDragManager& shared();
    // Stops watching and forgets the instance (tests).
    static void resetShared();

    KZDragManager() = default;
    ~KZDragManager();
    void init();

    bool enable() const { return enable_; }
    void setEnable(bool enable) { enable_ = enable; }
    bool multiple() const { return multiple_; }
    void setMultiple(bool multiple) { multiple_ = multiple; }
    // Stored lower-cased.
    void setFileExtensions(const std::vector<std::string>& extensions);
    const std::vector<std::string>& fileExtensions() const { return fileExtensions_; }
    void setShowDropViewBlock(ShowDropViewBlock block) { showDropViewBlock_ = std::move(block); }
    void setDropCompletionBlock(DropCompletionBlock block) { dropCompletionBlock_ = std::move(block); }
    void setDropWindowFrameInScreen(const kit::Rect& frame) { dropWindowFrame_ = frame; }
    const kit::Rect& dropWindowFrameInScreen() const { return dropWindowFrame_; }

    bool dragging() const { return dragging_; }
    // Observers are called on every change, in the order they were added, while the returned
    // token is held.
    [[nodiscard]] std::shared_ptr<void> addDraggingObserver(DraggingObserver observer);
    // Whether the mouse of the current qualifying drag is inside the drop rectangle.
    bool isMouseInDropWindow() const { return mouseInDropWindow_; }

    // The paths of `paths` whose extension (case aside) is accepted.
    std::vector<std::string> acceptedPaths(const std::vector<std::string>& paths) const;

    void handleDragEvent(const kit::GlobalDragEvent& event);

private:
    struct Observer;
    void setDragging(bool dragging);

    bool enable_ = false;
    bool multiple_ = false;
    std::vector<std::string> fileExtensions_;
    ShowDropViewBlock showDropViewBlock_;
    DropCompletionBlock dropCompletionBlock_;
    kit::Rect dropWindowFrame_;
    bool dragging_ = false;
    bool tracking_ = false;
    bool mouseInDropWindow_ = false;
    long lastChangeCount_ = 0;
    std::vector<std::weak_ptr<Observer>> observers_;
};
