#pragma once
// Fixture for tests on a real X server (see tests/support/DesktopLoop.h): resets the application
// between tests, shows windows and asks outside tools (xwininfo) about the display.

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
#include "tests/support/DesktopLoop.h"

namespace kit::testing {

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

class DesktopTest : public DesktopBackendTest {
protected:
    void SetUp() override {
        DesktopBackendTest::SetUp();
        if (IsSkipped()) return;
        Application::shared().reset();
        pump(0.05);
    }

    void TearDown() override {
        if (!desktop::isInstalled()) return;
        Application::shared().reset();
        pump(0.05);
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
