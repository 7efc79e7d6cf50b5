#pragma once
// A small constraint layout in the shape the application uses: edges pinned with insets, fixed
// sizes, centring, a size as a multiple of another, at-most and at-least bounds, and remaking a
// view's constraints. A view's constraints are applied by its superview's layout(), in one pass
// over the subviews (a subview placed against a sibling comes after it). Each axis is solved
// from the two strongest equalities (a position and a size, or two positions); a missing size
// comes from the intrinsic size or the current frame, a missing position from the current
// frame; inequalities then bound the result.
//
// Offsets follow the visual sense: top and bottom are measured downwards from the top whatever
// the superview's flippedness, so `make.top().equalTo(view).offset(10)` is 10 points below.
//
//   kit::makeConstraints(button, [&](kit::ConstraintMaker& make) {
//       make.left().equalTo(kit::rightOf(avatar)).offset(10);
//       make.centerY().equalTo(avatar);
//       make.size().equalTo(kit::Size{24, 24});
//   });

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/EdgeInsets.h"

namespace kit {

class View;

enum class LayoutAttribute { Left, Right, Top, Bottom, Width, Height, CenterX, CenterY };
enum class LayoutRelation { Equal, LessThanOrEqual, GreaterThanOrEqual };

inline constexpr double kLayoutPriorityRequired = 1000;
inline constexpr double kLayoutPriorityDefaultHigh = 750;
inline constexpr double kLayoutPriorityDefaultLow = 250;

struct LayoutAnchor {
    std::weak_ptr<View> view;
    LayoutAttribute attribute = LayoutAttribute::Left;
};

LayoutAnchor leftOf(const std::shared_ptr<View>& view);
LayoutAnchor rightOf(const std::shared_ptr<View>& view);
LayoutAnchor topOf(const std::shared_ptr<View>& view);
LayoutAnchor bottomOf(const std::shared_ptr<View>& view);
LayoutAnchor widthOf(const std::shared_ptr<View>& view);
LayoutAnchor heightOf(const std::shared_ptr<View>& view);
LayoutAnchor centerXOf(const std::shared_ptr<View>& view);
LayoutAnchor centerYOf(const std::shared_ptr<View>& view);

// One constraint: attribute (relation) target.attribute * multiplier + constant. Without a target
// a position is measured from the superview and a size is the constant.
struct LayoutConstraint {
    LayoutAttribute attribute = LayoutAttribute::Left;
    LayoutRelation relation = LayoutRelation::Equal;
    std::weak_ptr<View> target;
    bool hasTarget = false;
    LayoutAttribute targetAttribute = LayoutAttribute::Left;
    double multiplier = 1;
    double constant = 0;
    double priority = kLayoutPriorityRequired;
};

// A group of constraints being built for one or more attributes (edges(), size() and center()
// stand for several).
class ConstraintItem {
public:
    // More attributes for the same relation: make.left().right().top().equalTo(view).
    ConstraintItem& left();
    ConstraintItem& right();
    ConstraintItem& top();
    ConstraintItem& bottom();
    ConstraintItem& width();
    ConstraintItem& height();
    ConstraintItem& centerX();
    ConstraintItem& centerY();

    // The same attribute(s) of another view.
    ConstraintItem& equalTo(const std::shared_ptr<View>& view);
    ConstraintItem& lessThanOrEqualTo(const std::shared_ptr<View>& view);
    ConstraintItem& greaterThanOrEqualTo(const std::shared_ptr<View>& view);
    // A given attribute of another view.
    ConstraintItem& equalTo(const LayoutAnchor& anchor);
    ConstraintItem& lessThanOrEqualTo(const LayoutAnchor& anchor);
    ConstraintItem& greaterThanOrEqualTo(const LayoutAnchor& anchor);
    // A constant: a size for width and height, an offset from the superview for positions.
    ConstraintItem& equalTo(double constant);
    ConstraintItem& lessThanOrEqualTo(double constant);
    ConstraintItem& greaterThanOrEqualTo(double constant);
    // Width and height at once (for size()).
    ConstraintItem& equalTo(Size size);

    ConstraintItem& offset(double offset);
    // Insets for edges(): left and top move in, right and bottom move in.
    ConstraintItem& insets(EdgeInsets insets);
    ConstraintItem& inset(double inset);
    ConstraintItem& multipliedBy(double multiplier);
    ConstraintItem& priority(double priority);

private:
    friend class ConstraintMaker;
    ConstraintItem& add(LayoutAttribute attribute);
    ConstraintItem& relate(LayoutRelation relation, const std::shared_ptr<View>& view,
                           std::optional<LayoutAttribute> attribute, double constant);
    std::vector<LayoutAttribute> attributes_;
    std::vector<LayoutConstraint> constraints_;
};

class ConstraintMaker {
public:
    ConstraintItem& left();
    ConstraintItem& right();
    ConstraintItem& top();
    ConstraintItem& bottom();
    ConstraintItem& width();
    ConstraintItem& height();
    ConstraintItem& centerX();
    ConstraintItem& centerY();
    ConstraintItem& edges();
    ConstraintItem& size();
    ConstraintItem& center();

    std::vector<LayoutConstraint> build() const;

private:
    ConstraintItem& item(std::vector<LayoutAttribute> attributes);
    std::vector<std::unique_ptr<ConstraintItem>> items_;
};

// Adds constraints to the view.
void makeConstraints(const std::shared_ptr<View>& view, const std::function<void(ConstraintMaker&)>& block);
// Replaces all the view's constraints.
void remakeConstraints(const std::shared_ptr<View>& view, const std::function<void(ConstraintMaker&)>& block);
// Replaces the view's constraints of the same attribute and relation, adds the others.
void updateConstraints(const std::shared_ptr<View>& view, const std::function<void(ConstraintMaker&)>& block);
void removeConstraints(const std::shared_ptr<View>& view);

// Applies the constraints of a view's subviews (View::layout() does this).
class Layout {
public:
    static void applyConstraints(View& superview);
    static std::vector<LayoutConstraint>& mutableConstraints(View& view);
};

// The frame the view's constraints give it in its superview's coordinates, from the current
// frames of the views they refer to. The view's frame when it has no constraints or superview.
Rect resolveConstraints(const View& view);

}  // namespace kit
