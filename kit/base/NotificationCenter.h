#pragma once
// The process-local notification centre. Observers are held weakly and notified in the order
// they registered; a post walks a snapshot, so observers may add or remove observers (themselves
// included) while being notified.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Value.h"

namespace kit {

struct Notification {
    std::string name;
    // Identity of the sender (a window, a monitor); nullptr when none.
    const void* object = nullptr;
    // A dictionary, or null when the poster gave none.
    Value userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process's default centre.
    static NotificationCenter& defaultCenter();

    // Adds an observer held weakly: once `observer` expires, nothing more is delivered to it.
    // An empty name observes every name; a null object observes every sender.
    void addObserver(const std::shared_ptr<const void>& observer, std::string name,
                     const void* object, Handler handler);

    // Adds a block observer and returns its token. The centre holds the token weakly: delivery
    // goes on while the caller keeps the token, and stops when it is released or removed.
    [[nodiscard]] std::shared_ptr<void> addObserverForName(std::string name, const void* object,
                                                           Handler handler);

    // Removes every registration of the observer (or token), or only those for one name.
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, std::string_view name);

    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, Value userInfo = {});

    // Live registrations, for tests.
    std::size_t observerCount() const;

private:
    struct Registration;
    std::vector<std::shared_ptr<Registration>> registrations_;
};

}  // namespace kit
