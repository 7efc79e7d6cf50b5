#include "kit/ui/Animation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kit/base/RunLoop.h"
#include "kit/ui/AnimationInternal.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace kit {

// Setters that apply a value without superseding the animation applying it.
void setWindowFrameAnimated(Window& window, const Rect& frame) { window.applyFrame(frame); }
void setWindowAlphaAnimated(Window& window, double alpha) { window.applyAlpha(alpha); }
void setViewFrameAnimated(View& view, const Rect& frame) { view.applyFrame(frame); }
void setViewAlphaAnimated(View& view, double alpha) { view.applyAlpha(alpha); }
void setViewBoundsOriginAnimated(View& view, Point origin) { view.applyBoundsOrigin(origin); }

double evaluateTimingFunction(TimingFunction function, double t) {
    t = std::clamp(t, 0.0, 1.0);
    double x1 = 0, y1 = 0, x2 = 1, y2 = 1;
    switch (function) {
        case TimingFunction::Linear: return t;
        case TimingFunction::EaseIn: x1 = 0.42; y1 = 0; x2 = 1; y2 = 1; break;
        case TimingFunction::EaseOut: x1 = 0; y1 = 0; x2 = 0.58; y2 = 1; break;
        case TimingFunction::EaseInEaseOut: x1 = 0.42; y1 = 0; x2 = 0.58; y2 = 1; break;
        case TimingFunction::Default: x1 = 0.25; y1 = 0.1; x2 = 0.25; y2 = 1; break;
    }
    // Solve x(s) = t for the curve parameter s by bisection (x is monotonic), then give y(s).
    auto bezier = [](double a, double b, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * a + 3 * u * s * s * b + s * s * s;
    };
    double lo = 0, hi = 1, s = t;
    for (int i = 0; i < 60; ++i) {
        s = (lo + hi) / 2;
        if (bezier(x1, x2, s) < t) {
            lo = s;
        } else {
            hi = s;
        }
    }
    return bezier(y1, y2, s);
}

struct AnimationContext::Group {
    Completion completion;
    int pending = 0;
    bool allFinished = true;
    bool building = true;
    bool completed = false;
};

namespace {

using animation::Property;

struct Running {
    const void* object;
    Property property;
    double start;
    double duration;
    TimingFunction timing;
    std::function<void(double progress)> step;
    std::function<void(bool finished)> end;
    std::shared_ptr<AnimationContext::Group> group;
    TaskId endTask = 0;
    RunLoop* loop = nullptr;
};

struct Registry {
    std::vector<std::shared_ptr<Running>> running;
    std::shared_ptr<Timer> timer;
    std::vector<AnimationContext*> stack;
};

Registry& registry() {
    static Registry r;
    return r;
}

void completeGroupIfDone(const std::shared_ptr<AnimationContext::Group>& group) {
    if (!group || group->building || group->pending > 0 || group->completed) return;
    group->completed = true;
    if (!group->completion) return;
    auto completion = std::move(group->completion);
    const bool finished = group->allFinished;
    RunLoop::main().post([completion = std::move(completion), finished] { completion(finished); });
}

void stopTimerIfIdle() {
    auto& r = registry();
    if (r.running.empty() && r.timer) {
        r.timer->invalidate();
        r.timer.reset();
    }
}

// Ends an animation: applies the final value when it finished, tells its group.
void endAnimation(const std::shared_ptr<Running>& animation, bool finished) {
    auto& r = registry();
    auto it = std::find(r.running.begin(), r.running.end(), animation);
    if (it == r.running.end()) return;
    r.running.erase(it);
    if (animation->endTask && animation->loop == &RunLoop::main()) RunLoop::main().cancel(animation->endTask);
    if (finished && animation->step) animation->step(1.0);
    if (animation->end) animation->end(finished);
    if (animation->group) {
        animation->group->pending--;
        if (!finished) animation->group->allFinished = false;
        completeGroupIfDone(animation->group);
    }
    stopTimerIfIdle();
}

void tick() {
    auto& r = registry();
    const double now = RunLoop::main().now();
    const auto snapshot = r.running;
    for (const auto& animation : snapshot) {
        if (std::find(r.running.begin(), r.running.end(), animation) == r.running.end()) continue;
        const double progress = animation->duration > 0 ? (now - animation->start) / animation->duration : 1.0;
        if (progress >= 1.0) {
            endAnimation(animation, true);
        } else if (animation->step) {
            animation->step(evaluateTimingFunction(animation->timing, progress));
        }
    }
}

// Starts an animation of one property, superseding a running one of the same property. One
// that nobody can see (`seen` false) takes its final value at once: its frames would cost a timer
// and layouts at the frame rate for nothing.
void startAnimation(const void* object, Property property, std::function<void(double)> step,
                    std::function<void(bool)> end = {}, bool seen = true) {
    animation::cancel(object, property);
    AnimationContext* context = AnimationContext::current();
    const double duration = !seen ? 0.0 : context ? context->duration : 0.25;
    const TimingFunction timing = context ? context->timingFunction : TimingFunction::Default;
    const double frame = 1.0 / AnimationContext::kFrameRate;
    // Begun a frame ago: its first frame is applied now, and the timer goes on from there.
    const double head = context && context->firstFrameAtOnce && duration > frame ? frame : 0.0;
    auto group = context ? context->group : std::make_shared<AnimationContext::Group>();
    if (!context) group->building = false;

    auto running = std::make_shared<Running>();
    running->object = object;
    running->property = property;
    running->start = RunLoop::main().now() - head;
    running->duration = duration;
    running->timing = timing;
    running->step = std::move(step);
    running->end = std::move(end);
    running->group = group;
    running->loop = &RunLoop::main();
    group->pending++;
    auto& r = registry();
    r.running.push_back(running);
    if (duration <= 0) {
        endAnimation(running, true);
        return;
    }
    // The end is its own task, due exactly at the end, so that the final value and the
    // completion never wait for a frame tick after the duration.
    std::weak_ptr<Running> weak = running;
    running->endTask = RunLoop::main().postAfter(duration - head, [weak] {
        if (auto strong = weak.lock()) endAnimation(strong, true);
    });
    if (!r.timer) {
        r.timer = RunLoop::main().scheduleTimer(frame, true, [](Timer&) { tick(); });
    }
    if (head > 0 && running->step) running->step(evaluateTimingFunction(timing, head / duration));
}

// A view is seen while it is not hidden and its window is shown.
bool seenOnScreen(const View& view) {
    auto window = view.window();
    return window && window->isVisible() && !view.isHiddenOrHasHiddenAncestor();
}

template <class T>
T interpolate(const T& from, const T& to, double p);

template <>
double interpolate(const double& from, const double& to, double p) {
    return from + (to - from) * p;
}
template <>
Point interpolate(const Point& from, const Point& to, double p) {
    return {interpolate(from.x, to.x, p), interpolate(from.y, to.y, p)};
}
template <>
Rect interpolate(const Rect& from, const Rect& to, double p) {
    return {interpolate(from.origin, to.origin, p),
            Size{interpolate(from.size.width, to.size.width, p), interpolate(from.size.height, to.size.height, p)}};
}

}  // namespace

namespace animation {

void cancel(const void* object, Property property) {
    const auto snapshot = registry().running;
    for (const auto& a : snapshot) {
        if (a->object == object && a->property == property) endAnimation(a, false);
    }
}

void cancelAll(const void* object) {
    const auto snapshot = registry().running;
    for (const auto& a : snapshot) {
        if (a->object == object) {
            // The object is going away: nothing may be applied to it any more.
            a->step = nullptr;
            a->end = nullptr;
            endAnimation(a, false);
        }
    }
}

void resetAll() {
    auto& r = registry();
    r.running.clear();
    if (r.timer) r.timer->invalidate();
    r.timer.reset();
}

bool isRunning(const void* object, Property property) {
    const auto& running = registry().running;
    return std::any_of(running.begin(), running.end(),
                       [&](const auto& a) { return a->object == object && a->property == property; });
}

}  // namespace animation

void AnimationContext::runAnimationGroup(const std::function<void(AnimationContext&)>& changes, Completion completion) {
    AnimationContext context;
    context.group = std::make_shared<Group>();
    context.group->completion = std::move(completion);
    auto& stack = registry().stack;
    stack.push_back(&context);
    if (changes) changes(context);
    stack.erase(std::find(stack.begin(), stack.end(), &context));
    context.group->building = false;
    completeGroupIfDone(context.group);
}

AnimationContext* AnimationContext::current() {
    auto& stack = registry().stack;
    return stack.empty() ? nullptr : stack.back();
}

std::size_t AnimationContext::runningAnimationCount() { return registry().running.size(); }

// Animators. Each captures its object weakly: an object that goes away ends its animations.

void WindowAnimator::setFrame(const Rect& frame) {
    if (!window_) return;
    std::weak_ptr<Window> weak = window_;
    const Rect from = window_->frame();
    window_->restingFrame_ = frame;
    startAnimation(window_.get(), Property::WindowFrame, [weak, from, frame](double p) {
        if (auto w = weak.lock()) setWindowFrameAnimated(*w, p >= 1.0 ? frame : interpolate(from, frame, p));
    });
}

void WindowAnimator::setFrameOrigin(Point origin) {
    if (window_) setFrame({origin, window_->frame().size});
}

void WindowAnimator::setAlphaValue(double alpha) {
    if (!window_) return;
    std::weak_ptr<Window> weak = window_;
    const double from = window_->alphaValue();
    startAnimation(window_.get(), Property::WindowAlpha, [weak, from, alpha](double p) {
        if (auto w = weak.lock()) setWindowAlphaAnimated(*w, p >= 1.0 ? alpha : interpolate(from, alpha, p));
    });
}

void ViewAnimator::setFrame(const Rect& frame) {
    if (!view_) return;
    std::weak_ptr<View> weak = view_;
    const Rect from = view_->frame();
    startAnimation(
        view_.get(), Property::ViewFrame,
        [weak, from, frame](double p) {
            if (auto v = weak.lock()) setViewFrameAnimated(*v, p >= 1.0 ? frame : interpolate(from, frame, p));
        },
        {}, seenOnScreen(*view_));
}

void ViewAnimator::setFrameOrigin(Point origin) {
    if (view_) setFrame({origin, view_->frame().size});
}

void ViewAnimator::setFrameSize(Size size) {
    if (view_) setFrame({view_->frame().origin, size});
}

void ViewAnimator::setAlphaValue(double alpha) {
    if (!view_) return;
    std::weak_ptr<View> weak = view_;
    const double from = view_->alphaValue();
    startAnimation(
        view_.get(), Property::ViewAlpha,
        [weak, from, alpha](double p) {
            if (auto v = weak.lock()) setViewAlphaAnimated(*v, p >= 1.0 ? alpha : interpolate(from, alpha, p));
        },
        {}, seenOnScreen(*view_));
}

void ViewAnimator::setBoundsOrigin(Point origin) {
    if (!view_) return;
    std::weak_ptr<View> weak = view_;
    const Point from = view_->bounds().origin;
    startAnimation(
        view_.get(), Property::ViewBoundsOrigin,
        [weak, from, origin](double p) {
            if (auto v = weak.lock()) setViewBoundsOriginAnimated(*v, p >= 1.0 ? origin : interpolate(from, origin, p));
        },
        {}, seenOnScreen(*view_));
}

void ViewAnimator::addSubview(const std::shared_ptr<View>& subview) {
    if (!view_ || !subview) return;
    // A fade-out still running on the view must not remove it after this.
    animation::cancel(subview.get(), Property::ViewAlpha);
    const double target = subview->alphaValue();
    setViewAlphaAnimated(*subview, 0);
    view_->addSubview(subview);
    std::weak_ptr<View> weak = subview;
    startAnimation(
        subview.get(), Property::ViewAlpha,
        [weak, target](double p) {
            if (auto v = weak.lock()) setViewAlphaAnimated(*v, p >= 1.0 ? target : target * p);
        },
        {}, seenOnScreen(*subview));
}

void ViewAnimator::removeFromSuperview() {
    if (!view_) return;
    std::weak_ptr<View> weak = view_;
    const double from = view_->alphaValue();
    startAnimation(
        view_.get(), Property::ViewAlpha,
        [weak, from](double p) {
            if (auto v = weak.lock()) setViewAlphaAnimated(*v, p >= 1.0 ? 0.0 : from * (1 - p));
        },
        [weak, from](bool finished) {
            auto v = weak.lock();
            if (!v) return;
            // Cancelled or done, the view gets its alpha back; only a finished fade removes it.
            if (finished) v->removeFromSuperview();
            setViewAlphaAnimated(*v, from);
        },
        seenOnScreen(*view_));
}

}  // namespace kit
