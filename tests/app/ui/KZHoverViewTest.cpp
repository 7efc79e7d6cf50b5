#include <vector>

#include "AppUiTestSupport.h"
#include "app/ui/KZHoverView.h"
#include "frameworks/ColorHelpers.h"

namespace {

using quarn::testing::AppUiTest;

class KZHoverViewTest : public AppUiTest {
protected:
    void SetUp() override {
        window = makeWindow({300, 200});
        hover = kit::create<KZHoverView>(kit::Rect{50, 50, 100, 40});
        window->contentView()->addSubview(hover);
        window->layoutIfNeeded();
    }
    kit::Point screen(kit::Point p) { return window->convertPointToScreen(p); }
    kit::Color background() const { return hover->layer().backgroundColor.value_or(kit::Color{0, 0, 0, -1}); }

    std::shared_ptr<kit::Window> window;
    std::shared_ptr<KZHoverView> hover;
};

TEST_F(KZHoverViewTest, PaintsPressedThenHoveredThenDefaultColour) {
    hover->setGetDefaultColor([](bool dark) { return dark ? colorWithHex(0x111111) : colorWithHex(0xAAAAAA); });
    hover->setGetHoverColor([](bool) { return colorWithHex(0x00FF00); });
    hover->setGetPressColor([](bool) { return colorWithHex(0xFF0000); });
    EXPECT_EQ(background(), colorWithHex(0xAAAAAA));

    ui.moveMouse(screen({60, 60}));
    EXPECT_TRUE(hover->isHovered());
    EXPECT_EQ(background(), colorWithHex(0x00FF00));
    ui.mouseDown(*window, {60, 60});
    EXPECT_TRUE(hover->isPressed());
    EXPECT_EQ(background(), colorWithHex(0xFF0000));
    ui.mouseUp(*window, {60, 60});
    EXPECT_FALSE(hover->isPressed());
    EXPECT_EQ(background(), colorWithHex(0x00FF00));
    ui.moveMouse(screen({5, 5}));
    EXPECT_FALSE(hover->isHovered());
    EXPECT_EQ(background(), colorWithHex(0xAAAAAA));

    // The blocks get the theme flag each time the view paints.
    setDark(true);
    EXPECT_EQ(background(), colorWithHex(0x111111));
}

TEST_F(KZHoverViewTest, WithoutBlocksTheBackgroundIsClearAndAMissingStateBlockFallsThrough) {
    hover->setIsHovered(true);
    hover->setIsPressed(true);
    EXPECT_EQ(background(), kit::Color::clear());
    hover->setGetDefaultColor([](bool) { return colorWithHex(0x123456); });
    EXPECT_EQ(background(), colorWithHex(0x123456)) << "pressed and hovered without their blocks";
    hover->setGetHoverColor([](bool) { return colorWithHex(0x00FF00); });
    EXPECT_EQ(background(), colorWithHex(0x00FF00));
}

TEST_F(KZHoverViewTest, LeavingClearsPressedAndTellsTheHoverBlock) {
    std::vector<bool> changes;
    hover->setHoverChangeStatusBlock([&](KZHoverView& v, const kit::Event& event) {
        EXPECT_TRUE(event.type == kit::EventType::MouseEntered || event.type == kit::EventType::MouseExited);
        changes.push_back(v.isHovered());
    });
    ui.moveMouse(screen({60, 60}));
    ui.mouseDown(*window, {60, 60});
    ASSERT_TRUE(hover->isPressed());
    ui.moveMouse(screen({200, 150}));  // dragged out with the button held
    EXPECT_FALSE(hover->isHovered());
    EXPECT_FALSE(hover->isPressed());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    ui.mouseUp(*window, {200, 150});
}

TEST_F(KZHoverViewTest, OneTrackingAreaFollowsTheSize) {
    ASSERT_EQ(hover->trackingAreas().size(), 1u);
    EXPECT_EQ(hover->trackingAreas()[0]->options(), 0xC3u);
    EXPECT_EQ(hover->trackingAreas()[0]->rect(), (kit::Rect{0, 0, 100, 40}));
    hover->setFrame({50, 50, 160, 60});
    window->layoutIfNeeded();
    ASSERT_EQ(hover->trackingAreas().size(), 1u);
    EXPECT_EQ(hover->trackingAreas()[0]->rect(), (kit::Rect{0, 0, 160, 60}));
    ui.moveMouse(screen({200, 100}));
    EXPECT_TRUE(hover->isHovered());
}

}  // namespace
