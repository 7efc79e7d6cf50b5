#include "app/capture/KZStatusGuideTipWindowController.h"

#include <algorithm>
#include <cmath>

#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

void KZStatusGuideTipWindowController::showWindow() {
    if (auto w = window()) w->orderFrontRegardless();
}

double KZStatusGuideTipWindowController::widthFittingText(double minimum) const {
    constexpr double kLabelMargins = 12 + 12;
    const kit::EdgeInsets insets = contentInset();
    const double text = std::ceil(tipLabel_->intrinsicContentSize().width);
    return std::max(minimum, text + kLabelMargins + insets.left + insets.right);
}

void KZStatusGuideTipWindowController::setupSubviews() {
    KZBasePopoverWindowController::setupSubviews();
    tipLabel_ = kit::Label::withString(KZLocalizedString(kTipText));
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
