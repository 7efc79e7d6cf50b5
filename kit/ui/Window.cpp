#include "kit/ui/Window.h"

#include <algorithm>
#include <cmath>

#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/AnimationInternal.h"
#include "kit/ui/Application.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Button.h"
#include "kit/ui/Create.h"
#include "kit/ui/GraphicsContext.h"
#include "kit/ui/Screen.h"
#include "kit/ui/View.h"

namespace kit {

namespace {

int nextWindowNumber() {
    static int number = 0;
    return ++number;
}

// The root of a window's views.
class FrameView final : public View {
public:
    using View::View;
    std::string className() const override { return "FrameView"; }
};

// The title bar strip: background and title (unless transparent), holding the buttons.
class TitleBarView final : public View {
public:
    using View::View;
    std::string className() const override { return "TitleBarView"; }
    // Over a full-size content view the strip is see-through: a click away from its buttons
    // reaches the views under it (a window's own controls drawn in the title area), as on the
    // platform. A click that no view takes still drags the window by its title bar.
    std::shared_ptr<View> hitTest(Point point) override {
        auto hit = View::hitTest(point);
        auto window = this->window();
        if (hit.get() == this && window && (window->styleMask() & WindowStyleFullSizeContentView)) return nullptr;
        return hit;
    }
    void draw(GraphicsContext& context, const Rect&) override {
        auto window = this->window();
        if (!window || window->titlebarAppearsTransparent()) return;
        const bool dark = effectiveAppearance() == Appearance::Dark;
        context.setFillColor(dark ? Color::fromHex(0x2B2B2D) : Color::fromHex(0xE8E8E8));
        context.fillRect(bounds());
        if (window->titleVisibility() == TitleVisibility::Visible && !window->title().empty()) {
            TextLayoutOptions options;
            options.alignment = TextAlignment::Center;
            options.lineBreakMode = LineBreakMode::TruncatingTail;
            const Rect textRect{70, 6, std::max(0.0, bounds().width() - 140), 16};
            context.drawText(window->title(), textRect, Font::systemFont(13, FontWeight::Semibold),
                             dark ? Color::white() : Color::fromHex(0x333333), options);
        }
    }
};

Rect defaultButtonFrame(int index) { return {7.0 + 20.0 * index, 6, 14, 16}; }

}  // namespace

Window::Window(Rect contentRect, unsigned styleMask)
    : number_(nextWindowNumber()), frame_(contentRect), styleMask_(styleMask) {
    frame_ = frameRectForContentRect(contentRect);
}

Window::~Window() {
    animation::cancelAll(this);
    if (frameView_) frameView_->setWindowRecursive(nullptr);
}

void Window::init() {
    auto self = shared_from_this();
    frameView_ = create<FrameView>(Rect{0, 0, frame_.width(), frame_.height()});
    frameView_->setAutoresizesSubviews(true);
    contentView_ = create<View>(contentRectForFrameRect(frame_).offsetBy(-frame_.minX(), -frame_.minY()));
    contentView_->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
    frameView_->addSubview(contentView_);
    titleBarView_ = create<TitleBarView>(Rect{0, frame_.height() - kTitleBarHeight, frame_.width(), kTitleBarHeight});
    titleBarView_->setAutoresizingMask(ViewWidthSizable | ViewMinYMargin);
    const Color colors[3] = {Color::fromHex(0xFF5F57), Color::fromHex(0xFEBC2E), Color::fromHex(0x28C840)};
    const char* labels[3] = {"close button", "minimize button", "zoom button"};
    for (int i = 0; i < 3; ++i) {
        auto button = create<Button>(defaultButtonFrame(i));
        button->setBordered(false);
        button->setTitleBarButtonColor(colors[i]);
        button->setAccessibilityLabel(labels[i]);
        std::weak_ptr<Window> weak = self;
        button->setAction([weak, i](Control&) {
            auto window = weak.lock();
            if (!window) return;
            if (i == 0) window->performClose();
            if (i == 1) window->miniaturize();
            if (i == 2) window->zoom();
        });
        buttons_[i] = button;
        titleBarView_->addSubview(button);
    }
    frameView_->addSubview(titleBarView_);
    frameView_->setWindowRecursive(self);
    layoutFrameViews();
    peer_ = UiBackend::current().makeWindowPeer(*this);
    Application::shared().registerWindow(self);
}

// Frame.

Rect Window::contentRectForFrameRect(const Rect& frame) const {
    if (hasTitleBar() && !(styleMask_ & WindowStyleFullSizeContentView)) {
        return {frame.minX(), frame.minY(), frame.width(), std::max(0.0, frame.height() - kTitleBarHeight)};
    }
    return frame;
}

Rect Window::frameRectForContentRect(const Rect& content) const {
    if (hasTitleBar() && !(styleMask_ & WindowStyleFullSizeContentView)) {
        return {content.minX(), content.minY(), content.width(), content.height() + kTitleBarHeight};
    }
    return content;
}

void Window::setFrame(const Rect& frame, bool) {
    animation::cancel(this, animation::Property::WindowFrame);
    restingFrame_.reset();
    applyFrame(frame);
}

void Window::setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }
void Window::setFrameTopLeftPoint(Point topLeft) { setFrame({{topLeft.x, topLeft.y - frame_.height()}, frame_.size}); }

void Window::setContentSize(Size size) {
    const Rect content = contentRectForFrameRect(frame_);
    const Rect wanted = frameRectForContentRect({content.origin, size});
    // Keep the top edge where it is, as the platform does.
    setFrame({{frame_.minX(), frame_.maxY() - wanted.height()}, wanted.size});
}

void Window::applyFrame(const Rect& frame) {
    if (frame == frame_) return;
    auto keep = shared_from_this();
    const Rect old = frame_;
    frame_ = frame;
    const bool resized = old.size != frame.size;
    const bool moved = old.origin != frame.origin;
    if (resized) {
        frameView_->setFrame({0, 0, frame.width(), frame.height()});
        layoutFrameViews();
        scheduleLayout();
    }
    tellPeer(WindowChange::Frame);
    positionSheet();
    if (moved) {
        if (auto d = delegate()) d->windowDidMove(*this);
        postNotification(kWindowDidMoveNotification);
    }
    if (resized) {
        if (auto d = delegate()) d->windowDidResize(*this);
        postNotification(kWindowDidResizeNotification);
    }
}

void Window::layoutFrameViews() {
    const Rect content = contentRectForFrameRect(frame_);
    contentView_->setFrame({0, 0, content.width(), content.height()});
    titleBarView_->setFrame({0, frame_.height() - kTitleBarHeight, frame_.width(), kTitleBarHeight});
    titleBarView_->setHidden(!hasTitleBar() || isSheet());
    layoutTitleBarButtons();
}

void Window::layoutTitleBarButtons() {
    const unsigned needed[3] = {WindowStyleClosable, WindowStyleMiniaturizable, WindowStyleResizable};
    for (int i = 0; i < 3; ++i) {
        buttons_[i]->setFrame(defaultButtonFrame(i));
        buttons_[i]->setEnabled((styleMask_ & needed[i]) != 0);
    }
}

void Window::center() {
    auto target = screen();
    if (!target) target = Screen::mainScreen();
    if (!target) return;
    const Rect v = target->visibleFrame();
    const double x = std::floor(v.minX() + (v.width() - frame_.width()) / 2);
    // Somewhat above the middle: a third of the free height above, two thirds below.
    const double y = std::floor(v.minY() + (v.height() - frame_.height()) * 2 / 3);
    setFrameOrigin({x, y});
}

std::shared_ptr<Screen> Window::screen() const {
    std::shared_ptr<Screen> best;
    double bestArea = 0;
    for (const auto& s : Screen::screens()) {
        const Rect overlap = s->frame().intersection(frame_);
        const double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = s;
        }
    }
    if (!best && frame_.width() == 0) {
        // A zero-width window still lies on the screen holding its left edge.
        best = Screen::screenContaining(frame_.origin);
    }
    return best;
}

void Window::userResize(BackendBadge, const Rect& proposed) {
    Size size = proposed.size;
    size.width = std::clamp(size.width, minSize_.width, std::max(minSize_.width, maxSize_.width));
    size.height = std::clamp(size.height, minSize_.height, std::max(minSize_.height, maxSize_.height));
    if (auto d = delegate()) size = d->windowWillResize(*this, size);
    setFrame({proposed.origin, size});
}

void Window::displayDidPlace(BackendBadge, const Rect& frame) { setFrame(frame); }

void Window::setMinSize(Size size) {
    if (size == minSize_) return;
    minSize_ = size;
    tellPeer(WindowChange::Style);
}

void Window::setMaxSize(Size size) {
    if (size == maxSize_) return;
    maxSize_ = size;
    tellPeer(WindowChange::Style);
}

WindowAnimator Window::animator() { return WindowAnimator(shared_from_this()); }

// Style and look.

void Window::setStyleMask(unsigned mask) {
    if (mask == styleMask_) return;
    styleMask_ = mask;
    layoutFrameViews();
    tellPeer(WindowChange::Style);
}

void Window::setTitle(std::string title) {
    title_ = std::move(title);
    titleBarView_->setNeedsDisplay();
    tellPeer(WindowChange::Title);
}

void Window::setTitleVisibility(TitleVisibility visibility) {
    titleVisibility_ = visibility;
    titleBarView_->setNeedsDisplay();
    tellPeer(WindowChange::Title);
}

void Window::setTitlebarAppearsTransparent(bool transparent) {
    titlebarTransparent_ = transparent;
    titleBarView_->setNeedsDisplay();
    tellPeer(WindowChange::Look);
}

void Window::setLevel(int level) {
    if (level == level_) return;
    level_ = level;
    if (visible_) Application::shared().windowDidOrderIn(shared_from_this());
    tellPeer(WindowChange::Level);
}

void Window::setCollectionBehavior(unsigned behavior) {
    collectionBehavior_ = behavior;
    tellPeer(WindowChange::Style);
}

void Window::setOpaque(bool opaque) {
    opaque_ = opaque;
    tellPeer(WindowChange::Look);
}

void Window::setBackgroundColor(Color color) {
    backgroundColor_ = color;
    frameView_->setNeedsDisplay();
    tellPeer(WindowChange::Look);
}

void Window::setAlphaValue(double alpha) {
    animation::cancel(this, animation::Property::WindowAlpha);
    applyAlpha(alpha);
}

void Window::applyAlpha(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    tellPeer(WindowChange::Look);
}

void Window::setHasShadow(bool shadow) {
    hasShadow_ = shadow;
    tellPeer(WindowChange::Look);
}

// Views.

void Window::setContentView(std::shared_ptr<View> view) {
    if (!view || view == contentView_) return;
    contentView_->removeFromSuperview();
    contentView_ = std::move(view);
    contentView_->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
    frameView_->addSubview(contentView_, View::Ordering::Below, titleBarView_.get());
    layoutFrameViews();
}

std::shared_ptr<Control> Window::standardWindowButton(WindowButton button) const {
    if (!hasTitleBar()) return nullptr;
    return buttons_[static_cast<int>(button)];
}

bool Window::makeFirstResponder(const std::shared_ptr<View>& view) {
    if (view && (view->window().get() != this || !view->acceptsFirstResponder())) return false;
    firstResponder_ = view;
    return true;
}

void Window::scheduleLayout() {
    if (layoutScheduled_) return;
    layoutScheduled_ = true;
    std::weak_ptr<Window> weak = weak_from_this();
    if (weak.expired()) {
        layoutScheduled_ = false;
        return;
    }
    RunLoop::main().post([weak] {
        if (auto window = weak.lock()) window->layoutIfNeeded();
    });
}

void Window::layoutIfNeeded() {
    layoutScheduled_ = false;
    // Layout may mark views again (a size from a constraint changes a stack); a few passes settle it.
    for (int pass = 0; pass < 4; ++pass) {
        frameView_->layoutSubtreeIfNeeded();
        bool again = false;
        std::function<void(View&)> check = [&](View& v) {
            if (v.needsLayout()) again = true;
            for (auto& s : v.subviews()) check(*s);
        };
        check(*frameView_);
        if (!again) break;
    }
    layoutScheduled_ = false;
}

namespace {
void clearDisplay(View& view) {
    view.setNeedsDisplay(false);
    for (auto& subview : view.subviews()) clearDisplay(*subview);
}
bool anyNeedsDisplay(const View& view) {
    if (view.needsDisplay()) return true;
    return std::any_of(view.subviews().begin(), view.subviews().end(), [](auto& s) { return anyNeedsDisplay(*s); });
}
}  // namespace

void Window::displayIfNeeded() {
    layoutIfNeeded();
    clearDisplay(*frameView_);
}

bool Window::needsDisplay() const { return anyNeedsDisplay(*frameView_); }

// Ordering.

void Window::makeKeyAndOrderFront() { orderIn(true); }
void Window::orderFront() { orderIn(false); }
void Window::orderFrontRegardless() { orderIn(false); }

void Window::orderBack() {
    orderIn(false, false);
    Application::shared().windowDidOrderIn(shared_from_this());
}

void Window::orderIn(bool makeKey, bool toFront) {
    auto self = shared_from_this();
    closed_ = false;
    miniaturized_ = false;
    const bool wasVisible = visible_;
    visible_ = true;
    Application::shared().windowDidOrderIn(self);
    if (!wasVisible) {
        layoutIfNeeded();
        tellPeer(WindowChange::Visibility);
        if (!peer_ || !peer_->reportsOcclusion()) applyOcclusionState(kWindowOcclusionStateVisible);
    } else if (toFront) {
        tellPeer(WindowChange::Order);
    }
    if (makeKey) makeKeyWindow();
}

void Window::orderOut() {
    if (!visible_) return;
    auto self = shared_from_this();
    if (sheet_) sheet_->orderOut();
    visible_ = false;
    mouseDownView_.reset();
    draggingWindow_ = false;
    Application::shared().windowDidOrderOut(*this);
    tellPeer(WindowChange::Visibility);
    applyOcclusionState(0);
}

void Window::close() {
    if (closed_) return;
    auto self = shared_from_this();
    while (!waitingSheets_.empty()) endSheet(waitingSheets_.back().sheet, ModalResponses::Abort);
    if (sheet_) endSheet(sheet_, ModalResponses::Abort);
    postNotification(kWindowWillCloseNotification);
    if (auto d = delegate()) d->windowWillClose(*this);
    closed_ = true;
    miniaturized_ = false;
    if (keptWhileMiniaturized_) Application::shared().releaseLater(std::move(keptWhileMiniaturized_));
    orderOut();
    if (auto parent = sheetParent()) parent->endSheet(self, ModalResponses::Abort);
    Application::shared().windowDidClose(*this);
    tellPeer(WindowChange::Closed);
}

void Window::performClose() {
    if (!(styleMask_ & WindowStyleClosable)) return;
    auto self = shared_from_this();
    if (auto d = delegate(); d && !d->windowShouldClose(*this)) return;
    close();
}

void Window::miniaturize() {
    if (!visible_ || miniaturized_) return;
    auto self = shared_from_this();
    orderOut();
    miniaturized_ = true;
    // Kept alive while in the dock, as a window on screen is.
    keptWhileMiniaturized_ = self;
    if (auto d = delegate()) d->windowDidMiniaturize(*this);
    postNotification(kWindowDidMiniaturizeNotification);
}

void Window::deminiaturize() {
    if (!miniaturized_) return;
    auto self = shared_from_this();
    orderIn(true);
    Application::shared().releaseLater(std::move(keptWhileMiniaturized_));
    if (auto d = delegate()) d->windowDidDeminiaturize(*this);
    postNotification(kWindowDidDeminiaturizeNotification);
}

void Window::toggleFullScreen() {
    auto self = shared_from_this();
    if (isFullScreen()) {
        if (auto d = delegate()) d->windowWillExitFullScreen(*this);
        postNotification(kWindowWillExitFullScreenNotification);
        styleMask_ &= ~WindowStyleFullScreen;
        // Laid out by the frame change, before it is announced: observers of the resize (which
        // place the title bar's buttons) have the last word.
        setFrame(preFullScreenFrame_);
        if (auto d = delegate()) d->windowDidExitFullScreen(*this);
        postNotification(kWindowDidExitFullScreenNotification);
        return;
    }
    if (collectionBehavior_ & CollectionFullScreenNone) return;
    auto target = screen();
    if (!target) target = Screen::mainScreen();
    if (!target) return;
    if (auto d = delegate()) d->windowWillEnterFullScreen(*this);
    postNotification(kWindowWillEnterFullScreenNotification);
    preFullScreenFrame_ = frame_;
    styleMask_ |= WindowStyleFullScreen;
    setFrame(target->frame());
    if (auto d = delegate()) d->windowDidEnterFullScreen(*this);
    postNotification(kWindowDidEnterFullScreenNotification);
}

void Window::zoom() {
    if (collectionBehavior_ & CollectionFullScreenPrimary) {
        toggleFullScreen();
        return;
    }
    auto target = screen();
    if (!target) target = Screen::mainScreen();
    if (!target) return;
    if (frame_ == target->visibleFrame() && zoomedFrom_) {
        setFrame(*zoomedFrom_);
        zoomedFrom_.reset();
    } else {
        zoomedFrom_ = frame_;
        setFrame(target->visibleFrame());
    }
}

void Window::applyOcclusionState(unsigned state) {
    if (state == occlusionState_) return;
    occlusionState_ = state;
    if (auto d = delegate()) d->windowDidChangeOcclusionState(*this);
    postNotification(kWindowDidChangeOcclusionStateNotification);
}

// Key and main status.

bool Window::isKeyWindow() const { return Application::shared().keyWindow().get() == this; }
bool Window::isMainWindow() const { return Application::shared().mainWindow().get() == this; }

bool Window::canBecomeKeyWindow() const { return (styleMask_ & (WindowStyleTitled | WindowStyleResizable)) != 0; }
bool Window::canBecomeMainWindow() const { return hasTitleBar() && !isSheet(); }

void Window::makeKeyWindow() {
    if (!visible_ || !canBecomeKeyWindow()) return;
    Application::shared().setKeyWindow(this);
    if (canBecomeMainWindow()) makeMainWindow();
}

void Window::makeMainWindow() {
    if (!visible_ || !canBecomeMainWindow()) return;
    Application::shared().setMainWindow(this);
}

void Window::resignKeyStatus() {
    tellPeer(WindowChange::KeyStatus);
    if (auto d = delegate()) d->windowDidResignKey(*this);
    postNotification(kWindowDidResignKeyNotification);
}

void Window::becomeKeyStatus() {
    tellPeer(WindowChange::KeyStatus);
    if (auto d = delegate()) d->windowDidBecomeKey(*this);
    postNotification(kWindowDidBecomeKeyNotification);
}

// Sheets.

void Window::beginSheet(const std::shared_ptr<Window>& sheet, std::function<void(ModalResponse)> completion) {
    if (!sheet || sheet.get() == this || sheet->sheetParent_.lock()) return;
    if (sheet_) {
        sheet->sheetParent_ = weak_from_this();
        waitingSheets_.push_back({sheet, std::move(completion)});
        return;
    }
    presentSheet(sheet, std::move(completion));
}

void Window::presentSheet(const std::shared_ptr<Window>& sheet, std::function<void(ModalResponse)> completion) {
    sheet_ = sheet;
    sheet->sheetParent_ = weak_from_this();
    sheetCompletion_ = std::move(completion);
    sheet->layoutFrameViews();
    positionSheet();
    sheet->makeKeyAndOrderFront();
    tellPeer(WindowChange::Sheet);
}

void Window::positionSheet() {
    if (!sheet_) return;
    const Rect content = contentRectForFrameRect(frame_).offsetBy(-frame_.minX(), -frame_.minY());
    Rect attach{content.minX(), content.maxY(), content.width(), 0};
    if (auto d = delegate()) attach = d->windowWillPositionSheet(*this, *sheet_, attach);
    const Rect f = sheet_->frame();
    sheet_->setFrame(
        {{std::floor(frame_.minX() + attach.midX() - f.width() / 2), frame_.minY() + attach.maxY() - f.height()},
         f.size});
}

void Window::endSheet(const std::shared_ptr<Window>& sheetReference, ModalResponse response) {
    // A copy: the argument may be sheet_ itself, which is cleared below.
    auto sheet = sheetReference;
    if (!sheet) return;
    auto self = shared_from_this();
    if (sheet_ != sheet) {
        auto waiting = std::find_if(waitingSheets_.begin(), waitingSheets_.end(),
                                    [&](const WaitingSheet& w) { return w.sheet == sheet; });
        if (waiting == waitingSheets_.end()) return;
        auto completion = std::move(waiting->completion);
        waitingSheets_.erase(waiting);
        sheet->sheetParent_.reset();
        if (completion) completion(response);
        return;
    }
    sheet_.reset();
    sheet->sheetParent_.reset();
    sheet->layoutFrameViews();
    sheet->orderOut();
    auto completion = std::move(sheetCompletion_);
    sheetCompletion_ = nullptr;
    tellPeer(WindowChange::Sheet);
    if (visible_) makeKeyWindow();
    if (completion) completion(response);
    // The next waiting sheet comes up, unless the completion began another.
    if (sheet_ || closed_ || waitingSheets_.empty()) return;
    WaitingSheet next = std::move(waitingSheets_.front());
    waitingSheets_.erase(waitingSheets_.begin());
    presentSheet(next.sheet, std::move(next.completion));
}

// Coordinates.

Point Window::convertPointToScreen(Point p) const { return {p.x + frame_.minX(), p.y + frame_.minY()}; }
Point Window::convertPointFromScreen(Point p) const { return {p.x - frame_.minX(), p.y - frame_.minY()}; }
Rect Window::convertRectToScreen(const Rect& r) const { return r.offsetBy(frame_.minX(), frame_.minY()); }
Rect Window::convertRectFromScreen(const Rect& r) const { return r.offsetBy(-frame_.minX(), -frame_.minY()); }
Point Window::mouseLocationOutsideOfEventStream() const { return convertPointFromScreen(Event::mouseLocation()); }

// Events.

void Window::sendEvent(const Event& event) {
    auto self = shared_from_this();
    layoutIfNeeded();
    switch (event.type) {
        case EventType::LeftMouseDown:
        case EventType::RightMouseDown:
        case EventType::OtherMouseDown:
        case EventType::LeftMouseUp:
        case EventType::RightMouseUp:
        case EventType::OtherMouseUp:
        case EventType::LeftMouseDragged:
        case EventType::RightMouseDragged:
        case EventType::OtherMouseDragged: dispatchMouse(event); break;
        case EventType::ScrollWheel:
            if (ignoresMouseEvents_) break;
            if (auto hit = frameView_->hitTest(event.locationInWindow)) hit->scrollWheel(event);
            break;
        case EventType::MouseMoved:
            if (acceptsMouseMoved_) {
                if (auto responder = firstResponder()) responder->mouseMoved(event);
            }
            break;
        case EventType::MouseEntered:
        case EventType::MouseExited:
            if (event.trackingArea) {
                if (auto owner = event.trackingArea->owner()) {
                    if (event.type == EventType::MouseEntered) {
                        owner->mouseEntered(event);
                    } else {
                        owner->mouseExited(event);
                    }
                }
            }
            break;
        case EventType::KeyDown:
        case EventType::KeyUp:
        case EventType::FlagsChanged: {
            std::shared_ptr<View> target = firstResponder();
            if (!target) target = contentView_;
            if (event.type == EventType::KeyDown) target->keyDown(event);
            if (event.type == EventType::KeyUp) target->keyUp(event);
            break;
        }
    }
}

void Window::dispatchMouse(const Event& event) {
    auto& app = Application::shared();
    const bool isDown = event.type == EventType::LeftMouseDown || event.type == EventType::RightMouseDown ||
                        event.type == EventType::OtherMouseDown;
    const bool isUp = event.type == EventType::LeftMouseUp || event.type == EventType::RightMouseUp ||
                      event.type == EventType::OtherMouseUp;
    if (isDown) {
        if (ignoresMouseEvents_) return;
        auto hit = frameView_->hitTest(event.locationInWindow);
        const bool wasKey = isKeyWindow();
        const bool appWasActive = app.isActive();
        const bool activates = !(styleMask_ & WindowStyleNonactivatingPanel);
        const bool willBecomeKey = !wasKey && canBecomeKeyWindow();
        if (event.type == EventType::LeftMouseDown) {
            if (!appWasActive && activates) app.activate(true);
            orderFront();
            if (willBecomeKey) makeKeyWindow();
        }
        // A click that activates the window reaches the view only if it takes the first mouse.
        const bool activatingClick = willBecomeKey || (!appWasActive && activates);
        if (event.type == EventType::LeftMouseDown && activatingClick && hit && !hit->acceptsFirstMouse(&event)) {
            mouseDownView_.reset();
            return;
        }
        mouseDownView_ = hit;
        if (!hit) return;
        if (event.type == EventType::LeftMouseDown) hit->mouseDown(event);
        if (event.type == EventType::RightMouseDown) hit->rightMouseDown(event);
        return;
    }
    if (isUp) {
        auto target = std::move(mouseDownView_);
        mouseDownView_.reset();
        const bool wasDragging = draggingWindow_;
        draggingWindow_ = false;
        if (!target || wasDragging) {
            if (target && wasDragging && event.type == EventType::LeftMouseUp) target->mouseUp(event);
            return;
        }
        if (event.type == EventType::LeftMouseUp) target->mouseUp(event);
        if (event.type == EventType::RightMouseUp) target->rightMouseUp(event);
        return;
    }
    // Drags.
    if (draggingWindow_) {
        moveByBackgroundDrag(event);
        return;
    }
    if (auto target = mouseDownView_) {
        if (event.type == EventType::LeftMouseDragged) target->mouseDragged(event);
    }
}

void Window::unhandledEvent(const Event& event) {
    if (event.type == EventType::KeyDown) {
        auto self = shared_from_this();
        if (event.characters == "\r") {
            if (auto button = defaultButton(); button && !button->isHiddenOrHasHiddenAncestor())
                button->accessibilityPerformPress();
        } else if (event.characters == "\x1b") {
            performCancelOperation();
        }
        return;
    }
    if (event.type != EventType::LeftMouseDown || !isMovable()) return;
    const bool inTitleBar =
        hasTitleBar() && !isFullScreen() && event.locationInWindow.y >= frame_.height() - kTitleBarHeight;
    const bool canMove = mouseDownView_ && mouseDownView_->mouseDownCanMoveWindow();
    if (inTitleBar || (movableByBackground_ && canMove)) {
        draggingWindow_ = true;
        dragStartScreen_ = event.locationInScreen();
        dragStartOrigin_ = frame_.origin;
    }
}

void Window::performCancelOperation() {
    auto self = shared_from_this();
    if (auto operation = cancelOperation_) operation();
}

void Window::moveByBackgroundDrag(const Event& event) {
    // The event's window coordinates move with the window; the screen location does not.
    const Point now = event.locationInScreen();
    setFrameOrigin({dragStartOrigin_.x + now.x - dragStartScreen_.x, dragStartOrigin_.y + now.y - dragStartScreen_.y});
}

namespace {
bool areaActive(const TrackingArea& area, const Window& window, const View& view) {
    const unsigned o = area.options();
    if (o & TrackingActiveAlways) return true;
    auto& app = Application::shared();
    if (o & TrackingActiveInActiveApp) return app.isActive();
    if (o & TrackingActiveInKeyWindow) return app.isActive() && window.isKeyWindow();
    if (o & TrackingActiveWhenFirstResponder) return window.firstResponder().get() == &view;
    return false;
}

void collectAreas(const std::shared_ptr<View>& view, bool hiddenAbove,
                  std::vector<std::pair<std::shared_ptr<View>, std::shared_ptr<TrackingArea>>>& out) {
    const bool hidden = hiddenAbove || view->isHidden();
    for (const auto& area : view->trackingAreas()) out.emplace_back(hidden ? nullptr : view, area);
    for (const auto& subview : view->subviews()) collectAreas(subview, hidden, out);
}
}  // namespace

void Window::updateTracking(Point screenPoint, bool topmost, const Event* cause) {
    auto self = shared_from_this();
    layoutIfNeeded();
    std::vector<std::pair<std::shared_ptr<View>, std::shared_ptr<TrackingArea>>> areas;
    collectAreas(frameView_, false, areas);
    const Point p = convertPointFromScreen(screenPoint);
    struct Crossing {
        std::shared_ptr<TrackingArea> area;
        bool inside;
        bool moved;
    };
    std::vector<Crossing> crossings;
    for (const auto& [view, area] : areas) {
        bool inside = false;
        if (view && visible_ && topmost && !ignoresMouseEvents_ && areaActive(*area, *this, *view)) {
            const Rect local = (area->options() & TrackingInVisibleRect) ? view->visibleRect() : area->rect();
            inside = view->convertRectToView(local, nullptr).contains(p);
        }
        if (inside != area->inside_) {
            area->inside_ = inside;
            crossings.push_back({area, inside, false});
        } else if (inside && (area->options() & TrackingMouseMoved) && cause &&
                   (cause->type == EventType::MouseMoved || cause->type == EventType::LeftMouseDragged)) {
            crossings.push_back({area, true, true});
        }
    }
    // Exits before entries, as the mouse leaves one area before it enters the next.
    std::stable_partition(crossings.begin(), crossings.end(), [](const Crossing& c) { return !c.inside; });
    for (const auto& crossing : crossings) {
        auto owner = crossing.area->owner();
        if (!owner) continue;
        Event event;
        event.window = weak_from_this();
        event.locationInWindow = p;
        event.timestamp = cause ? cause->timestamp : RunLoop::main().now();
        event.modifierFlags = cause ? cause->modifierFlags : 0;
        event.trackingArea = crossing.area;
        if (crossing.moved) {
            event.type = EventType::MouseMoved;
            owner->mouseMoved(event);
        } else if (crossing.area->options() & TrackingMouseEnteredAndExited) {
            event.type = crossing.inside ? EventType::MouseEntered : EventType::MouseExited;
            if (crossing.inside) {
                owner->mouseEntered(event);
            } else {
                owner->mouseExited(event);
            }
        }
    }
}

void Window::prepareForDisplay() { tellPeer(WindowChange::Prepare); }

void Window::postNotification(const char* name) { NotificationCenter::defaultCenter().post(name, this); }

void Window::tellPeer(WindowChange change) {
    if (peer_) peer_->windowDidChange(change);
}

}  // namespace kit
