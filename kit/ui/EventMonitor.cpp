#include "kit/ui/EventMonitor.h"

#include <algorithm>
#include <vector>

namespace kit {

namespace {
std::vector<EventMonitor*>& registry() {
    static std::vector<EventMonitor*> monitors;
    return monitors;
}
}  // namespace

EventMonitor::EventMonitor(bool global, EventMask mask, LocalHandler local, GlobalHandler globalHandler)
    : global_(global), mask_(mask), local_(std::move(local)), globalHandler_(std::move(globalHandler)) {
    registry().push_back(this);
}

EventMonitor::~EventMonitor() { remove(); }

void EventMonitor::remove() {
    if (removed_) return;
    removed_ = true;
    auto& monitors = registry();
    monitors.erase(std::remove(monitors.begin(), monitors.end(), this), monitors.end());
}

std::shared_ptr<EventMonitor> EventMonitor::addLocalMonitor(EventMask mask, LocalHandler handler) {
    return std::make_shared<EventMonitor>(false, mask, std::move(handler), GlobalHandler{});
}

std::shared_ptr<EventMonitor> EventMonitor::addGlobalMonitor(EventMask mask, GlobalHandler handler) {
    return std::make_shared<EventMonitor>(true, mask, LocalHandler{}, std::move(handler));
}

std::size_t EventMonitor::liveLocalCount() {
    const auto& monitors = registry();
    return static_cast<std::size_t>(std::count_if(monitors.begin(), monitors.end(), [](auto* m) { return !m->global_; }));
}

std::size_t EventMonitor::liveGlobalCount() { return registry().size() - liveLocalCount(); }

// Dispatch walks a copy of the registry and skips monitors removed meanwhile, so a handler may
// remove any monitor, its own included.
namespace {
bool stillRegistered(EventMonitor* monitor) {
    const auto& monitors = registry();
    return std::find(monitors.begin(), monitors.end(), monitor) != monitors.end();
}
}  // namespace

std::optional<Event> EventMonitor::runLocalMonitors(Event event) {
    const std::vector<EventMonitor*> snapshot = registry();
    for (EventMonitor* monitor : snapshot) {
        if (!stillRegistered(monitor) || monitor->global_ || !event.matches(monitor->mask_)) continue;
        // Copied: the handler may release its own monitor.
        auto handler = monitor->local_;
        if (!handler) continue;
        auto result = handler(event);
        if (!result) return std::nullopt;
        event = std::move(*result);
    }
    return event;
}

void EventMonitor::runGlobalMonitors(const Event& event) {
    const std::vector<EventMonitor*> snapshot = registry();
    for (EventMonitor* monitor : snapshot) {
        if (!stillRegistered(monitor) || !monitor->global_ || !event.matches(monitor->mask_)) continue;
        auto handler = monitor->globalHandler_;
        if (handler) handler(event);
    }
}

}  // namespace kit
