#include "app/windows/KZBasePopoverWindowController.h"

#include "app/ui/KZWindowEdge.h"
#include "app/windows/KZCustomWindow.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Create.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Layout.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

KZBasePopoverWindowController::KZBasePopoverWindowController(kit::Size size, kit::EdgeInsets contentInset)
    : contentInset_(contentInset), initialSize_(size) {}

// The monitors go with their handles.
KZBasePopoverWindowController::~KZBasePopoverWindowController() = default;

void KZBasePopoverWindowController::init() {
    kit::WindowController::init();
    setupWindowWithSize(initialSize_, contentInset_);
    setupSubviews();
    setupSubViewsLayout();
    KZKeepWindowEdge(contentView(), shared_from_this());
    addListenEvents();
}

void KZBasePopoverWindowController::setupWindowWithSize(kit::Size size, kit::EdgeInsets contentInset) {
    // Closable, miniaturizable and resizable without the titled bit: no frame, no title bar.
    auto window = kit::create<KZCustomWindow>(kit::Rect{{0, 0}, size}, kit::WindowStyleClosable |
                                                                         kit::WindowStyleMiniaturizable |
                                                                         kit::WindowStyleResizable);
    window->setCustomWndType(customWindowType());
    // A name for the window manager, although no frame shows it.
    window->setTitle(KZLocalizedString("Quarn AI助手"));
    setWindow(window);
    window->setMovable(isMovable());
    window->setBackgroundColor(kit::Color::clear());
    window->setLevel(customWindowLevel());
    // Escape closes it, as a click elsewhere does.
    std::weak_ptr<kit::WindowController> weak = weak_from_this();
    window->setCancelOperation([weak] {
        if (auto self = std::static_pointer_cast<KZBasePopoverWindowController>(weak.lock())) self->closePopover();
    });
    contentInset_ = contentInset;
    contentFrame_ = {contentInset.left, contentInset.bottom, size.width - contentInset.left - contentInset.right,
                     size.height - contentInset.top - contentInset.bottom};
    size_ = size;
}

const std::shared_ptr<kit::View>& KZBasePopoverWindowController::contentView() {
    if (!contentView_) {
        contentView_ = kit::create<kit::View>();
        contentView_->setWantsLayer(true);
        const double radius = windowCornerRadius();
        contentView_->updateLayer([radius](kit::LayerStyle& layer) {
            layer.backgroundColor = kit::Color::white();
            layer.cornerRadius = radius;
            layer.masksToBounds = true;
        });
    }
    return contentView_;
}

void KZBasePopoverWindowController::setupSubviews() { window()->contentView()->addSubview(contentView()); }

void KZBasePopoverWindowController::setupSubViewsLayout() {
    auto& content = contentView();
    content->setContentHuggingPriority(999, kit::View::Axis::Horizontal);
    std::weak_ptr<kit::View> container = window()->contentView();
    const kit::EdgeInsets insets = contentInset_;
    kit::makeConstraints(content, [&](kit::ConstraintMaker& make) {
        if (auto superview = container.lock()) make.edges().equalTo(superview).insets(insets);
    });
}

bool KZBasePopoverWindowController::shouldCloseForGlobalEvent(const kit::Event&) const {
    auto w = window();
    return w && w->isVisible() && !w->isKeyWindow();
}

bool KZBasePopoverWindowController::shouldCloseForLocalEvent(const kit::Event& event) const {
    auto w = window();
    if (!w || !w->isVisible()) return false;
    auto* custom = dynamic_cast<const KZCustomWindow*>(event.windowShared().get());
    switch (event.type) {
        case kit::EventType::LeftMouseUp:
        case kit::EventType::LeftMouseDragged:
            // Any popover-style window of the application keeps it open.
            return custom == nullptr;
        case kit::EventType::KeyDown:
        case kit::EventType::ScrollWheel:
            // Only another popover (type 1) keeps it open.
            return !(custom && custom->customWndType() == KZCustomWindowTypePopover);
        default:
            return false;
    }
}

void KZBasePopoverWindowController::closePopover() {
    // The block may let the controller go.
    auto self = shared_from_this();
    if (auto w = window()) w->orderOut();
    if (disappearBlock_) {
        auto block = disappearBlock_;
        block(*this);
    }
}

void KZBasePopoverWindowController::addListenEvents() {
    std::weak_ptr<kit::WindowController> weak = weak_from_this();
    auto controller = [weak] { return std::static_pointer_cast<KZBasePopoverWindowController>(weak.lock()); };
    auto global = [controller](const kit::Event& event) {
        auto self = controller();
        if (self && self->shouldCloseForGlobalEvent(event)) self->closePopover();
    };
    auto local = [controller](const kit::Event& event) -> std::optional<kit::Event> {
        auto self = controller();
        if (self && self->shouldCloseForLocalEvent(event)) self->closePopover();
        return event;
    };
    monitors_.clear();
    monitors_.push_back(kit::EventMonitor::addGlobalMonitor(kit::EventMasks::LeftMouseDown, global));
    monitors_.push_back(kit::EventMonitor::addGlobalMonitor(kit::EventMasks::ScrollWheel, global));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::LeftMouseUp, local));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::LeftMouseDragged, local));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::KeyDown, local));
    monitors_.push_back(kit::EventMonitor::addLocalMonitor(kit::EventMasks::ScrollWheel, local));
}
