#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "kit/ui/Animation.h"
#include "tests/kit/ui/UiTestSupport.h"

namespace kit::testing {
namespace {

class AnimationTest : public UiTest {
protected:
    std::shared_ptr<Window> window = makeWindow({1420, 20, 0, 835}, WindowStyleTitled | WindowStyleFullSizeContentView);

    void slide(Rect to, double duration, std::vector<bool>& results) {
        AnimationContext::runAnimationGroup(
            [&](AnimationContext& context) {
                context.duration = duration;
                context.timingFunction = TimingFunction::EaseInEaseOut;
                window->animator().setFrame(to);
            },
            [&results](bool finished) { results.push_back(finished); });
    }
};

TEST_F(AnimationTest, TimingCurvesRunFromZeroToOne) {
    for (auto f : {TimingFunction::Linear, TimingFunction::EaseIn, TimingFunction::EaseOut, TimingFunction::EaseInEaseOut,
                   TimingFunction::Default}) {
        EXPECT_NEAR(evaluateTimingFunction(f, 0), 0, 1e-6);
        EXPECT_NEAR(evaluateTimingFunction(f, 1), 1, 1e-6);
    }
    EXPECT_NEAR(evaluateTimingFunction(TimingFunction::EaseInEaseOut, 0.5), 0.5, 1e-6);
    EXPECT_LT(evaluateTimingFunction(TimingFunction::EaseInEaseOut, 0.25), 0.25);
    EXPECT_LT(evaluateTimingFunction(TimingFunction::EaseIn, 0.5), 0.5);
    EXPECT_GT(evaluateTimingFunction(TimingFunction::EaseOut, 0.5), 0.5);
}

TEST_F(AnimationTest, FrameAnimationFollowsTheClockAndCompletes) {
    std::vector<bool> results;
    Recorder recorder(window.get());
    slide({1030, 20, 390, 835}, 0.2, results);
    EXPECT_EQ(window->frame(), (Rect{1420, 20, 0, 835})) << "nothing moves before the clock does";
    env.advance(0.1);
    const Rect half = window->frame();
    EXPECT_NEAR(half.width(), 195, 1.0) << "half way on an ease-in-ease-out curve";
    EXPECT_NEAR(half.maxX(), 1420, 1e-9);
    EXPECT_TRUE(results.empty());
    env.advance(0.1);
    EXPECT_EQ(window->frame(), (Rect{1030, 20, 390, 835}));
    env.runUntilIdle();
    EXPECT_EQ(results, (std::vector<bool>{true}));
    EXPECT_GE(recorder.count(kWindowDidResizeNotification), 2u) << "each step resizes";
    EXPECT_EQ(AnimationContext::runningAnimationCount(), 0u);
}

// A group asked for its first frame at once shows it before the clock moves and runs one frame
// ahead from there; a group too short for a frame simply ends at its end.
TEST_F(AnimationTest, TheFirstFrameAtOnceComesBeforeTheClockMoves) {
    const double frame = 1 / AnimationContext::kFrameRate;
    const double firstWidth = 390 * evaluateTimingFunction(TimingFunction::EaseInEaseOut, frame / 0.2);
    struct Case {
        double duration;
        double widthAtOnce;
        double endsAfter;  // the completion has run after this long, not one frame before
    };
    for (const Case& c : {Case{0.2, firstWidth, 0.2 - frame}, Case{frame / 2, 0, frame / 2}}) {
        SCOPED_TRACE(c.duration);
        window->setFrame({1420, 20, 0, 835});
        std::vector<bool> results;
        AnimationContext::runAnimationGroup(
            [&](AnimationContext& context) {
                context.duration = c.duration;
                context.timingFunction = TimingFunction::EaseInEaseOut;
                context.firstFrameAtOnce = true;
                window->animator().setFrame({1030, 20, 390, 835});
            },
            [&results](bool finished) { results.push_back(finished); });
        EXPECT_NEAR(window->frame().width(), c.widthAtOnce, 1e-6);
        EXPECT_NEAR(window->frame().maxX(), 1420, 1e-9);
        EXPECT_EQ(window->restingFrame(), (Rect{1030, 20, 390, 835})) << "where the slide ends";
        if (c.widthAtOnce > 0) {
            env.advance(frame);  // the timer's first tick: the second frame
            EXPECT_GT(window->frame().width(), c.widthAtOnce);
            env.advance(c.endsAfter - 2 * frame);
            EXPECT_TRUE(results.empty());
            env.advance(frame);
        } else {
            env.advance(c.endsAfter);
        }
        env.runUntilIdle();
        EXPECT_EQ(window->frame(), (Rect{1030, 20, 390, 835}));
        EXPECT_EQ(results, (std::vector<bool>{true}));
        window->setFrame({0, 0, 100, 100});
        EXPECT_EQ(window->restingFrame(), (Rect{0, 0, 100, 100})) << "set without a slide";
    }
}

TEST_F(AnimationTest, ANewerAnimationSupersedesTheOlder) {
    std::vector<bool> first, second;
    slide({1030, 20, 390, 835}, 0.2, first);
    env.advance(0.05);
    slide({1420, 20, 0, 835}, 0.2, second);
    env.runUntilIdle();
    EXPECT_EQ(first, (std::vector<bool>{false}));
    EXPECT_TRUE(second.empty());
    env.advance(0.2);
    EXPECT_EQ(window->frame(), (Rect{1420, 20, 0, 835}));
    EXPECT_EQ(second, (std::vector<bool>{true}));
}

TEST_F(AnimationTest, ADirectFrameChangeSupersedesTheAnimation) {
    std::vector<bool> results;
    slide({1030, 20, 390, 835}, 0.2, results);
    env.advance(0.05);
    window->setFrame({0, 0, 100, 100});
    env.advance(0.5);
    EXPECT_EQ(window->frame(), (Rect{0, 0, 100, 100}));
    EXPECT_EQ(results, (std::vector<bool>{false}));
}

TEST_F(AnimationTest, AGroupWithoutChangesCompletesOnTheNextTurn) {
    std::vector<bool> results;
    AnimationContext::runAnimationGroup([](AnimationContext& c) { c.duration = 3; }, [&](bool f) { results.push_back(f); });
    EXPECT_TRUE(results.empty());
    env.runUntilIdle();
    EXPECT_EQ(results, (std::vector<bool>{true}));
}

TEST_F(AnimationTest, ViewsFadeInAndOutThroughTheAnimator) {
    auto content = window->contentView();
    window->orderFront();
    auto tip = create<View>(Rect{0, 0, 10, 10});
    std::vector<bool> results;
    AnimationContext::runAnimationGroup(
        [&](AnimationContext& c) {
            c.duration = 0.25;
            c.timingFunction = TimingFunction::EaseIn;
            content->animator().addSubview(tip);
        },
        [&](bool f) { results.push_back(f); });
    EXPECT_EQ(tip->superview(), content.get());
    EXPECT_EQ(tip->alphaValue(), 0);
    env.advance(0.25);
    EXPECT_EQ(tip->alphaValue(), 1);
    AnimationContext::runAnimationGroup([&](AnimationContext& c) {
        c.duration = 0.25;
        tip->animator().removeFromSuperview();
    });
    env.advance(0.1);
    EXPECT_EQ(tip->superview(), content.get());
    env.advance(0.2);
    EXPECT_EQ(tip->superview(), nullptr);
    EXPECT_EQ(tip->alphaValue(), 1) << "alpha restored after the removal";
    env.runUntilIdle();
    EXPECT_EQ(results, (std::vector<bool>{true}));
}

TEST_F(AnimationTest, ReAddingDuringAFadeOutKeepsTheView) {
    auto content = window->contentView();
    auto tip = create<View>(Rect{0, 0, 10, 10});
    content->addSubview(tip);
    tip->animator().removeFromSuperview();
    env.advance(0.1);
    content->animator().addSubview(tip);
    env.advance(1);
    EXPECT_EQ(tip->superview(), content.get());
    EXPECT_EQ(tip->alphaValue(), 1);
}

TEST_F(AnimationTest, ObjectsGoingAwayEndTheirAnimations) {
    std::vector<bool> results;
    slide({1030, 20, 390, 835}, 0.2, results);
    window.reset();
    env.advance(0.5);
    EXPECT_EQ(results, (std::vector<bool>{false}));
    EXPECT_EQ(AnimationContext::runningAnimationCount(), 0u);
}

}  // namespace
TEST_F(AnimationTest, AViewNobodySeesTakesItsFinalValueAtOnce) {
    auto content = window->contentView();
    auto shown = create<View>(Rect{0, 0, 10, 10});
    content->addSubview(shown);
    auto loose = create<View>(Rect{0, 0, 10, 10});
    struct Case {
        const char* what;
        std::function<void()> arrange;
        View* view;
        bool animates;
    };
    const std::vector<Case> cases = {
        {"in a window not shown", [&] { window->orderOut(); }, shown.get(), false},
        {"outside any window", [&] { window->orderFront(); }, loose.get(), false},
        {"hidden in a shown window", [&] { shown->setHidden(true); }, shown.get(), false},
        {"seen", [&] { shown->setHidden(false); }, shown.get(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        c.view->setFrame({0, 0, 10, 10});
        std::vector<bool> results;
        AnimationContext::runAnimationGroup(
            [&](AnimationContext& context) {
                context.duration = 0.25;
                c.view->animator().setFrame({0, 0, 50, 10});
            },
            [&](bool f) { results.push_back(f); });
        EXPECT_EQ(c.view->frame().width(), c.animates ? 10 : 50);
        EXPECT_EQ(AnimationContext::runningAnimationCount(), c.animates ? 1u : 0u);
        env.runUntilIdle();
        EXPECT_EQ(results, c.animates ? std::vector<bool>{} : std::vector<bool>{true});
        env.advance(0.25);
        env.runUntilIdle();
        EXPECT_EQ(c.view->frame().width(), 50);
        EXPECT_EQ(results, std::vector<bool>{true});
    }
}

}  // namespace kit::testing
