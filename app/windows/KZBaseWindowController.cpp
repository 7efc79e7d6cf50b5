#include "app/windows/KZBaseWindowController.h"

#include "app/ui/KZWindowEdge.h"
#include "app/windows/KZCanNotBeKeyWnd.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

KZBaseWindowController::KZBaseWindowController(bool hasTitleBar, kit::Size windowSize)
    : KZBaseWindowController(hasTitleBar, true, windowSize) {}

KZBaseWindowController::KZBaseWindowController(bool hasTitleBar, bool resizable, kit::Size windowSize)
    : hasTitleBar_(hasTitleBar), resizable_(resizable), windowSize_(windowSize) {}

KZBaseWindowController::~KZBaseWindowController() {
    kit::NotificationCenter::defaultCenter().removeObserver(static_cast<kit::WindowController*>(this));
}

void KZBaseWindowController::init() {
    kit::WindowController::init();
    initWindow();
    // Only now: frame changes made by the hooks do not reach onWindowFrameChanged.
    std::weak_ptr<kit::WindowController> weak = weak_from_this();
    kit::NotificationCenter::defaultCenter().addObserver(
        shared_from_this(), kit::kWindowDidResizeNotification, nullptr, [weak](const kit::Notification& note) {
            if (auto self = std::static_pointer_cast<KZBaseWindowController>(weak.lock())) self->windowFrameChangedNoti(note);
        });
}

unsigned KZBaseWindowController::customWindowCollectionBehavior() { return kit::CollectionFullScreenPrimary; }

std::string KZBaseWindowController::windowTitle() { return KZLocalizedString("Quarn AI助手"); }

kit::Size KZBaseWindowController::windowButtonOffsetSize() { return {10.0, 6.0}; }

void KZBaseWindowController::initWindow() {
    unsigned style = kit::WindowStyleTitled | kit::WindowStyleClosable | kit::WindowStyleMiniaturizable;
    if (resizable_) style |= kit::WindowStyleResizable;
    if (!hasTitleBar_) style |= kit::WindowStyleFullSizeContentView;
    auto window = kit::create<KZCanNotBeKeyWnd>(kit::Rect{{0, 0}, windowSize_}, style);
    setWindow(window);
    window->setCustomWndType(customWindowType());
    window->setTitle(windowTitle());
    if (!hasTitleBar_) makeTitleBarTransparent();
    window->setMovableByWindowBackground(canMovableByWindowBackground());
    window->setBackgroundColor(kit::Color::clear());
    window->setCollectionBehavior(customWindowCollectionBehavior());
    styleContentView();
    KZKeepWindowEdge(window->contentView(), shared_from_this());
    __windowButtonOffset();
    customInit();
    setupViews();
    setupViewsLayout();
}

void KZBaseWindowController::makeTitleBarTransparent() {
    auto w = window();
    w->setOpaque(false);
    w->setTitlebarAppearsTransparent(true);
    w->setTitleVisibility(kit::TitleVisibility::Hidden);
}

void KZBaseWindowController::styleContentView() {
    auto content = window()->contentView();
    content->setWantsLayer(true);
    content->updateLayer([](kit::LayerStyle& layer) {
        layer.backgroundColor = kit::Color::white();
        layer.cornerRadius = 8.0;
        layer.masksToBounds = true;
    });
}

void KZBaseWindowController::__windowButtonOffset() {
    auto w = window();
    if (!w) return;
    const kit::Size offset = windowButtonOffsetSize();
    const kit::WindowButton kinds[3] = {kit::WindowButton::Close, kit::WindowButton::Miniaturize, kit::WindowButton::Zoom};
    for (int i = 0; i < 3; ++i) {
        auto button = w->standardWindowButton(kinds[i]);
        if (!button) continue;
        auto& placement = buttonPlacements_[static_cast<std::size_t>(i)];
        const kit::Rect current = button->frame();
        // A frame still where the last shift put it means the window has not placed the button
        // anew since: shift from the remembered place, not from the shifted one.
        if (!placement.appliedFrame || current != *placement.appliedFrame) placement.defaultFrame = current;
        kit::Rect shifted = placement.defaultFrame;
        shifted.origin.x += offset.width;
        shifted.origin.y -= offset.height;
        button->setFrame(shifted);
        placement.appliedFrame = shifted;
    }
}

void KZBaseWindowController::windowFrameChangedNoti(const kit::Notification& notification) {
    auto w = window();
    if (!w || notification.object != w.get()) return;
    __windowButtonOffset();
    onWindowFrameChanged();
}
