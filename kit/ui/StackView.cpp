#include "kit/ui/StackView.h"

#include <algorithm>
#include <cmath>

#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"

namespace kit {

StackView::StackView(Rect frame) : View(frame) {}

std::shared_ptr<StackView> StackView::withViews(const std::vector<std::shared_ptr<View>>& views,
                                                StackOrientation orientation) {
    auto stack = create<StackView>();
    stack->setOrientation(orientation);
    for (auto& view : views) stack->addArrangedSubview(view);
    return stack;
}

void StackView::setOrientation(StackOrientation orientation) {
    orientation_ = orientation;
    invalidateIntrinsicContentSize();
}
void StackView::setSpacing(double spacing) {
    spacing_ = spacing;
    invalidateIntrinsicContentSize();
}
void StackView::setAlignment(StackAlignment alignment) {
    alignment_ = alignment;
    setNeedsLayout();
}
void StackView::setDistribution(StackDistribution distribution) {
    distribution_ = distribution;
    setNeedsLayout();
}
void StackView::setEdgeInsets(EdgeInsets insets) {
    insets_ = insets;
    invalidateIntrinsicContentSize();
}
void StackView::setDetachesHiddenViews(bool detaches) {
    detachesHidden_ = detaches;
    invalidateIntrinsicContentSize();
}

void StackView::addArrangedSubview(const std::shared_ptr<View>& view) { insertArrangedSubview(view, arranged_.size()); }

void StackView::insertArrangedSubview(const std::shared_ptr<View>& view, std::size_t index) {
    if (!view) return;
    arranged_.erase(std::remove(arranged_.begin(), arranged_.end(), view), arranged_.end());
    arranged_.insert(arranged_.begin() + static_cast<std::ptrdiff_t>(std::min(index, arranged_.size())), view);
    if (view->superview() != this) addSubview(view);
    invalidateIntrinsicContentSize();
}

void StackView::removeArrangedSubview(const std::shared_ptr<View>& view) {
    arranged_.erase(std::remove(arranged_.begin(), arranged_.end(), view), arranged_.end());
    invalidateIntrinsicContentSize();
}

void StackView::willRemoveSubview(View& subview) {
    arranged_.erase(std::remove_if(arranged_.begin(), arranged_.end(), [&](const auto& v) { return v.get() == &subview; }),
                    arranged_.end());
    invalidateIntrinsicContentSize();
}

void StackView::setCustomSpacing(double spacing, const std::shared_ptr<View>& afterView) {
    custom_.erase(std::remove_if(custom_.begin(), custom_.end(),
                                 [&](const Custom& c) { return c.view.expired() || c.view.lock() == afterView; }),
                  custom_.end());
    custom_.push_back({afterView, spacing});
    invalidateIntrinsicContentSize();
}

double StackView::customSpacingAfterView(const std::shared_ptr<View>& view) const {
    for (const auto& c : custom_) {
        if (c.view.lock() == view) return c.spacing;
    }
    return spacing_;
}

double StackView::spacingAfter(const View& view) const {
    for (const auto& c : custom_) {
        if (c.view.lock().get() == &view) return c.spacing;
    }
    return spacing_;
}

std::vector<const View*> StackView::visibleArranged() const {
    std::vector<const View*> views;
    for (const auto& v : arranged_) {
        if (detachesHidden_ && v->isHidden()) continue;
        views.push_back(v.get());
    }
    return views;
}

Size StackView::naturalSize(const View& view) {
    Size size = view.fittingSize();
    for (const auto& c : view.constraints()) {
        if (c.relation != LayoutRelation::Equal || c.hasTarget) continue;
        if (c.attribute == LayoutAttribute::Width) size.width = c.constant;
        if (c.attribute == LayoutAttribute::Height) size.height = c.constant;
    }
    return size;
}

Size StackView::intrinsicContentSize() const {
    const bool horizontal = orientation_ == StackOrientation::Horizontal;
    double along = 0, across = 0;
    const auto views = visibleArranged();
    for (std::size_t i = 0; i < views.size(); ++i) {
        const Size s = naturalSize(*views[i]);
        along += horizontal ? s.width : s.height;
        across = std::max(across, horizontal ? s.height : s.width);
        if (i + 1 < views.size()) along += spacingAfter(*views[i]);
    }
    if (horizontal) return {along + insets_.left + insets_.right, across + insets_.top + insets_.bottom};
    return {across + insets_.left + insets_.right, along + insets_.top + insets_.bottom};
}

void StackView::layout() {
    View::layout();
    const bool horizontal = orientation_ == StackOrientation::Horizontal;
    const auto views = visibleArranged();
    const Rect b = bounds();
    const double availableAlong = horizontal ? b.width() - insets_.left - insets_.right : b.height() - insets_.top - insets_.bottom;
    const double availableAcross = horizontal ? b.height() - insets_.top - insets_.bottom : b.width() - insets_.left - insets_.right;

    std::vector<double> lengths;
    double total = 0;
    for (std::size_t i = 0; i < views.size(); ++i) {
        const Size s = naturalSize(*views[i]);
        lengths.push_back(std::max(0.0, horizontal ? s.width : s.height));
        total += lengths.back();
        if (i + 1 < views.size()) total += spacingAfter(*views[i]);
    }
    const View::Axis axis = horizontal ? View::Axis::Horizontal : View::Axis::Vertical;
    double extra = availableAlong - total;
    if (distribution_ == StackDistribution::FillEqually && !views.empty()) {
        double spacing = total;
        for (double l : lengths) spacing -= l;
        const double each = std::max(0.0, (availableAlong - spacing) / static_cast<double>(views.size()));
        std::fill(lengths.begin(), lengths.end(), each);
        extra = 0;
    } else if (extra != 0 && !views.empty()) {
        // The view that gives way most easily takes up the difference: lowest hugging priority
        // when growing, lowest compression resistance when shrinking.
        std::size_t chosen = views.size();
        double best = extra > 0 ? kLayoutPriorityDefaultLow : kLayoutPriorityRequired;
        for (std::size_t i = 0; i < views.size(); ++i) {
            const double priority = extra > 0 ? views[i]->contentHuggingPriority(axis)
                                              : views[i]->contentCompressionResistancePriority(axis);
            if (priority < best || (extra > 0 && distribution_ == StackDistribution::Fill && priority <= best && chosen == views.size())) {
                best = priority;
                chosen = i;
            }
        }
        if (chosen < views.size()) {
            const double before = lengths[chosen];
            lengths[chosen] = std::max(0.0, lengths[chosen] + extra);
            extra -= lengths[chosen] - before;
        }
    }
    double spacingExtra = 0;
    if (distribution_ == StackDistribution::EqualSpacing && views.size() > 1 && extra > 0) {
        spacingExtra = extra / static_cast<double>(views.size() - 1);
        extra = 0;
    }

    // Gravity: whatever is left over stays at the end (the start being the top of a column).
    double position = 0;
    for (std::size_t i = 0; i < views.size(); ++i) {
        View* view = const_cast<View*>(views[i]);
        const Size natural = naturalSize(*view);
        double acrossLength = horizontal ? natural.height : natural.width;
        if (alignment_ == StackAlignment::Fill) acrossLength = availableAcross;
        double acrossStart = 0;
        if (alignment_ == StackAlignment::Center) acrossStart = (availableAcross - acrossLength) / 2;
        if (alignment_ == StackAlignment::Trailing) acrossStart = availableAcross - acrossLength;
        Rect frame;
        if (horizontal) {
            // Leading across a row is its top.
            const double y = isFlipped() ? insets_.top + acrossStart
                                         : b.height() - insets_.top - acrossStart - acrossLength;
            frame = {insets_.left + position + b.minX(), y + b.minY(), lengths[i], acrossLength};
        } else {
            const double y = isFlipped() ? insets_.top + position : b.height() - insets_.top - position - lengths[i];
            frame = {insets_.left + acrossStart + b.minX(), y + b.minY(), acrossLength, lengths[i]};
        }
        if (view->frame() != frame) view->setFrame(frame);
        position += lengths[i];
        if (i + 1 < views.size()) position += spacingAfter(*view) + spacingExtra;
    }
}

}  // namespace kit
