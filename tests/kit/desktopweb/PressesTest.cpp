// Presses outside a window, as whatever closes popovers and panels sees them: on a page, which
// takes its clicks itself, and in another application, under a window manager that moves the
// focus with the click.

#include <signal.h>
#include <sys/wait.h>

#include "WebTestSupport.h"
#include "kit/desktop/X11.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Window.h"

namespace kit::testing {
namespace {

using PressesTest = WebEngineTest;

// Another program, stopped when the object goes.
class OtherProgram {
public:
    explicit OtherProgram(std::vector<std::string> argv) {
        std::vector<gchar*> args;
        args.reserve(argv.size() + 1);
        for (auto& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        GError* error = nullptr;
        const auto flags = GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD);
        if (!g_spawn_async(nullptr, args.data(), nullptr, flags, nullptr, nullptr, &pid_, &error)) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << (error ? error->message : "?");
            if (error) g_error_free(error);
            pid_ = 0;
        }
    }
    ~OtherProgram() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

private:
    GPid pid_ = 0;
};

bool hasFocus(const Window& window) {
    GtkWidget* toplevel = desktop::gtkWindowFor(window);
    return toplevel && gtk_window_is_active(GTK_WINDOW(toplevel));
}

TEST_F(PressesTest, PressesOnAPageAndInAnotherApplicationReachTheMonitorsAsTheyWillBe) {
    // The other application first: a window manager starting takes in the windows already
    // there, and once it has framed this one it manages whatever maps next.
    OtherProgram other({"xmessage", "-geometry", "300x150+100+100", "another application"});
    const std::string rootWindow = "WINDOW=" + std::to_string(gdk_x11_get_default_root_xwindow()) + "\n";
    ASSERT_TRUE(waitFor([&] {
        auto out = runTool("xdotool mousemove 250 175 getmouselocation --shell");
        return out && out->find("WINDOW=") != std::string::npos && out->find(rootWindow) == std::string::npos;
    }));
    OtherProgram windowManager({"openbox", "--sm-disable"});
    ASSERT_TRUE(waitFor([] {
        auto out = runTool("xprop -root _NET_CLIENT_LIST");
        return out && out->find("window id #") != std::string::npos;
    }));

    // A window with a page, like the side window, and a small window beside it that takes the
    // keyboard when it opens, like a popover.
    server.page("/page.html",
                "<html><body style='margin:0;height:100vh' "
                "onmousedown='window.presses=(window.presses||0)+1'></body></html>");
    const auto shown = openPageWindow({900, 100, 400, 600});
    const auto& window = shown.window;
    ASSERT_TRUE(loadAndWait(*shown.page, server.url("/page.html"), *shown.navigation));
    auto popover = create<Window>(Rect{1000, 600, 200, 84}, WindowStyleResizable);
    popover->setFrame({1000, 600, 200, 84});

    struct Seen {
        std::string what;
        const Window* window = nullptr;
        Point location;
        bool popoverIsKey = false;
        bool applicationIsActive = false;
    };
    std::vector<Seen> seen;
    auto record = [&](const char* kind, const Event& e) {
        const std::string type = e.type == EventType::LeftMouseDown ? "down"
                                 : e.type == EventType::LeftMouseUp ? "up"
                                                                    : "other";
        seen.push_back({std::string(kind) + " " + type, e.windowShared().get(), e.locationInWindow,
                        popover->isKeyWindow(), Application::shared().isActive()});
    };
    auto local = EventMonitor::addLocalMonitor(EventMasks::LeftMouseDown | EventMasks::LeftMouseUp,
                                               [&](const Event& e) -> std::optional<Event> {
                                                   record("local", e);
                                                   return e;
                                               });
    auto global =
        EventMonitor::addGlobalMonitor(EventMasks::LeftMouseDown, [&](const Event& e) { record("global", e); });

    struct Case {
        const char* name;
        std::string click;
        std::vector<std::string> expected;
    };
    const std::string pageWindow = std::to_string(desktop::xWindowFor(*window));
    const std::vector<Case> cases{
        {"a click on the page", "mousemove --window " + pageWindow + " 200 500 click 1", {"local down", "local up"}},
        {"a click in another application", "mousemove 250 175 click 1", {"global down"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        popover->makeKeyAndOrderFront();
        ASSERT_TRUE(waitFor([&] { return hasFocus(*popover) && popover->isKeyWindow(); }));
        pump(0.3);
        seen.clear();
        ASSERT_TRUE(runTool("xdotool " + c.click));
        ASSERT_TRUE(waitFor([&] { return seen.size() >= c.expected.size(); }));
        pump(0.3);
        std::vector<std::string> what;
        what.reserve(seen.size());
        for (const auto& s : seen) what.push_back(s.what);
        EXPECT_EQ(what, c.expected);
        for (const auto& s : seen) {
            if (s.what.starts_with("local")) {
                // In the page's window, where the page was clicked; the page had the click too.
                EXPECT_EQ(s.window, window.get());
                EXPECT_EQ(s.location, (Point{200, 100}));
            } else {
                // The other application has the focus by now: the popover is no key window.
                EXPECT_EQ(s.window, nullptr);
                EXPECT_FALSE(s.popoverIsKey);
                EXPECT_FALSE(s.applicationIsActive);
            }
        }
    }
    auto presses = evaluate(*shown.page, "window.presses || 0");
    ASSERT_TRUE(presses && presses->ok());
    EXPECT_EQ(**presses, Value(1));
    popover->orderOut();
    window->orderOut();
}

}  // namespace
}  // namespace kit::testing
