#pragma once
// The host family's spinner: twelve spokes whose shades turn round while it animates. It draws
// nothing while stopped. The animation runs on a timer of the main run loop.

#include <memory>
#include <string>

#include "kit/ui/View.h"

namespace kit {
class Timer;
}

class HXLoadingView : public kit::View {
public:
    explicit HXLoadingView(kit::Rect frame = {});
    ~HXLoadingView() override;
    void init() override;
    std::string className() const override { return "HXLoadingView"; }

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_ != nullptr; }
    // The spoke drawn darkest, 0 to 11; moves one step per tick while animating.
    int step() const { return step_; }

    static constexpr int kSpokes = 12;
    // One turn a second.
    static constexpr double kTickInterval = 1.0 / kSpokes;

    void draw(kit::GraphicsContext& context, const kit::Rect& dirtyRect) override;
    void viewDidChangeEffectiveAppearance() override { setNeedsDisplay(); }

private:
    void tick();

    std::shared_ptr<kit::Timer> timer_;
    int step_ = 0;
};
