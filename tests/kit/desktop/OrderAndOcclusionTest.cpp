// Stacking and occlusion as the X server sees them: ordering a window that is already on screen
// to the front raises it, and whether a window can be seen comes from the server.

#include <functional>
#include <vector>

#include "DesktopTestSupport.h"
#include "kit/desktop/X11.h"

namespace kit::testing {
namespace {

using OrderAndOcclusionTest = DesktopTest;

// The root's children from the bottom of the stack to the top (there is no window manager, so
// top-levels are the root's children and the server's order is the stacking order).
std::vector<unsigned long> stackingOrder() {
    Display* display = gdk_x11_get_default_xdisplay();
    gdk_display_flush(gdk_display_get_default());
    XSync(display, False);
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    std::vector<unsigned long> order;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        order.assign(children, children + count);
        XFree(children);
    }
    return order;
}

// True when `upper` lies above `lower` in the server's stacking order.
bool isAbove(const Window& upper, const Window& lower) {
    const auto order = stackingOrder();
    long upperAt = -1;
    long lowerAt = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == desktop::xWindowFor(upper)) upperAt = static_cast<long>(i);
        if (order[i] == desktop::xWindowFor(lower)) lowerAt = static_cast<long>(i);
    }
    return upperAt >= 0 && lowerAt >= 0 && upperAt > lowerAt;
}

unsigned long inputFocus() {
    Display* display = gdk_x11_get_default_xdisplay();
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus;
}

class OcclusionRecorder : public WindowDelegate {
public:
    void windowDidChangeOcclusionState(Window& window) override { states.push_back(window.occlusionState()); }
    std::vector<unsigned> states;
};

bool seen(const Window& window) { return (window.occlusionState() & kWindowOcclusionStateVisible) != 0; }

}  // namespace

TEST_F(OrderAndOcclusionTest, OrderingFrontRaisesAWindowAlreadyOnScreen) {
    auto back = showWindow({100, 100, 300, 200});
    ASSERT_TRUE(waitUntilShown(*back));
    auto front = showWindow({200, 150, 300, 200});
    ASSERT_TRUE(waitUntilShown(*front));
    ASSERT_TRUE(waitFor([&] { return isAbove(*front, *back); }));

    back->orderFront();
    EXPECT_TRUE(waitFor([&] { return isAbove(*back, *front); }));
    front->makeKeyAndOrderFront();
    EXPECT_TRUE(waitFor([&] { return isAbove(*front, *back); }));
    EXPECT_TRUE(front->isKeyWindow());
    back->orderFrontRegardless();
    EXPECT_TRUE(waitFor([&] { return isAbove(*back, *front); }));
}

TEST_F(OrderAndOcclusionTest, APanelThatCannotBeKeyIsRaisedWithoutTakingTheFocus) {
    auto panel = create<Window>(Rect{400, 300, 200, 100}, WindowStyleBorderless | WindowStyleNonactivatingPanel);
    panel->orderFront();
    ASSERT_TRUE(waitUntilShown(*panel));
    auto titled = showWindow({350, 250, 400, 300});
    ASSERT_TRUE(waitUntilShown(*titled));
    ASSERT_TRUE(waitFor([&] { return isAbove(*titled, *panel); }));
    pump(0.1);
    const unsigned long focusBefore = inputFocus();

    panel->orderFront();
    EXPECT_TRUE(waitFor([&] { return isAbove(*panel, *titled); }));
    pump(0.1);
    EXPECT_NE(inputFocus(), desktop::xWindowFor(*panel));
    EXPECT_EQ(inputFocus(), focusBefore);
    EXPECT_TRUE(titled->isKeyWindow());
}

TEST_F(OrderAndOcclusionTest, OcclusionFollowsWhatTheServerShows) {
    auto window = create<Window>(Rect{300, 300, 200, 100}, WindowStyleTitled);
    auto recorder = std::make_shared<OcclusionRecorder>();
    window->setDelegate(recorder);
    window->makeKeyAndOrderFront();
    // Nothing is claimed before the server has mapped the window.
    EXPECT_FALSE(seen(*window));
    ASSERT_TRUE(waitUntilShown(*window));
    EXPECT_TRUE(waitFor([&] { return seen(*window); }));
    EXPECT_EQ(recorder->states, std::vector<unsigned>{kWindowOcclusionStateVisible});

    // Partly covered: still seen.
    auto partial = showWindow({250, 250, 120, 80});
    ASSERT_TRUE(waitUntilShown(*partial));
    pump(0.1);
    EXPECT_TRUE(seen(*window));

    // Fully covered: not seen, and the delegate hears of it.
    recorder->states.clear();
    auto cover = showWindow({200, 200, 500, 400});
    ASSERT_TRUE(waitUntilShown(*cover));
    EXPECT_TRUE(waitFor([&] { return !seen(*window); }));
    EXPECT_EQ(recorder->states, std::vector<unsigned>{0u});
    EXPECT_TRUE(window->isVisible());

    // Raised above the cover, and uncovered again after being buried once more.
    window->orderFront();
    EXPECT_TRUE(waitFor([&] { return seen(*window); }));
    cover->orderFront();
    EXPECT_TRUE(waitFor([&] { return !seen(*window); }));
    cover->orderOut();
    EXPECT_TRUE(waitFor([&] { return seen(*window); }));

    // Ordered out: not seen.
    window->orderOut();
    EXPECT_FALSE(seen(*window));
    pump(0.1);
    EXPECT_FALSE(seen(*window));
}

// Another program's windows cover or uncover a window as they are created, restacked, moved,
// unmapped and destroyed; an input-only window covers nothing.
TEST_F(OrderAndOcclusionTest, OcclusionFollowsAnotherProgramsWindows) {
    auto window = showWindow({300, 300, 200, 100});
    ASSERT_TRUE(waitUntilShown(*window));
    ASSERT_TRUE(waitFor([&] { return seen(*window); }));
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XWindowAttributes placed;
    ASSERT_TRUE(XGetWindowAttributes(gdk_x11_get_default_xdisplay(), desktop::xWindowFor(*window), &placed));
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    auto make = [&](unsigned windowClass) {
        return XCreateWindow(other, DefaultRootWindow(other), placed.x - 10, placed.y - 10, placed.width + 20,
                             placed.height + 20, 0, windowClass == InputOnly ? 0 : CopyFromParent, windowClass,
                             CopyFromParent, CWOverrideRedirect, &attributes);
    };
    const ::Window cover = make(InputOutput);
    struct Step {
        const char* what;
        std::function<void()> act;
        bool seen;
    };
    const Step steps[] = {
        {"mapped over it", [&] { XMapWindow(other, cover); }, false},
        {"lowered", [&] { XLowerWindow(other, cover); }, true},
        {"raised", [&] { XRaiseWindow(other, cover); }, false},
        {"moved away", [&] { XMoveWindow(other, cover, placed.x + placed.width + 50, placed.y); }, true},
        {"moved back", [&] { XMoveWindow(other, cover, placed.x - 10, placed.y - 10); }, false},
        {"unmapped", [&] { XUnmapWindow(other, cover); }, true},
        {"mapped again", [&] { XMapWindow(other, cover); }, false},
        {"destroyed", [&] { XDestroyWindow(other, cover); }, true},
        {"an input-only window over it", [&] { XMapWindow(other, make(InputOnly)); }, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        XSync(other, False);
        EXPECT_TRUE(waitFor([&] { return seen(*window) == step.seen; }));
        pump(0.2);  // and it stays so
        EXPECT_EQ(seen(*window), step.seen);
    }
    XCloseDisplay(other);
}

}  // namespace kit::testing
