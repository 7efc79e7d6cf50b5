#include "app/capture/KZDragManager.h"

#include <algorithm>
#include <filesystem>

#include "kit/base/Ascii.h"
#include "kit/base/Log.h"
#include "kit/sys/GlobalDragMonitor.h"

struct KZDragManager::Observer {
    DraggingObserver callback;
};

namespace {

std::shared_ptr<KZDragManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::shared_ptr<KZDragManager>;
    return *manager;
}

}  // namespace

KZDragManager& KZDragManager::shared() {
    auto& s = slot();
    if (!s) {
        s = std::make_shared<KZDragManager>();
        s->init();
    }
    return *s;
}

void KZDragManager::resetShared() {
    if (slot()) kit::GlobalDragMonitor::shared().stop();
    slot().reset();
}

KZDragManager::~KZDragManager() = default;

void KZDragManager::init() {
    std::weak_ptr<KZDragManager> weak = weak_from_this();
    kit::GlobalDragMonitor::shared().start([weak](const kit::GlobalDragEvent& event) {
        if (auto self = weak.lock()) self->handleDragEvent(event);
    });
}

void KZDragManager::setFileExtensions(const std::vector<std::string>& extensions) {
    fileExtensions_.clear();
    for (const auto& extension : extensions) fileExtensions_.push_back(kit::asciiLowercase(extension));
}

std::vector<std::string> KZDragManager::acceptedPaths(const std::vector<std::string>& paths) const {
    std::vector<std::string> kept;
    for (const auto& path : paths) {
        std::string extension = std::filesystem::path(path).extension().string();
        if (extension.empty()) continue;
        extension = kit::asciiLowercase(extension.substr(1));
        if (std::find(fileExtensions_.begin(), fileExtensions_.end(), extension) != fileExtensions_.end())
            kept.push_back(path);
    }
    return kept;
}

std::shared_ptr<void> KZDragManager::addDraggingObserver(DraggingObserver observer) {
    auto token = std::make_shared<Observer>(Observer{std::move(observer)});
    observers_.push_back(token);
    return token;
}

void KZDragManager::setDragging(bool dragging) {
    if (dragging == dragging_) return;
    const bool old = dragging_;
    dragging_ = dragging;
    // A snapshot of the live observers: they may add or drop observers while called.
    std::erase_if(observers_, [](const std::weak_ptr<Observer>& weak) { return weak.expired(); });
    std::vector<std::shared_ptr<Observer>> live;
    for (const auto& weak : observers_)
        if (auto strong = weak.lock()) live.push_back(std::move(strong));
    for (const auto& observer : live)
        if (observer->callback) observer->callback(old, dragging);
}

void KZDragManager::handleDragEvent(const kit::GlobalDragEvent& event) {
    auto self = shared_from_this();
    if (event.type == kit::GlobalDragEvent::Type::Dragged) {
        const bool newDrag = event.pasteboardChangeCount != lastChangeCount_;
        lastChangeCount_ = event.pasteboardChangeCount;
        if (newDrag && !tracking_ && !event.filePaths.empty()) {
            const auto kept = acceptedPaths(event.filePaths);
            const bool countAccepted = multiple_ || event.filePaths.size() == 1;
            if (countAccepted && !kept.empty()) {
                tracking_ = true;
                mouseInDropWindow_ = dropWindowFrame_.contains(event.location);
                setDragging(true);
                if (enable_ && showDropViewBlock_) {
                    auto block = showDropViewBlock_;
                    block(kept);
                }
                return;
            }
        }
        if (tracking_) {
            const bool inside = dropWindowFrame_.contains(event.location);
            if (inside != mouseInDropWindow_) {
                mouseInDropWindow_ = inside;
                kit::logf("[Drag] mouse %s the drop window", inside ? "entered" : "left");
            }
        }
        return;
    }
    if (!tracking_) return;
    tracking_ = false;
    const bool inside = dropWindowFrame_.contains(event.location);
    mouseInDropWindow_ = false;
    setDragging(false);
    if (enable_ && dropCompletionBlock_) {
        auto block = dropCompletionBlock_;
        block(inside);
    }
}
