#include "app/ui/KZHoverView.h"

#include "kit/ui/TrackingArea.h"

void KZHoverView::setIsHovered(bool hovered) {
    hovered_ = hovered;
    applyStateColor();
    setNeedsDisplay();
}

void KZHoverView::setIsPressed(bool pressed) {
    pressed_ = pressed;
    applyStateColor();
    setNeedsDisplay();
}

void KZHoverView::setGetDefaultColor(ColorProvider provider) {
    defaultColor_ = std::move(provider);
    applyStateColor();
}

void KZHoverView::setGetHoverColor(ColorProvider provider) {
    hoverColor_ = std::move(provider);
    applyStateColor();
}

void KZHoverView::setGetPressColor(ColorProvider provider) {
    pressColor_ = std::move(provider);
    applyStateColor();
}

std::optional<kit::Color> KZHoverView::currentStateColor() const {
    const bool dark = isDarkMode();
    if (pressed_ && pressColor_) return pressColor_(dark);
    if (hovered_ && hoverColor_) return hoverColor_(dark);
    if (defaultColor_) return defaultColor_(dark);
    return std::nullopt;
}

void KZHoverView::applyStateColor() {
    const kit::Color color = currentStateColor().value_or(kit::Color::clear());
    // Only on a change: drawing sets it too, and every layer change asks for another drawing.
    if (layer().backgroundColor != color) setBackgroundColor(color);
}

void KZHoverView::updateTrackingAreas() {
    KZView::updateTrackingAreas();
    const auto areas = trackingAreas();
    for (const auto& area : areas) removeTrackingArea(area);
    addTrackingArea(kit::TrackingArea::make(bounds(),
                                            kit::TrackingMouseEnteredAndExited | kit::TrackingMouseMoved |
                                                kit::TrackingActiveInActiveApp | kit::TrackingActiveAlways,
                                            weak_from_this()));
}

void KZHoverView::layout() {
    KZView::layout();
    updateTrackingAreas();
}

void KZHoverView::mouseEntered(const kit::Event& event) {
    auto self = shared_from_this();
    KZView::mouseEntered(event);
    setIsHovered(true);
    if (hoverChangeBlock_) {
        auto block = hoverChangeBlock_;
        block(*this, event);
    }
}

void KZHoverView::mouseExited(const kit::Event& event) {
    auto self = shared_from_this();
    KZView::mouseExited(event);
    setIsHovered(false);
    if (hoverChangeBlock_) {
        auto block = hoverChangeBlock_;
        block(*this, event);
    }
    setIsPressed(false);
}

void KZHoverView::mouseDown(const kit::Event& event) {
    auto self = shared_from_this();
    KZView::mouseDown(event);
    setIsPressed(true);
}

void KZHoverView::mouseUp(const kit::Event& event) {
    // The enclosing button's action may close the window or remove the button.
    auto self = shared_from_this();
    KZView::mouseUp(event);
    setIsPressed(false);
}

void KZHoverView::draw(kit::GraphicsContext& context, const kit::Rect& dirtyRect) {
    KZView::draw(context, dirtyRect);
    applyStateColor();
}

void KZHoverView::viewDidChangeEffectiveAppearance() {
    KZView::viewDidChangeEffectiveAppearance();
    applyStateColor();
}
