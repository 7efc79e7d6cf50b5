// The desktop's services on the session bus, against their stand-ins (QuarnDesktopServices) on the
// wrapper's private bus: status items as StatusNotifierItems registered with a watcher, the
// portal's GlobalShortcuts and Screenshot interfaces of Wayland sessions, and its Settings
// interface's colour scheme.

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/desktop/capture/PortalScreenCapture.h"
#include "kit/desktop/services/PortalGlobalHotKeys.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Image.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/Screen.h"
#include "kit/ui/StatusItem.h"
#include "tests/kit/desktop/DesktopTestSupport.h"
#include "tests/kit/sys/PrivateBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"

namespace kit::testing {
namespace {

namespace fs = std::filesystem;

// One QuarnDesktopServices process; its output lines are read from a file, its commands go
// through a FIFO.
class StandIn {
public:
    StandIn(const std::vector<std::string>& arguments, const fs::path& folder, const std::string& name)
        : output_(folder / (name + ".log")), control_(folder / (name + ".fifo")) {
        std::vector<std::string> argv{QUARN_DESKTOP_SERVICES};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.insert(argv.end(), {"--control", control_.string()});
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        child_ = std::make_unique<Child>(argv, env, output_);
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(readFile(output_));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    void command(const std::string& line) const { std::ofstream(control_) << line << "\n"; }
    void stop() {
        child_->signal(SIGTERM);
        child_->waitExit();
    }

private:
    fs::path output_;
    fs::path control_;
    std::unique_ptr<Child> child_;
};

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

class DesktopServicesTest : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_FALSE(folder_.empty());
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus_, nullptr);
    }
    void TearDown() override {
        // Items a failed test left would register with the next test's watcher.
        auto& bar = StatusBar::system();
        while (!bar.items().empty()) bar.removeStatusItem(bar.items().back());
        bare_.reset();
        if (bus_) g_object_unref(bus_);
        DesktopTest::TearDown();
    }

    // The first line of the stand-in beginning with `prefix` (after `skip` such lines).
    static std::optional<std::string> waitLine(const StandIn& standIn, const std::string& prefix,
                                               std::size_t skip = 0) {
        std::optional<std::string> found;
        waitFor(
            [&] {
                std::size_t seen = 0;
                for (const auto& line : standIn.lines()) {
                    if (line.starts_with(prefix) && seen++ == skip) found = line;
                }
                return found.has_value();
            },
            30);
        return found;
    }

    // The bus address for a case: the session bus with a stand-in, else a bus of our own that
    // cannot start services, so an installed portal does not answer in its place.
    std::string busFor(bool standIn) {
        if (standIn) return {};
        if (!bare_) {
            const fs::path config = folder_ / "bare-bus.conf";
            // Its socket is the daemon's to remove, not in our folder.
            std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                                     "<auth>EXTERNAL</auth><policy context=\"default\">"
                                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                     "<allow own=\"*\"/></policy></busconfig>\n";
            std::string whyNot;
            bare_ = PrivateBus::start(&whyNot, config.string());
            EXPECT_TRUE(bare_) << whyNot;
        }
        return bare_ ? bare_->address() : std::string{};
    }

    std::unique_ptr<StandIn> startStandIn(const std::vector<std::string>& arguments) {
        auto standIn = std::make_unique<StandIn>(arguments, folder_, "services" + std::to_string(++started_));
        EXPECT_TRUE(waitLine(*standIn, "ready")) << "the stand-in did not start";
        return standIn;
    }

    // A method call answered while the main loop runs (our own objects answer on it); null on error.
    GVariant* call(const std::string& destination, const std::string& path, const char* interface, const char* method,
                   GVariant* parameters) {
        struct Answer {
            bool done = false;
            GVariant* value = nullptr;
        } answer;
        g_dbus_connection_call(
            bus_, destination.c_str(), path.c_str(), interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
            nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto* a = static_cast<Answer*>(data);
                a->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                a->done = true;
            },
            &answer);
        waitFor([&] { return answer.done; }, 30);
        return answer.value;
    }
    GVariant* itemProperty(const std::string& service, const char* name) {
        GVariant* reply = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
        if (!reply) return nullptr;
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return value;
    }
    std::string stringProperty(const std::string& service, const char* name) {
        GVariant* value = itemProperty(service, name);
        if (!value) return "<none>";
        std::string out = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)
                              ? (g_variant_get_boolean(value) ? "true" : "false")
                              : g_variant_get_string(value, nullptr);
        g_variant_unref(value);
        return out;
    }
    bool nameHasOwner(const std::string& name) {
        GVariant* reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                               g_variant_new("(s)", name.c_str()));
        gboolean owned = FALSE;
        if (reply) g_variant_get(reply, "(b)", &owned);
        if (reply) g_variant_unref(reply);
        return owned;
    }

    TempFolder temp_{"kit-desktop-services"};
    const fs::path& folder_ = temp_.path();
    std::optional<PrivateBus> bare_;
    GDBusConnection* bus_ = nullptr;
    int started_ = 0;
};

TEST_F(DesktopServicesTest, AStatusItemRegistersWithTheWatcherAndOffersItsIconTitleAndClick) {
    auto watcher = startStandIn({"--watcher"});
    auto& bar = StatusBar::system();
    const Color tint = Application::shared().isDarkMode() ? Color::white() : Color::black();
    struct Case {
        bool isTemplate;
        std::string toolTip;
        std::string title;
    };
    const Case cases[] = {{true, "", program_invocation_short_name}, {false, "Quarn", "Quarn"}};
    std::size_t registered = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        int clicks = 0;
        auto item = bar.statusItemWithLength(kStatusItemSquareLength);
        item->updateButton([&](StatusItemButton& button) {
            button.imageName = "test/swatch";
            button.imageSize = {15, 15};
            button.imageIsTemplate = c.isTemplate;
            button.toolTip = c.toolTip;
            button.action = [&] { ++clicks; };
        });
        auto line = waitLine(*watcher, "registered ", registered++);
        ASSERT_TRUE(line);
        const auto parts = words(*line);
        ASSERT_EQ(parts.size(), 3u);
        const std::string& service = parts[1];
        EXPECT_EQ(service.rfind("org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-", 0), 0u) << service;
        EXPECT_EQ(parts[2], "/StatusNotifierItem");

        EXPECT_EQ(stringProperty(service, "Title"), c.title);
        EXPECT_EQ(stringProperty(service, "Status"), "Active");
        // No menu: hosts read every property at once and find no Menu to make a menu client for.
        if (GVariant* all = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "GetAll",
                                 g_variant_new("(s)", "org.kde.StatusNotifierItem"))) {
            GVariant* properties = g_variant_get_child_value(all, 0);
            gboolean isMenu = TRUE;
            EXPECT_TRUE(g_variant_lookup(properties, "ItemIsMenu", "b", &isMenu));
            EXPECT_FALSE(isMenu);
            EXPECT_FALSE(g_variant_lookup(properties, "Menu", "o", nullptr));
            EXPECT_TRUE(g_variant_lookup(properties, "Title", "s", nullptr));
            g_variant_unref(properties);
            g_variant_unref(all);
        } else {
            ADD_FAILURE() << "no properties";
        }
        if (GVariant* tip = itemProperty(service, "ToolTip")) {
            const char* tipTitle = nullptr;
            g_variant_get(tip, "(&sa(iiay)&ss)", nullptr, nullptr, &tipTitle, nullptr);
            EXPECT_EQ(std::string(tipTitle), c.title);
            g_variant_unref(tip);
        } else {
            ADD_FAILURE() << "no tooltip";
        }
        // By name: a private PNG file in the theme path, and for a template image a symbolic
        // variant that a host's icon theme recolours to its panel's text.
        const std::string iconName = "test-swatch-" + std::to_string(::getpid());
        const std::string themePath = stringProperty(service, "IconThemePath");
        EXPECT_EQ(stringProperty(service, "IconName"), c.isTemplate ? iconName + "-symbolic" : iconName);
        const fs::path iconFile = fs::path(themePath) / (iconName + ".png");
        const fs::path symbolicFile = fs::path(themePath) / (iconName + "-symbolic.svg");
        struct stat info {};
        ASSERT_EQ(::stat(iconFile.c_str(), &info), 0) << iconFile;
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        auto fromFile = Image::fromFile(iconFile);
        ASSERT_TRUE(fromFile.ok());
        EXPECT_EQ(fs::exists(symbolicFile), c.isTemplate);
        if (c.isTemplate) {
            GtkIconTheme* theme = gtk_icon_theme_new();
            gtk_icon_theme_append_search_path(theme, themePath.c_str());
            GtkIconInfo* found =
                gtk_icon_theme_lookup_icon(theme, (iconName + "-symbolic").c_str(), 32, GtkIconLookupFlags(0));
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(fs::path(gtk_icon_info_get_filename(found)), symbolicFile);
            const GdkRGBA panelText{0.2, 0.8, 0.4, 1};
            gboolean recoloured = FALSE;
            GError* error = nullptr;
            GdkPixbuf* drawn =
                gtk_icon_info_load_symbolic(found, &panelText, nullptr, nullptr, nullptr, &recoloured, &error);
            ASSERT_NE(drawn, nullptr) << (error ? error->message : "");
            EXPECT_TRUE(recoloured);
            const int channels = gdk_pixbuf_get_n_channels(drawn);
            ASSERT_EQ(channels, 4);
            const std::ptrdiff_t at =
                static_cast<std::ptrdiff_t>(gdk_pixbuf_get_height(drawn) / 2) * gdk_pixbuf_get_rowstride(drawn) +
                static_cast<std::ptrdiff_t>(gdk_pixbuf_get_width(drawn) / 2) * channels;
            const guchar* centre = gdk_pixbuf_get_pixels(drawn) + at;
            EXPECT_NEAR(centre[0], 51, 8);
            EXPECT_NEAR(centre[1], 204, 8);
            EXPECT_NEAR(centre[2], 102, 8);
            EXPECT_GT(centre[3], 230);
            g_object_unref(drawn);
            g_object_unref(found);
            g_object_unref(theme);
        }

        // As pixmaps: ARGB in network byte order, template images tinted for the theme.
        GVariant* pixmaps = itemProperty(service, "IconPixmap");
        ASSERT_NE(pixmaps, nullptr);
        std::vector<int> sizes;
        GVariantIter iter;
        g_variant_iter_init(&iter, pixmaps);
        gint32 width = 0;
        gint32 height = 0;
        GVariant* bytes = nullptr;
        while (g_variant_iter_next(&iter, "(ii@ay)", &width, &height, &bytes)) {
            sizes.push_back(width);
            EXPECT_EQ(width, height);
            gsize length = 0;
            const auto* argb = static_cast<const guint8*>(g_variant_get_fixed_array(bytes, &length, 1));
            ASSERT_EQ(length, static_cast<gsize>(width * height * 4));
            const int at = (height / 2 * width + width / 2) * 4;
            const Color expected =
                c.isTemplate ? tint : fromFile->pixelAt(fromFile->pixelWidth() / 2, fromFile->pixelHeight() / 2);
            const Color seen{argb[at + 1] / 255.0, argb[at + 2] / 255.0, argb[at + 3] / 255.0, argb[at] / 255.0};
            EXPECT_GT(seen.alpha, 0.9) << width;
            EXPECT_NEAR(seen.red, expected.red, 0.1) << width;
            EXPECT_NEAR(seen.green, expected.green, 0.1) << width;
            EXPECT_NEAR(seen.blue, expected.blue, 0.1) << width;
            g_variant_unref(bytes);
        }
        g_variant_unref(pixmaps);
        EXPECT_EQ(sizes, (std::vector<int>{16, 22, 24, 32, 48, 64}));
        EXPECT_TRUE(item->hasWindow());

        // A primary click is the button's click.
        GVariant* reply =
            call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 0, 0));
        ASSERT_NE(reply, nullptr);
        g_variant_unref(reply);
        EXPECT_TRUE(waitFor([&] { return clicks == 1; }));

        // Removed, the item leaves the bus and its icon file goes.
        bar.removeStatusItem(item);
        EXPECT_TRUE(waitFor([&] { return !nameHasOwner(service); }));
        EXPECT_FALSE(fs::exists(iconFile));
        EXPECT_FALSE(fs::exists(symbolicFile));
        EXPECT_EQ(clicks, 1);
    }
}

// The host says where the item is only when it is activated; until then the item is taken to
// be at the end of the panel the work area leaves room for.
TEST_F(DesktopServicesTest, TheStatusItemIsWhereTheHostClickedElseAtTheEndOfThePanel) {
    auto watcher = startStandIn({"--watcher"});
    // A panel of 30 pixels along the bottom of the display.
    ASSERT_TRUE(runTool("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA 0,0,1440,870"));
    ASSERT_TRUE(waitFor([] { return Screen::screens().at(0)->visibleFrame() == Rect(0, 30, 1440, 870); }));
    auto& bar = StatusBar::system();
    auto item = bar.statusItemWithLength(kStatusItemSquareLength);
    item->updateButton([&](StatusItemButton& button) { button.imageName = "test/swatch"; });
    auto line = waitLine(*watcher, "registered ");
    ASSERT_TRUE(line);
    const std::string service = words(*line).at(1);
    EXPECT_EQ(item->windowFrame(), (Rect{1416, 0, 24, 24}));

    GVariant* reply =
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 700, 880));
    ASSERT_NE(reply, nullptr);
    g_variant_unref(reply);
    EXPECT_TRUE(waitFor([&] { return item->windowFrame() == Rect(688, 8, 24, 24); }))
        << stringFromRect(item->windowFrame());
    bar.removeStatusItem(item);
    ASSERT_TRUE(runTool("xprop -root -remove _NET_WORKAREA"));
    EXPECT_TRUE(waitFor([] { return Screen::screens().at(0)->visibleFrame() == Rect(0, 0, 1440, 900); }));
}

TEST_F(DesktopServicesTest, TheStatusItemFollowsTheWatcherToTheTrayAndBack) {
    LogCapture log;
    auto watcher = startStandIn({"--watcher"});
    auto& bar = StatusBar::system();
    int clicks = 0;
    auto item = bar.statusItemWithLength(kStatusItemSquareLength);
    item->updateButton([&](StatusItemButton& button) {
        button.imageName = "test/swatch";
        button.action = [&] { ++clicks; };
    });
    auto first = waitLine(*watcher, "registered ");
    ASSERT_TRUE(first);
    EXPECT_TRUE(item->hasWindow());

    // The watcher goes: the XEmbed tray takes the item (there is no tray on this display).
    watcher->stop();
    EXPECT_TRUE(waitFor([&] { return log.contains("shown in the XEmbed tray"); }));
    EXPECT_FALSE(item->hasWindow());

    // A new watcher knows nothing of the item: it registers again.
    auto again = startStandIn({"--watcher"});
    auto second = waitLine(*again, "registered ");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->rfind("registered org.kde.StatusNotifierItem-", 0), 0u) << *second;
    EXPECT_TRUE(item->hasWindow());
    const std::string service = words(*second)[1];
    GVariant* reply =
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 700, 10));
    ASSERT_NE(reply, nullptr);
    g_variant_unref(reply);
    EXPECT_TRUE(waitFor([&] { return clicks == 1; }));
    // The click's place is where the item is taken to be (y up from the bottom of the screen).
    EXPECT_TRUE(item->windowFrame().contains({700, 890}))
        << item->windowFrame().origin.x << "," << item->windowFrame().origin.y;
    bar.removeStatusItem(item);
}

TEST_F(DesktopServicesTest, PreferredTriggersOfCombinations) {
    using desktop::PortalGlobalHotKeys;
    struct Case {
        HotKeyCombination combination;
        std::optional<std::string> trigger;
    };
    const Case cases[] = {
        {{kVK_ANSI_J, HotKeyModifier::Control | HotKeyModifier::Option}, "CTRL+ALT+j"},
        {{kVK_F1, HotKeyModifier::Command | HotKeyModifier::Shift}, "SHIFT+LOGO+F1"},
        {{kVK_Space, HotKeyModifier::Command}, "LOGO+space"},
        {{kVK_Return, 0}, "Return"},
        {{0x7F, HotKeyModifier::Control}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortalGlobalHotKeys::triggerFor(c.combination), c.trigger) << c.combination.keyCode;
}

TEST_F(DesktopServicesTest, HotKeysThroughTheGlobalShortcutsPortal) {
    struct Case {
        std::vector<std::string> standIn;  // empty: no portal
        bool bound;
    };
    const Case cases[] = {{{"--shortcuts"}, true}, {{"--shortcuts=refuse"}, false}, {{}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.standIn.empty() ? "no portal" : c.standIn[0]);
        std::unique_ptr<StandIn> portal;
        if (!c.standIn.empty()) portal = startStandIn(c.standIn);
        LogCapture log;
        auto hotKeys = desktop::PortalGlobalHotKeys::make(busFor(portal != nullptr));
        ASSERT_TRUE(hotKeys.ok()) << hotKeys.error();
        std::vector<std::uint32_t> pressed;
        (*hotKeys)->setHandler([&](std::uint32_t id) { pressed.push_back(id); });

        const auto status = (*hotKeys)->registerHotKey(3, kVK_ANSI_J, HotKeyModifier::Control | HotKeyModifier::Option);
        EXPECT_EQ(status.ok(), c.bound);
        EXPECT_EQ((*hotKeys)->registeredCount(), c.bound ? 1u : 0u);
        if (!c.bound) {
            EXPECT_TRUE(log.contains("Global hot key CTRL+ALT+j not set")) << ::testing::PrintToString(log.lines());
        }
        if (!portal) continue;
        // The saved combination is the preferred trigger.
        auto bind = waitLine(*portal, "bind ");
        ASSERT_TRUE(bind);
        const auto parts = words(*bind);
        ASSERT_EQ(parts.size(), 4u);
        EXPECT_EQ(parts[3], "CTRL+ALT+j");
        if (!c.bound) {
            // A refused session is not left open.
            EXPECT_TRUE(waitLine(*portal, "close-session " + parts[1]));
            continue;
        }
        portal->command("activate " + parts[2]);
        EXPECT_TRUE(waitFor([&] { return pressed.size() == 1; }));
        EXPECT_EQ(pressed, (std::vector<std::uint32_t>{3}));
        (*hotKeys)->unregisterHotKey(3);
        EXPECT_TRUE(waitLine(*portal, "close-session " + parts[1]));
        // Let go, its presses reach nobody.
        portal->command("activate " + parts[2]);
        EXPECT_TRUE(waitLine(*portal, "error no session holds"));
        pump(0.1);
        EXPECT_EQ(pressed.size(), 1u);
    }
}

TEST_F(DesktopServicesTest, CaptureThroughTheScreenshotPortal) {
    const fs::path picture = folder_ / "Screenshot.png";
    ASSERT_TRUE(Image::filled(40, 30, Color::fromHex(0xD02020)).writeToFile(picture).ok());
    struct Case {
        std::vector<std::string> standIn;
        bool image;
        std::string logged;  // what the log tells of it
    };
    const Case cases[] = {
        {{"--screenshot=" + picture.string()}, true, ""},
        {{"--screenshot=cancel"}, false, "The screenshot was cancelled in the desktop portal's dialog (response 1)"},
        {{"--screenshot=fail"}, false, "The desktop portal could not take the screenshot: it failed (response 2)"},
        {{}, false, "The screen cannot be captured through the desktop portal"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.standIn.empty() ? "no portal" : c.standIn[0]);
        std::unique_ptr<StandIn> portal;
        if (!c.standIn.empty()) portal = startStandIn(c.standIn);
        LogCapture log;
        auto capture = desktop::PortalScreenCapture::make(busFor(portal != nullptr));
        ASSERT_TRUE(capture.ok()) << capture.error();
        Pasteboard::general().clearContents();
        std::optional<std::optional<std::vector<std::uint8_t>>> result;
        (*capture)->selectRegion([&](std::optional<std::vector<std::uint8_t>> png) { result = std::move(png); });
        EXPECT_TRUE((*capture)->isSelecting());
        ASSERT_TRUE(waitFor([&] { return result.has_value(); }, 30));
        EXPECT_FALSE((*capture)->isSelecting());
        if (portal) {
            EXPECT_TRUE(waitLine(*portal, "screenshot interactive=true"));
        }
        ASSERT_EQ(result->has_value(), c.image);
        for (const char* told : {"cancelled", "failed", "cannot be captured", "refused"}) {
            EXPECT_EQ(log.contains(told), c.logged.find(told) != std::string::npos) << told;
        }
        if (!c.image) {
            EXPECT_TRUE(log.contains(c.logged)) << ::testing::PrintToString(log.lines());
            continue;
        }
        auto image = Image::fromData(**result);
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(image->pixelWidth(), 40);
        EXPECT_EQ(image->pixelHeight(), 30);
        const Color red = Color::fromHex(0xD02020);
        const Color seen = image->pixelAt(20, 15);
        EXPECT_NEAR(seen.red, red.red, 0.01);
        EXPECT_NEAR(seen.green, red.green, 0.01);
        EXPECT_NEAR(seen.blue, red.blue, 0.01);
        EXPECT_EQ(Pasteboard::general().dataForType(kPasteboardTypePNG), **result);
    }
}

TEST_F(DesktopServicesTest, TheDesktopsAppearanceIsThePortalsColourSchemeElseGtks) {
    GtkSettings* settings = gtk_settings_get_default();
    auto preferDark = [&](gboolean dark) {
        g_object_set(settings, "gtk-application-prefer-dark-theme", dark, nullptr);
    };
    preferDark(FALSE);
    std::optional<ScopedEnv> gtkTheme;
    std::unique_ptr<StandIn> portal;
    int told = 0;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        kApplicationDidChangeSystemAppearanceNotification, nullptr, [&](const Notification&) { ++told; });
    struct Step {
        const char* what;
        std::function<void()> change;
        Appearance expected;
        bool toldByDesktop;  // GTK_THEME is read when asked: nothing tells of it
    };
    const Step steps[] = {
        {"GTK_THEME names a dark variant", [&] { gtkTheme.emplace("GTK_THEME", "Adwaita:dark"); }, Appearance::Dark,
         false},
        {"GTK_THEME names a light theme", [&] { gtkTheme.emplace("GTK_THEME", "Adwaita"); }, Appearance::Light, false},
        {"GTK prefers dark", [&] { preferDark(TRUE); }, Appearance::Dark, true},
        {"a portal prefers light", [&] { portal = startStandIn({"--settings=light"}); }, Appearance::Light, true},
        {"the portal switches to dark", [&] { portal->command("scheme dark"); }, Appearance::Dark, true},
        {"the portal states no preference",
         [&] {
             preferDark(FALSE);
             portal->command("scheme none");
         },
         Appearance::Light, true},
        {"the portal prefers dark again", [&] { portal->command("scheme dark"); }, Appearance::Dark, true},
        {"GTK prefers dark, the portal light",
         [&] {
             preferDark(TRUE);
             portal->command("scheme light");
         },
         Appearance::Light, true},
        {"the portal goes", [&] { portal->stop(); }, Appearance::Dark, true},
    };
    Appearance before = UiBackend::current().systemAppearance();
    EXPECT_EQ(before, Appearance::Light);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_NE(step.expected, before);
        const int toldBefore = told;
        step.change();
        EXPECT_TRUE(waitFor([&] { return UiBackend::current().systemAppearance() == step.expected; }, 30));
        EXPECT_EQ(told > toldBefore, step.toldByDesktop);
        EXPECT_EQ(Application::shared().effectiveAppearance(), step.expected);
        before = step.expected;
    }
    if (portal) {
        EXPECT_TRUE(waitLine(*portal, "read org.freedesktop.appearance color-scheme"));
    }
    preferDark(FALSE);
}

}  // namespace
}  // namespace kit::testing
