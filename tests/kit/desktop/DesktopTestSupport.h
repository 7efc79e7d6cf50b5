#pragma once
// Fixture for tests on a real X server: installs the desktop backend once per process, resets
// the application between tests, pumps the GLib loop until a condition holds, and asks outside
// tools (xdotool, xwininfo, xprop, import) about the display.

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/Desktop.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Window.h"

namespace kit::testing {

// Runs a command line; its standard output, or nullopt when it failed.
inline std::optional<std::string> runTool(const std::string& commandLine) {
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    GError* error = nullptr;
    const gboolean ran = g_spawn_command_line_sync(commandLine.c_str(), &out, &err, &status, &error);
    std::optional<std::string> result;
    if (ran && g_spawn_check_wait_status(status, nullptr)) result = std::string(out ? out : "");
    if (error) g_error_free(error);
    g_free(out);
    g_free(err);
    return result;
}

// Geometry of an X window as xwininfo reports it.
struct OutsideGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool viewable = false;
};

inline std::optional<OutsideGeometry> xwininfo(unsigned long xid) {
    auto out = runTool("xwininfo -id " + std::to_string(xid));
    if (!out) return std::nullopt;
    auto field = [&](const std::string& name) {
        const auto at = out->find(name);
        return at == std::string::npos ? 0 : std::atoi(out->c_str() + at + name.size());
    };
    OutsideGeometry g;
    g.x = field("Absolute upper-left X:");
    g.y = field("Absolute upper-left Y:");
    g.width = field("Width:");
    g.height = field("Height:");
    g.viewable = out->find("Map State: IsViewable") != std::string::npos;
    return g;
}

class DesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_getenv("DISPLAY")) return;
        auto status = desktop::install();
        ASSERT_TRUE(status.ok()) << status.error();
    }

    void SetUp() override {
        if (!desktop::isInstalled()) GTEST_SKIP() << "no X display (run through run-under-xvfb.sh)";
        Application::shared().reset();
        pump(0.05);
    }

    void TearDown() override {
        if (!desktop::isInstalled()) return;
        Application::shared().reset();
        pump(0.05);
    }

    // Runs the main loop until `done` answers true or `seconds` of real time have passed.
    static bool waitFor(const std::function<bool()>& done, double seconds = 5) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Runs the main loop for a while.
    static void pump(double seconds) {
        waitFor([] { return false; }, seconds);
    }

    static std::shared_ptr<Window> showWindow(Rect frame, unsigned style = WindowStyleTitled | WindowStyleClosable) {
        auto window = create<Window>(frame, style);
        window->setFrame(frame);
        window->makeKeyAndOrderFront();
        return window;
    }

    // Waits until the window is on screen, drawn, and where the model says.
    static bool waitUntilShown(const Window& window) {
        const bool shown = waitFor([&] {
            const unsigned long xid = desktop::xWindowFor(window);
            if (!xid || desktop::framesDrawn(window) == 0) return false;
            auto g = xwininfo(xid);
            const auto expected = desktop::CoordinateSpace::current().toDisplay(window.frame());
            return g && g->viewable && g->x == expected.x && g->y == expected.y && g->width == expected.width &&
                   g->height == expected.height;
        });
        if (!shown) {
            auto g = xwininfo(desktop::xWindowFor(window));
            const auto expected = desktop::CoordinateSpace::current().toDisplay(window.frame());
            ADD_FAILURE() << "window " << desktop::xWindowFor(window) << " drawn " << desktop::framesDrawn(window)
                          << " times; expected " << expected.x << "," << expected.y << " " << expected.width << "x"
                          << expected.height << ", seen "
                          << (g ? std::to_string(g->x) + "," + std::to_string(g->y) + " " + std::to_string(g->width) + "x" +
                                      std::to_string(g->height) + (g->viewable ? " viewable" : " not viewable")
                                : std::string("nothing"));
        }
        return shown;
    }

    // A point of a window (base coordinates) on the display, for xdotool.
    static std::pair<int, int> displayPoint(const Window& window, Point inWindow) {
        const Point p = desktop::CoordinateSpace::current().toDisplay(window.convertPointToScreen(inWindow));
        return {static_cast<int>(p.x), static_cast<int>(p.y)};
    }
};

}  // namespace kit::testing
