#include "kit/ui/ScrollView.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kit/ui/Create.h"
#include "kit/ui/GraphicsContext.h"

namespace kit {

ClipView::ClipView(Rect frame) : View(frame) {}

void ClipView::setDocumentView(const std::shared_ptr<View>& view) {
    if (auto old = document_.lock()) old->removeFromSuperview();
    document_ = view;
    if (view) {
        addSubview(view);
        setBoundsOrigin(constrainBoundsOrigin(view->frame().origin));
    }
    reclamp();
}

bool ClipView::isFlipped() const {
    auto document = document_.lock();
    return document ? document->isFlipped() : false;
}

Rect ClipView::documentRect() const {
    auto document = document_.lock();
    return document ? document->frame() : bounds();
}

Rect ClipView::documentVisibleRect() const {
    auto document = document_.lock();
    if (!document) return bounds();
    return document->convertRectFromView(bounds(), this).intersection(document->bounds());
}

Point ClipView::constrainBoundsOrigin(Point proposed) const {
    const Rect doc = documentRect();
    const Size size = bounds().size;
    auto clampAxis = [](double value, double min, double docLength, double clipLength) {
        const double max = min + std::max(0.0, docLength - clipLength);
        return std::clamp(value, min, max);
    };
    return {clampAxis(proposed.x, doc.minX(), doc.width(), size.width),
            clampAxis(proposed.y, doc.minY(), doc.height(), size.height)};
}

void ClipView::scrollToPoint(Point point) { setBoundsOrigin(constrainBoundsOrigin(point)); }

void ClipView::reclamp() {
    const Point clamped = constrainBoundsOrigin(bounds().origin);
    if (clamped != bounds().origin) setBoundsOrigin(clamped);
}

void ClipView::subviewFrameDidChange(View& subview) {
    if (document_.lock().get() == &subview) reclamp();
}

void ClipView::resizeSubviewsWithOldSize(Size oldSize) {
    View::resizeSubviewsWithOldSize(oldSize);
    reclamp();
}

namespace {
// How far a wheel event scrolls a view that scrolls in the axes given. Shift turns a plain
// vertical wheel sideways, as everywhere on the desktop; a view that scrolls only sideways takes
// the larger of the two deltas sideways (a vertical wheel moves a tab strip).
// A mouse wheel's notch moves a view by the step GTK's scrolled windows take for one: the
// visible length to the power 2/3, at most half of it (about 87 points of 800).
Point wheelDelta(const Event& event, bool horizontal, bool vertical, Size visible) {
    double dx = event.scrollingDeltaX;
    double dy = event.scrollingDeltaY;
    if ((event.modifierFlags & ModifierShift) && dx == 0) std::swap(dx, dy);
    if (horizontal && !vertical && std::abs(dy) > std::abs(dx)) dx = dy;
    if (!event.hasPreciseScrollingDeltas) {
        auto notchStep = [](double length) { return std::min(std::pow(length, 2.0 / 3.0), length / 2); };
        dx *= notchStep(visible.width) / kWheelNotchDelta;
        dy *= notchStep(visible.height) / kWheelNotchDelta;
    }
    return {horizontal ? dx : 0, vertical ? dy : 0};
}
}  // namespace

void ClipView::scrollByWheelDelta(Point delta) {
    // Positive deltas move the content towards its start (up, or left), as a wheel turned away
    // from the user does.
    Point origin = bounds().origin;
    origin.x -= delta.x;
    origin.y += isFlipped() ? -delta.y : delta.y;
    scrollToPoint(origin);
}

void ClipView::scrollWheel(const Event& event) {
    // Inside a scroll view, the scroll view decides (the event goes up to it, never back here).
    const Point delta = dynamic_cast<ScrollView*>(superview()) ? Point{} : wheelDelta(event, true, true, bounds().size);
    if (delta == Point{}) {
        View::scrollWheel(event);
        return;
    }
    scrollByWheelDelta(delta);
}

ScrollView::ScrollView(Rect frame) : View(frame) {}

void ScrollView::init() {
    View::init();
    clip_ = create<ClipView>(bounds());
    clip_->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
    addSubview(clip_);
}

void ScrollView::setDocumentView(const std::shared_ptr<View>& view) { clip_->setDocumentView(view); }

void ScrollView::setDrawsBackground(bool draws) {
    drawsBackground_ = draws;
    setNeedsDisplay();
}

void ScrollView::setScrollBackgroundColor(Color color) {
    background_ = color;
    setNeedsDisplay();
}

void ScrollView::scrollWheel(const Event& event) {
    const Point delta = wheelDelta(event, scrollsHorizontally_, scrollsVertically_, clip_->bounds().size);
    if (delta == Point{}) {
        // Nothing to scroll here: the views around may scroll.
        View::scrollWheel(event);
        return;
    }
    clip_->scrollByWheelDelta(delta);
}

void ScrollView::draw(GraphicsContext& context, const Rect&) {
    if (!drawsBackground_) return;
    context.setFillColor(background_);
    context.fillRect(bounds());
}

void ScrollView::resizeSubviewsWithOldSize(Size oldSize) {
    View::resizeSubviewsWithOldSize(oldSize);
    clip_->reclamp();
}

}  // namespace kit
