#include "kit/ui/View.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kit/base/NotificationCenter.h"
#include "kit/ui/AnimationInternal.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

namespace kit {

View::View(Rect frame) : frame_(frame) {}

View::~View() {
    animation::cancelAll(this);
    for (auto& subview : subviews_) subview->superview_ = nullptr;
}

void View::init() { initialized_ = true; }

std::shared_ptr<View> View::superviewShared() const {
    return superview_ ? superview_->shared_from_this() : nullptr;
}

Window* View::windowPointer() const { return window_.lock().get(); }

void View::addSubview(const std::shared_ptr<View>& view) { addSubview(view, Ordering::Above, nullptr); }

void View::addSubview(const std::shared_ptr<View>& view, Ordering ordering, const View* other) {
    if (!view || view.get() == this || isDescendantOf(*view)) return;
    auto keep = view;
    if (view->superview_) view->removeFromSuperview();
    std::size_t index = ordering == Ordering::Above ? subviews_.size() : 0;
    if (other) {
        auto it = std::find_if(subviews_.begin(), subviews_.end(), [other](const auto& s) { return s.get() == other; });
        if (it != subviews_.end()) {
            index = static_cast<std::size_t>(it - subviews_.begin()) + (ordering == Ordering::Above ? 1 : 0);
        }
    }
    insertSubviewAt(view, index);
}

void View::insertSubviewAt(const std::shared_ptr<View>& view, std::size_t index) {
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())), view);
    view->superview_ = this;
    view->setWindowRecursive(window_.lock());
    didAddSubview(*view);
    view->viewDidMoveToSuperview();
    setNeedsLayout();
    view->setNeedsLayout();
    setNeedsDisplay();
}

void View::removeFromSuperview() {
    View* parent = superview_;
    if (!parent) return;
    // The caller may hold the only other reference; stay alive until this returns.
    auto self = shared_from_this();
    parent->willRemoveSubview(*this);
    auto& siblings = parent->subviews_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [this](const auto& s) { return s.get() == this; }),
                   siblings.end());
    superview_ = nullptr;
    if (auto window = window_.lock()) {
        if (auto responder = window->firstResponder(); responder && (responder.get() == this || responder->isDescendantOf(*this)))
            window->makeFirstResponder(nullptr);
        // A view removed while it is being clicked is kept by the window until the mouse-up.
        Application::shared().releaseLater(self);
    }
    setWindowRecursive(nullptr);
    viewDidMoveToSuperview();
    parent->setNeedsLayout();
    parent->setNeedsDisplay();
}

bool View::isDescendantOf(const View& view) const {
    for (const View* v = this; v; v = v->superview_) {
        if (v == &view) return true;
    }
    return false;
}

std::shared_ptr<View> View::viewWithTag(int tag) {
    if (tag_ == tag) return shared_from_this();
    for (auto& subview : subviews_) {
        if (auto found = subview->viewWithTag(tag)) return found;
    }
    return nullptr;
}

void View::setWindowRecursive(const std::shared_ptr<Window>& window) {
    if (window_.lock() == window) return;
    viewWillMoveToWindow(window.get());
    window_ = window;
    const auto children = subviews_;
    for (auto& subview : children) subview->setWindowRecursive(window);
    viewDidMoveToWindow();
    if (window) {
        updateTrackingAreas();
        needsLayout_ = true;
        scheduleLayout();
    }
}

// Geometry.

void View::setFrame(const Rect& frame) {
    animation::cancel(this, animation::Property::ViewFrame);
    applyFrame(frame);
}

void View::setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }
void View::setFrameSize(Size size) { setFrame({frame_.origin, size}); }

void View::applyFrame(const Rect& frame) {
    if (frame == frame_) return;
    const Rect old = frame_;
    frame_ = frame;
    const bool sizeChanged = old.size != frame.size;
    if (sizeChanged) {
        if (autoresizesSubviews_) resizeSubviewsWithOldSize(old.size);
        setNeedsLayout();
        updateTrackingAreas();
    }
    if (superview_) {
        superview_->subviewFrameDidChange(*this);
        superview_->setNeedsDisplay();
    }
    setNeedsDisplay();
    if (postsFrameChanged_) NotificationCenter::defaultCenter().post(kViewFrameDidChangeNotification, this);
}

void View::setBoundsOrigin(Point origin) {
    animation::cancel(this, animation::Property::ViewBoundsOrigin);
    applyBoundsOrigin(origin);
}

void View::applyBoundsOrigin(Point origin) {
    if (origin == boundsOrigin_) return;
    boundsOrigin_ = origin;
    setNeedsDisplay();
    if (postsBoundsChanged_) NotificationCenter::defaultCenter().post(kViewBoundsDidChangeNotification, this);
}

void View::resizeSubviewsWithOldSize(Size oldSize) {
    const double dw = frame_.size.width - oldSize.width;
    const double dh = frame_.size.height - oldSize.height;
    // Each flexible part of a subview (margin before, size, margin after) takes a share of the
    // change in proportion to its current length; equal shares when all are zero.
    auto distribute = [](double delta, double before, double size, double after, bool flexBefore, bool flexSize,
                         bool flexAfter, double& origin, double& length) {
        const int count = int(flexBefore) + int(flexSize) + int(flexAfter);
        if (count == 0 || delta == 0) return;
        double total = (flexBefore ? std::max(before, 0.0) : 0) + (flexSize ? std::max(size, 0.0) : 0) +
                       (flexAfter ? std::max(after, 0.0) : 0);
        auto share = [&](bool flex, double part) {
            if (!flex) return 0.0;
            return total > 0 ? delta * std::max(part, 0.0) / total : delta / count;
        };
        origin += share(flexBefore, before);
        length += share(flexSize, size);
    };
    for (auto& subview : subviews_) {
        const unsigned mask = subview->autoresizingMask_;
        if (mask == ViewNotSizable || subview->hasConstraints()) continue;
        Rect f = subview->frame_;
        distribute(dw, f.minX(), f.width(), oldSize.width - f.maxX(), mask & ViewMinXMargin, mask & ViewWidthSizable,
                   mask & ViewMaxXMargin, f.origin.x, f.size.width);
        distribute(dh, f.minY(), f.height(), oldSize.height - f.maxY(), mask & ViewMinYMargin, mask & ViewHeightSizable,
                   mask & ViewMaxYMargin, f.origin.y, f.size.height);
        subview->setFrame(f);
    }
}

Rect View::visibleRect() const {
    if (isHiddenOrHasHiddenAncestor()) return {};
    Rect rect = bounds();
    const View* view = this;
    while (view->superview_) {
        rect = view->convertRectToView(rect, view->superview_);
        view = view->superview_;
        rect = rect.intersection(view->bounds());
        if (rect.isEmpty()) return {};
    }
    return view->convertRectToView(rect, this);
}

namespace {
// One step: a point of `view`'s bounds into its superview's coordinates (the window base for a
// top view) and back.
Point toSuperview(const View& view, Point p) {
    const Rect f = view.frame();
    const Point bo = view.bounds().origin;
    const bool superFlipped = view.superview() ? view.superview()->isFlipped() : false;
    const double localY = p.y - bo.y;
    const double y = view.isFlipped() == superFlipped ? f.minY() + localY : f.minY() + f.height() - localY;
    return {f.minX() + p.x - bo.x, y};
}

Point fromSuperview(const View& view, Point p) {
    const Rect f = view.frame();
    const Point bo = view.bounds().origin;
    const bool superFlipped = view.superview() ? view.superview()->isFlipped() : false;
    const double localY = view.isFlipped() == superFlipped ? p.y - f.minY() : f.minY() + f.height() - p.y;
    return {p.x - f.minX() + bo.x, localY + bo.y};
}

Point toBase(const View& view, Point p) {
    for (const View* v = &view; v; v = v->superview()) p = toSuperview(*v, p);
    return p;
}

Point fromBase(const View& view, Point p) {
    std::vector<const View*> chain;
    for (const View* v = &view; v; v = v->superview()) chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = fromSuperview(**it, p);
    return p;
}
}  // namespace

Point View::convertPointToView(Point point, const View* view) const {
    const Point base = toBase(*this, point);
    return view ? fromBase(*view, base) : base;
}

Point View::convertPointFromView(Point point, const View* view) const {
    const Point base = view ? toBase(*view, point) : point;
    return fromBase(*this, base);
}

Rect View::convertRectToView(const Rect& rect, const View* view) const {
    const Point a = convertPointToView(rect.origin, view);
    const Point b = convertPointToView({rect.maxX(), rect.maxY()}, view);
    return Rect{a.x, a.y, b.x - a.x, b.y - a.y}.standardized();
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const {
    const Point a = convertPointFromView(rect.origin, view);
    const Point b = convertPointFromView({rect.maxX(), rect.maxY()}, view);
    return Rect{a.x, a.y, b.x - a.x, b.y - a.y}.standardized();
}

Point View::convertPointToScreen(Point point) const {
    const Point base = convertPointToView(point, nullptr);
    if (auto window = window_.lock()) return window->convertPointToScreen(base);
    return base;
}

Point View::convertPointFromScreen(Point point) const {
    if (auto window = window_.lock()) point = window->convertPointFromScreen(point);
    return convertPointFromView(point, nullptr);
}

// Visibility and layer.

void View::setHidden(bool hidden) {
    if (hidden == hidden_) return;
    hidden_ = hidden;
    if (superview_) {
        superview_->setNeedsDisplay();
        // Stacks and constraint layouts leave out hidden views.
        superview_->setNeedsLayout();
    }
    setNeedsDisplay();
}

bool View::isHiddenOrHasHiddenAncestor() const {
    for (const View* v = this; v; v = v->superview_) {
        if (v->hidden_) return true;
    }
    return false;
}

void View::setAlphaValue(double alpha) {
    animation::cancel(this, animation::Property::ViewAlpha);
    applyAlpha(alpha);
}

void View::applyAlpha(double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (alpha == alpha_) return;
    alpha_ = alpha;
    setNeedsDisplay();
}

void View::updateLayer(const std::function<void(LayerStyle&)>& change) {
    wantsLayer_ = true;
    change(layer_);
    setNeedsDisplay();
}

void View::setBackgroundColor(std::optional<Color> color) {
    updateLayer([&](LayerStyle& l) { l.backgroundColor = color; });
}
void View::setCornerRadius(double radius) {
    updateLayer([&](LayerStyle& l) { l.cornerRadius = radius; });
}
void View::setBorderWidth(double width) {
    updateLayer([&](LayerStyle& l) { l.borderWidth = width; });
}
void View::setBorderColor(Color color) {
    updateLayer([&](LayerStyle& l) { l.borderColor = color; });
}
void View::setMasksToBounds(bool masks) {
    updateLayer([&](LayerStyle& l) { l.masksToBounds = masks; });
}

// Drawing and layout.

void View::setNeedsDisplay(bool needs) {
    needsDisplay_ = needs;
    if (!needs) return;
    if (auto window = window_.lock()) {
        if (auto* peer = window->peer()) peer->windowNeedsDisplay();
    }
}

void View::draw(GraphicsContext&, const Rect&) {}

void View::setNeedsLayout(bool needs) {
    needsLayout_ = needs;
    if (needs) scheduleLayout();
}

void View::scheduleLayout() {
    if (auto window = window_.lock()) window->scheduleLayout();
}

void View::layoutSubtreeIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layout();
    }
    const auto children = subviews_;
    for (auto& subview : children) subview->layoutSubtreeIfNeeded();
}

void View::layout() { Layout::applyConstraints(*this); }

Size View::intrinsicContentSize() const { return {kNoIntrinsicMetric, kNoIntrinsicMetric}; }

void View::invalidateIntrinsicContentSize() {
    setNeedsLayout();
    if (superview_) superview_->setNeedsLayout();
}

Size View::fittingSize() const {
    const Size intrinsic = intrinsicContentSize();
    return {intrinsic.width >= 0 ? intrinsic.width : frame_.size.width,
            intrinsic.height >= 0 ? intrinsic.height : frame_.size.height};
}

double View::contentHuggingPriority(Axis axis) const { return hugging_[axis == Axis::Horizontal ? 0 : 1]; }
void View::setContentHuggingPriority(double priority, Axis axis) {
    hugging_[axis == Axis::Horizontal ? 0 : 1] = priority;
    if (superview_) superview_->setNeedsLayout();
}
double View::contentCompressionResistancePriority(Axis axis) const { return compression_[axis == Axis::Horizontal ? 0 : 1]; }
void View::setContentCompressionResistancePriority(double priority, Axis axis) {
    compression_[axis == Axis::Horizontal ? 0 : 1] = priority;
    if (superview_) superview_->setNeedsLayout();
}

const std::vector<LayoutConstraint>& View::constraints() const {
    static const std::vector<LayoutConstraint> none;
    return constraints_ ? *constraints_ : none;
}

bool View::hasConstraints() const { return constraints_ && !constraints_->empty(); }

// Events.

std::shared_ptr<View> View::hitTest(Point point) {
    if (hidden_) return nullptr;
    if (!frame_.contains(point)) return nullptr;
    const Point local = fromSuperview(*this, point);
    const auto children = subviews_;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (auto hit = (*it)->hitTest(local)) return hit;
    }
    return shared_from_this();
}

bool View::acceptsFirstMouse(const Event*) { return false; }

namespace {
// The views passing an event up at this moment, each with the event it passes. A handler up the
// chain that hands the event back down would send it round for ever; when it comes back to a
// view that passed it, it has been everywhere it can go, and it ends there.
struct PassingUp {
    const View* view;
    const Event* event;
};
thread_local std::vector<PassingUp> passingUp;

void passUp(View& view, const Event& event, void (View::*handler)(const Event&)) {
    if (std::any_of(passingUp.begin(), passingUp.end(),
                    [&](const PassingUp& p) { return p.view == &view && p.event == &event; }))
        return;
    passingUp.push_back({&view, &event});
    struct Done {
        Done() = default;
        Done(const Done&) = delete;
        Done& operator=(const Done&) = delete;
        ~Done() { passingUp.pop_back(); }
    } done;
    if (auto parent = view.superviewShared()) {
        ((*parent).*handler)(event);
    } else if (auto window = view.window()) {
        window->unhandledEvent(event);
    }
}
}  // namespace

void View::mouseDown(const Event& event) { passUp(*this, event, &View::mouseDown); }
void View::mouseUp(const Event& event) { passUp(*this, event, &View::mouseUp); }
void View::mouseDragged(const Event& event) { passUp(*this, event, &View::mouseDragged); }
void View::mouseMoved(const Event& event) { passUp(*this, event, &View::mouseMoved); }
void View::mouseEntered(const Event& event) { passUp(*this, event, &View::mouseEntered); }
void View::mouseExited(const Event& event) { passUp(*this, event, &View::mouseExited); }
void View::rightMouseDown(const Event& event) { passUp(*this, event, &View::rightMouseDown); }
void View::rightMouseUp(const Event& event) { passUp(*this, event, &View::rightMouseUp); }
void View::scrollWheel(const Event& event) { passUp(*this, event, &View::scrollWheel); }
void View::keyDown(const Event& event) { passUp(*this, event, &View::keyDown); }
void View::keyUp(const Event& event) { passUp(*this, event, &View::keyUp); }

void View::addTrackingArea(const std::shared_ptr<TrackingArea>& area) {
    if (!area) return;
    if (area->owner_.expired()) area->owner_ = weak_from_this();
    if (std::find(trackingAreas_.begin(), trackingAreas_.end(), area) == trackingAreas_.end()) trackingAreas_.push_back(area);
}

void View::removeTrackingArea(const std::shared_ptr<TrackingArea>& area) {
    trackingAreas_.erase(std::remove(trackingAreas_.begin(), trackingAreas_.end(), area), trackingAreas_.end());
}

Appearance View::effectiveAppearance() const { return Application::shared().effectiveAppearance(); }

void View::appearanceChangedRecursive() {
    viewDidChangeEffectiveAppearance();
    setNeedsDisplay();
    const auto children = subviews_;
    for (auto& subview : children) subview->appearanceChangedRecursive();
}

ViewAnimator View::animator() { return ViewAnimator(shared_from_this()); }

}  // namespace kit
