#include "kit/sys/DistributedObserverList.h"

#include <algorithm>

namespace kit {

struct DistributedObserverList::Entry {
    std::uint64_t id = 0;
    std::string name;
    std::optional<std::string> object;
    DistributedNotificationCenter::Handler handler;
    bool active = true;
};

struct DistributedObserverList::Token {
    std::weak_ptr<DistributedObserverList> list;
    std::uint64_t id = 0;
    ~Token() {
        if (auto owner = list.lock()) owner->remove(id);
    }
};

std::shared_ptr<DistributedObserverList> DistributedObserverList::create() {
    return std::shared_ptr<DistributedObserverList>(new DistributedObserverList());
}

void DistributedObserverList::setNameHooks(NameHook firstObserver, NameHook lastObserverGone) {
    firstObserver_ = std::move(firstObserver);
    lastObserverGone_ = std::move(lastObserverGone);
}

std::shared_ptr<void> DistributedObserverList::add(std::string name, std::optional<std::string> object,
                                                   DistributedNotificationCenter::Handler handler) {
    auto entry = std::make_shared<Entry>();
    entry->id = nextId_++;
    entry->name = std::move(name);
    entry->object = std::move(object);
    entry->handler = std::move(handler);
    entries_.push_back(entry);
    if (nameCounts_[entry->name]++ == 0 && firstObserver_) firstObserver_(entry->name);

    auto token = std::make_shared<Token>();
    token->list = weak_from_this();
    token->id = entry->id;
    return token;
}

void DistributedObserverList::remove(std::uint64_t id) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [id](const auto& e) { return e->id == id; });
    if (it == entries_.end()) return;
    std::shared_ptr<Entry> entry = *it;
    entry->active = false;
    entries_.erase(it);
    auto count = nameCounts_.find(entry->name);
    if (count != nameCounts_.end() && --count->second == 0) {
        nameCounts_.erase(count);
        if (lastObserverGone_) lastObserverGone_(entry->name);
    }
}

std::size_t DistributedObserverList::observersOf(const std::string& name) const {
    auto it = nameCounts_.find(name);
    return it == nameCounts_.end() ? 0 : it->second;
}

template <class Match>
void DistributedObserverList::deliverIf(const DistributedNotification& notification, Match match) {
    // The list may go away inside a handler (its centre released); keep it alive for the walk.
    auto self = shared_from_this();
    std::vector<std::shared_ptr<Entry>> snapshot = entries_;
    for (const auto& entry : snapshot) {
        if (!entry->active || !match(*entry)) continue;
        if (entry->object && *entry->object != notification.object) continue;
        // The snapshot keeps the entry (and its handler) alive even when the handler releases its
        // own token.
        if (entry->handler) entry->handler(notification);
    }
}

void DistributedObserverList::deliver(const DistributedNotification& notification) {
    deliverIf(notification, [&](const Entry& e) { return e.name.empty() || e.name == notification.name; });
}

void DistributedObserverList::deliverToObserversOf(const std::string& name,
                                                   const DistributedNotification& notification) {
    if (!name.empty() && name != notification.name) return;
    deliverIf(notification, [&](const Entry& e) { return e.name == name; });
}

}  // namespace kit
