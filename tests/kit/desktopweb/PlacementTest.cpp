// The page's widget in a real window: at the web view's frame, clipped by its ancestors, hidden
// with it, painted over by the kit views that lie above it, and back offscreen when the view
// leaves the window.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "kit/desktop/web/WebViewHost.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace kit::testing {
namespace {

using PlacementTest = WebEngineTest;

bool sameRect(const GdkRectangle& r, int x, int y, int width, int height) {
    return r.x == x && r.y == y && r.width == width && r.height == height;
}

std::optional<desktop::WebViewHost::Placement> placementOf(const WebView& view) {
    return desktop::WebViewHost::placementOf(desktop::webKitWidgetFor(view));
}

// The colour of a pixel of a window, as the X server has it; 0xRRGGBB.
std::optional<unsigned> pixelAt(GtkWidget* toplevel, int x, int y) {
    GdkWindow* window = gtk_widget_get_window(toplevel);
    if (!window) return std::nullopt;
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(window, x, y, 1, 1);
    if (!pixbuf) return std::nullopt;
    const guchar* p = gdk_pixbuf_get_pixels(pixbuf);
    const unsigned rgb = (unsigned(p[0]) << 16) | (unsigned(p[1]) << 8) | unsigned(p[2]);
    g_object_unref(pixbuf);
    return rgb;
}

struct Scene {
    std::shared_ptr<Window> window;
    std::shared_ptr<View> container;
    std::shared_ptr<WebView> webView;
};

// A 400 x 300 window; the web view sits in a container that fills it.
Scene makeScene(Rect webFrame) {
    Scene scene;
    scene.window = create<Window>(Rect{100, 100, 400, 300}, WindowStyleBorderless);
    scene.window->setFrame({100, 100, 400, 300});
    scene.container = create<View>(Rect{0, 0, 400, 300});
    scene.container->setBackgroundColor(Color::fromHex(0xFFFFFF));
    scene.window->contentView()->addSubview(scene.container);
    scene.webView = create<WebView>(webFrame);
    scene.container->addSubview(scene.webView);
    scene.window->makeKeyAndOrderFront();
    return scene;
}

TEST_F(PlacementTest, TheWidgetFollowsTheViewsFrameClipAndVisibility) {
    Scene scene = makeScene({20, 30, 200, 100});
    GtkWidget* widget = desktop::webKitWidgetFor(*scene.webView);
    ASSERT_TRUE(widget);
    GtkWidget* toplevel = desktop::gtkWindowFor(*scene.window);
    ASSERT_TRUE(toplevel);
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_toplevel(widget) == toplevel && placementOf(*scene.webView); }));
    // y down in GTK: 300 - (30 + 100).
    EXPECT_TRUE(sameRect(placementOf(*scene.webView)->clip, 20, 170, 200, 100));
    ASSERT_TRUE(waitFor([&] {
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        return a.width == 200 && a.height == 100;
    }));

    // Half outside its container: the part outside is clipped, the page keeps its size.
    scene.webView->setFrame({300, 30, 200, 100});
    ASSERT_TRUE(waitFor([&] {
        auto p = placementOf(*scene.webView);
        return p && sameRect(p->clip, 300, 170, 100, 100);
    }));
    EXPECT_TRUE(sameRect(placementOf(*scene.webView)->frame, 300, 170, 200, 100));

    // An ancestor moving carries it along.
    scene.container->setFrame({-250, 0, 400, 300});
    ASSERT_TRUE(waitFor([&] {
        auto p = placementOf(*scene.webView);
        return p && sameRect(p->clip, 50, 170, 100, 100) && sameRect(p->frame, 50, 170, 200, 100);
    }));

    scene.container->setHidden(true);
    ASSERT_TRUE(waitFor([&] { return !placementOf(*scene.webView); }));
    EXPECT_FALSE(gtk_widget_get_mapped(widget));
    scene.container->setHidden(false);
    ASSERT_TRUE(waitFor([&] { return placementOf(*scene.webView).has_value(); }));

    // Out of the window: back offscreen, still loading and answering scripts.
    scene.webView->removeFromSuperview();
    EXPECT_NE(gtk_widget_get_toplevel(widget), toplevel);
    EXPECT_FALSE(placementOf(*scene.webView));
    auto answer = evaluate(*scene.webView, "1 + 1");
    ASSERT_TRUE(answer && answer->ok());
    EXPECT_EQ(**answer, Value(2));
}

TEST_F(PlacementTest, ThePageShowsInTheWindowUnderTheViewsAboveIt) {
    server.page("/green.html", "<html><body style='margin:0;background:#00ff00'></body></html>");
    Scene scene = makeScene({0, 0, 400, 300});
    // A kit view over the page's top-left corner (window base coordinates: y up).
    auto cover = create<View>(Rect{0, 200, 100, 100});
    cover->setBackgroundColor(Color::fromHex(0xFF0000));
    scene.container->addSubview(cover);
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    scene.webView->setNavigationDelegate(delegate);
    ASSERT_TRUE(loadAndWait(*scene.webView, server.url("/green.html"), *delegate));
    GtkWidget* toplevel = desktop::gtkWindowFor(*scene.window);
    ASSERT_TRUE(waitFor([&] { return pixelAt(toplevel, 300, 200) == 0x00FF00u; }))
        << std::hex << pixelAt(toplevel, 300, 200).value_or(0);
    ASSERT_TRUE(waitFor([&] { return pixelAt(toplevel, 50, 50) == 0xFF0000u; }))
        << std::hex << pixelAt(toplevel, 50, 50).value_or(0);
    EXPECT_TRUE(placementOf(*scene.webView)->paintsViewsAbove);

    // A change of the view above shows at once.
    cover->setBackgroundColor(Color::fromHex(0x0000FF));
    ASSERT_TRUE(waitFor([&] { return pixelAt(toplevel, 50, 50) == 0x0000FFu; }))
        << std::hex << pixelAt(toplevel, 50, 50).value_or(0);

    // Hiding the cover shows the page there.
    cover->setHidden(true);
    ASSERT_TRUE(waitFor([&] { return pixelAt(toplevel, 50, 50) == 0x00FF00u; }))
        << std::hex << pixelAt(toplevel, 50, 50).value_or(0);
}

// A page whose window is not shown yet, or that has no window, is laid out at its view's size
// (at no size its content would overflow, and its overlay scroll bars animate while hidden).
TEST_F(PlacementTest, AnUnshownPageIsLaidOutAtItsViewsSize) {
    server.page("/page.html", "<p>text</p>");
    for (bool inWindow : {false, true}) {
        SCOPED_TRACE(inWindow ? "in a window not shown" : "parked");
        std::shared_ptr<Window> window;
        auto view = create<WebView>(Rect{0, 0, 320, 240});
        if (inWindow) {
            window = create<Window>(Rect{100, 100, 400, 300}, WindowStyleBorderless);
            window->contentView()->addSubview(view);
        }
        auto delegate = std::make_shared<RecordingNavigationDelegate>();
        view->setNavigationDelegate(delegate);
        ASSERT_TRUE(loadAndWait(*view, server.url("/page.html"), *delegate));
        auto size = evaluate(*view, "innerWidth + 'x' + innerHeight");
        ASSERT_TRUE(size && size->ok());
        EXPECT_EQ(**size, Value("320x240"));
    }
}

// The font sizes, in the window's pixels, of a shown page's text, of a control as the engine styles
// it, of a control the page styles itself, and of GTK's own label text, printed on one line. Run
// only in child processes of the test below, each in its own environment.
TEST_F(PlacementTest, DISABLED_MeasuresAPageForTheTestBelow) {
    server.page("/text.html",
                "<style>:where(.own) { font-size: 20px }</style><body style='margin:0'><span id=t>Quarn AI</span>"
                "<button id=b>Choose</button><input type=file id=f><button id=o class=own>Own</button>");
    Scene scene = makeScene({0, 0, 400, 300});
    auto delegate = std::make_shared<RecordingNavigationDelegate>();
    scene.webView->setNavigationDelegate(delegate);
    ASSERT_TRUE(loadAndWait(*scene.webView, server.url("/text.html"), *delegate));
    ASSERT_TRUE(waitFor([&] { return placementOf(*scene.webView).has_value(); }));
    auto measured = evaluate(*scene.webView,
                             "['t', 'b', 'f', 'o'].map(id => parseFloat(getComputedStyle(document.getElementById(id))"
                             ".fontSize) * 400 / innerWidth).join(' ')");
    ASSERT_TRUE(measured && measured->ok());
    const std::string* text = (*measured)->asString();
    ASSERT_TRUE(text);
    GtkWidget* label = g_object_ref_sink(gtk_label_new("Quarn AI"));
    PangoContext* context = gtk_widget_get_pango_context(label);
    const PangoFontDescription* font = pango_context_get_font_description(context);
    double labelSize = static_cast<double>(pango_font_description_get_size(font)) / PANGO_SCALE;
    if (!pango_font_description_get_size_is_absolute(font))
        labelSize *= pango_cairo_context_get_resolution(context) / 72;
    g_object_unref(label);
    std::printf("measured %s %f\n", text->c_str(), labelSize);
}

// The X server's resources (the root window's RESOURCE_MANAGER) as they were, put back when the
// guard goes, however the test ends: later tests on the server see the desktop they expect.
class RootResourcesGuard {
public:
    RootResourcesGuard() {
        GdkAtom type = GDK_NONE;
        gint format = 0;
        gint length = 0;
        guchar* data = nullptr;
        if (gdk_property_get(root(), property(), GDK_NONE, 0, 1 << 20, FALSE, &type, &format, &length, &data) &&
            format == 8) {
            saved_ = std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
            type_ = type;
        }
        g_free(data);
    }
    ~RootResourcesGuard() {
        if (saved_) {
            gdk_property_change(root(), property(), type_, 8, GDK_PROP_MODE_REPLACE,
                                reinterpret_cast<const guchar*>(saved_->data()), static_cast<gint>(saved_->size()));
        } else {
            gdk_property_delete(root(), property());
        }
        gdk_display_sync(gdk_display_get_default());
    }
    RootResourcesGuard(const RootResourcesGuard&) = delete;
    RootResourcesGuard& operator=(const RootResourcesGuard&) = delete;

private:
    static GdkWindow* root() { return gdk_get_default_root_window(); }
    static GdkAtom property() { return gdk_atom_intern_static_string("RESOURCE_MANAGER"); }

    std::optional<std::string> saved_;
    GdkAtom type_ = GDK_NONE;
};

// Pages scale with the desktop's text as GTK's own texts do, text and controls alike, however the
// desktop gives its font resolution: a page's text, a control, the file input and a control the
// page styles itself keep one size to GTK's label text in every set-up (down to the engine's
// smallest logical font size, 9 px, for text a page sized larger).
TEST_F(PlacementTest, PagesScaleWithTheDesktopsTextHoweverItGivesItsResolution) {
    struct Case {
        const char* name;
        const char* scale;      // GDK_SCALE
        const char* fontScale;  // GDK_DPI_SCALE
        const char* xftDpi;
    };
    const Case cases[] = {
        {"1x", nullptr, nullptr, nullptr},
        {"device scale", "2", nullptr, nullptr},
        {"device scale, halved font scale, Xft.dpi 192", "2", "0.5", "192"},
        {"device scale, halved font scale", "2", "0.5", nullptr},
        {"Xft.dpi 192", nullptr, nullptr, "192"},
        {"device scale, Xft.dpi 192", "2", nullptr, "192"},
        {"Xft.dpi 144", nullptr, nullptr, "144"},
    };
    const RootResourcesGuard keep;
    constexpr double kSmallestLogicalFontSize = 9;
    std::vector<double> ratios;  // of the 1x set-up: each page size over the label's
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string resources =
            c.xftDpi ? std::string("-f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER 'Xft.dpi: ") + c.xftDpi + "'"
                     : "-remove RESOURCE_MANAGER";
        ASSERT_TRUE(runTool("xprop -root " + resources));
        gchar** env = g_get_environ();
        env = c.scale ? g_environ_setenv(env, "GDK_SCALE", c.scale, TRUE) : g_environ_unsetenv(env, "GDK_SCALE");
        env = c.fontScale ? g_environ_setenv(env, "GDK_DPI_SCALE", c.fontScale, TRUE)
                          : g_environ_unsetenv(env, "GDK_DPI_SCALE");
        const char* argv[] = {"/proc/self/exe", "--gtest_also_run_disabled_tests",
                              "--gtest_filter=PlacementTest.DISABLED_MeasuresAPageForTheTestBelow", nullptr};
        gchar* out = nullptr;
        gint status = 0;
        const gboolean ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), env, G_SPAWN_STDERR_TO_DEV_NULL, nullptr,
                                          nullptr, &out, nullptr, &status, nullptr);
        g_strfreev(env);
        const std::string output = out ? out : "";
        g_free(out);
        ASSERT_TRUE(ran && g_spawn_check_wait_status(status, nullptr)) << output;
        const auto at = output.find("measured ");
        ASSERT_NE(at, std::string::npos) << output;
        std::istringstream line(output.substr(at + 9));
        std::vector<double> sizes(5);
        for (double& size : sizes) line >> size;
        ASSERT_TRUE(line && sizes[4] > 0) << output;
        const double label = sizes.back();
        sizes.pop_back();
        if (ratios.empty()) {
            for (double size : sizes) ratios.push_back(size / label);
            // The page's own style sizes its control.
            EXPECT_NEAR(sizes[3], 20, 0.1);
        }
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            SCOPED_TRACE(i);
            const double expected = std::max(ratios[i] * label, kSmallestLogicalFontSize);
            EXPECT_NEAR(sizes[i], expected, expected * 0.02) << "GTK's label text " << label << " px";
        }
    }
}

TEST_F(PlacementTest, TheWidgetGoesWithItsViewEvenFromAClosedWindow) {
    Scene scene = makeScene({0, 0, 200, 100});
    GtkWidget* widget = desktop::webKitWidgetFor(*scene.webView);
    ASSERT_TRUE(waitFor([&] { return placementOf(*scene.webView).has_value(); }));
    bool finalized = false;
    g_object_weak_ref(
        G_OBJECT(widget), [](gpointer data, GObject*) { *static_cast<bool*>(data) = true; }, &finalized);

    // The window goes first: the page keeps working offscreen.
    bool windowGone = false;
    g_object_weak_ref(
        G_OBJECT(desktop::gtkWindowFor(*scene.window)),
        [](gpointer data, GObject*) { *static_cast<bool*>(data) = true; }, &windowGone);
    scene.window->close();
    scene.window.reset();
    ASSERT_TRUE(waitFor([&] { return windowGone; }));
    EXPECT_TRUE(GTK_IS_OFFSCREEN_WINDOW(gtk_widget_get_toplevel(widget)));
    auto answer = evaluate(*scene.webView, "'alive'");
    ASSERT_TRUE(answer && answer->ok());
    EXPECT_EQ(**answer, Value("alive"));
    EXPECT_FALSE(finalized);

    scene.container.reset();
    scene.webView.reset();
    EXPECT_TRUE(waitFor([&] { return finalized; }));
}

bool xdotool(const std::string& arguments) {
    gint status = 0;
    const std::string command = "xdotool " + arguments;
    return g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, &status, nullptr) &&
           g_spawn_check_wait_status(status, nullptr);
}

// A web view that counts the right clicks it is given and may drop them, as the application's
// web views do.
class RightClickView : public WebView {
public:
    using WebView::WebView;
    int rightClicks = 0;
    bool dropRightClicks = false;
    void rightMouseDown(const Event& event) override {
        ++rightClicks;
        if (!dropRightClicks) WebView::rightMouseDown(event);
    }
};

bool aMenuIsShown() {
    bool shown = false;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* it = toplevels; it; it = it->next) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(it->data));
        if (child && GTK_IS_MENU(child) && gtk_widget_get_mapped(GTK_WIDGET(it->data))) shown = true;
    }
    g_list_free(toplevels);
    return shown;
}

TEST_F(PlacementTest, KeysGoToThePageAndRightClicksAskTheView) {
    server.page("/form.html",
                "<html><body style='margin:0'><input id='field' style='width:300px;height:40px'>"
                "</body></html>");
    auto view = create<RightClickView>(Rect{0, 0, 400, 300});
    const auto shown = openPageWindow({200, 200, 400, 300}, nullptr, WindowStyleBorderless, view);
    ASSERT_TRUE(loadAndWait(*view, server.url("/form.html"), *shown.navigation));
    ASSERT_TRUE(waitFor([&] { return placementOf(*view).has_value(); }));
    const unsigned long xid = mappedXWindow(*shown.window, *view);
    ASSERT_TRUE(xid);

    const std::string target = "--window " + std::to_string(xid);
    ASSERT_TRUE(xdotool("mousemove " + target + " 100 20 click 1"));
    ASSERT_TRUE(waitFor([&] {
        auto focused = evaluate(*view, "document.activeElement && document.activeElement.id");
        return focused && focused->ok() && **focused == Value("field");
    }));
    std::vector<unsigned short> kitKeys;
    auto monitor = EventMonitor::addLocalMonitor(EventMasks::KeyDown, [&](const Event& e) -> std::optional<Event> {
        kitKeys.push_back(e.keyCode);
        return e;
    });
    ASSERT_TRUE(xdotool("type --delay 20 hello"));
    ASSERT_TRUE(waitFor([&] {
        auto value = evaluate(*view, "document.getElementById('field').value");
        return value && value->ok() && **value == Value("hello");
    }));
    // The page took those keys; one it leaves alone goes on to the window.
    EXPECT_TRUE(kitKeys.empty());
    ASSERT_TRUE(xdotool("key F2"));
    ASSERT_TRUE(waitFor([&] { return !kitKeys.empty(); }));
    EXPECT_EQ(kitKeys, (std::vector<unsigned short>{0x78}));  // kVK_F2

    // A view that drops right clicks: the page shows no menu.
    view->dropRightClicks = true;
    ASSERT_TRUE(xdotool("mousemove " + target + " 200 200 click 3"));
    ASSERT_TRUE(waitFor([&] { return view->rightClicks == 1; }));
    pump(0.3);
    EXPECT_FALSE(aMenuIsShown());

    // One that lets them through: the page's menu opens.
    view->dropRightClicks = false;
    ASSERT_TRUE(xdotool("mousemove " + target + " 200 200 click 3"));
    ASSERT_TRUE(waitFor([&] { return view->rightClicks == 2; }));
    EXPECT_TRUE(waitFor([] { return aMenuIsShown(); }, 5));
    xdotool("key Escape");
    pump(0.2);
}

}  // namespace
}  // namespace kit::testing
