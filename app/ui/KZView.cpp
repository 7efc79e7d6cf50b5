#include "app/ui/KZView.h"

#include "frameworks/JWAppThemeHelper.h"
#include "kit/base/Log.h"
#include "kit/ui/Application.h"

KZView::KZView(kit::Rect frame) : kit::View(frame) {}

bool KZView::isDarkMode() { return JWAppThemeHelper::isDarkMode(); }

void KZView::init() {
    kit::View::init();
    setupConfig();
    setupSubviews();
    setupSubviewsLayout();
    setupSubviewsColorWithDark(isDarkMode());
}

void KZView::viewDidChangeEffectiveAppearance() {
    kit::View::viewDidChangeEffectiveAppearance();
    setupSubviewsColorWithDark(isDarkMode());
}

void KZView::setupConfig() { setWantsLayer(true); }

void KZView::setupSubviewsColorWithDark(bool dark) {
    if (colorBlock_) {
        auto block = colorBlock_;
        block(*this, dark);
    }
}

void KZView::setSetupSubviewsColorBlock(ColorBlock block) {
    colorBlock_ = std::move(block);
    if (colorBlock_) {
        auto run = colorBlock_;
        run(*this, isDarkMode());
    }
}

void KZView::mouseDown(const kit::Event& event) { kit::View::mouseDown(event); }

void KZView::mouseUp(const kit::Event& event) {
    auto self = shared_from_this();
    kit::View::mouseUp(event);
    kit::logf("------> mouseUp-- %s", className().c_str());
    runMouseUpBlock();
}

void KZView::runMouseUpBlock() {
    if (!mouseUpBlock_) return;
    kit::Application::shared().releaseLater(shared_from_this());
    // A copy: the block may replace itself.
    auto block = mouseUpBlock_;
    block(*this);
}

bool KZView::acceptsFirstMouse(const kit::Event*) { return true; }
