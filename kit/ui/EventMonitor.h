#pragma once
// Event monitors. A local monitor sees the application's own events before they are sent to
// their window and may change or swallow them; a global monitor sees copies of events sent to
// other applications. The monitor lives as long as the returned handle: releasing the handle (or
// remove()) removes it.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "kit/ui/Event.h"

namespace kit {

class EventMonitor {
public:
    // Answers the event to pass on (changed or not), or nullopt to swallow it.
    using LocalHandler = std::function<std::optional<Event>(const Event&)>;
    using GlobalHandler = std::function<void(const Event&)>;

    [[nodiscard]] static std::shared_ptr<EventMonitor> addLocalMonitor(EventMask mask, LocalHandler handler);
    [[nodiscard]] static std::shared_ptr<EventMonitor> addGlobalMonitor(EventMask mask, GlobalHandler handler);

    // Monitors alive now, for tests.
    static std::size_t liveLocalCount();
    static std::size_t liveGlobalCount();

    // Runs the local monitors over an event; nullopt when one swallowed it.
    static std::optional<Event> runLocalMonitors(Event event);
    // Hands an event of another application to the global monitors.
    static void runGlobalMonitors(const Event& event);

    EventMonitor(bool global, EventMask mask, LocalHandler local, GlobalHandler globalHandler);
    ~EventMonitor();
    EventMonitor(const EventMonitor&) = delete;
    EventMonitor& operator=(const EventMonitor&) = delete;

    void remove();
    bool isGlobal() const { return global_; }
    EventMask mask() const { return mask_; }

private:
    bool global_;
    EventMask mask_;
    LocalHandler local_;
    GlobalHandler globalHandler_;
    bool removed_ = false;
};

}  // namespace kit
