#include "frameworks/COSwitch.h"

#include <algorithm>

#include "frameworks/JWAppThemeHelper.h"
#include "kit/ui/Application.h"
#include "kit/ui/GraphicsContext.h"

COSwitch::COSwitch(kit::Rect frame) : kit::Control(frame) {}

void COSwitch::init() {
    kit::Control::init();
    setAccessibilityRole("AXCheckBox");
}

void COSwitch::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    setNeedsDisplay();
}

void COSwitch::draw(kit::GraphicsContext& context, const kit::Rect&) {
    const kit::Rect b = bounds();
    if (b.isEmpty()) return;
    const bool dark = JWAppThemeHelper::isDarkMode();
    const double height = std::min(b.height(), b.width() / 1.5);
    const double width = std::min(b.width(), height * 1.75);
    const kit::Rect track{b.midX() - width / 2, b.midY() - height / 2, width, height};
    kit::Color trackColor = on_ ? kit::Color::fromHex(0x58CE9B) : (dark ? kit::Color::fromHex(0x4D4D4D) : kit::Color::fromHex(0xD9D9D9));
    if (isHighlighted()) trackColor = on_ ? kit::Color::fromHex(0x07A36F) : (dark ? kit::Color::fromHex(0x5C5C5C) : kit::Color::fromHex(0xC4C4C4));
    context.save();
    if (!isEnabled()) context.setAlpha(0.5);
    context.setFillColor(trackColor);
    context.fillRoundedRect(track, height / 2);
    const double inset = 2;
    const double knob = height - 2 * inset;
    const double x = on_ ? track.maxX() - inset - knob : track.minX() + inset;
    context.setFillColor(kit::Color::white());
    context.fillEllipse({x, track.minY() + inset, knob, knob});
    context.restore();
}

bool COSwitch::pointInside(const kit::Event& event) const {
    return bounds().contains(convertPointFromView(event.locationInWindow, nullptr));
}

void COSwitch::mouseDown(const kit::Event& event) {
    if (!isEnabled()) return;
    tracking_ = true;
    setHighlighted(pointInside(event));
}

void COSwitch::mouseDragged(const kit::Event& event) {
    if (tracking_) setHighlighted(pointInside(event));
}

void COSwitch::mouseUp(const kit::Event& event) {
    if (!tracking_) return;
    tracking_ = false;
    setHighlighted(false);
    if (pointInside(event)) toggleFromUser();
}

bool COSwitch::toggleFromUser() {
    if (!isEnabled()) return false;
    // The action may remove the switch or close its window: keep it until the event is over.
    kit::Application::shared().releaseLater(shared_from_this());
    setOn(!on_);
    sendAction();
    return true;
}

bool COSwitch::accessibilityPerformPress() { return toggleFromUser(); }
