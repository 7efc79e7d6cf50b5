#include "kit/headless/InMemoryDistributedNotificationCenter.h"

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DistributedNotificationWire.h"
#include "kit/sys/DistributedObserverList.h"

namespace kit {

std::shared_ptr<InMemoryDistributedBus> InMemoryDistributedBus::create() {
    return std::shared_ptr<InMemoryDistributedBus>(new InMemoryDistributedBus());
}

std::shared_ptr<InMemoryDistributedNotificationCenter> InMemoryDistributedBus::makeCenter(std::string processLabel) {
    std::shared_ptr<InMemoryDistributedNotificationCenter> center(
        new InMemoryDistributedNotificationCenter(shared_from_this(), std::move(processLabel)));
    std::erase_if(centers_, [](const auto& weak) { return weak.expired(); });
    centers_.push_back(center);
    return center;
}

std::vector<DistributedNotification> InMemoryDistributedBus::postsNamed(std::string_view name) const {
    std::vector<DistributedNotification> result;
    for (const auto& post : posts_)
        if (post.notification.name == name) result.push_back(post.notification);
    return result;
}

std::size_t InMemoryDistributedBus::postCount(std::string_view name) const {
    std::size_t count = 0;
    for (const auto& post : posts_) count += post.notification.name == name;
    return count;
}

const DistributedNotification* InMemoryDistributedBus::lastPost(std::string_view name) const {
    for (auto it = posts_.rbegin(); it != posts_.rend(); ++it)
        if (it->notification.name == name) return &it->notification;
    return nullptr;
}

void InMemoryDistributedBus::broadcast(const std::string& process, const DistributedNotification& notification) {
    posts_.push_back({process, notification});
    auto& loop = RunLoop::main();
    for (const auto& weak : centers_) {
        if (weak.expired()) continue;
        loop.post([weak, notification] {
            if (auto center = weak.lock()) center->receive(notification);
        });
    }
}

InMemoryDistributedNotificationCenter::InMemoryDistributedNotificationCenter(
    std::shared_ptr<InMemoryDistributedBus> bus, std::string processLabel)
    : bus_(std::move(bus)), processLabel_(std::move(processLabel)), observers_(DistributedObserverList::create()) {}

InMemoryDistributedNotificationCenter::~InMemoryDistributedNotificationCenter() = default;

void InMemoryDistributedNotificationCenter::post(const std::string& name, const std::string& object,
                                                 const Value& userInfo) {
    if (name.empty()) {
        logLine("[DistributedNotification] not posted: the name is empty");
        return;
    }
    std::vector<std::string> problems;
    DistributedNotification notification{wire::sanitizedString(name), wire::sanitizedString(object),
                                          wire::normalizedUserInfo(userInfo, &problems)};
    for (const auto& problem : problems) logf("[DistributedNotification] %s: %s", name.c_str(), problem.c_str());
    bus_->broadcast(processLabel_, notification);
}

std::shared_ptr<void> InMemoryDistributedNotificationCenter::addObserver(std::string name,
                                                                         std::optional<std::string> object,
                                                                         Handler handler) {
    return observers_->add(std::move(name), std::move(object), std::move(handler));
}

std::size_t InMemoryDistributedNotificationCenter::observerCount() const { return observers_->size(); }

void InMemoryDistributedNotificationCenter::receive(const DistributedNotification& notification) {
    observers_->deliver(notification);
}

}  // namespace kit
