// The capture overlay's selection and the frozen frames it is cut from, without a display.

#include <gtest/gtest.h>

#include <cairo.h>

#include "kit/desktop/capture/CaptureOverlayFrames.h"
#include "kit/desktop/capture/CaptureOverlaySelection.h"
#include "kit/ui/ImageData.h"

namespace kit::desktop {
namespace {

using Grip = CaptureOverlaySelection::Grip;

TEST(CaptureOverlaySelectionTest, ADragInAnyDirectionSelectsTheSpannedRectangle) {
    CaptureOverlaySelection selection({0, 0, 1440, 900});
    EXPECT_FALSE(selection.rect());
    selection.press(300, 250);
    EXPECT_TRUE(selection.isTracking());
    selection.drag(320, 260);
    EXPECT_EQ(selection.rect(), (DisplayRect{300, 250, 20, 10}));
    // Back over the start point and beyond: the rectangle turns over.
    selection.drag(100, 100);
    EXPECT_EQ(selection.rect(), (DisplayRect{100, 100, 200, 150}));
    selection.release(120, 130);
    EXPECT_FALSE(selection.isTracking());
    EXPECT_EQ(selection.rect(), (DisplayRect{120, 130, 180, 120}));
}

TEST(CaptureOverlaySelectionTest, AClickWithoutADragSelectsNothing) {
    CaptureOverlaySelection selection({0, 0, 1440, 900});
    selection.press(100, 100);
    selection.release(100, 100);
    EXPECT_FALSE(selection.rect());
    // A line has no area either.
    selection.press(100, 100);
    selection.release(300, 100);
    EXPECT_FALSE(selection.rect());
}

TEST(CaptureOverlaySelectionTest, TheSelectionStaysWithinTheMonitors) {
    // Two monitors side by side, the second one lower down.
    CaptureOverlaySelection selection({-1920, 0, 3360, 1080});
    selection.press(1000, 500);
    selection.release(2000, 1500);
    EXPECT_EQ(selection.rect(), (DisplayRect{1000, 500, 440, 580}));
    selection.press(-1000, 300);
    selection.release(-5000, -20);
    EXPECT_EQ(selection.rect(), (DisplayRect{-1920, 0, 920, 300}));
}

TEST(CaptureOverlaySelectionTest, PressesOnTheEdgesAndInsideTakeTheRightGrip) {
    CaptureOverlaySelection selection({0, 0, 1440, 900});
    selection.press(100, 100);
    selection.release(300, 200);
    EXPECT_EQ(selection.gripAt(200, 150), Grip::Move);
    EXPECT_EQ(selection.gripAt(100, 100), Grip::TopLeft);
    EXPECT_EQ(selection.gripAt(303, 197), Grip::BottomRight);
    EXPECT_EQ(selection.gripAt(298, 103), Grip::TopRight);
    EXPECT_EQ(selection.gripAt(96, 204), Grip::BottomLeft);
    EXPECT_EQ(selection.gripAt(95, 150), Grip::Left);
    EXPECT_EQ(selection.gripAt(305, 150), Grip::Right);
    EXPECT_EQ(selection.gripAt(200, 94), Grip::Top);
    EXPECT_EQ(selection.gripAt(200, 206), Grip::Bottom);
    EXPECT_EQ(selection.gripAt(200, 210), Grip::New);
    EXPECT_EQ(selection.gripAt(50, 150), Grip::New);
}

TEST(CaptureOverlaySelectionTest, DraggingInsideMovesTheSelectionButNotOffTheScreen) {
    CaptureOverlaySelection selection({0, 0, 1440, 900});
    selection.press(100, 100);
    selection.release(300, 200);
    selection.press(150, 150);
    selection.drag(250, 170);
    EXPECT_EQ(selection.rect(), (DisplayRect{200, 120, 200, 100}));
    selection.release(2000, 2000);
    EXPECT_EQ(selection.rect(), (DisplayRect{1240, 800, 200, 100}));
}

TEST(CaptureOverlaySelectionTest, DraggingAnEdgeOrCornerResizesAndCanTurnTheSelectionOver) {
    CaptureOverlaySelection selection({0, 0, 1440, 900});
    selection.press(100, 100);
    selection.release(300, 200);
    // A press three pixels off the right edge: the edge moves by the distance dragged.
    selection.press(303, 150);
    selection.release(353, 400);
    EXPECT_EQ(selection.rect(), (DisplayRect{100, 100, 250, 100}));
    // The top-left corner dragged past the bottom-right one.
    selection.press(100, 100);
    selection.release(400, 260);
    EXPECT_EQ(selection.rect(), (DisplayRect{350, 200, 50, 60}));
    // An edge pushed onto the opposite one leaves nothing.
    selection.press(350, 230);
    selection.release(400, 230);
    EXPECT_FALSE(selection.rect());
}

TEST(CaptureOverlaySelectionTest, APressOutsideStartsANewSelection) {
    CaptureOverlaySelection selection({0, 0, 1440, 900});
    selection.press(100, 100);
    selection.release(300, 200);
    selection.press(600, 600);
    EXPECT_FALSE(selection.rect());
    selection.release(650, 640);
    EXPECT_EQ(selection.rect(), (DisplayRect{600, 600, 50, 40}));
    selection.clear();
    EXPECT_FALSE(selection.rect());
}

// An image whose pixel (x, y) has red x, green y and the given blue, at a scale.
Image pattern(int width, int height, int blue, double scale = 1) {
    auto data = std::make_shared<Image::Data>();
    data->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    data->scale = scale;
    cairo_surface_flush(data->surface);
    unsigned char* pixels = cairo_image_surface_get_data(data->surface);
    const int stride = cairo_image_surface_get_stride(data->surface);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) row[x] = 0xFF000000u | (std::uint32_t(x & 0xFF) << 16) | (std::uint32_t(y & 0xFF) << 8) | blue;
    }
    cairo_surface_mark_dirty(data->surface);
    return Image::fromDataObject(std::move(data));
}

std::uint32_t rgb(const Image& image, int x, int y) { return image.pixelAt(x, y).hex(); }

TEST(CaptureOverlayFramesTest, ACutOutCopiesTheFramesPixelsExactly) {
    CaptureOverlayFrames frames({{{0, 0, 200, 100}, pattern(200, 100, 7), 0}});
    EXPECT_EQ(frames.bounds(), (DisplayRect{0, 0, 200, 100}));
    Image cut = frames.cutOut({30, 40, 50, 20});
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut.pixelWidth(), 50);
    EXPECT_EQ(cut.pixelHeight(), 20);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 50; ++x) ASSERT_EQ(rgb(cut, x, y), (std::uint32_t(30 + x) << 16) | (std::uint32_t(40 + y) << 8) | 7) << x << "," << y;
    }
    EXPECT_FALSE(frames.cutOut({30, 40, 0, 20}));
    EXPECT_FALSE(frames.cutOut({500, 500, 10, 10}));
}

TEST(CaptureOverlayFramesTest, ACutOutAcrossMonitorsJoinsThemAndLeavesGapsClear) {
    // A monitor of 100 x 100 and a taller one to its right.
    CaptureOverlayFrames frames({{{0, 0, 100, 100}, pattern(100, 100, 1), 0}, {{100, 0, 100, 150}, pattern(100, 150, 2), 1}});
    EXPECT_EQ(frames.bounds(), (DisplayRect{0, 0, 200, 150}));
    Image cut = frames.cutOut({90, 80, 20, 40});
    ASSERT_TRUE(cut);
    EXPECT_EQ(rgb(cut, 0, 0), (90u << 16) | (80u << 8) | 1);
    EXPECT_EQ(rgb(cut, 10, 0), (0u << 16) | (80u << 8) | 2);
    EXPECT_EQ(rgb(cut, 19, 39), (9u << 16) | (119u << 8) | 2);
    // Below the first monitor there is nothing.
    EXPECT_EQ(cut.pixelAt(0, 39).alpha, 0);
}

TEST(CaptureOverlayFramesTest, ACutOutKeepsTheFramesPixelScale) {
    // A monitor of 100 x 50 points shown with 200 x 100 pixels.
    CaptureOverlayFrames frames({{{0, 0, 100, 50}, pattern(200, 100, 3, 2), 0}});
    Image cut = frames.cutOut({10, 5, 30, 20});
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut.scale(), 2);
    EXPECT_EQ(cut.pixelWidth(), 60);
    EXPECT_EQ(cut.pixelHeight(), 40);
    EXPECT_EQ(cut.size(), (Size{30, 20}));
    EXPECT_EQ(rgb(cut, 0, 0), (20u << 16) | (10u << 8) | 3);
    EXPECT_EQ(rgb(cut, 59, 39), (79u << 16) | (49u << 8) | 3);
}

}  // namespace
}  // namespace kit::desktop
