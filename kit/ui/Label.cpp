#include "kit/ui/Label.h"

#include <algorithm>

#include "kit/ui/Create.h"
#include "kit/ui/GraphicsContext.h"

namespace kit {

Label::Label(Rect frame) : View(frame) {}

void Label::init() {
    View::init();
    setAccessibilityRole("text");
}

std::shared_ptr<Label> Label::withString(std::string text) {
    auto label = create<Label>();
    label->setUsesSingleLineMode(true);
    label->setStringValue(std::move(text));
    label->sizeToFit();
    return label;
}

std::shared_ptr<Label> Label::wrappingWithString(std::string text) {
    auto label = create<Label>();
    label->setLineBreakMode(LineBreakMode::WordWrapping);
    label->setStringValue(std::move(text));
    return label;
}

void Label::textChanged() {
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void Label::setStringValue(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    textChanged();
}

void Label::setFont(Font font) {
    font_ = std::move(font);
    textChanged();
}

void Label::setTextColor(Color color) {
    textColor_ = color;
    setNeedsDisplay();
}

void Label::setAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode mode) {
    lineBreakMode_ = mode;
    textChanged();
}

void Label::setMaximumNumberOfLines(int lines) {
    maximumLines_ = std::max(0, lines);
    textChanged();
}

void Label::setUsesSingleLineMode(bool single) {
    singleLine_ = single;
    textChanged();
}

void Label::setPreferredMaxLayoutWidth(double width) {
    preferredMaxWidth_ = width;
    textChanged();
}

void Label::setBordered(bool bordered) {
    bordered_ = bordered;
    setNeedsDisplay();
}

void Label::setBezeled(bool bezeled) {
    bezeled_ = bezeled;
    setNeedsDisplay();
}

void Label::setDrawsBackground(bool draws) {
    drawsBackground_ = draws;
    setNeedsDisplay();
}

void Label::setTextBackgroundColor(Color color) {
    backgroundColor_ = color;
    setNeedsDisplay();
}

TextLayoutOptions Label::layoutOptions(double width) const {
    TextLayoutOptions options;
    options.width = width;
    options.alignment = alignment_;
    options.lineBreakMode = lineBreakMode_;
    options.maximumNumberOfLines = singleLine_ ? 1 : maximumLines_;
    if (singleLine_ &&
        (lineBreakMode_ == LineBreakMode::WordWrapping || lineBreakMode_ == LineBreakMode::CharWrapping)) {
        options.lineBreakMode = LineBreakMode::Clipping;
    }
    return options;
}

Size Label::sizeThatFits(double width) const {
    const double textWidth = width > 0 ? std::max(0.0, width - 2 * kHorizontalPadding) : 0;
    const Size text = measureText(text_, font_, layoutOptions(textWidth)).size;
    return {text.width + 2 * kHorizontalPadding, text.height};
}

void Label::sizeToFit() { setFrameSize(sizeThatFits(0)); }

bool Label::isTruncated() const {
    const double width = std::max(0.0, bounds().width() - 2 * kHorizontalPadding);
    const auto metrics = measureText(text_, font_, layoutOptions(width));
    return metrics.truncated || metrics.size.height > bounds().height() + 0.5;
}

Size Label::intrinsicContentSize() const {
    const bool wraps = !pangotextSingleLine();
    if (!wraps) return sizeThatFits(0);
    const double width = preferredMaxWidth_ > 0 ? preferredMaxWidth_ : frame().width();
    const Size fitted = sizeThatFits(width);
    // A wrapping label has no natural width of its own beyond the width it wraps at.
    return {preferredMaxWidth_ > 0 ? fitted.width : kNoIntrinsicMetric, fitted.height};
}

double Label::intrinsicHeightForWidth(double width) const {
    if (pangotextSingleLine() || preferredMaxWidth_ > 0 || width <= 0) return intrinsicContentSize().height;
    return sizeThatFits(width).height;
}

bool Label::pangotextSingleLine() const {
    const auto options = layoutOptions(0);
    const bool wraps =
        options.lineBreakMode == LineBreakMode::WordWrapping || options.lineBreakMode == LineBreakMode::CharWrapping;
    return !wraps && options.maximumNumberOfLines <= 1;
}

void Label::draw(GraphicsContext& context, const Rect&) {
    const Rect b = bounds();
    if (drawsBackground_) {
        context.setFillColor(backgroundColor_);
        context.fillRect(b);
    }
    if (bordered_ || bezeled_) {
        context.setStrokeColor(Color::fromHex(0xB0B0B0));
        context.setLineWidth(1);
        context.strokeRect(b.insetBy(0.5, 0.5));
    }
    const Rect textRect = b.insetBy(kHorizontalPadding, 0);
    // A single line sits in the vertical middle of a taller label only for bezeled fields; a
    // label draws from its top edge, as the platform's text field cell does.
    context.drawText(text_, textRect, font_, textColor_, layoutOptions(textRect.width()));
}

std::string Label::accessibilityLabel() const {
    const std::string label = View::accessibilityLabel();
    return label.empty() ? text_ : label;
}

}  // namespace kit
