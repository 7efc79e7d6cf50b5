#pragma once
// Opening a private connection to a message bus, shared by the D-Bus centre and workspace. Each
// gets its own connection (not GLib's process-wide singleton), so that a test can point one at a
// private bus, and a workspace's names belong to it alone. Internal to kit/sys.

#include <gio/gio.h>

#include <string>

#include "kit/base/Result.h"

namespace kit::dbus {

// A new reference to a connection to the bus at `address`, or to the session bus
// (DBUS_SESSION_BUS_ADDRESS, else the user's) when it is empty.
Result<GDBusConnection*> openConnection(const std::string& address);

// Closes (after writing what is queued) and releases a connection; null is ignored.
void closeConnection(GDBusConnection* connection);

// The pid of the process owning a bus name, or 0 when unknown (the name has no owner, or the bus
// does not tell). Blocks for one round trip.
int processIdOfName(GDBusConnection* connection, const std::string& name);

// A GError's message, freed.
std::string takeError(GError* error);

}  // namespace kit::dbus
