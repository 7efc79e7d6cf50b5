#include <gtest/gtest.h>

#include <iterator>
#include <optional>

#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/ScrollView.h"
#include "kit/ui/StackView.h"
#include "tests/kit/ui/UiTestSupport.h"

namespace kit::testing {
namespace {

class ViewTest : public UiTest {
protected:
    std::shared_ptr<Window> window = makeWindow({0, 0, 400, 300}, WindowStyleTitled | WindowStyleFullSizeContentView);
    std::shared_ptr<View> content = window->contentView();
};

struct FlippedView : View {
    using View::View;
    bool isFlipped() const override { return true; }
};

TEST_F(ViewTest, ConversionsRespectFlippednessAndBoundsOrigin) {
    auto plain = create<View>(Rect{100, 50, 200, 100});
    auto flipped = create<FlippedView>(Rect{10, 10, 100, 50});
    content->addSubview(plain);
    plain->addSubview(flipped);
    // The flipped view's top-left corner is at its frame's top-left.
    EXPECT_EQ(flipped->convertPointToView({0, 0}, nullptr), (Point{110, 110}));
    EXPECT_EQ(flipped->convertPointToView({0, 50}, nullptr), (Point{110, 60}));
    EXPECT_EQ(plain->convertPointFromView({110, 60}, nullptr), (Point{10, 10}));
    EXPECT_EQ(flipped->convertRectToView({0, 0, 20, 10}, plain.get()), (Rect{10, 50, 20, 10}));
    plain->setBoundsOrigin({5, 5});
    EXPECT_EQ(plain->convertPointToView({5, 5}, nullptr), (Point{100, 50}));
    window->setFrameOrigin({300, 200});
    EXPECT_EQ(plain->convertPointToScreen({5, 5}), (Point{400, 250}));
}

TEST_F(ViewTest, AutoresizingFollowsTheSuperview) {
    auto fill = create<View>(Rect{10, 10, 380, 280});
    fill->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
    auto corner = create<View>(Rect{350, 250, 40, 40});
    corner->setAutoresizingMask(ViewMinXMargin | ViewMinYMargin);
    content->addSubview(fill);
    content->addSubview(corner);
    window->setFrame({0, 0, 500, 400});
    EXPECT_EQ(fill->frame(), (Rect{10, 10, 480, 380}));
    EXPECT_EQ(corner->frame(), (Rect{450, 350, 40, 40}));
}

TEST_F(ViewTest, ConstraintsPinCentreAndSizeViews) {
    auto title = create<View>();
    auto right = create<View>();
    auto page = create<View>();
    content->addSubview(title);
    title->addSubview(right);
    content->addSubview(page);
    makeConstraints(title, [&](ConstraintMaker& make) {
        make.left().right().top().equalTo(content);
        make.height().equalTo(40);
    });
    makeConstraints(right, [&](ConstraintMaker& make) {
        make.top().bottom().right().equalTo(title);
        make.width().equalTo(165);
    });
    makeConstraints(page, [&](ConstraintMaker& make) {
        make.right().bottom().equalTo(content);
        make.top().equalTo(bottomOf(title));
        make.width().equalTo(390);
    });
    window->layoutIfNeeded();
    EXPECT_EQ(title->frame(), (Rect{0, 260, 400, 40}));
    EXPECT_EQ(right->frame(), (Rect{235, 0, 165, 40}));
    EXPECT_EQ(page->frame(), (Rect{10, 0, 390, 260}));

    // Resizing the window re-solves; remake replaces.
    window->setFrame({0, 0, 600, 300});
    window->layoutIfNeeded();
    EXPECT_EQ(title->frame().width(), 600);
    EXPECT_EQ(page->frame(), (Rect{210, 0, 390, 260}));
    remakeConstraints(page, [&](ConstraintMaker& make) {
        make.edges().equalTo(content).insets({10, 20, 30, 40});
    });
    window->layoutIfNeeded();
    EXPECT_EQ(page->frame(), (Rect{20, 30, 540, 260}));
}

TEST_F(ViewTest, ConstraintShapesOfTheApplication) {
    auto button = create<View>();
    auto image = create<View>();
    auto label = create<View>();
    auto centred = create<View>();
    content->addSubview(button);
    button->addSubview(image);
    button->addSubview(label);
    content->addSubview(centred);
    makeConstraints(button, [&](ConstraintMaker& make) {
        make.left().equalTo(content).offset(20);
        make.centerY().equalTo(content);
        make.size().equalTo(Size{100, 24});
    });
    // Width as a multiple of the height, inset from the top left.
    makeConstraints(image, [&](ConstraintMaker& make) {
        make.top().equalTo(button).offset(2);
        make.left().equalTo(button).offset(3);
        make.height().equalTo(button).offset(-4);
        make.width().equalTo(heightOf(image)).multipliedBy(1.5);
    });
    makeConstraints(label, [&](ConstraintMaker& make) {
        make.left().equalTo(rightOf(image)).offset(5);
        make.centerY().equalTo(centerYOf(image));
        make.size().equalTo(Size{30, 10});
    });
    makeConstraints(centred, [&](ConstraintMaker& make) {
        make.center().equalTo(content);
        make.width().equalTo(500);
        make.width().lessThanOrEqualTo(300);
        make.height().equalTo(50);
    });
    window->layoutIfNeeded();
    EXPECT_EQ(button->frame(), (Rect{20, 138, 100, 24}));
    EXPECT_EQ(image->frame(), (Rect{3, 2, 30, 20}));
    EXPECT_EQ(label->frame(), (Rect{38, 7, 30, 10}));
    EXPECT_EQ(centred->frame(), (Rect{50, 125, 300, 50})) << "at most 300, still centred";

    updateConstraints(centred, [](ConstraintMaker& make) { make.height().equalTo(10); });
    window->layoutIfNeeded();
    EXPECT_EQ(centred->frame(), (Rect{50, 145, 300, 10}));
}

TEST_F(ViewTest, ConstraintsToAFlippedSuperviewMeasureFromTheTop) {
    auto flipped = create<FlippedView>(Rect{0, 0, 200, 100});
    auto child = create<View>();
    content->addSubview(flipped);
    flipped->addSubview(child);
    makeConstraints(child, [&](ConstraintMaker& make) {
        make.top().left().equalTo(flipped).offset(10);
        make.size().equalTo(Size{20, 20});
    });
    window->layoutIfNeeded();
    EXPECT_EQ(child->frame(), (Rect{10, 10, 20, 20}));
}

TEST_F(ViewTest, StackViewArrangesWithSpacingAndGivesSpareRoomToTheLowestHugging) {
    auto icon = create<View>(Rect{0, 0, 20, 20});
    auto title = Label::withString("A tab title");
    auto close = create<View>(Rect{0, 0, 20, 20});
    auto stack = StackView::withViews({icon, title, close});
    stack->setSpacing(5);
    title->setContentHuggingPriority(50, View::Axis::Horizontal);
    title->setContentCompressionResistancePriority(50, View::Axis::Horizontal);
    content->addSubview(stack);
    makeConstraints(stack, [&](ConstraintMaker& make) {
        make.left().equalTo(content).offset(12);
        make.right().equalTo(content).offset(-12 - 200);
        make.centerY().equalTo(content);
    });
    window->layoutIfNeeded();
    EXPECT_EQ(stack->frame().width(), 176);
    EXPECT_EQ(icon->frame().minX(), 0);
    EXPECT_EQ(title->frame().minX(), 25);
    EXPECT_EQ(title->frame().width(), 126);
    EXPECT_EQ(close->frame().minX(), 156);

    close->setHidden(true);
    window->layoutIfNeeded();
    EXPECT_EQ(title->frame().width(), 151) << "hidden views take no room";
}

TEST_F(ViewTest, VerticalStackSizesItselfAndHonoursCustomSpacing) {
    auto picture = create<View>();
    makeConstraints(picture, [](ConstraintMaker& make) { make.size().equalTo(Size{188, 140}); });
    auto text = create<View>(Rect{0, 0, 100, 16});
    auto stack = StackView::withViews({picture, text}, StackOrientation::Vertical);
    stack->setCustomSpacing(10, picture);
    content->addSubview(stack);
    makeConstraints(stack, [&](ConstraintMaker& make) { make.center().equalTo(content); });
    window->layoutIfNeeded();
    EXPECT_EQ(stack->frame().size, (Size{188, 166}));
    EXPECT_EQ(picture->frame(), (Rect{0, 26, 188, 140})) << "first at the top";
    EXPECT_EQ(text->frame(), (Rect{44, 0, 100, 16})) << "centred across";
}

TEST_F(ViewTest, ScrollViewClampsAndPostsBoundsChanges) {
    auto scroll = create<ScrollView>(Rect{0, 0, 200, 100});
    auto document = create<FlippedView>(Rect{0, 0, 500, 100});
    scroll->setDocumentView(document);
    content->addSubview(scroll);
    auto clip = scroll->contentView();
    Recorder recorder(clip.get());
    clip->scrollToPoint({1000, 0});
    EXPECT_EQ(clip->bounds().origin, (Point{300, 0}));
    EXPECT_EQ(recorder.count(kViewBoundsDidChangeNotification), 1u);
    EXPECT_EQ(scroll->documentVisibleRect(), (Rect{300, 0, 200, 100}));

    document->setFrameSize({400, 100});
    EXPECT_EQ(clip->bounds().origin, (Point{200, 0})) << "re-clamped when the document shrinks";
    scroll->setFrameSize({300, 100});
    EXPECT_EQ(clip->bounds().origin, (Point{100, 0})) << "re-clamped when the clip grows";
    document->setFrameSize({100, 100});
    EXPECT_EQ(clip->bounds().origin, (Point{0, 0}));
    EXPECT_EQ(recorder.count(kViewBoundsDidChangeNotification), 4u);

    document->setFrameSize({1000, 100});
    window->makeKeyAndOrderFront();
    ui.scroll(*window, {50, 50}, -30, 0);
    EXPECT_EQ(clip->bounds().origin, (Point{30, 0}));
    clip->animator().setBoundsOrigin({200, 0});
    env.advance(1);
    EXPECT_EQ(clip->bounds().origin, (Point{200, 0}));
}

TEST_F(ViewTest, WheelEventsScrollWhereTheyMayAndOtherwiseGoUpOnce) {
    // A scroll view (216 x 125) in a recording view, its document 1000 x 1000 shown from
    // (100, 100); the pointer is over a plain view inside the document, so every event travels up
    // through it. A wheel's notch moves as far as a GTK scrolled window of that size does:
    // 216^(2/3) = 36 points sideways, 125^(2/3) = 25 points up or down.
    struct Config {
        const char* name;
        bool horizontal, vertical, flipped;
    };
    const Config configs[] = {{"both", true, true, false},
                              {"both, flipped", true, true, true},
                              {"vertical only", false, true, false},
                              {"sideways only", true, false, false},
                              {"neither", false, false, false}};
    struct Wheel {
        const char* name;
        double dx, dy;
        unsigned modifiers;
        bool precise;
        // The clip's origin afterwards in each configuration; nullopt: unmoved, passed up.
        std::optional<Point> expected[5];
    };
    const std::nullopt_t up = std::nullopt;
    const Wheel wheels[] = {
        {"notch down", 0, -16, 0, false, {Point{100, 75}, Point{100, 125}, Point{100, 75}, Point{136, 100}, up}},
        {"two notches right", -32, 0, 0, false, {Point{172, 100}, Point{172, 100}, up, Point{172, 100}, up}},
        {"diagonal swipe", -12, 5, 0, true, {Point{112, 105}, Point{112, 95}, Point{100, 105}, Point{112, 100}, up}},
        {"smooth, mostly vertical",
         0.5,
         2.25,
         0,
         true,
         {Point{99.5, 102.25}, Point{99.5, 97.75}, Point{100, 102.25}, Point{97.75, 100}, up}},
        {"shift, notch up", 0, 16, ModifierShift, false, {Point{64, 100}, Point{64, 100}, up, Point{64, 100}, up}},
    };
    window->makeKeyAndOrderFront();
    for (std::size_t c = 0; c < std::size(configs); ++c) {
        const Config& config = configs[c];
        auto outer = create<RecordingView>(Rect{0, 0, 300, 200});
        auto scroll = create<ScrollView>(Rect{50, 50, 216, 125});
        scroll->setScrollsHorizontally(config.horizontal);
        scroll->setScrollsVertically(config.vertical);
        std::shared_ptr<View> document =
            config.flipped ? std::static_pointer_cast<View>(create<FlippedView>(Rect{0, 0, 1000, 1000}))
                           : create<View>(Rect{0, 0, 1000, 1000});
        document->addSubview(create<View>(Rect{0, 0, 1000, 1000}));
        scroll->setDocumentView(document);
        outer->addSubview(scroll);
        content->addSubview(outer);
        auto clip = scroll->contentView();
        for (const Wheel& wheel : wheels) {
            SCOPED_TRACE(std::string(config.name) + ", " + wheel.name);
            clip->scrollToPoint({100, 100});
            outer->events.clear();
            ui.scroll(*window, {100, 100}, wheel.dx, wheel.dy, wheel.modifiers, wheel.precise);
            const auto& expected = wheel.expected[c];
            const Point origin = clip->bounds().origin;
            EXPECT_NEAR(origin.x, expected.value_or(Point{100, 100}).x, 1e-9);
            EXPECT_NEAR(origin.y, expected.value_or(Point{100, 100}).y, 1e-9);
            EXPECT_EQ(outer->events.size(), expected ? 0u : 1u) << "what scrolls nothing goes up once";
        }
        outer->removeFromSuperview();
    }

    // A view that hands an event passed up to it back down to the view that passed it: the event
    // ends when it comes back, instead of going round until the stack runs out.
    struct HandsBack : View {
        using View::View;
        void scrollWheel(const Event& event) override {
            ++received;
            subviews().front()->scrollWheel(event);
        }
        int received = 0;
    };
    auto bouncer = create<HandsBack>(Rect{0, 0, 100, 100});
    bouncer->addSubview(create<View>(Rect{0, 0, 100, 100}));
    content->addSubview(bouncer);
    ui.scroll(*window, {50, 50}, 0, -16);
    EXPECT_EQ(bouncer->received, 1);
}

TEST_F(ViewTest, AppearanceChangesReachEveryViewOfEveryWindow) {
    struct Themed : View {
        using View::View;
        int changes = 0;
        Appearance seen = Appearance::Light;
        void viewDidChangeEffectiveAppearance() override {
            ++changes;
            seen = effectiveAppearance();
        }
    };
    auto a = create<Themed>(Rect{0, 0, 10, 10});
    auto nested = create<Themed>(Rect{0, 0, 5, 5});
    a->addSubview(nested);
    content->addSubview(a);
    auto hidden = makeWindow({0, 0, 100, 100});
    auto b = create<Themed>(Rect{0, 0, 10, 10});
    hidden->contentView()->addSubview(b);

    ui.setSystemAppearance(Appearance::Dark);
    EXPECT_EQ(a->changes, 1);
    EXPECT_EQ(nested->seen, Appearance::Dark);
    EXPECT_EQ(b->changes, 1) << "windows off screen too";
    ui.setSystemAppearance(Appearance::Dark);
    EXPECT_EQ(a->changes, 1) << "no change, no call";
    Application::shared().setAppearancePreference(AppearancePreference::Light);
    EXPECT_EQ(a->changes, 2);
    EXPECT_FALSE(Application::shared().isDarkMode());
    ui.setSystemAppearance(Appearance::Light);
    EXPECT_EQ(a->changes, 2) << "a fixed preference ignores the system";
}

TEST_F(ViewTest, RemovingAViewDuringItsOwnMouseDownIsSafe) {
    struct SelfRemoving : View {
        using View::View;
        bool acceptsFirstMouse(const Event*) override { return true; }
        void mouseDown(const Event&) override { removeFromSuperview(); }
        void mouseUp(const Event&) override { ++ups; }
        int ups = 0;
    };
    std::weak_ptr<SelfRemoving> weak;
    {
        auto view = create<SelfRemoving>(Rect{0, 0, 50, 50});
        content->addSubview(view);
        weak = view;
    }
    window->makeKeyAndOrderFront();
    ui.click(*window, {10, 10});
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(weak.lock()->ups, 1) << "the view that took the mouse-down gets the mouse-up";
    env.runUntilIdle();
    EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace kit::testing
