#include "app/capture/KZDropWindController.h"

#include "app/ui/KZView.h"
#include "app/web/KZAIWebView.h"
#include "kit/base/Color.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

namespace {

// Passes every event through to the page below it: the drop is the page's.
class KZDropMaskView : public KZView {
public:
    using KZView::KZView;
    std::string className() const override { return "KZDropMaskView"; }
    std::shared_ptr<kit::View> hitTest(kit::Point) override { return nullptr; }
};

}  // namespace

KZDropWindController::KZDropWindController(bool hasTitleBar, kit::Size windowSize)
    : KZBaseWindowController(hasTitleBar, windowSize) {}

void KZDropWindController::customInit() {
    auto w = window();
    // A drop target, not a window to manage: no title-bar buttons.
    for (auto kind : {kit::WindowButton::Close, kit::WindowButton::Miniaturize, kit::WindowButton::Zoom})
        if (auto button = w->standardWindowButton(kind)) button->setHidden(true);
}

void KZDropWindController::setupViews() {
    auto content = window()->contentView();
    dropView_ = kit::create<KZView>(content->bounds());
    content->addSubview(dropView_);
    kit::makeConstraints(dropView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(content); });

    dropMaskView_ = kit::create<KZDropMaskView>(content->bounds());
    dropMaskView_->updateLayer([](kit::LayerStyle& layer) {
        layer.backgroundColor = kit::Color::fromHex(0x4D6BFE, 0.08);
        layer.borderWidth = 2;
        layer.borderColor = kit::Color::fromHex(0x4D6BFE, 0.6);
        layer.cornerRadius = 8;
    });
    dropView_->addSubview(dropMaskView_);
    kit::makeConstraints(dropMaskView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(dropView_); });
}

void KZDropWindController::injectWebView(const std::shared_ptr<KZAIWebView>& webView) {
    if (!webView) return;
    kit::removeConstraints(webView);
    webView->removeFromSuperview();
    dropView_->addSubview(webView, kit::View::Ordering::Below, dropMaskView_.get());
    kit::makeConstraints(webView, [&](kit::ConstraintMaker& make) { make.edges().equalTo(dropView_); });
    webView_ = webView;
    dropView_->layoutSubtreeIfNeeded();
}
