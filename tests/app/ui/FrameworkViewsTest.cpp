#include "AppUiTestSupport.h"
#include "frameworks/COSwitch.h"
#include "frameworks/HXLoadingView.h"
#include "kit/headless/OffscreenRenderer.h"

namespace {

using quarn::testing::AppUiTest;

bool anyPixelDrawn(const kit::Image& image) {
    for (int y = 0; y < image.pixelHeight(); ++y)
        for (int x = 0; x < image.pixelWidth(); ++x)
            if (image.pixelAt(x, y).alpha > 0) return true;
    return false;
}

class SpinnerTest : public AppUiTest {};

TEST_F(SpinnerTest, TurnsOneSpokePerTickWhileAnimatingAndDrawsNothingWhenStopped) {
    auto spinner = kit::create<HXLoadingView>(kit::Rect{0, 0, 32, 32});
    EXPECT_FALSE(spinner->isAnimating());
    EXPECT_FALSE(anyPixelDrawn(kit::renderView(*spinner)));

    spinner->startAnimation();
    spinner->startAnimation();  // a second start adds no second timer
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_TRUE(anyPixelDrawn(kit::renderView(*spinner)));
    env.advance(HXLoadingView::kTickInterval * 3 + 1e-6);
    EXPECT_EQ(spinner->step(), 3);
    env.advance(1.0);
    EXPECT_EQ(spinner->step(), 3) << "one full turn a second";

    spinner->stopAnimation();
    EXPECT_FALSE(spinner->isAnimating());
    env.advance(0.5);
    EXPECT_EQ(spinner->step(), 3);
    EXPECT_FALSE(anyPixelDrawn(kit::renderView(*spinner)));
}

TEST_F(SpinnerTest, ASpinnerReleasedWhileAnimatingLeavesNoTimerBehind) {
    const auto before = env.loop().pendingTaskCount();
    {
        auto spinner = kit::create<HXLoadingView>(kit::Rect{0, 0, 20, 20});
        spinner->startAnimation();
        env.advance(0.2);
    }
    env.advance(1.0);
    EXPECT_EQ(env.loop().pendingTaskCount(), before);
}

class SwitchTest : public AppUiTest {
protected:
    void SetUp() override {
        window = makeWindow({200, 100});
        control = kit::create<COSwitch>(kit::Rect{20, 20, 38, 22});
        window->contentView()->addSubview(control);
        control->setAction([this](kit::Control&) { states.push_back(control->isOn()); });
    }
    std::shared_ptr<kit::Window> window;
    std::shared_ptr<COSwitch> control;
    std::vector<bool> states;
};

TEST_F(SwitchTest, AClickTogglesAndSendsTheActionAReleaseOutsideDoesNot) {
    ui.click(*window, {30, 30});
    ui.click(*window, {30, 30});
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    ui.drag(*window, {30, 30}, {150, 80});
    EXPECT_EQ(states.size(), 2u);
    EXPECT_FALSE(control->isOn());
    EXPECT_FALSE(control->isHighlighted());

    control->setOn(true);
    EXPECT_EQ(states.size(), 2u) << "setting the state sends nothing";
    EXPECT_EQ(kit::colorAtPoint(kit::renderView(*control), {27, 11}), kit::Color::white()) << "the knob sits right";
}

TEST_F(SwitchTest, AccessibilityPressTogglesUnlessDisabled) {
    EXPECT_EQ(control->accessibilityRole(), "AXCheckBox");
    EXPECT_TRUE(control->accessibilityPerformPress());
    EXPECT_EQ(states, std::vector<bool>{true});
    control->setEnabled(false);
    EXPECT_FALSE(control->accessibilityPerformPress());
    ui.click(*window, {30, 30});
    EXPECT_EQ(states.size(), 1u);
    EXPECT_TRUE(control->isOn());
}

}  // namespace
