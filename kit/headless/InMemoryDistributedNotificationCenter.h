#pragma once
// Distributed notifications for tests: one InMemoryDistributedBus stands for the session bus, and
// each InMemoryDistributedNotificationCenter on it for one process. A post reaches every centre
// of the bus (the poster's included) on a later turn of RunLoop::main() (the virtual loop in
// tests), never inside post(). User info goes through the same conversion as on D-Bus, so
// observers get what another process would; the bus records every post for assertions.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kit/sys/DistributedNotificationCenter.h"

namespace kit {

class DistributedObserverList;
class InMemoryDistributedNotificationCenter;

class InMemoryDistributedBus : public std::enable_shared_from_this<InMemoryDistributedBus> {
public:
    struct Post {
        // The label of the posting centre.
        std::string process;
        DistributedNotification notification;
    };

    static std::shared_ptr<InMemoryDistributedBus> create();

    // A new centre (one simulated process) on this bus.
    std::shared_ptr<InMemoryDistributedNotificationCenter> makeCenter(std::string processLabel);

    // Every post so far, in order, with the user info as observers receive it.
    const std::vector<Post>& posts() const { return posts_; }
    std::vector<DistributedNotification> postsNamed(std::string_view name) const;
    std::size_t postCount(std::string_view name) const;
    // The latest post with this name, or nullptr.
    const DistributedNotification* lastPost(std::string_view name) const;
    void clearPosts() { posts_.clear(); }

private:
    friend class InMemoryDistributedNotificationCenter;
    InMemoryDistributedBus() = default;
    void broadcast(const std::string& process, const DistributedNotification& notification);

    std::vector<std::weak_ptr<InMemoryDistributedNotificationCenter>> centers_;
    std::vector<Post> posts_;
};

class InMemoryDistributedNotificationCenter final
    : public DistributedNotificationCenter,
      public std::enable_shared_from_this<InMemoryDistributedNotificationCenter> {
public:
    ~InMemoryDistributedNotificationCenter() override;

    void post(const std::string& name, const std::string& object = {}, const Value& userInfo = {}) override;
    [[nodiscard]] std::shared_ptr<void> addObserver(std::string name, std::optional<std::string> object,
                                                    Handler handler) override;

    const std::string& processLabel() const { return processLabel_; }
    InMemoryDistributedBus& bus() { return *bus_; }
    // Live observers, for tests.
    std::size_t observerCount() const;

private:
    friend class InMemoryDistributedBus;
    InMemoryDistributedNotificationCenter(std::shared_ptr<InMemoryDistributedBus> bus, std::string processLabel);
    void receive(const DistributedNotification& notification);

    std::shared_ptr<InMemoryDistributedBus> bus_;
    std::string processLabel_;
    std::shared_ptr<DistributedObserverList> observers_;
};

}  // namespace kit
