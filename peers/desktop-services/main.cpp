// QuarnDesktopServices: stand-ins for the desktop's own services on the session bus, for the
// tests of the status item, hot keys and capture on desktops without XEmbed trays or X key grabs.
//
//   --watcher              org.kde.StatusNotifierWatcher (a tray host that shows every item)
//   --shortcuts            the portal's GlobalShortcuts interface, accepting every binding
//   --shortcuts=refuse     the same, refusing every binding
//   --screenshot=<file>    the portal's Screenshot interface, answering with the file
//   --screenshot=cancel    the same, answering that the user cancelled
//   --screenshot=fail      the same, answering that the capture failed
//   --settings=<scheme>    the portal's Settings interface, whose org.freedesktop.appearance
//                          color-scheme is dark, light or none (no preference)
//   --control <fifo>       read commands from this FIFO (created when missing)
//
// Commands: "activate <shortcut id>" emits the portal's Activated for the session holding the
// shortcut; "scheme dark|light|none" changes the color-scheme and emits SettingChanged; "quit".
// Every event is one line on standard output, flushed at once:
//   ready
//   registered <service> <object path>        (an item registered with the watcher)
//   create-session <session>                  bind <session> <shortcut id> <preferred trigger>
//   close-session <session>                   activated <session> <shortcut id>
//   screenshot interactive=<true|false>       error <text>
//   read <namespace> <key>                    scheme <dark|light|none>

#include <fcntl.h>
#include <gio/gio.h>
#include <glib-unix.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

const char* kWatcherXml = R"xml(<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface></node>)xml";

const char* kShortcutsXml = R"xml(<node><interface name="org.freedesktop.portal.GlobalShortcuts">
  <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
    <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
  <signal name="Deactivated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
  <property name="version" type="u" access="read"/>
</interface></node>)xml";

const char* kScreenshotXml = R"xml(<node><interface name="org.freedesktop.portal.Screenshot">
  <method name="Screenshot"><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <property name="version" type="u" access="read"/>
</interface></node>)xml";

const char* kSettingsXml = R"xml(<node><interface name="org.freedesktop.portal.Settings">
  <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
  <property name="version" type="u" access="read"/>
</interface></node>)xml";

const char* kSessionXml = R"xml(<node><interface name="org.freedesktop.portal.Session">
  <method name="Close"/>
</interface></node>)xml";

struct Session {
    std::string owner;
    guint registration = 0;
    std::vector<std::string> shortcuts;
};

struct State {
    GDBusConnection* bus = nullptr;
    GMainLoop* loop = nullptr;
    bool watcher = false;
    bool shortcuts = false;
    bool refuseShortcuts = false;
    std::string screenshot;  // a file, "cancel" or "fail"; empty: no Screenshot interface
    std::string scheme;      // "dark", "light" or "none"; empty: no Settings interface
    std::vector<std::string> items;
    std::map<std::string, Session> sessions;
    int namesPending = 0;
    GDBusNodeInfo* sessionInfo = nullptr;
};

State state;

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The sender's unique name as the portal writes it in object paths: ":1.42" is "1_42".
std::string senderPart(const char* sender) {
    std::string part = sender[0] == ':' ? sender + 1 : sender;
    for (char& c : part)
        if (c == '.') c = '_';
    return part;
}

std::string optionString(GVariant* options, const char* key, const std::string& fallback) {
    const char* value = nullptr;
    if (options && g_variant_lookup(options, key, "&s", &value) && value) return value;
    return fallback;
}

std::string requestPath(const char* sender, GVariant* options) {
    static int counter = 0;
    return std::string(kPortalPath) + "/request/" + senderPart(sender) + "/" +
           optionString(options, "handle_token", "t" + std::to_string(++counter));
}

// A Response on the request object, sent (as the portal does) to the caller alone.
void respond(const char* sender, const std::string& request, guint32 code, GVariant* results) {
    g_dbus_connection_emit_signal(state.bus, sender, request.c_str(), "org.freedesktop.portal.Request", "Response",
                                  g_variant_new("(u@a{sv})", code, results), nullptr);
}

GVariant* emptyResults() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }

void sessionCall(GDBusConnection*, const char*, const char* path, const char*, const char* method, GVariant*,
                 GDBusMethodInvocation* invocation, gpointer) {
    if (std::strcmp(method, "Close") == 0) {
        auto it = state.sessions.find(path);
        if (it != state.sessions.end()) {
            g_dbus_connection_unregister_object(state.bus, it->second.registration);
            state.sessions.erase(it);
            say(std::string("close-session ") + path);
        }
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void shortcutsCall(const char* sender, const char* method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (std::strcmp(method, "CreateSession") == 0) {
        GVariant* options = g_variant_get_child_value(parameters, 0);
        const std::string request = requestPath(sender, options);
        const std::string session = std::string(kPortalPath) + "/session/" + senderPart(sender) + "/" +
                                    optionString(options, "session_handle_token", "s" + std::to_string(state.sessions.size()));
        g_variant_unref(options);
        static const GDBusInterfaceVTable vtable{sessionCall, nullptr, nullptr, {}};
        GError* error = nullptr;
        const guint id = g_dbus_connection_register_object(state.bus, session.c_str(), state.sessionInfo->interfaces[0],
                                                           &vtable, nullptr, nullptr, &error);
        if (!id) {
            g_dbus_method_invocation_return_gerror(invocation, error);
            g_error_free(error);
            return;
        }
        state.sessions[session] = Session{sender, id, {}};
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        say("create-session " + session);
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(session.c_str()));
        respond(sender, request, 0, g_variant_builder_end(&results));
        return;
    }
    if (std::strcmp(method, "BindShortcuts") == 0) {
        const char* session = nullptr;
        GVariantIter* shortcuts = nullptr;
        const char* parent = nullptr;
        GVariant* options = nullptr;
        g_variant_get(parameters, "(&oa(sa{sv})&s@a{sv})", &session, &shortcuts, &parent, &options);
        const std::string request = requestPath(sender, options);
        g_variant_unref(options);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        auto it = state.sessions.find(session);
        GVariantBuilder bound;
        g_variant_builder_init(&bound, G_VARIANT_TYPE("a(sa{sv})"));
        const char* id = nullptr;
        GVariant* properties = nullptr;
        while (g_variant_iter_next(shortcuts, "(&s@a{sv})", &id, &properties)) {
            const std::string trigger = optionString(properties, "preferred_trigger", "");
            say(std::string("bind ") + session + " " + id + " " + (trigger.empty() ? "-" : trigger));
            GVariantBuilder shortcut;
            g_variant_builder_init(&shortcut, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&shortcut, "{sv}", "description",
                                  g_variant_new_string(optionString(properties, "description", id).c_str()));
            g_variant_builder_add(&shortcut, "{sv}", "trigger_description", g_variant_new_string(trigger.c_str()));
            g_variant_builder_add(&bound, "(s@a{sv})", id, g_variant_builder_end(&shortcut));
            if (it != state.sessions.end() && !state.refuseShortcuts) it->second.shortcuts.push_back(id);
            g_variant_unref(properties);
        }
        g_variant_iter_free(shortcuts);
        if (state.refuseShortcuts || it == state.sessions.end()) {
            g_variant_builder_clear(&bound);
            respond(sender, request, 1, emptyResults());
            return;
        }
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&results, "{sv}", "shortcuts", g_variant_builder_end(&bound));
        respond(sender, request, 0, g_variant_builder_end(&results));
        return;
    }
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s", method);
}

void screenshotCall(const char* sender, GVariant* parameters, GDBusMethodInvocation* invocation) {
    GVariant* options = g_variant_get_child_value(parameters, 1);
    gboolean interactive = FALSE;
    g_variant_lookup(options, "interactive", "b", &interactive);
    const std::string request = requestPath(sender, options);
    g_variant_unref(options);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    say(std::string("screenshot interactive=") + (interactive ? "true" : "false"));
    if (state.screenshot == "cancel" || state.screenshot == "fail") {
        respond(sender, request, state.screenshot == "cancel" ? 1 : 2, emptyResults());
        return;
    }
    gchar* uri = g_filename_to_uri(state.screenshot.c_str(), nullptr, nullptr);
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&results, "{sv}", "uri", g_variant_new_string(uri ? uri : ""));
    g_free(uri);
    respond(sender, request, 0, g_variant_builder_end(&results));
}

constexpr const char* kAppearance = "org.freedesktop.appearance";

// The color-scheme's value: 1 prefers dark, 2 prefers light, 0 states no preference.
GVariant* schemeValue() { return g_variant_new_uint32(state.scheme == "dark" ? 1 : state.scheme == "light" ? 2 : 0); }

void settingsCall(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    const char* space = nullptr;
    const char* key = nullptr;
    g_variant_get(parameters, "(&s&s)", &space, &key);
    say(std::string("read ") + space + " " + key);
    if (std::strcmp(space, kAppearance) != 0 || std::strcmp(key, "color-scheme") != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                                   "Requested setting not found");
        return;
    }
    // Read, the older method, answers the value wrapped in one more variant.
    GVariant* value = std::strcmp(method, "Read") == 0 ? g_variant_new_variant(schemeValue()) : schemeValue();
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
}

void changeScheme(const std::string& scheme) {
    if (scheme != "dark" && scheme != "light" && scheme != "none") {
        say("error no such scheme " + scheme);
        return;
    }
    state.scheme = scheme;
    g_dbus_connection_emit_signal(state.bus, nullptr, kPortalPath, "org.freedesktop.portal.Settings", "SettingChanged",
                                  g_variant_new("(ssv)", kAppearance, "color-scheme", schemeValue()), nullptr);
    g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
    say("scheme " + scheme);
}

void portalCall(GDBusConnection*, const char* sender, const char*, const char* interface, const char* method,
                GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    if (std::strcmp(interface, "org.freedesktop.portal.Settings") == 0) {
        settingsCall(method, parameters, invocation);
    } else if (std::strcmp(interface, "org.freedesktop.portal.Screenshot") == 0) {
        screenshotCall(sender, parameters, invocation);
    } else {
        shortcutsCall(sender, method, parameters, invocation);
    }
}

GVariant* portalProperty(GDBusConnection*, const char*, const char*, const char* interface, const char*, GError**,
                         gpointer) {
    return g_variant_new_uint32(std::strcmp(interface, "org.freedesktop.portal.Settings") == 0 ? 2 : 1);
}

void watcherCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                 GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    if (std::strcmp(method, "RegisterStatusNotifierItem") == 0) {
        const char* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        // A path alone means the caller's unique name at that path.
        std::string name = service[0] == '/' ? sender : service;
        std::string path = service[0] == '/' ? service : "/StatusNotifierItem";
        state.items.push_back(name + path);
        say("registered " + name + " " + path);
        g_dbus_connection_emit_signal(state.bus, nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                      "StatusNotifierItemRegistered", g_variant_new("(s)", (name + path).c_str()), nullptr);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* watcherProperty(GDBusConnection*, const char*, const char*, const char*, const char* property, GError**,
                          gpointer) {
    if (std::strcmp(property, "RegisteredStatusNotifierItems") == 0) {
        std::vector<const char*> items;
        for (const auto& item : state.items) items.push_back(item.c_str());
        return g_variant_new_strv(items.data(), static_cast<gssize>(items.size()));
    }
    if (std::strcmp(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
    return g_variant_new_int32(0);
}

bool exportObject(const char* path, const char* xml, GDBusInterfaceMethodCallFunc call, GDBusInterfaceGetPropertyFunc get) {
    GError* error = nullptr;
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, &error);
    if (!info) {
        say(std::string("error ") + error->message);
        g_error_free(error);
        return false;
    }
    auto* vtable = new GDBusInterfaceVTable{call, get, nullptr, {}};
    const guint id = g_dbus_connection_register_object(state.bus, path, info->interfaces[0], vtable, nullptr, nullptr, &error);
    g_dbus_node_info_unref(info);
    if (!id) {
        say(std::string("error ") + error->message);
        g_error_free(error);
        return false;
    }
    return true;
}

void activate(const std::string& shortcut) {
    for (const auto& [path, session] : state.sessions) {
        for (const auto& id : session.shortcuts) {
            if (id != shortcut) continue;
            const guint64 now = static_cast<guint64>(g_get_real_time() / 1000);
            g_dbus_connection_emit_signal(state.bus, session.owner.c_str(), kPortalPath,
                                          "org.freedesktop.portal.GlobalShortcuts", "Activated",
                                          g_variant_new("(ost@a{sv})", path.c_str(), id.c_str(), now, emptyResults()),
                                          nullptr);
            g_dbus_connection_emit_signal(state.bus, session.owner.c_str(), kPortalPath,
                                          "org.freedesktop.portal.GlobalShortcuts", "Deactivated",
                                          g_variant_new("(ost@a{sv})", path.c_str(), id.c_str(), now, emptyResults()),
                                          nullptr);
            g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
            say("activated " + path + " " + id);
            return;
        }
    }
    say("error no session holds the shortcut " + shortcut);
}

void command(const std::string& line) {
    if (line.starts_with("activate ")) {
        activate(line.substr(9));
    } else if (line.starts_with("scheme ")) {
        changeScheme(line.substr(7));
    } else if (line == "quit") {
        g_main_loop_quit(state.loop);
    } else if (!line.empty()) {
        say("error unknown command \"" + line + "\"");
    }
}

gboolean controlReadable(gint fd, GIOCondition, gpointer data) {
    auto* pending = static_cast<std::string*>(data);
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) pending->append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending->find('\n')) != std::string::npos;) {
        std::string line = pending->substr(0, end);
        pending->erase(0, end + 1);
        command(line);
    }
    return G_SOURCE_CONTINUE;
}

void owned(GDBusConnection*, const char*, gpointer) {
    if (--state.namesPending == 0) say("ready");
}

void lost(GDBusConnection*, const char* name, gpointer) {
    say(std::string("error cannot own ") + name);
    g_main_loop_quit(state.loop);
}

}  // namespace

int main(int argc, char** argv) {
    std::string control;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--watcher") state.watcher = true;
        else if (arg == "--shortcuts") state.shortcuts = true;
        else if (arg == "--shortcuts=refuse") state.shortcuts = state.refuseShortcuts = true;
        else if (arg.rfind("--screenshot=", 0) == 0) state.screenshot = arg.substr(13);
        else if (arg == "--settings=dark" || arg == "--settings=light" || arg == "--settings=none")
            state.scheme = arg.substr(11);
        else if (arg == "--control" && i + 1 < argc) control = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: QuarnDesktopServices [--watcher] [--shortcuts[=refuse]] "
                         "[--screenshot=<file>|cancel|fail] [--settings=dark|light|none] [--control <fifo>]\n");
            return 2;
        }
    }
    GError* error = nullptr;
    state.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!state.bus) {
        std::fprintf(stderr, "QuarnDesktopServices: no session bus: %s\n", error->message);
        return 1;
    }
    g_dbus_connection_set_exit_on_close(state.bus, FALSE);
    state.loop = g_main_loop_new(nullptr, FALSE);
    state.sessionInfo = g_dbus_node_info_new_for_xml(kSessionXml, nullptr);

    if (state.shortcuts && !exportObject(kPortalPath, kShortcutsXml, portalCall, portalProperty)) return 1;
    if (!state.screenshot.empty() && !exportObject(kPortalPath, kScreenshotXml, portalCall, portalProperty)) return 1;
    if (!state.scheme.empty() && !exportObject(kPortalPath, kSettingsXml, portalCall, portalProperty)) return 1;
    if (state.watcher && !exportObject("/StatusNotifierWatcher", kWatcherXml, watcherCall, watcherProperty)) return 1;

    std::string pending;
    if (!control.empty()) {
        if (::access(control.c_str(), F_OK) != 0 && ::mkfifo(control.c_str(), 0600) != 0) {
            std::perror("QuarnDesktopServices: mkfifo");
            return 1;
        }
        // Read and write: writers may come and go without an end of file.
        const int fd = ::open(control.c_str(), O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            std::perror("QuarnDesktopServices: control");
            return 1;
        }
        g_unix_fd_add(fd, G_IO_IN, controlReadable, &pending);
    }
    g_unix_signal_add(SIGTERM, +[](gpointer) -> gboolean {
        g_main_loop_quit(state.loop);
        return G_SOURCE_REMOVE;
    }, nullptr);

    std::vector<const char*> names;
    if (state.shortcuts || !state.screenshot.empty() || !state.scheme.empty()) names.push_back(kPortalName);
    if (state.watcher) names.push_back("org.kde.StatusNotifierWatcher");
    state.namesPending = static_cast<int>(names.size());
    if (names.empty()) say("ready");
    for (const char* name : names) {
        g_bus_own_name_on_connection(state.bus, name, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, owned, lost, nullptr, nullptr);
    }
    g_main_loop_run(state.loop);
    say("bye");
    if (!control.empty()) ::unlink(control.c_str());
    g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
    return 0;
}
