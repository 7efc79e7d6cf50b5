#include "kit/ui/Layout.h"

#include <algorithm>
#include <cmath>

#include "kit/ui/AnimationInternal.h"
#include "kit/ui/View.h"

namespace kit {

namespace {
LayoutAnchor anchor(const std::shared_ptr<View>& view, LayoutAttribute attribute) { return {view, attribute}; }

bool isHorizontal(LayoutAttribute a) {
    return a == LayoutAttribute::Left || a == LayoutAttribute::Right || a == LayoutAttribute::Width ||
           a == LayoutAttribute::CenterX;
}
bool isSize(LayoutAttribute a) { return a == LayoutAttribute::Width || a == LayoutAttribute::Height; }
}  // namespace

LayoutAnchor leftOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::Left); }
LayoutAnchor rightOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::Right); }
LayoutAnchor topOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::Top); }
LayoutAnchor bottomOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::Bottom); }
LayoutAnchor widthOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::Width); }
LayoutAnchor heightOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::Height); }
LayoutAnchor centerXOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::CenterX); }
LayoutAnchor centerYOf(const std::shared_ptr<View>& view) { return anchor(view, LayoutAttribute::CenterY); }

// Building.

ConstraintItem& ConstraintItem::add(LayoutAttribute attribute) {
    attributes_.push_back(attribute);
    return *this;
}
ConstraintItem& ConstraintItem::left() { return add(LayoutAttribute::Left); }
ConstraintItem& ConstraintItem::right() { return add(LayoutAttribute::Right); }
ConstraintItem& ConstraintItem::top() { return add(LayoutAttribute::Top); }
ConstraintItem& ConstraintItem::bottom() { return add(LayoutAttribute::Bottom); }
ConstraintItem& ConstraintItem::width() { return add(LayoutAttribute::Width); }
ConstraintItem& ConstraintItem::height() { return add(LayoutAttribute::Height); }
ConstraintItem& ConstraintItem::centerX() { return add(LayoutAttribute::CenterX); }
ConstraintItem& ConstraintItem::centerY() { return add(LayoutAttribute::CenterY); }

ConstraintItem& ConstraintItem::relate(LayoutRelation relation, const std::shared_ptr<View>& view,
                                       std::optional<LayoutAttribute> attribute, double constant) {
    constraints_.clear();
    for (auto a : attributes_) {
        LayoutConstraint c;
        c.attribute = a;
        c.relation = relation;
        if (view) {
            c.target = view;
            c.hasTarget = true;
            c.targetAttribute = attribute.value_or(a);
        }
        c.constant = constant;
        constraints_.push_back(c);
    }
    return *this;
}

ConstraintItem& ConstraintItem::equalTo(const std::shared_ptr<View>& view) {
    return relate(LayoutRelation::Equal, view, std::nullopt, 0);
}
ConstraintItem& ConstraintItem::lessThanOrEqualTo(const std::shared_ptr<View>& view) {
    return relate(LayoutRelation::LessThanOrEqual, view, std::nullopt, 0);
}
ConstraintItem& ConstraintItem::greaterThanOrEqualTo(const std::shared_ptr<View>& view) {
    return relate(LayoutRelation::GreaterThanOrEqual, view, std::nullopt, 0);
}
ConstraintItem& ConstraintItem::equalTo(const LayoutAnchor& a) {
    return relate(LayoutRelation::Equal, a.view.lock(), a.attribute, 0);
}
ConstraintItem& ConstraintItem::lessThanOrEqualTo(const LayoutAnchor& a) {
    return relate(LayoutRelation::LessThanOrEqual, a.view.lock(), a.attribute, 0);
}
ConstraintItem& ConstraintItem::greaterThanOrEqualTo(const LayoutAnchor& a) {
    return relate(LayoutRelation::GreaterThanOrEqual, a.view.lock(), a.attribute, 0);
}
ConstraintItem& ConstraintItem::equalTo(double constant) {
    return relate(LayoutRelation::Equal, nullptr, std::nullopt, constant);
}
ConstraintItem& ConstraintItem::lessThanOrEqualTo(double constant) {
    return relate(LayoutRelation::LessThanOrEqual, nullptr, std::nullopt, constant);
}
ConstraintItem& ConstraintItem::greaterThanOrEqualTo(double constant) {
    return relate(LayoutRelation::GreaterThanOrEqual, nullptr, std::nullopt, constant);
}
ConstraintItem& ConstraintItem::equalTo(Size size) {
    relate(LayoutRelation::Equal, nullptr, std::nullopt, 0);
    for (auto& c : constraints_) c.constant = c.attribute == LayoutAttribute::Height ? size.height : size.width;
    return *this;
}

ConstraintItem& ConstraintItem::offset(double offset) {
    for (auto& c : constraints_) c.constant += offset;
    return *this;
}

ConstraintItem& ConstraintItem::insets(EdgeInsets insets) {
    for (auto& c : constraints_) {
        switch (c.attribute) {
            case LayoutAttribute::Left: c.constant += insets.left; break;
            case LayoutAttribute::Right: c.constant -= insets.right; break;
            case LayoutAttribute::Top: c.constant += insets.top; break;
            case LayoutAttribute::Bottom: c.constant -= insets.bottom; break;
            default: break;
        }
    }
    return *this;
}

ConstraintItem& ConstraintItem::inset(double inset) { return insets(EdgeInsets::all(inset)); }

ConstraintItem& ConstraintItem::multipliedBy(double multiplier) {
    for (auto& c : constraints_) c.multiplier = multiplier;
    return *this;
}

ConstraintItem& ConstraintItem::priority(double priority) {
    for (auto& c : constraints_) c.priority = priority;
    return *this;
}

ConstraintItem& ConstraintMaker::item(std::vector<LayoutAttribute> attributes) {
    auto created = std::make_unique<ConstraintItem>();
    created->attributes_ = std::move(attributes);
    items_.push_back(std::move(created));
    return *items_.back();
}

ConstraintItem& ConstraintMaker::left() { return item({LayoutAttribute::Left}); }
ConstraintItem& ConstraintMaker::right() { return item({LayoutAttribute::Right}); }
ConstraintItem& ConstraintMaker::top() { return item({LayoutAttribute::Top}); }
ConstraintItem& ConstraintMaker::bottom() { return item({LayoutAttribute::Bottom}); }
ConstraintItem& ConstraintMaker::width() { return item({LayoutAttribute::Width}); }
ConstraintItem& ConstraintMaker::height() { return item({LayoutAttribute::Height}); }
ConstraintItem& ConstraintMaker::centerX() { return item({LayoutAttribute::CenterX}); }
ConstraintItem& ConstraintMaker::centerY() { return item({LayoutAttribute::CenterY}); }
ConstraintItem& ConstraintMaker::edges() {
    return item({LayoutAttribute::Top, LayoutAttribute::Left, LayoutAttribute::Bottom, LayoutAttribute::Right});
}
ConstraintItem& ConstraintMaker::size() { return item({LayoutAttribute::Width, LayoutAttribute::Height}); }
ConstraintItem& ConstraintMaker::center() { return item({LayoutAttribute::CenterX, LayoutAttribute::CenterY}); }

std::vector<LayoutConstraint> ConstraintMaker::build() const {
    std::vector<LayoutConstraint> all;
    for (const auto& i : items_) all.insert(all.end(), i->constraints_.begin(), i->constraints_.end());
    return all;
}

std::vector<LayoutConstraint>& Layout::mutableConstraints(View& view) {
    if (!view.constraints_) view.constraints_ = std::make_unique<std::vector<LayoutConstraint>>();
    return *view.constraints_;
}

namespace {
void changed(View& view) {
    if (auto* parent = view.superview()) parent->setNeedsLayout();
    view.setNeedsLayout();
}
}  // namespace

void makeConstraints(const std::shared_ptr<View>& view, const std::function<void(ConstraintMaker&)>& block) {
    if (!view) return;
    ConstraintMaker maker;
    block(maker);
    auto built = maker.build();
    auto& list = Layout::mutableConstraints(*view);
    list.insert(list.end(), built.begin(), built.end());
    changed(*view);
}

void remakeConstraints(const std::shared_ptr<View>& view, const std::function<void(ConstraintMaker&)>& block) {
    if (!view) return;
    ConstraintMaker maker;
    block(maker);
    Layout::mutableConstraints(*view) = maker.build();
    changed(*view);
}

void updateConstraints(const std::shared_ptr<View>& view, const std::function<void(ConstraintMaker&)>& block) {
    if (!view) return;
    ConstraintMaker maker;
    block(maker);
    auto& list = Layout::mutableConstraints(*view);
    for (const auto& c : maker.build()) {
        auto it = std::find_if(list.begin(), list.end(), [&](const LayoutConstraint& e) {
            return e.attribute == c.attribute && e.relation == c.relation;
        });
        if (it != list.end()) {
            *it = c;
        } else {
            list.push_back(c);
        }
    }
    changed(*view);
}

void removeConstraints(const std::shared_ptr<View>& view) {
    if (!view) return;
    Layout::mutableConstraints(*view).clear();
    changed(*view);
}

// Solving. Everything is computed in the superview's "visual" space: x from its left edge, y
// downwards from its top edge, whatever its flippedness.

namespace {

struct Visual {
    double left, top, width, height;
};

Visual toVisual(const View& parent, const Rect& rect) {
    const Rect b = parent.bounds();
    const double top = parent.isFlipped() ? rect.minY() - b.minY() : b.maxY() - rect.maxY();
    return {rect.minX() - b.minX(), top, rect.width(), rect.height()};
}

Rect fromVisual(const View& parent, const Visual& v) {
    const Rect b = parent.bounds();
    const double y = parent.isFlipped() ? v.top + b.minY() : b.maxY() - v.top - v.height;
    return {v.left + b.minX(), y, v.width, v.height};
}

double attributeValue(const Visual& v, LayoutAttribute a) {
    switch (a) {
        case LayoutAttribute::Left: return v.left;
        case LayoutAttribute::Right: return v.left + v.width;
        case LayoutAttribute::Top: return v.top;
        case LayoutAttribute::Bottom: return v.top + v.height;
        case LayoutAttribute::Width: return v.width;
        case LayoutAttribute::Height: return v.height;
        case LayoutAttribute::CenterX: return v.left + v.width / 2;
        case LayoutAttribute::CenterY: return v.top + v.height / 2;
    }
    return 0;
}

struct Solver {
    const View& view;
    const View& parent;
    Visual current;
    Visual result;

    // The value the constraint asks for; nullopt when its target is gone.
    std::optional<double> wanted(const LayoutConstraint& c, bool selfVerticalDone) const {
        if (!c.hasTarget) {
            if (isSize(c.attribute)) return c.constant;
            const Visual whole{0, 0, parent.bounds().width(), parent.bounds().height()};
            return attributeValue(whole, c.attribute) + c.constant;
        }
        auto target = c.target.lock();
        if (!target) return std::nullopt;
        double base = 0;
        if (target.get() == &view) {
            // Own other dimension (aspect ratio): use what is solved so far.
            const Visual& source = selfVerticalDone ? result : current;
            base = attributeValue(source, c.targetAttribute);
        } else if (target.get() == &parent) {
            const Visual whole{0, 0, parent.bounds().width(), parent.bounds().height()};
            base = attributeValue(whole, c.targetAttribute);
        } else {
            const Rect r = target->convertRectToView(target->bounds(), &parent);
            base = attributeValue(toVisual(parent, r), c.targetAttribute);
        }
        return base * c.multiplier + c.constant;
    }

    void solveAxis(bool horizontal, bool otherAxisDone) {
        const auto sizeAttr = horizontal ? LayoutAttribute::Width : LayoutAttribute::Height;
        struct Item {
            LayoutAttribute attribute;
            LayoutRelation relation;
            double value;
            double priority;
        };
        std::vector<Item> items;
        for (const auto& c : view.constraints()) {
            if (isHorizontal(c.attribute) != horizontal) continue;
            if (auto v = wanted(c, otherAxisDone)) items.push_back({c.attribute, c.relation, *v, c.priority});
        }
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.priority > b.priority; });

        std::optional<double> size;
        std::vector<std::pair<LayoutAttribute, double>> positions;
        for (const auto& item : items) {
            if (item.relation != LayoutRelation::Equal) continue;
            const int fixed = int(size.has_value()) + int(positions.size());
            if (fixed >= 2) break;
            if (item.attribute == sizeAttr) {
                if (!size) size = item.value;
            } else if (std::none_of(positions.begin(), positions.end(),
                                    [&](auto& p) { return p.first == item.attribute; })) {
                positions.emplace_back(item.attribute, item.value);
            }
        }

        const double currentMin = horizontal ? current.left : current.top;
        const double currentSize = horizontal ? current.width : current.height;
        double natural = currentSize;
        // The height follows the width just solved, not the frame's width before this layout
        // (zero before the first one, which would leave wrapped text one line high).
        const double intrinsicValue = !horizontal && otherAxisDone ? view.intrinsicHeightForWidth(result.width)
                                      : horizontal                 ? view.intrinsicContentSize().width
                                                                   : view.intrinsicContentSize().height;
        if (intrinsicValue >= 0) natural = intrinsicValue;

        auto minFrom = [](LayoutAttribute a, double value, double length) {
            switch (a) {
                case LayoutAttribute::Right:
                case LayoutAttribute::Bottom: return value - length;
                case LayoutAttribute::CenterX:
                case LayoutAttribute::CenterY: return value - length / 2;
                default: return value;
            }
        };
        double min = currentMin;
        double length = size.value_or(natural);
        bool sizeFree = !size;
        if (positions.size() == 2) {
            // Two positions fix both edges.
            auto edge = [](LayoutAttribute a) {
                if (a == LayoutAttribute::Left || a == LayoutAttribute::Top) return 0;
                if (a == LayoutAttribute::CenterX || a == LayoutAttribute::CenterY) return 1;
                return 2;
            };
            auto a = positions[0], b = positions[1];
            if (edge(a.first) > edge(b.first)) std::swap(a, b);
            const int ea = edge(a.first), eb = edge(b.first);
            if (ea == 0 && eb == 2) {
                min = a.second;
                length = b.second - a.second;
            } else if (ea == 0 && eb == 1) {
                min = a.second;
                length = 2 * (b.second - a.second);
            } else {
                length = 2 * (b.second - a.second);
                min = b.second - length;
            }
            sizeFree = false;
        } else if (positions.size() == 1) {
            min = minFrom(positions[0].first, positions[0].second, length);
        }

        // Inequalities bound the size, then the positions.
        for (const auto& item : items) {
            if (item.relation == LayoutRelation::Equal) continue;
            const bool atMost = item.relation == LayoutRelation::LessThanOrEqual;
            if (item.attribute == sizeAttr) {
                const double bounded = atMost ? std::min(length, item.value) : std::max(length, item.value);
                if (bounded != length) {
                    // Keep the anchored position where it was.
                    const double anchorValue =
                        positions.empty()
                            ? min
                            : attributeValue(horizontal ? Visual{min, 0, length, 0} : Visual{0, min, 0, length},
                                             positions[0].first);
                    length = bounded;
                    min = positions.empty() ? min : minFrom(positions[0].first, anchorValue, length);
                }
                continue;
            }
            const Visual v = horizontal ? Visual{min, 0, length, 0} : Visual{0, min, 0, length};
            const double value = attributeValue(v, item.attribute);
            const bool violated = atMost ? value > item.value : value < item.value;
            if (!violated) continue;
            const double delta = item.value - value;
            const bool isMaxEdge =
                item.attribute == LayoutAttribute::Right || item.attribute == LayoutAttribute::Bottom;
            if (positions.empty() || (!sizeFree && size)) {
                min += delta;
            } else if (isMaxEdge) {
                length = std::max(0.0, length + delta);
            } else {
                min += delta;
                length = std::max(0.0, length - delta);
            }
        }

        if (horizontal) {
            result.left = min;
            result.width = length;
        } else {
            result.top = min;
            result.height = length;
        }
    }
};

bool referencesOwn(const View& view, bool horizontal) {
    for (const auto& c : view.constraints()) {
        if (isHorizontal(c.attribute) != horizontal || !c.hasTarget) continue;
        auto target = c.target.lock();
        if (target.get() == &view && isHorizontal(c.targetAttribute) != horizontal) return true;
    }
    return false;
}

}  // namespace

Rect resolveConstraints(const View& view) {
    const View* parent = view.superview();
    if (!parent || !view.hasConstraints()) return view.frame();
    Solver solver{view, *parent, toVisual(*parent, view.frame()), {}};
    solver.result = solver.current;
    // A size tied to the other dimension of the same view is solved after that dimension.
    if (referencesOwn(view, true)) {
        solver.solveAxis(false, false);
        solver.solveAxis(true, true);
    } else {
        solver.solveAxis(true, false);
        solver.solveAxis(false, true);
    }
    return fromVisual(*parent, solver.result);
}

void Layout::applyConstraints(View& superview) {
    const auto children = superview.subviews();
    std::vector<std::shared_ptr<View>> constrained;
    for (const auto& child : children) {
        if (child->hasConstraints()) constrained.push_back(child);
    }
    if (constrained.empty()) return;
    // A view placed against a sibling is solved after it.
    std::vector<std::shared_ptr<View>> ordered;
    std::vector<const View*> state;  // visiting or done
    std::vector<const View*> done;
    std::function<void(const std::shared_ptr<View>&)> visit = [&](const std::shared_ptr<View>& v) {
        if (std::find(done.begin(), done.end(), v.get()) != done.end()) return;
        if (std::find(state.begin(), state.end(), v.get()) != state.end()) return;  // a cycle: leave it
        state.push_back(v.get());
        for (const auto& c : v->constraints()) {
            auto target = c.target.lock();
            if (!target || target.get() == v.get() || target->superview() != &superview) continue;
            if (target->hasConstraints()) visit(target);
        }
        done.push_back(v.get());
        ordered.push_back(v);
    };
    for (const auto& v : constrained) visit(v);
    for (const auto& v : ordered) {
        if (animation::isRunning(v.get(), animation::Property::ViewFrame)) continue;
        const Rect frame = resolveConstraints(*v);
        if (frame != v->frame()) v->setFrame(frame);
    }
}

}  // namespace kit
