#include "app/capture/KZStatusGuideTipWindowController.h"

#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

void KZStatusGuideTipWindowController::showWindow() {
    if (auto w = window()) w->orderFrontRegardless();
}

void KZStatusGuideTipWindowController::setupSubviews() {
    KZBasePopoverWindowController::setupSubviews();
    tipLabel_ = kit::Label::withString(KZLocalizedString("AI助手在这里，点击状态栏图标即可随时打开"));
    tipLabel_->setFont(kit::Font::systemFont(14));
    // On the popover's white surface in either appearance: the light appearance's text colour.
    tipLabel_->setTextColor(JWAppThemeHelper::getColor(11, true));
    tipLabel_->setUsesSingleLineMode(true);
    contentView()->addSubview(tipLabel_);
}

void KZStatusGuideTipWindowController::setupSubViewsLayout() {
    KZBasePopoverWindowController::setupSubViewsLayout();
    kit::makeConstraints(tipLabel_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(contentView()).offset(12);
        make.right().lessThanOrEqualTo(contentView()).offset(-12);
        make.centerY().equalTo(contentView());
    });
}
