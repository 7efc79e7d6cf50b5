#pragma once
// Opening a private connection to a message bus, shared by the D-Bus centre and workspace. Each
// gets its own connection (not GLib's process-wide singleton), so that a test can point one at a
// private bus, and a workspace's names belong to it alone. Internal to kit/sys.

#include <gio/gio.h>

#include <string>
#include <utility>

#include "kit/base/Result.h"

namespace kit::dbus {

// A connection this process opened and owns: closed (after writing what is queued) and released
// when it goes, or earlier by close() where the order of tearing down matters.
class BusConnection {
public:
    BusConnection() = default;
    explicit BusConnection(GDBusConnection* adopted) : connection_(adopted) {}
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;
    BusConnection(BusConnection&& other) noexcept : connection_(std::exchange(other.connection_, nullptr)) {}
    BusConnection& operator=(BusConnection&& other) noexcept {
        if (this != &other) {
            close();
            connection_ = std::exchange(other.connection_, nullptr);
        }
        return *this;
    }
    ~BusConnection() { close(); }

    // Borrowed: valid while this object holds the connection.
    GDBusConnection* get() const { return connection_; }
    explicit operator bool() const { return connection_ != nullptr; }
    // Closes and releases the connection now; nothing when none is held.
    void close();

private:
    GDBusConnection* connection_ = nullptr;
};

// A connection to the bus at `address`, or to the session bus (DBUS_SESSION_BUS_ADDRESS, else the
// user's) when it is empty.
Result<BusConnection> openConnection(const std::string& address);

// The pid of the process owning a bus name, or 0 when unknown (the name has no owner, or the bus
// does not tell). Blocks for one round trip.
int processIdOfName(GDBusConnection* connection, const std::string& name);

// A GError's message, freed.
std::string takeError(GError* error);

}  // namespace kit::dbus
