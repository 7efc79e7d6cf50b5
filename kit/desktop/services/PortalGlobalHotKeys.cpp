#include "kit/desktop/services/PortalGlobalHotKeys.h"

#include <algorithm>
#include <cerrno>

#include "kit/base/Log.h"
#include "kit/desktop/FrameTrace.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/X11.h"
#include "kit/desktop/services/DesktopPortal.h"
#include "kit/sys/DBusConnection.h"

namespace kit::desktop {

namespace {
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";

std::string shortcutIdFor(const HotKeyCombination& combination) {
    return "hotkey-" + std::to_string(combination.keyCode) + "-" + std::to_string(combination.modifierFlags);
}
}  // namespace

std::optional<std::string> PortalGlobalHotKeys::triggerFor(const HotKeyCombination& combination) {
    auto keysym = keysymForVirtualKey(combination.keyCode);
    if (!keysym) return std::nullopt;
    const char* name = XKeysymToString(*keysym);
    if (!name) return std::nullopt;
    std::string trigger;
    if (combination.modifierFlags & HotKeyModifier::Control) trigger += "CTRL+";
    if (combination.modifierFlags & HotKeyModifier::Option) trigger += "ALT+";
    if (combination.modifierFlags & HotKeyModifier::Shift) trigger += "SHIFT+";
    if (combination.modifierFlags & HotKeyModifier::Command) trigger += "LOGO+";
    return trigger + name;
}

Result<std::shared_ptr<PortalGlobalHotKeys>> PortalGlobalHotKeys::make(const std::string& busAddress) {
    auto bus = dbus::openConnection(busAddress);
    if (!bus) return Error{bus.error()};
    return std::shared_ptr<PortalGlobalHotKeys>(new PortalGlobalHotKeys(std::move(*bus)));
}

PortalGlobalHotKeys::PortalGlobalHotKeys(dbus::BusConnection bus) : bus_(std::move(bus)) {
    activatedSubscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), portal::kBusName, kInterface, "Activated", portal::kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer self) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
            const char* session = nullptr;
            const char* id = nullptr;
            g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
            try {
                static_cast<PortalGlobalHotKeys*>(self)->activated(session, id);
            } catch (...) {
                logLine("Uncaught exception in a hot-key handler");
            }
        },
        this, nullptr);
}

PortalGlobalHotKeys::~PortalGlobalHotKeys() {
    g_dbus_connection_signal_unsubscribe(bus_.get(), activatedSubscription_);
    for (const Binding& binding : bindings_) closeSession(binding.session);
    bindings_.clear();
    bus_.close();
}

Result<VariantRef> PortalGlobalHotKeys::request(const char* method, GVariant* parameters, const std::string& token) {
    // Only the portal's answer runs while we wait: its signal is delivered in a context of its own.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    std::optional<guint32> response;
    VariantRef results;
    auto watch = std::make_unique<portal::ResponseWatch>(bus_.get(), portal::requestPath(bus_.get(), token),
                                                         [&](guint32 code, GVariant* answer) {
                                                             response = code;
                                                             results = VariantRef::retain(answer);
                                                         });
    GError* error = nullptr;
    auto reply = VariantRef::adopt(g_dbus_connection_call_sync(bus_.get(), portal::kBusName, portal::kObjectPath,
                                                               kInterface, method, parameters, G_VARIANT_TYPE("(o)"),
                                                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error));
    bool timedOut = false;
    if (reply) {
        GSource* timeout = g_timeout_source_new_seconds(kBindTimeoutSeconds);
        g_source_set_callback(timeout, +[](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        }, &timedOut, nullptr);
        g_source_attach(timeout, context);
        while (!response && !timedOut) g_main_context_iteration(context, TRUE);
        g_source_destroy(timeout);
        g_source_unref(timeout);
    }
    watch.reset();
    g_main_context_pop_thread_default(context);
    // Whatever the subscription left queued in the context goes with it.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
    if (!reply) return Error{"the desktop portal offers no global shortcuts: " + dbus::takeError(error)};
    if (!response) return Error{"the desktop portal did not answer"};
    if (*response != portal::kResponseSuccess) {
        return Error{*response == portal::kResponseCancelled ? "the user refused the shortcut"
                                                             : "the desktop portal refused the shortcut"};
    }
    return results;
}

Status PortalGlobalHotKeys::grab(const HotKeyCombination& combination) {
    auto trigger = triggerFor(combination);
    if (!trigger) return Error{"no key has the virtual key code " + std::to_string(combination.keyCode)};
    const std::string id = shortcutIdFor(combination);

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    std::string token = portal::newToken();
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(portal::newToken().c_str()));
    auto created = request("CreateSession", g_variant_new("(a{sv})", &options), token);
    if (!created) {
        logf("Global hot key %s not set: %s", trigger->c_str(), created.error().c_str());
        return Error{created.error()};
    }
    std::string session;
    if (auto handle = VariantRef::adopt(g_variant_lookup_value(created->get(), "session_handle", nullptr))) {
        // Older portals answer with a string, newer ones with an object path.
        if (g_variant_is_of_type(handle.get(), G_VARIANT_TYPE_STRING) ||
            g_variant_is_of_type(handle.get(), G_VARIANT_TYPE_OBJECT_PATH))
            session = g_variant_get_string(handle.get(), nullptr);
    }
    if (!g_variant_is_object_path(session.c_str())) {
        logf("Global hot key %s not set: the desktop portal gave no session", trigger->c_str());
        return Error{"the desktop portal gave no session"};
    }

    const char* application = g_get_application_name();
    const std::string description =
        std::string(application ? application : program_invocation_short_name) + " (" + *trigger + ")";
    GVariantBuilder shortcut;
    g_variant_builder_init(&shortcut, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&shortcut, "{sv}", "description", g_variant_new_string(description.c_str()));
    g_variant_builder_add(&shortcut, "{sv}", "preferred_trigger", g_variant_new_string(trigger->c_str()));
    GVariantBuilder shortcuts;
    g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
    g_variant_builder_add(&shortcuts, "(sa{sv})", id.c_str(), &shortcut);
    GVariantBuilder bindOptions;
    g_variant_builder_init(&bindOptions, G_VARIANT_TYPE("a{sv}"));
    token = portal::newToken();
    g_variant_builder_add(&bindOptions, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    auto bound = request("BindShortcuts", g_variant_new("(oa(sa{sv})sa{sv})", session.c_str(), &shortcuts, "", &bindOptions),
                         token);
    bool holds = false;
    if (bound) {
        // The user may have bound nothing: the shortcut counts only when the answer lists it.
        auto list = VariantRef::adopt(g_variant_lookup_value(bound->get(), "shortcuts", G_VARIANT_TYPE("a(sa{sv})")));
        if (list) {
            GVariantIter iter;
            g_variant_iter_init(&iter, list.get());
            const char* boundId = nullptr;
            while (g_variant_iter_next(&iter, "(&sa{sv})", &boundId, nullptr)) holds = holds || id == boundId;
        }
    }
    if (!holds) {
        const std::string why = bound ? std::string("the shortcut was not bound") : bound.error();
        logf("Global hot key %s not set: %s", trigger->c_str(), why.c_str());
        closeSession(session);
        return Error{why};
    }
    bindings_.push_back(Binding{combination, session, id});
    return Status::success();
}

void PortalGlobalHotKeys::ungrab(const HotKeyCombination& combination) {
    auto it = std::find_if(bindings_.begin(), bindings_.end(), [&](const Binding& b) { return b.combination == combination; });
    if (it == bindings_.end()) return;
    closeSession(it->session);
    bindings_.erase(it);
}

void PortalGlobalHotKeys::closeSession(const std::string& session) {
    g_dbus_connection_call(bus_.get(), portal::kBusName, session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void PortalGlobalHotKeys::activated(const std::string& session, const std::string& shortcutId) {
    auto it = std::find_if(bindings_.begin(), bindings_.end(),
                           [&](const Binding& b) { return b.session == session && b.shortcutId == shortcutId; });
    if (it == bindings_.end()) return;
    const HotKeyCombination combination = it->combination;
    traceHotKeyPressed(combination.keyCode, combination.modifierFlags);
    combinationPressed(combination);
}

}  // namespace kit::desktop
