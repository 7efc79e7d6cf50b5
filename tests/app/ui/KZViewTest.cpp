#include <string>
#include <vector>

#include "AppUiTestSupport.h"
#include "app/ui/KZAcceptsFirstMouseViews.h"
#include "app/ui/KZBackgroundView.h"
#include "app/ui/KZImageTint.h"
#include "app/ui/KZImageView.h"
#include "app/ui/KZLineView.h"
#include "app/ui/KZNoMouseEventView.h"
#include "app/ui/KZView.h"
#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "frameworks/ColorHelpers.h"
#include "kit/ui/Button.h"

namespace {

using quarn::testing::AppUiTest;
using quarn::testing::near;

// Records the hooks in the order they run.
class HookView : public KZView {
public:
    using KZView::KZView;
    void setupConfig() override {
        KZView::setupConfig();
        calls.push_back("setupConfig");
    }
    void setupSubviews() override { calls.push_back("setupSubviews"); }
    void setupSubviewsLayout() override { calls.push_back("setupSubviewsLayout"); }
    void setupSubviewsColorWithDark(bool dark) override {
        KZView::setupSubviewsColorWithDark(dark);
        calls.push_back(dark ? "color:dark" : "color:light");
    }
    std::vector<std::string> calls;
};

class KZViewTest : public AppUiTest {};

TEST_F(KZViewTest, HooksRunOnceInOrderAndTheColourHookFollowsTheAppearance) {
    auto window = makeWindow({200, 100});
    auto view = kit::create<HookView>(kit::Rect{0, 0, 50, 50});
    EXPECT_EQ(view->calls, (std::vector<std::string>{"setupConfig", "setupSubviews", "setupSubviewsLayout", "color:light"}));
    EXPECT_TRUE(view->wantsLayer());
    window->contentView()->addSubview(view);

    view->calls.clear();
    setDark(true);
    EXPECT_EQ(view->calls, std::vector<std::string>{"color:dark"});
    setDark(true);  // no change, no call
    EXPECT_EQ(view->calls.size(), 1u);
    setDark(false);
    EXPECT_EQ(view->calls, (std::vector<std::string>{"color:dark", "color:light"}));
}

TEST_F(KZViewTest, ColourBlockRunsAtOnceAndOnAppearanceChangesAndNilClearsWithoutACall) {
    auto window = makeWindow({200, 100});
    auto view = kit::create<KZView>(kit::Rect{0, 0, 50, 50});
    window->contentView()->addSubview(view);
    std::vector<bool> seen;
    view->setSetupSubviewsColorBlock([&](KZView& v, bool dark) {
        seen.push_back(dark);
        v.setBackgroundColor(dark ? kit::Color::black() : kit::Color::white());
    });
    EXPECT_EQ(seen, std::vector<bool>{false});
    EXPECT_EQ(view->layer().backgroundColor, kit::Color::white());
    setDark(true);
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
    EXPECT_EQ(view->layer().backgroundColor, kit::Color::black());

    view->setSetupSubviewsColorBlock(nullptr);
    setDark(false);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(KZViewTest, ColourViewsUseTheirOwnColoursAndRunABlockOnlyWhenItIsSet) {
    auto window = makeWindow({300, 100});
    auto background = kit::create<KZBackgroundView>(kit::Rect{0, 0, 10, 10});
    auto login = kit::create<KZWindowLoginBackgroundView>(kit::Rect{10, 0, 10, 10});
    auto tabLine = kit::create<KZTabWindowLineView>(kit::Rect{20, 0, 10, 10});
    auto titleArea = kit::create<KZWindowTitleTabBarBackgroundView>(kit::Rect{30, 0, 10, 10});
    auto line = kit::create<KZLineView>(kit::Rect{40, 0, 10, 1});
    for (auto& v : std::vector<std::shared_ptr<KZView>>{background, login, tabLine, titleArea, line})
        window->contentView()->addSubview(v);

    EXPECT_EQ(background->layer().backgroundColor, colorWithHex(0xF9F9F9));
    EXPECT_EQ(login->layer().backgroundColor, colorWithHex(0xFFFFFF));
    const double grey = 144.0 / 255.0;
    EXPECT_EQ(tabLine->layer().backgroundColor, (kit::Color{grey, grey, grey, 0.3}));
    EXPECT_EQ(titleArea->layer().backgroundColor, colorWithHex(0xFFF1D7));
    EXPECT_EQ(line->layer().backgroundColor, JWAppThemeHelper::divideLineColor());

    int backgroundBlockRuns = 0;
    int lineBlockRuns = 0;
    background->setSetupSubviewsColorBlock([&](KZView&, bool) { ++backgroundBlockRuns; });
    line->setSetupSubviewsColorBlock([&](KZView& v, bool) {
        ++lineBlockRuns;
        // The divider colour is applied after the block, so it wins.
        v.setBackgroundColor(kit::Color::fromHex(0xFF0000));
    });
    EXPECT_EQ(backgroundBlockRuns, 1);

    setDark(true);
    EXPECT_EQ(background->layer().backgroundColor, colorWithHex(0x272835));
    EXPECT_EQ(login->layer().backgroundColor, colorWithHex(0x272835));
    EXPECT_EQ(tabLine->layer().backgroundColor, colorWithHex(0xFFFFFF, 0.05));
    EXPECT_EQ(titleArea->layer().backgroundColor, colorWithHex(0x272835));
    EXPECT_EQ(line->layer().backgroundColor, JWAppThemeHelper::divideLineColor());
    EXPECT_EQ(backgroundBlockRuns, 1) << "a background view's colour hook does not run the block";
    EXPECT_EQ(lineBlockRuns, 2) << "a line view runs the block, then applies the divider colour";
}

TEST_F(KZViewTest, MouseUpBlockRunsForEveryMouseUpEvenOutsideAndLogsTheClass) {
    auto window = makeWindow({200, 100});
    auto view = kit::create<KZView>(kit::Rect{10, 10, 40, 40});
    window->contentView()->addSubview(view);
    int ups = 0;
    view->setMouseUpBlock([&](KZView& v) {
        EXPECT_EQ(&v, view.get());
        ++ups;
    });
    ui.click(*window, {20, 20});
    EXPECT_EQ(ups, 1);
    // Pressed on the view, dragged out and released far away.
    ui.drag(*window, {20, 20}, {180, 90});
    EXPECT_EQ(ups, 2);
    EXPECT_EQ(env.log().count("------> mouseUp-- KZView"), 2u);
}

TEST_F(KZViewTest, TakesTheFirstClickOnAnInactiveWindow) {
    auto window = kit::create<kit::Window>(kit::Rect{100, 100, 200, 100}, kit::WindowStyleTitled);
    window->orderFront();
    auto other = makeWindow({50, 50});
    ASSERT_FALSE(window->isKeyWindow());
    auto view = kit::create<KZView>(kit::Rect{10, 10, 40, 40});
    window->contentView()->addSubview(view);
    int ups = 0;
    view->setMouseUpBlock([&](KZView&) { ++ups; });
    ui.click(*window, {20, 20});
    EXPECT_EQ(ups, 1);
    EXPECT_TRUE(kit::create<KZAcceptsFirstMouseImageView>()->acceptsFirstMouse(nullptr));
    EXPECT_TRUE(kit::create<KZAcceptsFirstMouseTextField>()->acceptsFirstMouse(nullptr));
    EXPECT_TRUE(kit::create<KZAcceptsFirstMouseSwitch>()->acceptsFirstMouse(nullptr));
    EXPECT_FALSE(kit::create<kit::ImageView>()->acceptsFirstMouse(nullptr));
}

TEST_F(KZViewTest, NoMouseEventViewSwallowsClicksMeantForTheControlBehindIt) {
    auto window = makeWindow({200, 100});
    int actions = 0;
    auto button = kit::Button::withTitle("Behind", [&](kit::Control&) { ++actions; });
    button->setFrame({10, 10, 80, 30});
    window->contentView()->addSubview(button);
    ui.click(*window, {50, 25});
    ASSERT_EQ(actions, 1);

    auto shield = kit::create<KZNoMouseEventView>(kit::Rect{0, 0, 200, 100});
    int shieldUps = 0;
    shield->setMouseUpBlock([&](KZView&) { ++shieldUps; });
    auto parent = kit::create<KZView>(kit::Rect{0, 0, 200, 100});
    int parentUps = 0;
    parent->setMouseUpBlock([&](KZView&) { ++parentUps; });
    window->contentView()->addSubview(parent);
    parent->addSubview(shield);
    ui.click(*window, {50, 25});
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(shieldUps, 0);
    EXPECT_EQ(parentUps, 0) << "the event does not go up to the superview either";
}

TEST_F(KZViewTest, ImageViewColourBlockRunsAtOnceAndOnAppearanceChanges) {
    auto window = makeWindow({200, 100});
    auto icon = kit::Image::filled(4, 4, kit::Color::black());
    auto view = kit::create<KZImageView>(kit::Rect{0, 0, 20, 20});
    window->contentView()->addSubview(view);
    int runs = 0;
    view->setSetupSubviewsColorBlock([&](KZImageView& v, bool dark) {
        ++runs;
        v.setImage(dark ? imageWithTintColor(icon, kit::Color::white()) : icon);
    });
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(view->image().pixelAt(1, 1), kit::Color::black());
    setDark(true);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(view->image().pixelAt(1, 1), kit::Color::white());
    view->setSetupSubviewsColorBlock(nullptr);
    setDark(false);
    EXPECT_EQ(runs, 2);
}

TEST(KZImageTintTest, KeepsEveryPixelsOpacity) {
    // Transparent stays transparent, whatever the tint.
    auto clear = kit::Image::blank(6, 4);
    auto tintedClear = imageWithTintColor(clear, kit::Color::fromHex(0xFF0000));
    EXPECT_EQ(tintedClear.size(), clear.size());
    EXPECT_EQ(tintedClear.pixelAt(3, 2).alpha, 0.0);

    // An opaque icon with a half-transparent tint stays opaque and mixes half and half.
    auto blue = kit::Image::filled(4, 4, kit::Color::fromHex(0x0000FF));
    auto mixed = imageWithTintColor(blue, kit::Color::fromHex(0xFF0000, 0.5));
    const kit::Color p = mixed.pixelAt(2, 2);
    EXPECT_TRUE(near(p, kit::Color{0.5, 0, 0.5, 1}, 2.0 / 255)) << p.red << " " << p.blue << " " << p.alpha;
    // The receiver is unchanged.
    EXPECT_EQ(blue.pixelAt(2, 2), kit::Color::fromHex(0x0000FF));
    // An opaque tint replaces the colour; a half-transparent pixel keeps its alpha.
    auto half = kit::Image::filled(2, 2, kit::Color::fromHex(0x00FF00, 0.5));
    const kit::Color q = imageWithTintColor(half, kit::Color::white()).pixelAt(0, 0);
    EXPECT_TRUE(near(q, kit::Color{1, 1, 1, 0.5}, 2.0 / 255));
    EXPECT_TRUE(imageWithTintColor(kit::Image{}, kit::Color::white()).isNull());
}

}  // namespace
