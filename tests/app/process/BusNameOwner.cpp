// Test helper: owns a well-known name on the session bus until killed, standing in for another
// application of the session. Prints "owned" once the name is held; exits 1 if it cannot be.

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BUS_NAME\n", argv[0]);
        return 2;
    }
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_bus_own_name(
        G_BUS_TYPE_SESSION, argv[1], G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer) {
            std::printf("owned\n");
            std::fflush(stdout);
        },
        [](GDBusConnection*, const gchar*, gpointer) { std::exit(1); }, nullptr, nullptr);
    g_main_loop_run(loop);
    return 0;
}
