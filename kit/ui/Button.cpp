#include "kit/ui/Button.h"

#include <algorithm>

#include "kit/ui/Create.h"
#include "kit/ui/GraphicsContext.h"
#include "kit/ui/Text.h"

namespace kit {

Button::Button(Rect frame) : Control(frame) {}

void Button::init() {
    Control::init();
    setAccessibilityRole("button");
}

std::shared_ptr<Button> Button::withTitle(std::string title, Action action) {
    auto button = create<Button>();
    button->setTitle(std::move(title));
    button->setAction(std::move(action));
    button->setFrameSize(button->intrinsicContentSize());
    return button;
}

std::shared_ptr<Button> Button::withImage(Image image, Action action) {
    auto button = create<Button>();
    button->setBordered(false);
    button->setImage(std::move(image));
    button->setAction(std::move(action));
    button->setFrameSize(button->intrinsicContentSize());
    return button;
}

void Button::setTitle(std::string title) {
    title_ = std::move(title);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void Button::setImage(Image image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void Button::setFont(Font font) {
    font_ = std::move(font);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void Button::setTitleColor(Color color) {
    titleColor_ = color;
    setNeedsDisplay();
}

void Button::setBordered(bool bordered) {
    bordered_ = bordered;
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void Button::setState(int state) {
    state_ = state ? 1 : 0;
    setNeedsDisplay();
}

Size Button::intrinsicContentSize() const {
    const Size text = title_.empty() ? Size{} : measureText(title_, font_).size;
    const Size picture = image_.size();
    double width = text.width + picture.width + (text.width > 0 && picture.width > 0 ? 4 : 0);
    double height = std::max(text.height, picture.height);
    if (bordered_) {
        width += 24;
        height = std::max(height + 6, 22.0);
    }
    return {width, height};
}

void Button::draw(GraphicsContext& context, const Rect&) {
    const Rect b = bounds();
    if (circleColor_) {
        const double d = std::min(b.width(), 12.0);
        const Rect circle{b.midX() - d / 2, b.midY() - d / 2, d, d};
        context.setFillColor(isEnabled() ? *circleColor_ : Color::fromHex(0xD0D0D0));
        context.fillEllipse(circle);
        return;
    }
    if (bordered_) {
        const bool pressed = isHighlighted() || state_ == 1;
        context.setFillColor(pressed ? Color::fromHex(0xD8D8D8) : Color::white());
        context.fillRoundedRect(b.insetBy(0.5, 0.5), 5);
        context.setStrokeColor(Color::fromHex(0xC0C0C0));
        context.setLineWidth(1);
        context.strokeRoundedRect(b.insetBy(0.5, 0.5), 5);
    }
    const Size text = title_.empty() ? Size{} : measureText(title_, font_).size;
    const Size picture = image_.size();
    const double gap = text.width > 0 && picture.width > 0 ? 4 : 0;
    double x = b.midX() - (text.width + picture.width + gap) / 2;
    if (image_) {
        context.drawImage(image_, Rect{x, b.midY() - picture.height / 2, picture.width, picture.height},
                          isEnabled() ? 1.0 : 0.5);
        x += picture.width + gap;
    }
    if (!title_.empty()) {
        Color color = titleColor_;
        if (!isEnabled()) color = color.withAlpha(color.alpha * 0.4);
        context.drawText(title_, Rect{x, b.midY() - text.height / 2, text.width + 1, text.height}, font_, color);
    }
}

bool Button::trackingInside(const Event& event) const {
    return bounds().contains(convertPointFromView(event.locationInWindow, nullptr));
}

void Button::mouseDown(const Event& event) {
    (void)event;
    if (!isEnabled()) return;
    tracking_ = true;
    setHighlighted(true);
}

void Button::mouseDragged(const Event& event) {
    if (tracking_) setHighlighted(trackingInside(event));
}

void Button::mouseUp(const Event& event) {
    if (!tracking_) return;
    tracking_ = false;
    setHighlighted(false);
    if (!trackingInside(event) || !isEnabled()) return;
    if (type_ != ButtonType::MomentaryPushIn) setState(state_ ? 0 : 1);
    sendAction();
}

std::string Button::accessibilityLabel() const {
    const std::string label = Control::accessibilityLabel();
    return label.empty() ? title_ : label;
}

bool Button::accessibilityPerformPress() {
    if (!isEnabled()) return false;
    if (type_ != ButtonType::MomentaryPushIn) setState(state_ ? 0 : 1);
    return sendAction();
}

}  // namespace kit
