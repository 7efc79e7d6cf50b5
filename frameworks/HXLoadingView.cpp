#include "frameworks/HXLoadingView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "frameworks/JWAppThemeHelper.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/GraphicsContext.h"

HXLoadingView::HXLoadingView(kit::Rect frame) : kit::View(frame) {}

HXLoadingView::~HXLoadingView() {
    if (timer_) timer_->invalidate();
}

void HXLoadingView::init() {
    kit::View::init();
    setAccessibilityRole("AXProgressIndicator");
}

void HXLoadingView::startAnimation() {
    if (timer_) return;
    std::weak_ptr<kit::View> weak = weak_from_this();
    timer_ = kit::RunLoop::main().scheduleTimer(kTickInterval, true, [weak](kit::Timer& timer) {
        auto self = std::static_pointer_cast<HXLoadingView>(weak.lock());
        if (!self) {
            timer.invalidate();
            return;
        }
        self->tick();
    });
    setNeedsDisplay();
}

void HXLoadingView::stopAnimation() {
    if (!timer_) return;
    timer_->invalidate();
    timer_.reset();
    setNeedsDisplay();
}

void HXLoadingView::tick() {
    step_ = (step_ + 1) % kSpokes;
    setNeedsDisplay();
}

void HXLoadingView::draw(kit::GraphicsContext& context, const kit::Rect&) {
    if (!timer_) return;
    const kit::Rect b = bounds();
    const double radius = std::min(b.width(), b.height()) / 2;
    if (radius <= 0) return;
    const kit::Color base = JWAppThemeHelper::isDarkMode() ? kit::Color::fromHex(0xD9D9D9) : kit::Color::fromHex(0x737373);
    const double length = radius * 0.45;
    const double thickness = std::max(1.0, radius * 0.16);
    context.save();
    context.translate(b.midX(), b.midY());
    for (int i = 0; i < kSpokes; ++i) {
        // The current spoke is opaque, the ones behind it fade out.
        const int behind = (step_ - i + kSpokes) % kSpokes;
        const double alpha = 1.0 - 0.8 * behind / (kSpokes - 1);
        context.save();
        // Clockwise from the top, y pointing up.
        context.rotate(std::numbers::pi / 2 - 2 * std::numbers::pi * i / kSpokes);
        context.setFillColor(base.withAlpha(base.alpha * alpha));
        context.fillRoundedRect({radius - length, -thickness / 2, length, thickness}, thickness / 2);
        context.restore();
    }
    context.restore();
}
