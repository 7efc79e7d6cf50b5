#include "app/web/KZWebLoadingView.h"

#include "frameworks/ColorHelpers.h"
#include "frameworks/HXLoadingView.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"

void KZWebLoadingView::init() {
    kit::View::init();
    setWantsLayer(true);
    setBackgroundColor(kit::Color::white());
    addSubview(loadingLabel());
    addSubview(loadingView());
    auto self = shared_from_this();
    // The pair is centred as a whole: the label sits half the spinner and its gap right of the
    // middle, the spinner left of it and a point lower.
    kit::makeConstraints(loadingLabel_, [&](kit::ConstraintMaker& make) {
        make.centerY().equalTo(self);
        make.centerX().equalTo(self).offset((kSpinnerGap + kSpinnerSize) / 2);
    });
    auto label = loadingLabel_;
    kit::makeConstraints(loadingView_, [&](kit::ConstraintMaker& make) {
        make.right().equalTo(kit::leftOf(label)).offset(-kSpinnerGap);
        make.centerY().equalTo(label).offset(1);
        make.size().equalTo(kit::Size{kSpinnerSize, kSpinnerSize});
    });
}

const std::shared_ptr<kit::Label>& KZWebLoadingView::loadingLabel() {
    if (!loadingLabel_) {
        loadingLabel_ = kit::create<kit::Label>();
        loadingLabel_->setEditable(false);
        loadingLabel_->setBordered(false);
        loadingLabel_->setRefusesFirstResponder(true);
        loadingLabel_->setFont(kit::Font::systemFont(12));
        loadingLabel_->setAlignment(kit::TextAlignment::Center);
        loadingLabel_->setUsesSingleLineMode(true);
        loadingLabel_->setDrawsBackground(false);
        loadingLabel_->setTextBackgroundColor(kit::Color::clear());
        loadingLabel_->setTextColor(colorWithHex(0x4D4D4D));
        loadingLabel_->setStringValue(KZLocalizedString("加载中，请稍候..."));
    }
    return loadingLabel_;
}

const std::shared_ptr<HXLoadingView>& KZWebLoadingView::loadingView() {
    if (!loadingView_) loadingView_ = kit::create<HXLoadingView>(kit::Rect{0, 0, kSpinnerSize, kSpinnerSize});
    return loadingView_;
}

void KZWebLoadingView::startAnimation() { loadingView()->startAnimation(); }

void KZWebLoadingView::stopAnimation() { loadingView()->stopAnimation(); }
