#include "kit/desktop/services/StatusNotifierItem.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/services/TrayStatusItem.h"
#include "kit/sys/DBusConnection.h"
#include "kit/ui/Application.h"
#include "kit/ui/Image.h"
#include "kit/ui/Screen.h"

namespace kit::desktop {

namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kFallbackThemeIcon = "application-x-executable";

// The item has no menu, so it has no Menu property: hosts make a menu client for any path they
// are given ("/" and "/NO_DBUSMENU" alike) and warn when nothing there answers its GetLayout; a
// right click is the ContextMenu method.
const char* kItemXml = R"xml(<node><interface name="org.kde.StatusNotifierItem">
  <property name="Category" type="s" access="read"/>
  <property name="Id" type="s" access="read"/>
  <property name="Title" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="WindowId" type="i" access="read"/>
  <property name="IconThemePath" type="s" access="read"/>
  <property name="IconName" type="s" access="read"/>
  <property name="IconPixmap" type="a(iiay)" access="read"/>
  <property name="OverlayIconName" type="s" access="read"/>
  <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionIconName" type="s" access="read"/>
  <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionMovieName" type="s" access="read"/>
  <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
  <property name="ItemIsMenu" type="b" access="read"/>
  <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
  <method name="ProvideXdgActivationToken"><arg name="token" type="s" direction="in"/></method>
  <signal name="NewTitle"/>
  <signal name="NewIcon"/>
  <signal name="NewAttentionIcon"/>
  <signal name="NewOverlayIcon"/>
  <signal name="NewToolTip"/>
  <signal name="NewStatus"><arg name="status" type="s"/></signal>
</interface></node>)xml";

// The sizes of the pixmaps, in pixels: what panels draw at 1x and 2x.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48, 64};
// An item's frame on the display while the host has not said where it is: a panel's corner.
constexpr double kItemSide = 24;

GDBusInterfaceInfo* itemInterface() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
    return node->interfaces[0];
}

// The theme's text colour, which template images take where the host does not recolour them.
Color themeTextColour() { return Application::shared().isDarkMode() ? Color::white() : Color::black(); }

// The button's image as the panel shows it: resized to `pixels` (0: as it is), template images
// tinted with the theme's text colour.
Image buttonImage(const StatusItemButton& button, int pixels) {
    Image image = Image::named(button.imageName);
    if (!image) return image;
    if (pixels > 0) image = image.resized({pixels / image.scale(), pixels / image.scale()});
    if (button.imageIsTemplate || image.isTemplate()) image = image.tinted(themeTextColour());
    return image;
}

// ARGB32 in network byte order, not premultiplied, as the interface wants it.
GVariant* pixmapOf(const Image& image) {
    const int width = image.pixelWidth();
    const int height = image.pixelHeight();
    GByteArray* bytes = g_byte_array_sized_new(static_cast<guint>(width * height * 4));
    auto channel = [](double v) { return static_cast<guint8>(v <= 0 ? 0 : v >= 1 ? 255 : v * 255.0 + 0.5); };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Color c = image.pixelAt(x, y);
            const guint8 argb[4] = {channel(c.alpha), channel(c.red), channel(c.green), channel(c.blue)};
            g_byte_array_append(bytes, argb, 4);
        }
    }
    GBytes* data = g_byte_array_free_to_bytes(bytes);
    GVariant* array = g_variant_new_from_bytes(G_VARIANT_TYPE_BYTESTRING, data, TRUE);
    g_bytes_unref(data);
    return g_variant_new("(ii@ay)", width, height, array);
}

// The application's name: GLib's when set, else the program's (the executable is named after the
// product).
std::string applicationName() {
    if (const char* name = g_get_application_name()) return name;
    return program_invocation_short_name;
}

std::string runtimeIconFolder() {
    return (std::filesystem::path(g_get_user_runtime_dir()) / (applicationName() + "-status-icons")).string();
}

// The icon's file name: the image's name, made flat, and this process's id, so that another
// process of the same program never replaces or removes it.
std::string iconNameFor(std::string imageName) {
    for (char& c : imageName)
        if (c == '/') c = '-';
    return imageName + "-" + std::to_string(::getpid());
}

constexpr std::string_view kSymbolicSuffix = "-symbolic";

// Removes the icons that processes which ended without their clean-up left behind.
void removeStaleIcons(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string stem = entry.path().stem().string();
        if (stem.ends_with(kSymbolicSuffix)) stem.resize(stem.size() - kSymbolicSuffix.size());
        const auto dash = stem.rfind('-');
        const auto extension = entry.path().extension();
        if ((extension != ".png" && extension != ".svg") || dash == std::string::npos) continue;
        const long pid = std::strtol(stem.c_str() + dash + 1, nullptr, 10);
        if (kit::process::processHasEnded(pid)) std::filesystem::remove(entry.path(), error);
    }
}

// Writes <folder>/<file>, readable by the user alone; false when it cannot.
bool writePrivateIcon(const std::string& folder, const std::string& file, const char* bytes, std::size_t size) {
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) return false;
    g_chmod(folder.c_str(), 0700);
    const std::string path = folder + "/" + file;
    GError* error = nullptr;
    // Written beside and renamed over: a host reading the file never sees half of it.
    if (!g_file_set_contents_full(path.c_str(), bytes, static_cast<gssize>(size), G_FILE_SET_CONTENTS_CONSISTENT, 0600,
                                  &error)) {
        logf("The status item's icon cannot be written: %s", dbus::takeError(error).c_str());
        return false;
    }
    return true;
}

// Writes the image as <folder>/<name>.png; false when it cannot.
bool writeIconFile(const std::string& folder, const std::string& name, const Image& image) {
    if (name.empty() || name.front() == '.' || !image) return false;
    auto png = image.encode(ImageFormat::Png);
    if (!png) return false;
    return writePrivateIcon(folder, name + ".png", reinterpret_cast<const char*>(png->data()), png->size());
}

// Writes a template image's shape as <folder>/<name>-symbolic.svg: one rectangle in the text
// colour, masked by the shape. Hosts recolour a symbolic icon's rectangles and paths to their
// panel's text (GTK's icon themes) or set its ColorScheme-Text colour (Plasma); others draw it in
// `tint`. False when it cannot be written.
bool writeSymbolicIconFile(const std::string& folder, const std::string& name, const Image& shape, Color tint) {
    if (name.empty() || name.front() == '.' || !shape) return false;
    auto png = shape.tinted(Color::white()).encode(ImageFormat::Png);
    if (!png) return false;
    gchar* base64 = g_base64_encode(png->data(), png->size());
    const std::string w = std::to_string(shape.pixelWidth());
    const std::string h = std::to_string(shape.pixelHeight());
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%06x", tint.hex());
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"" + w +
        "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
        "\">\n"
        "  <style type=\"text/css\" id=\"current-color-scheme\">.ColorScheme-Text { color: " +
        colour +
        "; }</style>\n"
        "  <defs><mask id=\"shape\" maskUnits=\"userSpaceOnUse\" x=\"0\" y=\"0\" width=\"" +
        w + "\" height=\"" + h + "\"><image width=\"" + w + "\" height=\"" + h +
        "\" xlink:href=\"data:image/png;base64," + base64 +
        "\"/></mask></defs>\n"
        "  <rect class=\"ColorScheme-Text\" width=\"" +
        w + "\" height=\"" + h +
        "\" style=\"fill:currentColor\" mask=\"url(#shape)\"/>\n"
        "</svg>\n";
    g_free(base64);
    return writePrivateIcon(folder, name + std::string(kSymbolicSuffix) + ".svg", svg.data(), svg.size());
}

int nextItemNumber() {
    static int number = 0;
    return ++number;
}

}  // namespace

Result<std::unique_ptr<StatusNotifierItem>> StatusNotifierItem::make(GDBusConnection* bus, StatusItem& item) {
    std::unique_ptr<StatusNotifierItem> self(new StatusNotifierItem(bus, item));
    static const GDBusInterfaceVTable vtable{
        &StatusNotifierItem::methodCall, &StatusNotifierItem::property, nullptr, {}};
    GError* error = nullptr;
    self->registration_ =
        g_dbus_connection_register_object(bus, kObjectPath, itemInterface(), &vtable, self.get(), nullptr, &error);
    if (!self->registration_) return Error{"cannot export the status item: " + dbus::takeError(error)};
    self->serviceName_ =
        "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" + std::to_string(nextItemNumber());
    auto reply = VariantRef::adopt(g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", self->serviceName_.c_str(), 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error));
    if (!reply) {
        // The unique name still identifies the item to every watcher.
        logf("The status item keeps its unique bus name: %s", dbus::takeError(error).c_str());
        self->serviceName_ = g_dbus_connection_get_unique_name(bus);
    } else {
        guint32 answer = 0;
        g_variant_get(reply.get(), "(u)", &answer);
        if (answer != 1 /* PRIMARY_OWNER */) self->serviceName_ = g_dbus_connection_get_unique_name(bus);
    }
    self->iconFolder_ = runtimeIconFolder();
    removeStaleIcons(self->iconFolder_);
    self->update();
    return self;
}

StatusNotifierItem::~StatusNotifierItem() {
    alive_.end();
    if (registration_) g_dbus_connection_unregister_object(bus_, registration_);
    if (serviceName_ != g_dbus_connection_get_unique_name(bus_)) {
        // Hosts watch the name: its release takes the item off the panel.
        g_dbus_connection_call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "ReleaseName", g_variant_new("(s)", serviceName_.c_str()), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }
    removeIconFiles();
}

void StatusNotifierItem::removeIconFiles() {
    if (iconName_.empty()) return;
    g_unlink((iconFolder_ + "/" + iconName_ + ".png").c_str());
    if (symbolic_) g_unlink((iconFolder_ + "/" + iconName_ + std::string(kSymbolicSuffix) + ".svg").c_str());
}

std::string StatusNotifierItem::iconNameForHosts() const {
    if (iconName_.empty()) return kFallbackThemeIcon;
    return symbolic_ ? iconName_ + std::string(kSymbolicSuffix) : iconName_;
}

void StatusNotifierItem::registerWithWatcher() {
    auto* context = new LifetimeWatch(alive_.watch());
    g_dbus_connection_call(
        bus_, DesktopStatusItemPeer::kWatcherName, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
        "RegisterStatusNotifierItem", g_variant_new("(s)", serviceName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<LifetimeWatch> alive(static_cast<LifetimeWatch*>(data));
            GError* error = nullptr;
            auto reply = VariantRef::adopt(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
            if (reply) return;
            if (!alive->expired()) {
                logf("The status item could not be registered with the tray: %s", dbus::takeError(error).c_str());
            } else {
                g_error_free(error);
            }
        },
        context);
}

std::string StatusNotifierItem::title() const {
    const auto& tip = item_.button().toolTip;
    if (!tip.empty()) return tip;
    return applicationName();
}

GVariant* StatusNotifierItem::pixmaps() const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    if (shown_) {
        for (int size : kPixmapSizes) {
            if (Image image = buttonImage(item_.button(), size)) g_variant_builder_add_value(&builder, pixmapOf(image));
        }
    }
    return g_variant_builder_end(&builder);
}

GVariant* StatusNotifierItem::toolTip() const {
    GVariant* noPixmaps = g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
    return g_variant_new("(s@a(iiay)ss)", iconName_.empty() ? "" : iconNameForHosts().c_str(), noPixmaps,
                         title_.c_str(), "");
}

void StatusNotifierItem::update() {
    const auto& button = item_.button();
    Image image = buttonImage(button, 0);
    const std::string title = this->title();
    // What the icon looks like depends on the image, its tint and the theme.
    const std::string iconKey = button.imageName + (image ? "+" : "-") +
                                (button.imageIsTemplate || image.isTemplate() ? "t" : "") +
                                (Application::shared().isDarkMode() ? "d" : "l");
    const bool iconChanged = iconKey != iconKey_;
    const bool titleChanged = title != title_;
    iconKey_ = iconKey;
    shown_ = image;
    title_ = title;
    if (iconChanged) {
        removeIconFiles();
        const std::string name = iconNameFor(button.imageName);
        const Image large = buttonImage(button, 64);
        iconName_ = writeIconFile(iconFolder_, name, large) ? name : "";
        const bool isTemplate = button.imageIsTemplate || (image && image.isTemplate());
        symbolic_ =
            !iconName_.empty() && isTemplate && writeSymbolicIconFile(iconFolder_, name, large, themeTextColour());
        emit("NewIcon");
    }
    if (titleChanged) emit("NewTitle");
    if (iconChanged || titleChanged) emit("NewToolTip");
    reportWindow();
}

void StatusNotifierItem::emit(const char* signal, GVariant* arguments) {
    g_dbus_connection_emit_signal(bus_, nullptr, kObjectPath, kItemInterface, signal, arguments, nullptr);
}

void StatusNotifierItem::reportWindow() {
    // The host does not say where it shows the item: the last click's place, else the end of the
    // main screen's panel, on the side the work area leaves to it (the top right without one).
    Rect frame;
    if (hasClickPoint_) {
        const Point p = CoordinateSpace::current().toKit(clickX_, clickY_);
        frame = Rect{p.x - kItemSide / 2, p.y - kItemSide / 2, kItemSide, kItemSide};
    } else if (auto screen = Screen::mainScreen()) {
        const Rect s = screen->frame();
        const Rect v = screen->visibleFrame();
        const bool bottomPanel = v.minY() > s.minY() && v.maxY() >= s.maxY();
        const bool leftPanel = v.minX() > s.minX() && v.maxY() >= s.maxY() && v.minY() <= s.minY();
        frame = Rect{leftPanel ? s.minX() : s.maxX() - kItemSide, bottomPanel ? s.minY() : s.maxY() - kItemSide,
                     kItemSide, kItemSide};
    }
    item_.setWindowState(true, kWindowOcclusionStateVisible, frame);
}

void StatusNotifierItem::methodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                                    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<StatusNotifierItem*>(data);
    if (std::strcmp(method, "Activate") == 0) {
        gint32 x = 0;
        gint32 y = 0;
        g_variant_get(parameters, "(ii)", &x, &y);
        // Hosts that do not know the place send 0, 0.
        if (x != 0 || y != 0) {
            self->hasClickPoint_ = true;
            self->clickX_ = x;
            self->clickY_ = y;
        }
        // The click may remove the item, and with it this object: not under this call.
        LifetimeWatch alive = self->alive_.watch();
        RunLoop::main().post([self, alive] {
            if (alive.expired()) return;
            self->reportWindow();
            try {
                self->item_.performClick();
            } catch (...) {
                logLine("Uncaught exception in a status item's action");
            }
        });
    }
    // The other methods (menu, secondary click, scrolling, activation tokens) have nothing to do.
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* StatusNotifierItem::property(GDBusConnection*, const char*, const char*, const char*, const char* name,
                                       GError**, gpointer data) {
    auto* self = static_cast<StatusNotifierItem*>(data);
    const std::string_view property = name;
    if (property == "Category") return g_variant_new_string("ApplicationStatus");
    if (property == "Id") return g_variant_new_string(applicationName().c_str());
    if (property == "Title") return g_variant_new_string(self->title_.c_str());
    if (property == "Status") return g_variant_new_string("Active");
    if (property == "WindowId") return g_variant_new_int32(0);
    if (property == "IconThemePath")
        return g_variant_new_string(self->iconName_.empty() ? "" : self->iconFolder_.c_str());
    // Without its image the item still shows, as the tray's does, with the theme's program icon.
    if (property == "IconName") return g_variant_new_string(self->iconNameForHosts().c_str());
    if (property == "IconPixmap") return self->pixmaps();
    if (property == "ToolTip") return self->toolTip();
    if (property == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (property.ends_with("Pixmap")) return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
    return g_variant_new_string("");
}

// ---- The chooser

DesktopStatusItemPeer::DesktopStatusItemPeer(StatusItem& item) : item_(item) {
    auto bus = dbus::openConnection("");
    if (!bus) {
        logf("No session bus for the status item, only the XEmbed tray can show it: %s", bus.error().c_str());
        return;
    }
    bus_ = std::move(*bus);
    // Asked once now, so the first showing goes to the right place; then followed.
    auto reply = VariantRef::adopt(g_dbus_connection_call_sync(
        bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
        g_variant_new("(s)", kWatcherName), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    if (reply) {
        const char* owner = nullptr;
        g_variant_get(reply.get(), "(&s)", &owner);
        watcherOwner_ = owner;
    }
    watch_ = g_bus_watch_name_on_connection(
        bus_.get(), kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char* owner, gpointer self) {
            static_cast<DesktopStatusItemPeer*>(self)->watcherAppeared(owner);
        },
        +[](GDBusConnection*, const char*, gpointer self) {
            static_cast<DesktopStatusItemPeer*>(self)->watcherVanished();
        },
        this, nullptr);
}

DesktopStatusItemPeer::~DesktopStatusItemPeer() {
    if (watch_) g_bus_unwatch_name(watch_);
    notifier_.reset();
    tray_.reset();
    bus_.close();
}

void DesktopStatusItemPeer::statusItemChanged(StatusItem& item) {
    if (removed_) return;
    shown_ = true;
    if (!watcherOwner_.empty() && !notifier_) {
        auto made = StatusNotifierItem::make(bus_.get(), item_);
        if (made) {
            notifier_ = std::move(*made);
            notifier_->registerWithWatcher();
            return;
        }
        logf("The status item falls back to the XEmbed tray: %s", made.error().c_str());
        watcherOwner_.clear();
    }
    if (notifier_) {
        notifier_->update();
        return;
    }
    useTray();
    tray_->statusItemChanged(item);
}

void DesktopStatusItemPeer::statusItemRemoved(StatusItem& item) {
    removed_ = true;
    notifier_.reset();
    if (tray_) tray_->statusItemRemoved(item);
}

void DesktopStatusItemPeer::useTray() {
    if (!tray_) tray_ = std::make_unique<TrayStatusItemPeer>(item_);
}

void DesktopStatusItemPeer::watcherAppeared(const std::string& owner) {
    if (owner == watcherOwner_ && (notifier_ || !shown_)) return;
    watcherOwner_ = owner;
    if (removed_ || !shown_) return;
    logLine("A status notifier watcher runs: the status item is shown through it");
    if (tray_) {
        tray_->statusItemRemoved(item_);
        tray_.reset();
    }
    if (notifier_) {
        // A watcher that restarted knows nothing of the item.
        notifier_->registerWithWatcher();
        return;
    }
    statusItemChanged(item_);
}

void DesktopStatusItemPeer::watcherVanished() {
    if (watcherOwner_.empty() && !notifier_) return;
    watcherOwner_.clear();
    if (removed_ || !shown_) return;
    logLine("The status notifier watcher is gone: the status item is shown in the XEmbed tray");
    notifier_.reset();
    item_.setWindowState(false, 0);
    statusItemChanged(item_);
}

}  // namespace kit::desktop
