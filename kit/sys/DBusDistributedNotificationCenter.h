#pragma once
// Distributed notifications on a D-Bus bus (the user's session bus by default). A post is one
// broadcast signal; each observed name is one signal subscription (matched on the name, so the
// bus only wakes processes that listen). Signals arrive on the GLib main context of the thread
// that created the centre and are delivered to observers on a later turn of RunLoop::main(),
// never inside post(), also for notifications this process posted itself.
//
// The wire form (see DistributedNotificationWire.h for the value types):
//   path "/com/morvane/DistributedNotification", interface "com.morvane.DistributedNotification",
//   member "Posted", arguments (s name, s object, a{sv} userInfo).
// Posting {"data": true} under the name "MyNotification" from a shell (one line):
//   gdbus emit --session --object-path /com/morvane/DistributedNotification --signal com.morvane.DistributedNotification.Posted "'MyNotification'" "''" "{'data': <true>}"
// Signals of another form, and values that cannot be mapped, are logged and left out.

#include <memory>
#include <string>

#include "kit/base/Result.h"
#include "kit/sys/DistributedNotificationCenter.h"

namespace kit {

class DBusDistributedNotificationCenter final : public DistributedNotificationCenter {
public:
    // Connects to the bus at a D-Bus address, or to the session bus (DBUS_SESSION_BUS_ADDRESS,
    // else the user's) when the address is empty. Create it on the main thread.
    static Result<std::shared_ptr<DBusDistributedNotificationCenter>> connect(const std::string& address = {});
    // A centre without a bus: it only delivers within this process (logged once at creation).
    static std::shared_ptr<DBusDistributedNotificationCenter> disconnected();

    ~DBusDistributedNotificationCenter() override;

    void post(const std::string& name, const std::string& object = {}, const Value& userInfo = {}) override;
    [[nodiscard]] std::shared_ptr<void> addObserver(std::string name, std::optional<std::string> object,
                                                    Handler handler) override;

    bool isConnected() const;
    // The connection's unique bus name (":1.42"); empty when disconnected.
    std::string uniqueBusName() const;
    // Blocks until the bus has routed every post and installed every subscription made so far
    // (before a process exits, or before another process is told to post).
    void flush();

    struct Impl;

private:
    explicit DBusDistributedNotificationCenter(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

}  // namespace kit
