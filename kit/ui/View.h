#pragma once
// A view: a rectangle of a window that draws and takes events, in a tree. A superview owns its
// subviews; a subview refers to its superview and window weakly. Views are made with
// kit::create<T>(frame) so that init() (and the hooks a subclass calls from it) runs with the
// view already owned.
//
// Geometry: frame is in the superview's coordinates, bounds in the view's own; y points up
// unless isFlipped() answers true. Layout is deferred: changes mark views as needing layout, and
// the window lays them out before drawing, before each event and on a later turn of the run loop
// (layoutSubtreeIfNeeded() does it at once).
//
// Events: the mouse and key handlers pass the event up to the superview by default (and from
// the top view to the window), so an override that wants the default behaviour as well calls
// the base version. A mouse-up and drags go to the view that received the mouse-down.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/ui/Appearance.h"
#include "kit/ui/EdgeInsets.h"
#include "kit/ui/Event.h"
#include "kit/ui/TrackingArea.h"

namespace kit {

class Window;
class GraphicsContext;
class ViewAnimator;
struct LayoutConstraint;

inline constexpr const char* kViewFrameDidChangeNotification = "NSViewFrameDidChangeNotification";
inline constexpr const char* kViewBoundsDidChangeNotification = "NSViewBoundsDidChangeNotification";

// Autoresizing mask, the platform's values: how a view follows its superview's size changes
// when it has no layout constraints.
enum AutoresizingMask : unsigned {
    ViewNotSizable = 0,
    ViewMinXMargin = 1,
    ViewWidthSizable = 2,
    ViewMaxXMargin = 4,
    ViewMinYMargin = 8,
    ViewHeightSizable = 16,
    ViewMaxYMargin = 32,
};

// Which corners a corner radius rounds, in the platform's layer values (min/max of x and y in
// the layer's unflipped coordinates).
enum LayerCorners : unsigned {
    LayerMinXMinYCorner = 1,
    LayerMaxXMinYCorner = 2,
    LayerMinXMaxYCorner = 4,
    LayerMaxXMaxYCorner = 8,
    LayerAllCorners = 15,
};

struct LayerShadow {
    double opacity = 0;
    Size offset{0, -3};
    double radius = 3;
    Color color = Color::black();
};

// A linear gradient used as a mask of the view's layer: the view shows through with the alpha of
// the gradient. Points are in the unit square of the layer (0,0 one corner, 1,1 the other).
struct GradientMask {
    Point startPoint{0, 0.5};
    Point endPoint{1, 0.5};
    std::vector<Color> colors;
    std::vector<double> locations;
};

// What a layer-backed view shows under its drawing: background, corners, border, clipping.
struct LayerStyle {
    std::optional<Color> backgroundColor;
    double cornerRadius = 0;
    unsigned maskedCorners = LayerAllCorners;
    double borderWidth = 0;
    Color borderColor = Color::black();
    bool masksToBounds = false;
    LayerShadow shadow;
    std::optional<GradientMask> mask;
};

class View : public std::enable_shared_from_this<View> {
public:
    explicit View(Rect frame = {});
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Second phase of construction; overrides call the base first.
    virtual void init();
    bool isInitialized() const { return initialized_; }

    // A readable name for log lines (the class name of the view in the application).
    virtual std::string className() const { return "View"; }

    // Tree.
    View* superview() const { return superview_; }
    std::shared_ptr<View> superviewShared() const;
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    std::shared_ptr<Window> window() const { return window_.lock(); }
    Window* windowPointer() const;

    enum class Ordering { Above, Below };
    void addSubview(const std::shared_ptr<View>& view);
    // Relative to `other` (nullptr: the top or the bottom of all subviews).
    void addSubview(const std::shared_ptr<View>& view, Ordering ordering, const View* other);
    // Removes the view from its superview. The view stays alive while the caller holds it.
    void removeFromSuperview();
    bool isDescendantOf(const View& view) const;
    std::shared_ptr<View> viewWithTag(int tag);
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

    // Geometry.
    Rect frame() const { return frame_; }
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setFrameSize(Size size);
    Rect bounds() const { return {boundsOrigin_, frame_.size}; }
    void setBoundsOrigin(Point origin);
    virtual bool isFlipped() const { return false; }
    // Bounds clipped by every ancestor; empty when the view is not on a window.
    Rect visibleRect() const;

    // Conversions between this view's coordinates and another view's; nullptr: the window's
    // base coordinates.
    Point convertPointToView(Point point, const View* view) const;
    Point convertPointFromView(Point point, const View* view) const;
    Rect convertRectToView(const Rect& rect, const View* view) const;
    Rect convertRectFromView(const Rect& rect, const View* view) const;
    // Screen coordinates (needs a window).
    Point convertPointToScreen(Point point) const;
    Point convertPointFromScreen(Point point) const;

    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool value) { autoresizesSubviews_ = value; }
    bool postsFrameChangedNotifications() const { return postsFrameChanged_; }
    void setPostsFrameChangedNotifications(bool value) { postsFrameChanged_ = value; }
    bool postsBoundsChangedNotifications() const { return postsBoundsChanged_; }
    void setPostsBoundsChangedNotifications(bool value) { postsBoundsChanged_ = value; }

    // Visibility.
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);

    // Layer.
    bool wantsLayer() const { return wantsLayer_; }
    void setWantsLayer(bool wants) { wantsLayer_ = wants; }
    const LayerStyle& layer() const { return layer_; }
    // Changes the layer style and redisplays; e.g. view->updateLayer([](LayerStyle& l) {...}).
    void updateLayer(const std::function<void(LayerStyle&)>& change);
    void setBackgroundColor(std::optional<Color> color);
    void setCornerRadius(double radius);
    void setBorderWidth(double width);
    void setBorderColor(Color color);
    void setMasksToBounds(bool masks);

    // Drawing.
    bool needsDisplay() const { return needsDisplay_; }
    void setNeedsDisplay(bool needs = true);
    // Draws the view's own content in its bounds coordinates, after the layer background and
    // before the subviews. `dirtyRect` is the part to draw.
    virtual void draw(GraphicsContext& context, const Rect& dirtyRect);

    // Layout.
    bool needsLayout() const { return needsLayout_; }
    void setNeedsLayout(bool needs = true);
    // Lays out this view and its descendants that need it, top down.
    void layoutSubtreeIfNeeded();
    // Positions the subviews; the base applies the subviews' layout constraints.
    virtual void layout();
    // Natural size; a negative component means none (kNoIntrinsicMetric).
    virtual Size intrinsicContentSize() const;
    // The natural height once the layout has settled the width (wrapped text grows as the width
    // shrinks); the intrinsic height by default.
    virtual double intrinsicHeightForWidth(double width) const;
    void invalidateIntrinsicContentSize();
    Size fittingSize() const;
    static constexpr double kNoIntrinsicMetric = -1;
    enum class Axis { Horizontal, Vertical };
    double contentHuggingPriority(Axis axis) const;
    void setContentHuggingPriority(double priority, Axis axis);
    double contentCompressionResistancePriority(Axis axis) const;
    void setContentCompressionResistancePriority(double priority, Axis axis);
    // The layout constraints of this view (see Layout.h); the superview applies them.
    const std::vector<LayoutConstraint>& constraints() const;
    bool hasConstraints() const;

    // Hit testing: the deepest visible view at `point` (in the superview's coordinates), the
    // topmost sibling first; nullptr when the point is outside.
    virtual std::shared_ptr<View> hitTest(Point point);
    // Whether a click on an inactive window reaches the view at once.
    virtual bool acceptsFirstMouse(const Event* event);
    virtual bool acceptsFirstResponder() const { return false; }
    // Views that let the window be dragged by its background.
    virtual bool mouseDownCanMoveWindow() const { return true; }

    virtual void mouseDown(const Event& event);
    virtual void mouseUp(const Event& event);
    virtual void mouseDragged(const Event& event);
    virtual void mouseMoved(const Event& event);
    virtual void mouseEntered(const Event& event);
    virtual void mouseExited(const Event& event);
    virtual void rightMouseDown(const Event& event);
    virtual void rightMouseUp(const Event& event);
    virtual void scrollWheel(const Event& event);
    virtual void keyDown(const Event& event);
    virtual void keyUp(const Event& event);

    // Tracking areas (see TrackingArea.h).
    void addTrackingArea(const std::shared_ptr<TrackingArea>& area);
    void removeTrackingArea(const std::shared_ptr<TrackingArea>& area);
    const std::vector<std::shared_ptr<TrackingArea>>& trackingAreas() const { return trackingAreas_; }
    // Called when the view's size or window changes: the place to rebuild tracking areas.
    virtual void updateTrackingAreas() {}

    // Accessibility.
    virtual std::string accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
    virtual std::string accessibilityRole() const { return accessibilityRole_; }
    void setAccessibilityRole(std::string role) { accessibilityRole_ = std::move(role); }
    // The "press" action; answers whether it was handled.
    virtual bool accessibilityPerformPress() { return false; }
    virtual bool isAccessibilityElement() const { return !accessibilityRole_.empty(); }
    // The views under this one that assistive clients see: the subviews, or none for an
    // element that speaks for what it holds (a button and its title are one element).
    virtual std::vector<std::shared_ptr<View>> accessibilityChildren() const { return subviews_; }

    // Appearance: the application's effective appearance reaches every view of every window.
    Appearance effectiveAppearance() const;
    virtual void viewDidChangeEffectiveAppearance() {}

    // Tree hooks.
    virtual void viewWillMoveToWindow(Window* window) { (void)window; }
    virtual void viewDidMoveToWindow() {}
    virtual void viewDidMoveToSuperview() {}
    virtual void didAddSubview(View& subview) { (void)subview; }
    virtual void willRemoveSubview(View& subview) { (void)subview; }
    // A subview's frame changed (scroll views re-clamp on this).
    virtual void subviewFrameDidChange(View& subview) { (void)subview; }

    // Animated changes (see Animation.h).
    ViewAnimator animator();

protected:
    // Resizes subviews without constraints by their autoresizing masks.
    virtual void resizeSubviewsWithOldSize(Size oldSize);

private:
    friend class Window;
    friend class Application;
    friend class ViewAnimator;
    friend class Layout;
    friend void setViewFrameAnimated(View&, const Rect&);
    friend void setViewAlphaAnimated(View&, double);
    friend void setViewBoundsOriginAnimated(View&, Point);

    void applyFrame(const Rect& frame);
    void applyAlpha(double alpha);
    void applyBoundsOrigin(Point origin);
    void setWindowRecursive(const std::shared_ptr<Window>& window);
    void insertSubviewAt(const std::shared_ptr<View>& view, std::size_t index);
    void appearanceChangedRecursive();
    void scheduleLayout();

    Rect frame_;
    Point boundsOrigin_;
    View* superview_ = nullptr;
    std::weak_ptr<Window> window_;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<std::shared_ptr<TrackingArea>> trackingAreas_;
    std::unique_ptr<std::vector<LayoutConstraint>> constraints_;
    LayerStyle layer_;
    std::string accessibilityLabel_;
    std::string accessibilityRole_;
    std::string identifier_;
    double alpha_ = 1;
    double hugging_[2] = {250, 250};
    double compression_[2] = {750, 750};
    unsigned autoresizingMask_ = ViewNotSizable;
    int tag_ = 0;
    bool initialized_ = false;
    bool hidden_ = false;
    bool wantsLayer_ = false;
    bool needsDisplay_ = true;
    bool needsLayout_ = true;
    bool autoresizesSubviews_ = true;
    bool postsFrameChanged_ = true;
    bool postsBoundsChanged_ = true;
};

}  // namespace kit
