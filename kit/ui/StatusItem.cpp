#include "kit/ui/StatusItem.h"

#include <algorithm>

#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Application.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Event.h"

namespace kit {

void StatusItem::updateButton(const std::function<void(StatusItemButton&)>& change) {
    change(button_);
    if (peer_ && !removed_) peer_->statusItemChanged(*this);
}

void StatusItem::performClick() const {
    if (removed_) return;
    // Copied: the action may remove this item.
    auto action = button_.action;
    // A click on the item is one of the application's own, as a click in any of its windows:
    // the local monitors see its press and release (an open popover closes), then the action runs.
    for (EventType type : {EventType::LeftMouseDown, EventType::LeftMouseUp}) {
        Event event;
        event.type = type;
        event.locationInWindow = {windowFrame_.midX(), windowFrame_.midY()};
        event.timestamp = RunLoop::main().now();
        event.clickCount = 1;
        Application::shared().sendEvent(event);
    }
    if (action) action();
}

void StatusItem::setWindowState(bool exists, unsigned occlusionState, Rect frame) {
    const bool changed = hasWindow_ != exists || occlusionState_ != (exists ? occlusionState : 0) ||
                         windowFrame_ != (exists ? frame : Rect{});
    hasWindow_ = exists;
    occlusionState_ = exists ? occlusionState : 0;
    windowFrame_ = exists ? frame : Rect{};
    if (changed) NotificationCenter::defaultCenter().post(kStatusItemWindowDidChangeNotification, this);
}

namespace {
std::unique_ptr<StatusBar>& systemSlot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* bar = new std::unique_ptr<StatusBar>;
    return *bar;
}
}  // namespace

StatusBar& StatusBar::system() {
    auto& slot = systemSlot();
    if (!slot) slot = std::make_unique<StatusBar>();
    return *slot;
}

void StatusBar::resetSystem() { systemSlot().reset(); }

std::shared_ptr<StatusItem> StatusBar::statusItemWithLength(double length) {
    auto item = std::make_shared<StatusItem>(length);
    item->setPeer(peerFactory_ ? peerFactory_(*item) : UiBackend::current().makeStatusItemPeer(*item));
    items_.push_back(item);
    if (item->peer_) item->peer_->statusItemChanged(*item);
    return item;
}

void StatusBar::removeStatusItem(const std::shared_ptr<StatusItem>& item) {
    if (!item) return;
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    items_.erase(it);
    item->removed_ = true;
    item->setWindowState(false, 0);
    if (item->peer_) item->peer_->statusItemRemoved(*item);
}

}  // namespace kit
