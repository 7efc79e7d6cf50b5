#include "kit/sys/DBusConnection.h"

#include "kit/base/GRef.h"

namespace kit::dbus {

std::string takeError(GError* error) {
    if (!error) return "unknown error";
    std::string message = error->message ? error->message : "unknown error";
    g_error_free(error);
    return message;
}

Result<BusConnection> openConnection(const std::string& address) {
    GError* error = nullptr;
    std::string busAddress = address;
    if (busAddress.empty()) {
        gchar* sessionAddress = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (!sessionAddress) return Error{"no session bus: " + takeError(error)};
        busAddress = sessionAddress;
        g_free(sessionAddress);
    }
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* connection =
        g_dbus_connection_new_for_address_sync(busAddress.c_str(), flags, nullptr, nullptr, &error);
    if (!connection) return Error{"cannot connect to the bus at " + busAddress + ": " + takeError(error)};
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return BusConnection(connection);
}

void BusConnection::close() {
    GDBusConnection* connection = std::exchange(connection_, nullptr);
    if (!connection) return;
    if (!g_dbus_connection_is_closed(connection)) {
        g_dbus_connection_flush_sync(connection, nullptr, nullptr);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
    }
    g_object_unref(connection);
}

int processIdOfName(GDBusConnection* connection, const std::string& name) {
    if (!connection || name.empty()) return 0;
    auto reply = VariantRef::adopt(g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    if (!reply) return 0;
    guint32 pid = 0;
    g_variant_get(reply.get(), "(u)", &pid);
    return static_cast<int>(pid);
}

}  // namespace kit::dbus
