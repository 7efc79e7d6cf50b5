#include "kit/sys/DistributedNotificationCenter.h"

#include <mutex>

#include "kit/base/Log.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"

namespace kit {

namespace {

std::mutex& defaultMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<DistributedNotificationCenter>& defaultSlot() {
    static std::shared_ptr<DistributedNotificationCenter> center;
    return center;
}

}  // namespace

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
    std::lock_guard lock(defaultMutex());
    auto& slot = defaultSlot();
    if (!slot) {
        auto connected = DBusDistributedNotificationCenter::connect();
        if (connected) {
            slot = std::move(*connected);
        } else {
            logf("[DistributedNotification] %s; notifications stay within this process",
                 connected.error().c_str());
            slot = DBusDistributedNotificationCenter::disconnected();
        }
    }
    return *slot;
}

void DistributedNotificationCenter::setDefault(std::shared_ptr<DistributedNotificationCenter> center) {
    std::shared_ptr<DistributedNotificationCenter> previous;
    {
        std::lock_guard lock(defaultMutex());
        previous = std::exchange(defaultSlot(), std::move(center));
    }
    // Released outside the lock: a centre's destructor may close its connection.
}

std::shared_ptr<DistributedNotificationCenter> DistributedNotificationCenter::installedDefault() {
    std::lock_guard lock(defaultMutex());
    return defaultSlot();
}

}  // namespace kit
