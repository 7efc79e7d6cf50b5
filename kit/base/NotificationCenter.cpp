#include "kit/base/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace kit {
namespace {

// A token only needs an identity.
struct ObserverToken {
    char unused = 0;
};

std::mutex& centerMutex() {
    // One lock for every centre: registrations change rarely and posts copy a short snapshot.
    static std::mutex mutex;
    return mutex;
}

using Graveyard = std::vector<std::shared_ptr<void>>;

}  // namespace

struct NotificationCenter::Registration {
    std::weak_ptr<const void> observer;
    const void* key;
    std::string name;
    const void* object;
    Handler handler;
    std::atomic<bool> removed{false};

    bool matches(const Notification& n) const {
        return (name.empty() || name == n.name) && (!object || object == n.object);
    }
};

namespace {

// Moves dead registrations out of the table; the caller releases them after unlocking, since a
// handler's captures may call back into the centre as they are destroyed.
template <class Table>
void pruneLocked(Table& table, Graveyard& graveyard) {
    auto dead = std::stable_partition(table.begin(), table.end(), [](const auto& r) {
        return !r->removed.load() && !r->observer.expired();
    });
    for (auto it = dead; it != table.end(); ++it) graveyard.push_back(std::move(*it));
    table.erase(dead, table.end());
}

}  // namespace

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter;  // lives for the whole process
    return *center;
}

void NotificationCenter::addObserver(const std::shared_ptr<const void>& observer, std::string name,
                                     const void* object, Handler handler) {
    if (!observer || !handler) return;
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->key = observer.get();
    registration->name = std::move(name);
    registration->object = object;
    registration->handler = std::move(handler);
    Graveyard graveyard;
    std::lock_guard lock(centerMutex());
    pruneLocked(registrations_, graveyard);
    registrations_.push_back(std::move(registration));
}

std::shared_ptr<void> NotificationCenter::addObserverForName(std::string name, const void* object,
                                                             Handler handler) {
    auto token = std::make_shared<ObserverToken>();
    addObserver(token, std::move(name), object, std::move(handler));
    return token;
}

void NotificationCenter::removeObserver(const void* observer) {
    Graveyard graveyard;
    std::lock_guard lock(centerMutex());
    for (auto& r : registrations_)
        if (r->key == observer) r->removed = true;
    pruneLocked(registrations_, graveyard);
}

void NotificationCenter::removeObserver(const void* observer, std::string_view name) {
    Graveyard graveyard;
    std::lock_guard lock(centerMutex());
    for (auto& r : registrations_)
        if (r->key == observer && r->name == name) r->removed = true;
    pruneLocked(registrations_, graveyard);
}

void NotificationCenter::post(const Notification& notification) {
    Graveyard graveyard;
    std::vector<std::shared_ptr<Registration>> snapshot;
    {
        std::lock_guard lock(centerMutex());
        pruneLocked(registrations_, graveyard);
        for (const auto& r : registrations_)
            if (r->matches(notification)) snapshot.push_back(r);
    }
    graveyard.clear();
    for (const auto& r : snapshot) {
        if (r->removed.load()) continue;
        auto alive = r->observer.lock();
        if (!alive) continue;
        r->handler(notification);
    }
}

void NotificationCenter::post(std::string name, const void* object, Value userInfo) {
    post(Notification{std::move(name), object, std::move(userInfo)});
}

std::size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(centerMutex());
    return static_cast<std::size_t>(std::count_if(registrations_.begin(), registrations_.end(),
                                                  [](const auto& r) { return !r->observer.expired(); }));
}

}  // namespace kit
