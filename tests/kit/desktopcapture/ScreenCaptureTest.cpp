// The screenshot capture on a real display, driven by xdotool as a user would drive it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureTestSupport.h"
#include "kit/desktop/capture/CaptureOverlay.h"
#include "kit/desktop/capture/ScreenCaptureX11.h"
#include "kit/sys/ScreenCapture.h"
#include "kit/ui/Image.h"
#include "kit/ui/Pasteboard.h"

#include <gdk/gdkx.h>

namespace kit::testing {
namespace {

// Whether another client can take the pointer and the keyboard (no capture holds them).
bool inputIsFree() {
    Display* other = XOpenDisplay(nullptr);
    if (!other) return false;
    const ::Window root = DefaultRootWindow(other);
    const bool pointer = XGrabPointer(other, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
    const bool keyboard = XGrabKeyboard(other, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
    XUngrabPointer(other, CurrentTime);
    XUngrabKeyboard(other, CurrentTime);
    XCloseDisplay(other);
    return pointer && keyboard;
}

struct Outcome {
    int calls = 0;
    std::optional<std::vector<std::uint8_t>> png;
};

class ScreenCaptureTest : public CaptureDesktopTest {
protected:
    void SetUp() override {
        CaptureDesktopTest::SetUp();
        if (IsSkipped()) return;
        capture_ = dynamic_cast<desktop::ScreenCaptureX11*>(&ScreenCapture::shared());
        ASSERT_NE(capture_, nullptr) << "the desktop backend installs the X11 screen capture";
    }

    void TearDown() override {
        if (capture_ && capture_->isSelecting()) {
            capture_->cancelSelection();
            waitFor([&] { return !capture_->isSelecting(); });
        }
    }

    // Starts a selection and waits until its overlays are up and hold the pointer.
    std::shared_ptr<Outcome> startSelection() {
        auto outcome = std::make_shared<Outcome>();
        capture_->selectRegion([outcome](std::optional<std::vector<std::uint8_t>> png) {
            ++outcome->calls;
            outcome->png = std::move(png);
        });
        GdkDisplay* display = gdk_display_get_default();
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        const bool up = waitFor([&] {
            auto* overlay = capture_->overlay();
            if (!overlay || overlay->windows().empty()) return false;
            for (GtkWidget* window : overlay->windows()) {
                if (!gtk_widget_get_mapped(window)) return false;
            }
            return gdk_display_device_is_grabbed(display, pointer) == TRUE;
        });
        EXPECT_TRUE(up) << "the capture overlay did not come up";
        pump(0.1);
        EXPECT_FALSE(inputIsFree()) << "the overlay should hold the pointer and the keyboard";
        return outcome;
    }

    std::optional<desktop::DisplayRect> selected() const {
        auto* overlay = capture_->overlay();
        return overlay ? overlay->selection().rect() : std::nullopt;
    }

    desktop::ScreenCaptureX11* capture_ = nullptr;
};

TEST_F(ScreenCaptureTest, OneOverlayCoversTheMonitorAboveOtherWindowsShowingTheFrozenFrameDimmed) {
    PatternWindow pattern(200, 150, 400, 300);
    ASSERT_TRUE(waitFor([&] { return pattern.isOnScreen(); }));
    auto outcome = startSelection();
    auto* overlay = capture_->overlay();
    ASSERT_NE(overlay, nullptr);
    ASSERT_EQ(overlay->windows().size(), 1u);
    GtkWidget* window = overlay->windows()[0];
    const auto xid = GDK_WINDOW_XID(gtk_widget_get_window(window));
    auto info = runTool("xwininfo -id " + std::to_string(xid));
    ASSERT_TRUE(info);
    EXPECT_NE(info->find("Absolute upper-left X:  0\n"), std::string::npos) << *info;
    EXPECT_NE(info->find("Absolute upper-left Y:  0\n"), std::string::npos) << *info;
    EXPECT_NE(info->find("Width: 1440\n"), std::string::npos) << *info;
    EXPECT_NE(info->find("Height: 900\n"), std::string::npos) << *info;
    EXPECT_NE(info->find("Map State: IsViewable"), std::string::npos) << *info;
    auto state = runTool("xprop -id " + std::to_string(xid) + " _NET_WM_STATE");
    ASSERT_TRUE(state);
    EXPECT_NE(state->find("_NET_WM_STATE_ABOVE"), std::string::npos) << *state;

    // Dimmed everywhere while nothing is selected; the selection shows the frame as it was.
    const std::uint32_t original = patternColor(150, 150);
    ASSERT_TRUE(waitFor([&] {
        const std::uint32_t seen = screenPixel(350, 300);
        return seen != original && ((seen >> 16) & 0xFF) < ((original >> 16) & 0xFF);
    }));
    ASSERT_TRUE(runTool("xdotool mousemove 300 250 mousedown 1 mousemove 350 280 mousemove 450 400 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected() == desktop::DisplayRect{300, 250, 150, 150}; })) << "the selection did not follow the mouse";
    EXPECT_TRUE(waitFor([&] { return screenPixel(350, 300) == original; }));
    // Outside the selection it stays dimmed.
    EXPECT_NE(screenPixel(250, 200), patternColor(50, 50));
    EXPECT_EQ(outcome->calls, 0);
}

TEST_F(ScreenCaptureTest, ADraggedRectangleConfirmedWithReturnIsCutFromWhatWasOnScreen) {
    auto pattern = std::make_unique<PatternWindow>(200, 150, 400, 300);
    ASSERT_TRUE(waitFor([&] { return pattern->isOnScreen(); }));
    auto& pasteboard = Pasteboard::general();
    pasteboard.clearContents();
    pasteboard.setString("before the capture");
    auto outcome = startSelection();
    // What the overlay shows is the frozen frame: the window going now changes nothing.
    pattern.reset();
    pump(0.1);
    ASSERT_TRUE(runTool("xdotool mousemove 250 200 mousedown 1 mousemove 300 240 mousemove 370 280 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected() == desktop::DisplayRect{250, 200, 120, 80}; }));
    ASSERT_TRUE(runTool("xdotool key Return"));
    ASSERT_TRUE(waitFor([&] { return outcome->calls > 0; }));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(capture_->isSelecting());
    ASSERT_TRUE(outcome->png);
    auto image = Image::fromData(*outcome->png);
    ASSERT_TRUE(image) << image.error();
    ASSERT_EQ(image->pixelWidth(), 120);
    ASSERT_EQ(image->pixelHeight(), 80);
    int wrong = 0;
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 120; ++x) {
            if (image->pixelAt(x, y).hex() != patternColor(50 + x, 50 + y)) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0) << "pixels that differ from the screen";

    // The pasteboard holds the image alone, and the desktop's clipboard offers it.
    EXPECT_FALSE(pasteboard.stringForType());
    Image pasted = pasteboard.readImage();
    ASSERT_TRUE(pasted);
    EXPECT_EQ(pasted.pixelWidth(), 120);
    EXPECT_EQ(pasted.pixelAt(7, 9).hex(), patternColor(57, 59));
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    EXPECT_TRUE(waitFor([&] { return gtk_clipboard_wait_is_image_available(clipboard) == TRUE; }));
}

TEST_F(ScreenCaptureTest, TheSelectionCanBeMovedAndIsConfirmedByADoubleClickInside) {
    PatternWindow pattern(200, 150, 400, 300);
    ASSERT_TRUE(waitFor([&] { return pattern.isOnScreen(); }));
    auto outcome = startSelection();
    ASSERT_TRUE(runTool("xdotool mousemove 250 200 mousedown 1 mousemove 300 240 mousemove 370 280 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected() == desktop::DisplayRect{250, 200, 120, 80}; }));
    // Dragged from inside, it moves.
    ASSERT_TRUE(runTool("xdotool mousemove 300 240 mousedown 1 mousemove 310 245 mousemove 320 250 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected() == desktop::DisplayRect{270, 210, 120, 80}; }));
    // The bottom-right corner pulled out by ten pixels each way.
    ASSERT_TRUE(runTool("xdotool mousemove 390 290 mousedown 1 mousemove 395 295 mousemove 400 300 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected() == desktop::DisplayRect{270, 210, 130, 90}; }));
    ASSERT_TRUE(runTool("xdotool mousemove 330 250 click --repeat 2 --delay 60 1"));
    ASSERT_TRUE(waitFor([&] { return outcome->calls > 0; }));
    ASSERT_TRUE(outcome->png);
    auto image = Image::fromData(*outcome->png);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->pixelWidth(), 130);
    ASSERT_EQ(image->pixelHeight(), 90);
    EXPECT_EQ(image->pixelAt(0, 0).hex(), patternColor(70, 60));
    EXPECT_EQ(image->pixelAt(129, 89).hex(), patternColor(199, 149));
}

TEST_F(ScreenCaptureTest, EscapeOrARightClickCancelsWithNothing) {
    auto& pasteboard = Pasteboard::general();
    pasteboard.clearContents();
    pasteboard.setString("kept");
    const long changes = pasteboard.changeCount();

    auto outcome = startSelection();
    ASSERT_TRUE(runTool("xdotool mousemove 250 200 mousedown 1 mousemove 300 240 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected().has_value(); }));
    ASSERT_TRUE(runTool("xdotool key Escape"));
    ASSERT_TRUE(waitFor([&] { return outcome->calls > 0; }));
    EXPECT_FALSE(outcome->png);
    EXPECT_FALSE(capture_->isSelecting());
    EXPECT_TRUE(inputIsFree());

    auto second = startSelection();
    ASSERT_TRUE(runTool("xdotool mousemove 600 500 click 3"));
    ASSERT_TRUE(waitFor([&] { return second->calls > 0; }));
    EXPECT_FALSE(second->png);

    pump(0.1);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(pasteboard.changeCount(), changes);
    EXPECT_EQ(pasteboard.stringForType(), "kept");
}

TEST_F(ScreenCaptureTest, ReturnWithNothingSelectedKeepsTheOverlayUp) {
    auto outcome = startSelection();
    ASSERT_TRUE(runTool("xdotool key Return"));
    // A click selects nothing either.
    ASSERT_TRUE(runTool("xdotool mousemove 500 500 click 1"));
    pump(0.3);
    EXPECT_EQ(outcome->calls, 0);
    EXPECT_TRUE(capture_->isSelecting());
    capture_->cancelSelection();
    ASSERT_TRUE(waitFor([&] { return outcome->calls == 1; }));
    EXPECT_FALSE(outcome->png);
}

TEST_F(ScreenCaptureTest, AnOverlayWindowClosedFromOutsideCancels) {
    auto outcome = startSelection();
    ASSERT_TRUE(runTool("xdotool mousemove 250 200 mousedown 1 mousemove 300 240 mouseup 1"));
    ASSERT_TRUE(waitFor([&] { return selected().has_value(); }));
    gtk_widget_destroy(capture_->overlay()->windows().front());
    ASSERT_TRUE(waitFor([&] { return outcome->calls == 1; }));
    EXPECT_FALSE(outcome->png);
    EXPECT_FALSE(capture_->isSelecting());
    EXPECT_TRUE(inputIsFree());
}

TEST_F(ScreenCaptureTest, InputHeldByAnotherClientIsTakenOnceFreeElseTheCaptureEnds) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    const ::Window root = DefaultRootWindow(other);
    auto holdInput = [&] {
        XGrabPointer(other, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
        XGrabKeyboard(other, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XSync(other, False);
    };
    auto releaseInput = [&] {
        XUngrabPointer(other, CurrentTime);
        XUngrabKeyboard(other, CurrentTime);
        XSync(other, False);
    };

    // Held for a moment (as a menu would): the overlay gets the input once it is free.
    holdInput();
    auto outcome = std::make_shared<Outcome>();
    capture_->selectRegion([outcome](std::optional<std::vector<std::uint8_t>> png) {
        ++outcome->calls;
        outcome->png = std::move(png);
    });
    pump(0.3);
    EXPECT_TRUE(capture_->isSelecting());
    releaseInput();
    ASSERT_TRUE(waitFor([] { return !inputIsFree(); }));
    ASSERT_TRUE(runTool("xdotool key Escape"));
    ASSERT_TRUE(waitFor([&] { return outcome->calls == 1; }));

    // Held for good: the capture does not leave the screen frozen.
    holdInput();
    auto second = std::make_shared<Outcome>();
    capture_->selectRegion([second](std::optional<std::vector<std::uint8_t>> png) {
        ++second->calls;
        second->png = std::move(png);
    });
    EXPECT_TRUE(waitFor([&] { return second->calls == 1; }, 10));
    EXPECT_FALSE(second->png);
    EXPECT_FALSE(capture_->isSelecting());
    releaseInput();
    XCloseDisplay(other);
}

TEST_F(ScreenCaptureTest, ASecondSelectionWhileOneIsOpenAnswersNothingAndTheFirstGoesOn) {
    auto first = startSelection();
    int secondCalls = 0;
    bool secondHadImage = true;
    capture_->selectRegion([&](const std::optional<std::vector<std::uint8_t>>& png) {
        ++secondCalls;
        secondHadImage = png.has_value();
    });
    // Never inside the call.
    EXPECT_EQ(secondCalls, 0);
    ASSERT_TRUE(waitFor([&] { return secondCalls == 1; }));
    EXPECT_FALSE(secondHadImage);
    EXPECT_TRUE(capture_->isSelecting());
    ASSERT_TRUE(runTool("xdotool mousemove 100 100 mousedown 1 mousemove 150 120 mousemove 160 130 mouseup 1 key Return"));
    ASSERT_TRUE(waitFor([&] { return first->calls == 1; }));
    ASSERT_TRUE(first->png);
    auto image = Image::fromData(*first->png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (Size{60, 30}));
}

}  // namespace
}  // namespace kit::testing
