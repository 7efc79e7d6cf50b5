// Real windows on the X server: where they appear, what they show, clicks and keys that reach
// kit views, sheets, focus rules and the accessible views.

#include <atk/atk.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "DesktopTestSupport.h"
#include "app/ui/KZCustomViewButton.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Button.h"
#include "kit/ui/Image.h"
#include "kit/ui/View.h"

namespace kit::testing {
namespace {

using WindowOnScreenTest = DesktopTest;

TEST_F(WindowOnScreenTest, AppearsAtTheModelFrame) {
    auto window = showWindow({100, 200, 300, 150});
    ASSERT_TRUE(waitUntilShown(*window));
    auto seen = xwininfo(desktop::xWindowFor(*window));
    ASSERT_TRUE(seen);
    // Bottom-left origin, y up, on a 900-point-high main screen.
    EXPECT_EQ(seen->x, 100);
    EXPECT_EQ(seen->y, 900 - 200 - 150);
    EXPECT_EQ(seen->width, 300);
    EXPECT_EQ(seen->height, 150);

    window->setFrame({400, 100, 250, 120});
    ASSERT_TRUE(waitUntilShown(*window));
    seen = xwininfo(desktop::xWindowFor(*window));
    EXPECT_EQ(seen->y, 900 - 100 - 120);
    EXPECT_EQ(window->frame(), (Rect{400, 100, 250, 120}));
}

// Readied ahead, a window exists on the server without being seen; ordered in, that same server
// window appears where the model puts it.
TEST_F(WindowOnScreenTest, APreparedWindowWaitsUnseenOnTheServer) {
    auto window = create<Window>(Rect{100, 200, 300, 150}, WindowStyleTitled);
    EXPECT_EQ(desktop::xWindowFor(*window), 0u);
    window->prepareForDisplay();
    const unsigned long xid = desktop::xWindowFor(*window);
    ASSERT_NE(xid, 0u);
    pump(0.2);
    auto seen = xwininfo(xid);
    ASSERT_TRUE(seen);
    EXPECT_FALSE(seen->viewable);
    EXPECT_FALSE(window->isVisible());
    window->makeKeyAndOrderFront();
    ASSERT_TRUE(waitUntilShown(*window));
    EXPECT_EQ(desktop::xWindowFor(*window), xid);
    seen = xwininfo(xid);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->viewable);
    const Rect frame = window->frame();  // the content rectangle and the title bar
    EXPECT_EQ(seen->x, frame.minX());
    EXPECT_EQ(seen->y, 900 - frame.maxY());
    EXPECT_EQ(seen->width, frame.width());
    EXPECT_EQ(seen->height, frame.height());
}

TEST_F(WindowOnScreenTest, ZeroWidthIsUnmappedWhileTheModelKeepsIt) {
    auto window = showWindow({50, 50, 200, 100});
    ASSERT_TRUE(waitUntilShown(*window));
    window->setFrame({50, 50, 0, 100});
    const unsigned long xid = desktop::xWindowFor(*window);
    ASSERT_TRUE(waitFor([&] {
        auto g = xwininfo(xid);
        return g && !g->viewable;
    }));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->frame().width(), 0);
    window->setFrame({60, 50, 220, 100});
    EXPECT_TRUE(waitUntilShown(*window));

    // Shown and at once made empty (a window about to grow in from nothing): the display's
    // answer to the first showing is not taken for a resize by the user.
    auto growing = showWindow({300, 50, 200, 100});
    ASSERT_TRUE(waitUntilShown(*growing));
    growing->orderOut();
    pump(0.2);
    growing->makeKeyAndOrderFront();
    growing->setFrame({500, 50, 0.3, 100});
    pump(0.5);
    EXPECT_EQ(growing->frame(), (Rect{500, 50, 0.3, 100}));
}

TEST_F(WindowOnScreenTest, OrderedOutAndClosedWindowsLeaveTheScreen) {
    auto window = showWindow({300, 300, 200, 100});
    ASSERT_TRUE(waitUntilShown(*window));
    const unsigned long xid = desktop::xWindowFor(*window);
    window->orderOut();
    EXPECT_TRUE(waitFor([&] { return !xwininfo(xid)->viewable; }));
    window->makeKeyAndOrderFront();
    EXPECT_TRUE(waitUntilShown(*window));
    window->close();
    EXPECT_TRUE(waitFor([&] { return !xwininfo(xid)->viewable; }));
}

// The content: red, with a blue square in the bottom-left corner and a green bar along the top.
std::shared_ptr<Window> paintedWindow(Rect frame) {
    auto window = create<Window>(frame, WindowStyleBorderless);
    window->contentView()->setBackgroundColor(Color::fromHex(0xFF0000));
    auto square = create<View>(Rect{0, 0, 40, 40});
    square->setBackgroundColor(Color::fromHex(0x0000FF));
    window->contentView()->addSubview(square);
    auto bar = create<View>(Rect{0, frame.height() - 20, frame.width(), 20});
    bar->setBackgroundColor(Color::fromHex(0x00FF00));
    window->contentView()->addSubview(bar);
    return window;
}

// What the screen shows at a place, as another program takes it (rows count from the top).
Result<Image> screenshotOf(const desktop::DisplayRect& place) {
    const auto path =
        std::filesystem::temp_directory_path() / ("kit-desktop-shot-" + std::to_string(::getpid()) + ".png");
    if (!runTool("import -window root -crop " + std::to_string(place.width) + "x" + std::to_string(place.height) + "+" +
                 std::to_string(place.x) + "+" + std::to_string(place.y) + " +repage " + path.string())) {
        return Error{"import failed"};
    }
    auto shot = Image::fromFile(path);
    std::filesystem::remove(path);
    return shot;
}

bool near(Color c, Color want) {
    return std::abs(c.red - want.red) < 0.05 && std::abs(c.green - want.green) < 0.05 &&
           std::abs(c.blue - want.blue) < 0.05;
}

TEST_F(WindowOnScreenTest, AScreenshotShowsTheDrawnViews) {
    auto window = paintedWindow({200, 300, 240, 160});
    window->orderFront();
    ASSERT_TRUE(waitUntilShown(*window));
    pump(0.1);
    auto shot = screenshotOf(desktop::CoordinateSpace::current().toDisplay(window->frame()));
    ASSERT_TRUE(shot.ok()) << shot.error();
    ASSERT_EQ(shot->pixelWidth(), 240);
    ASSERT_EQ(shot->pixelHeight(), 160);
    // Pixel rows count from the top: the square is at the bottom, the bar at the top.
    EXPECT_TRUE(near(shot->pixelAt(10, 150), Color::fromHex(0x0000FF)));
    EXPECT_TRUE(near(shot->pixelAt(120, 5), Color::fromHex(0x00FF00)));
    EXPECT_TRUE(near(shot->pixelAt(120, 80), Color::fromHex(0xFF0000)));
    EXPECT_TRUE(near(shot->pixelAt(10, 100), Color::fromHex(0xFF0000)));
}

TEST_F(WindowOnScreenTest, AClickThroughTheServerReachesTheButton) {
    auto window = showWindow({300, 300, 320, 200});
    int clicks = 0;
    auto button = Button::withTitle("Send", [&](Control&) { ++clicks; });
    button->setFrame({100, 60, 120, 40});
    window->contentView()->addSubview(button);
    ASSERT_TRUE(waitUntilShown(*window));
    const auto [x, y] = displayPoint(*window, window->contentView()->convertPointToView({160, 80}, nullptr));
    ASSERT_TRUE(runTool("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1"));
    EXPECT_TRUE(waitFor([&] { return clicks == 1; }));
    // A click beside the button does nothing to it.
    const auto [bx, by] = displayPoint(*window, window->contentView()->convertPointToView({20, 20}, nullptr));
    ASSERT_TRUE(runTool("xdotool mousemove " + std::to_string(bx) + " " + std::to_string(by) + " click 1"));
    pump(0.3);
    EXPECT_EQ(clicks, 1);
}

class KeyRecordingView final : public View {
public:
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
    void keyDown(const Event& event) override { downs.push_back(event); }
    void keyUp(const Event& event) override { ups.push_back(event); }
    std::vector<Event> downs;
    std::vector<Event> ups;
};

TEST_F(WindowOnScreenTest, KeysReachTheFirstResponder) {
    auto window = showWindow({300, 300, 200, 120});
    auto view = create<KeyRecordingView>(Rect{0, 0, 200, 92});
    window->contentView()->addSubview(view);
    ASSERT_TRUE(window->makeFirstResponder(view));
    ASSERT_TRUE(waitUntilShown(*window));
    const auto [x, y] = displayPoint(*window, {100, 40});
    ASSERT_TRUE(runTool("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y)));
    ASSERT_TRUE(waitFor([&] { return gtk_window_is_active(GTK_WINDOW(desktop::gtkWindowFor(*window))); }));
    ASSERT_TRUE(runTool("xdotool key --clearmodifiers shift+a Return"));
    ASSERT_TRUE(waitFor([&] { return view->downs.size() >= 2 && view->ups.size() >= 2; }));
    EXPECT_EQ(view->downs[0].keyCode, kVK_ANSI_A);
    EXPECT_EQ(view->downs[0].characters, "A");
    EXPECT_EQ(view->downs[0].charactersIgnoringModifiers, "A");
    EXPECT_TRUE(view->downs[0].modifierFlags & ModifierShift);
    EXPECT_FALSE(view->downs[0].isARepeat);
    EXPECT_EQ(view->downs[1].keyCode, kVK_Return);
    EXPECT_EQ(view->downs[1].characters, "\r");
    EXPECT_EQ(view->downs[0].windowShared(), window);
}

TEST_F(WindowOnScreenTest, FocusRulesFollowTheModel) {
    auto titled = showWindow({100, 100, 200, 100});
    auto panel = create<Window>(Rect{400, 100, 200, 100}, WindowStyleBorderless | WindowStyleNonactivatingPanel);
    panel->setLevel(WindowLevel::Floating);
    panel->orderFront();
    ASSERT_TRUE(waitUntilShown(*titled));
    ASSERT_TRUE(waitUntilShown(*panel));
    // A window that can never be key never takes the focus.
    EXPECT_TRUE(gtk_window_get_accept_focus(GTK_WINDOW(desktop::gtkWindowFor(*titled))));
    EXPECT_FALSE(gtk_window_get_accept_focus(GTK_WINDOW(desktop::gtkWindowFor(*panel))));
    EXPECT_FALSE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(desktop::gtkWindowFor(*titled))));
    EXPECT_TRUE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(desktop::gtkWindowFor(*panel))));

    // A key window closes and, before the application's activation is checked, another is made
    // key while still empty and only then grows in (the side window sliding in after the last
    // one slid out): it keeps the key status once it has the focus.
    auto& app = Application::shared();
    app.activate(true);
    titled->makeKeyAndOrderFront();
    ASSERT_TRUE(waitFor([&] { return gtk_window_is_active(GTK_WINDOW(desktop::gtkWindowFor(*titled))); }));
    auto growing = create<Window>(Rect{700, 100, 0, 100}, WindowStyleTitled);
    titled->close();
    pump(0.1);
    app.activate(true);
    growing->makeKeyAndOrderFront();
    pump(0.08);
    growing->setFrame({700, 100, 200, 100});
    ASSERT_TRUE(waitUntilShown(*growing));
    pump(0.4);
    EXPECT_TRUE(app.isActive());
    EXPECT_TRUE(growing->isKeyWindow());
}

TEST_F(WindowOnScreenTest, SheetsAreModalAndTransientForTheirParent) {
    auto parent = showWindow({200, 200, 400, 300});
    auto sheet = create<Window>(Rect{0, 0, 200, 100}, WindowStyleTitled);
    ASSERT_TRUE(waitUntilShown(*parent));
    parent->beginSheet(sheet);
    ASSERT_TRUE(waitUntilShown(*sheet));
    auto* sheetWidget = GTK_WINDOW(desktop::gtkWindowFor(*sheet));
    EXPECT_EQ(gtk_window_get_transient_for(sheetWidget), GTK_WINDOW(desktop::gtkWindowFor(*parent)));
    EXPECT_TRUE(gtk_window_get_modal(sheetWidget));
    // Centred horizontally on the parent, at the top of its content.
    EXPECT_EQ(sheet->frame().midX(), parent->frame().midX());
    parent->endSheet(sheet);
    EXPECT_EQ(gtk_window_get_transient_for(sheetWidget), nullptr);
    EXPECT_FALSE(gtk_window_get_modal(sheetWidget));
    const unsigned long xid = desktop::xWindowFor(*sheet);
    EXPECT_TRUE(waitFor([&] { return !xwininfo(xid)->viewable; }));
}

// Tiling window managers tile normal windows and float the others; equal minimum and maximum
// sizes mark a window the user does not resize.
TEST_F(WindowOnScreenTest, WindowManagersLearnEachWindowsTypeAndSizeLimits) {
    struct Case {
        const char* name;
        unsigned style;
        int level;
        bool equalLimits;  // minimum and maximum size both the frame's size
        const char* type;
        bool fixed;
    };
    const unsigned titled = WindowStyleTitled | WindowStyleClosable;
    const unsigned resizable = titled | WindowStyleResizable;
    const Case cases[] = {
        {"tool window", resizable, WindowLevel::Normal, false, "_NET_WM_WINDOW_TYPE_NORMAL", false},
        {"not resizable", titled | WindowStyleFullSizeContentView, WindowLevel::Normal, false,
         "_NET_WM_WINDOW_TYPE_DIALOG", true},
        {"resizable, equal limits", resizable, 1, true, "_NET_WM_WINDOW_TYPE_DIALOG", true},
        {"above normal windows", resizable, WindowLevel::Floating, false, "_NET_WM_WINDOW_TYPE_DIALOG", false},
        {"popover", WindowStyleClosable | WindowStyleResizable, WindowLevel::Status, false,
         "_NET_WM_WINDOW_TYPE_POPUP_MENU", true},
        {"non-activating panel", WindowStyleBorderless | WindowStyleNonactivatingPanel, WindowLevel::Dock, false,
         "_NET_WM_WINDOW_TYPE_UTILITY", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto window = create<Window>(Rect{300, 300, 240, 160}, c.style);
        window->setFrame({300, 300, 240, 160});
        window->setMinSize(c.equalLimits ? window->frame().size : Size{200, 100});
        if (c.equalLimits) window->setMaxSize(window->frame().size);
        window->setLevel(c.level);
        window->orderFront();
        ASSERT_TRUE(waitUntilShown(*window));
        const auto seen = runTool("xprop -id " + std::to_string(desktop::xWindowFor(*window)) +
                                  " _NET_WM_WINDOW_TYPE WM_NORMAL_HINTS");
        ASSERT_TRUE(seen);
        EXPECT_NE(seen->find(std::string("= ") + c.type + "\n"), std::string::npos) << *seen;
        if (c.fixed) {
            EXPECT_NE(seen->find("minimum size: 240 by 160"), std::string::npos) << *seen;
            EXPECT_NE(seen->find("maximum size: 240 by 160"), std::string::npos) << *seen;
        } else {
            EXPECT_NE(seen->find("minimum size: 200 by 100"), std::string::npos) << *seen;
            EXPECT_EQ(seen->find("maximum size: 240 by 160"), std::string::npos) << *seen;
        }
        window->close();
    }
}

// A window manager may give a window another size than it asked for (tiling it, maximising it):
// the window is laid out and drawn at the size it has, whatever its own limits.
TEST_F(WindowOnScreenTest, ASizeTheWindowManagerImposesIsLaidOutAndDrawn) {
    for (const bool maximised : {false, true}) {
        SCOPED_TRACE(maximised ? "marked maximised" : "plain");
        auto window = create<Window>(Rect{300, 300, 240, 160}, WindowStyleTitled | WindowStyleFullSizeContentView);
        window->setMinSize({240, 160});
        window->setMaxSize({240, 160});
        window->contentView()->setBackgroundColor(Color::fromHex(0xFF0000));
        // A bar along the right edge, kept there as the window grows.
        auto edge = create<View>(Rect{220, 0, 20, 160});
        edge->setBackgroundColor(Color::fromHex(0x0000FF));
        edge->setAutoresizingMask(ViewMinXMargin | ViewHeightSizable);
        window->contentView()->addSubview(edge);
        window->orderFront();
        ASSERT_TRUE(waitUntilShown(*window));
        const unsigned long xid = desktop::xWindowFor(*window);
        const std::string id = std::to_string(xid);
        // This test is the window manager: the X server has none.
        if (maximised) {
            ASSERT_TRUE(runTool("xprop -id " + id +
                                " -f _NET_WM_STATE 32a -set _NET_WM_STATE "
                                "_NET_WM_STATE_MAXIMIZED_VERT,_NET_WM_STATE_MAXIMIZED_HORZ"));
        }
        ASSERT_TRUE(runTool("xdotool windowsize " + id + " 500 350"));
        ASSERT_TRUE(waitFor([&] { return window->frame().size == Size{500, 350}; })) << window->frame().width();
        const std::uint64_t drawn = desktop::framesDrawn(*window);
        ASSERT_TRUE(waitFor([&] { return desktop::framesDrawn(*window) > drawn; }));
        pump(0.1);
        // The top-left corner stays where it was.
        EXPECT_EQ(window->frame().maxY(), 460);
        EXPECT_EQ(edge->frame(), (Rect{480, 0, 20, 350}));
        auto shot = screenshotOf({300, 900 - 460, 500, 350});
        ASSERT_TRUE(shot.ok()) << shot.error();
        EXPECT_TRUE(near(shot->pixelAt(490, 340), Color::fromHex(0x0000FF)));
        EXPECT_TRUE(near(shot->pixelAt(490, 60), Color::fromHex(0x0000FF)));
        EXPECT_TRUE(near(shot->pixelAt(400, 340), Color::fromHex(0xFF0000)));
        EXPECT_TRUE(near(shot->pixelAt(100, 100), Color::fromHex(0xFF0000)));
        window->close();
        pump(0.1);
    }
}

TEST_F(WindowOnScreenTest, AccessibleViewsAreChildrenOfTheWindow) {
    auto window = showWindow({300, 300, 320, 200});
    window->setTitle("Chat");
    int pressed = 0;
    auto button = Button::withTitle("Send", [&](Control&) { ++pressed; });
    button->setFrame({100, 60, 120, 40});
    window->contentView()->addSubview(button);
    auto hidden = Button::withTitle("Hidden");
    hidden->setHidden(true);
    window->contentView()->addSubview(hidden);
    // The application's button holds its title in a label: still one element, the button.
    auto titled = KZCustomViewButton::buttonWithStyle(1);
    titled->setButtonTitle("Log in");
    titled->setFrame({100, 120, 120, 40});
    window->contentView()->addSubview(titled);
    ASSERT_TRUE(waitUntilShown(*window));

    AtkObject* windowAccessible = gtk_widget_get_accessible(desktop::gtkWindowFor(*window));
    EXPECT_STREQ(atk_object_get_name(windowAccessible), "Chat");
    ASSERT_GE(atk_object_get_n_accessible_children(windowAccessible), 1);
    AtkObject* canvas = atk_object_ref_accessible_child(windowAccessible, 0);
    ASSERT_TRUE(canvas);
    AtkObject* send = nullptr;
    std::vector<std::string> names;
    for (int i = 0; i < atk_object_get_n_accessible_children(canvas); ++i) {
        AtkObject* child = atk_object_ref_accessible_child(canvas, i);
        names.emplace_back(atk_object_get_name(child) ? atk_object_get_name(child) : "");
        if (names.back() == "Send") {
            send = child;
        } else {
            g_object_unref(child);
        }
    }
    ASSERT_TRUE(send) << "accessible children: " << names.size();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Hidden"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Log in"), 1);
    const auto loginAt = std::find(names.begin(), names.end(), "Log in") - names.begin();
    AtkObject* login = atk_object_ref_accessible_child(canvas, static_cast<gint>(loginAt));
    ASSERT_TRUE(login);
    EXPECT_EQ(atk_object_get_role(login), ATK_ROLE_PUSH_BUTTON);
    g_object_unref(login);
    EXPECT_EQ(atk_object_get_role(send), ATK_ROLE_PUSH_BUTTON);
    EXPECT_EQ(atk_object_get_parent(send), canvas);
    int x = 0, y = 0, w = 0, h = 0;
    atk_component_get_extents(ATK_COMPONENT(send), &x, &y, &w, &h, ATK_XY_SCREEN);
    const auto expected = desktop::CoordinateSpace::current().toDisplay(
        window->convertRectToScreen(button->convertRectToView(button->bounds(), nullptr)));
    EXPECT_EQ(x, expected.x);
    EXPECT_EQ(y, expected.y);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 40);
    ASSERT_TRUE(atk_action_do_action(ATK_ACTION(send), 0));
    EXPECT_TRUE(waitFor([&] { return pressed == 1; }));
    g_object_unref(send);
    g_object_unref(canvas);
}

}  // namespace
}  // namespace kit::testing
