#pragma once
// Animated changes of window frames and of view frames, alpha and scroll positions, driven by
// the main run loop's clock (virtual in tests), as the platform's animation groups and animator
// proxies:
//
//   kit::AnimationContext::runAnimationGroup(
//       [&](kit::AnimationContext& context) {
//           context.duration = 0.2;
//           context.timingFunction = kit::TimingFunction::EaseInEaseOut;
//           window->animator().setFrame(target);
//       },
//       [](bool finished) { ... });
//
// A newer animation of the same property of the same object, or a direct change of it,
// supersedes the running one: that one stops where it is and its group's completion reports
// finished = false. A group's completion runs once, on the run loop, after all its animations
// have ended (at once on the next turn when it animated nothing or its duration is 0). Animator
// calls outside a group animate with the default duration of 0.25 s. A view that nobody sees
// (hidden, outside a window or in a window not shown) takes its final value at once, as with a
// duration of 0.

#include <functional>
#include <memory>

#include "kit/base/Geometry.h"

namespace kit {

class Window;
class View;

enum class TimingFunction { Linear, EaseIn, EaseOut, EaseInEaseOut, Default };

// The timing curve (the platform's cubic Bézier curves) at t in [0, 1].
double evaluateTimingFunction(TimingFunction function, double t);

class AnimationContext {
public:
    using Completion = std::function<void(bool finished)>;

    double duration = 0.25;
    TimingFunction timingFunction = TimingFunction::Default;
    // The group's animations apply their first frame (one frame interval into the curve) as
    // they start instead of at the frame timer's first tick, and end one interval sooner: what
    // appears (a window sliding in from nothing) is on screen a frame earlier.
    bool firstFrameAtOnce = false;

    static void runAnimationGroup(const std::function<void(AnimationContext&)>& changes,
                                  Completion completion = {});
    // The innermost group being built, or nullptr.
    static AnimationContext* current();

    // Animations running now (all objects), for tests.
    static std::size_t runningAnimationCount();
    // Frames per second of the animation timer.
    static constexpr double kFrameRate = 60;

    struct Group;
    std::shared_ptr<Group> group;
};

class WindowAnimator {
public:
    explicit WindowAnimator(std::shared_ptr<Window> window) : window_(std::move(window)) {}
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setAlphaValue(double alpha);

private:
    std::shared_ptr<Window> window_;
};

class ViewAnimator {
public:
    explicit ViewAnimator(std::shared_ptr<View> view) : view_(std::move(view)) {}
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setFrameSize(Size size);
    void setAlphaValue(double alpha);
    void setBoundsOrigin(Point origin);
    // Adds the subview, fading it in from transparent to its alpha.
    void addSubview(const std::shared_ptr<View>& subview);
    // Fades the view out, then removes it from its superview and restores its alpha. A later
    // change of the view's alpha cancels the removal.
    void removeFromSuperview();

private:
    std::shared_ptr<View> view_;
};

}  // namespace kit
