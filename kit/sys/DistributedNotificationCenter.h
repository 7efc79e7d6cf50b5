#pragma once
// Notifications between processes of the user's session. On the desktop they travel on the
// D-Bus session bus as broadcast signals; tests use an in-memory bus shared by the "processes"
// of one test. Delivery always happens on the main run loop, never inside post().

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Value.h"

namespace kit {

struct DistributedNotification {
    std::string name;
    // The object string; empty when none was given.
    std::string object;
    // A dictionary, or null when none was given.
    Value userInfo;
};

class DistributedNotificationCenter {
public:
    using Handler = std::function<void(const DistributedNotification&)>;

    virtual ~DistributedNotificationCenter() = default;

    // The process's centre. Installed once at start-up (the D-Bus one in the application, an
    // in-memory one in tests); when none was installed, the first call connects a D-Bus centre to
    // the session bus.
    static DistributedNotificationCenter& defaultCenter();
    // Installs the default centre; null forgets it, so that the next defaultCenter() connects anew.
    static void setDefault(std::shared_ptr<DistributedNotificationCenter> center);
    // The installed centre, or null; creates nothing (for code that saves and restores it).
    static std::shared_ptr<DistributedNotificationCenter> installedDefault();

    // Posts to every observer in every process, this one included. userInfo must be null or a
    // dictionary of property-list values.
    virtual void post(const std::string& name, const std::string& object = {},
                      const Value& userInfo = {}) = 0;

    // Observes a name (empty: every name) and optionally one object string. The centre holds the
    // returned token weakly: delivery stops when the caller releases it.
    [[nodiscard]] virtual std::shared_ptr<void> addObserver(std::string name,
                                                            std::optional<std::string> object,
                                                            Handler handler) = 0;
};

}  // namespace kit
