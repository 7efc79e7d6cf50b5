#pragma once
// The observers of one distributed notification centre. Each registration lives as long as the
// token handed to the caller; delivery walks a snapshot, so handlers may add observers or release
// tokens (their own included) while being called. Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/sys/DistributedNotificationCenter.h"

namespace kit {

class DistributedObserverList : public std::enable_shared_from_this<DistributedObserverList> {
public:
    using NameHook = std::function<void(const std::string& name)>;

    static std::shared_ptr<DistributedObserverList> create();

    // Called when the first observer of a name (empty: of every name) arrives, and when its last
    // one leaves.
    void setNameHooks(NameHook firstObserver, NameHook lastObserverGone);

    [[nodiscard]] std::shared_ptr<void> add(std::string name, std::optional<std::string> object,
                                            DistributedNotificationCenter::Handler handler);

    // Delivers to every observer of the notification's name, of every name, and of its object.
    void deliver(const DistributedNotification& notification);
    // Delivers only to observers registered under `name` exactly (empty: those of every name).
    void deliverToObserversOf(const std::string& name, const DistributedNotification& notification);

    std::size_t size() const { return entries_.size(); }
    std::size_t observersOf(const std::string& name) const;

private:
    struct Entry;
    struct Token;
    DistributedObserverList() = default;
    void remove(std::uint64_t id);
    template <class Match>
    void deliverIf(const DistributedNotification& notification, Match match);

    std::vector<std::shared_ptr<Entry>> entries_;
    std::map<std::string, std::size_t> nameCounts_;
    std::uint64_t nextId_ = 1;
    NameHook firstObserver_;
    NameHook lastObserverGone_;
};

}  // namespace kit
