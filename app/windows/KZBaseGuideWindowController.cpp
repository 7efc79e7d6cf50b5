#include "app/windows/KZBaseGuideWindowController.h"

#include "kit/ui/Create.h"

void KZBaseGuideWindowController::initWindow() {
    unsigned style = kit::WindowStyleTitled | kit::WindowStyleClosable | kit::WindowStyleMiniaturizable;
    if (!hasTitleBar()) style |= kit::WindowStyleFullSizeContentView;
    auto window = kit::create<__KZBaseGuideWindow>(kit::Rect{{0, 0}, windowSize()}, style);
    setWindow(window);
    if (!hasTitleBar()) makeTitleBarTransparent();
    window->setMovableByWindowBackground(true);
    window->setBackgroundColor(kit::Color::clear());
    styleContentView();
    __windowButtonOffset();
    setupViews();
    setupViewsLayout();
}

std::weak_ptr<kit::WindowDelegate> KZBaseGuideWindowController::weakWindowDelegate() {
    return std::static_pointer_cast<KZBaseGuideWindowController>(shared_from_this());
}
