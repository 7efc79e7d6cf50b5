#pragma once
// A scroll view: a clip view showing part of a document view. The clip view's bounds origin is
// the scroll position in the document's coordinates; it is kept inside the document
// (re-clamped whenever the document or the clip view changes size), and every change of it posts
// kViewBoundsDidChangeNotification with the clip view as object (when the clip view posts bounds
// changes, the default).

#include <memory>
#include <optional>

#include "kit/base/Color.h"
#include "kit/ui/View.h"

namespace kit {

class ClipView : public View {
public:
    explicit ClipView(Rect frame = {});
    std::string className() const override { return "ClipView"; }

    std::shared_ptr<View> documentView() const { return document_.lock(); }
    void setDocumentView(const std::shared_ptr<View>& view);
    // Follows the document view.
    bool isFlipped() const override;
    // The document's frame (its bounds when there is none: the clip's own).
    Rect documentRect() const;
    // The part of the document shown, in the document's coordinates.
    Rect documentVisibleRect() const;
    // Scrolls so that the point (document coordinates) is the bounds origin, clamped.
    void scrollToPoint(Point point);
    // The nearest origin that keeps the clip inside the document.
    Point constrainBoundsOrigin(Point proposed) const;
    // Re-applies the clamp (after size changes).
    void reclamp();
    // Scrolls by a wheel's deltas (positive x towards the left end, positive y towards the top).
    void scrollByWheelDelta(Point delta);

    void subviewFrameDidChange(View& subview) override;
    void scrollWheel(const Event& event) override;

protected:
    void resizeSubviewsWithOldSize(Size oldSize) override;

private:
    std::weak_ptr<View> document_;
};

class ScrollView : public View {
public:
    explicit ScrollView(Rect frame = {});
    void init() override;
    std::string className() const override { return "ScrollView"; }

    std::shared_ptr<ClipView> contentView() const { return clip_; }
    std::shared_ptr<View> documentView() const { return clip_ ? clip_->documentView() : nullptr; }
    void setDocumentView(const std::shared_ptr<View>& view);
    Rect documentVisibleRect() const { return clip_->documentVisibleRect(); }
    Size contentSize() const { return clip_->frame().size; }

    bool hasVerticalScroller() const { return hasVertical_; }
    void setHasVerticalScroller(bool has) { hasVertical_ = has; }
    bool hasHorizontalScroller() const { return hasHorizontal_; }
    void setHasHorizontalScroller(bool has) { hasHorizontal_ = has; }
    bool autohidesScrollers() const { return autohides_; }
    void setAutohidesScrollers(bool hides) { autohides_ = hides; }
    bool drawsBackground() const { return drawsBackground_; }
    void setDrawsBackground(bool draws);
    Color backgroundColor() const { return background_; }
    void setScrollBackgroundColor(Color color);
    // Whether wheel events in an axis scroll; both by default. Shift turns a vertical wheel
    // sideways, and a scroll view that scrolls only sideways takes a vertical wheel sideways too.
    // A wheel that scrolls nothing here goes on to the superview.
    bool scrollsHorizontally() const { return scrollsHorizontally_; }
    void setScrollsHorizontally(bool scrolls) { scrollsHorizontally_ = scrolls; }
    bool scrollsVertically() const { return scrollsVertically_; }
    void setScrollsVertically(bool scrolls) { scrollsVertically_ = scrolls; }

    void scrollWheel(const Event& event) override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

protected:
    void resizeSubviewsWithOldSize(Size oldSize) override;

private:
    std::shared_ptr<ClipView> clip_;
    bool hasVertical_ = true;
    bool hasHorizontal_ = false;
    bool autohides_ = true;
    bool drawsBackground_ = false;
    Color background_ = Color::white();
    bool scrollsHorizontally_ = true;
    bool scrollsVertically_ = true;
};

}  // namespace kit
