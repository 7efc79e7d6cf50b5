#include "app/ui/KZAIPermissionDisableTipView.h"

#include <algorithm>

#include "app/ui/KZImageTint.h"
#include "app/ui/KZImageView.h"
#include "app/ui/KZThemedTextField.h"
#include "frameworks/ColorHelpers.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"

namespace {
constexpr std::uint32_t kDarkBubble = 0x5B5E71;
}

std::string KZAIPermissionDisableTipView::textString() const {
    return KZLocalizedString("划词功能异常，请检查是否开启授权");
}

const std::shared_ptr<KZImageView>& KZAIPermissionDisableTipView::arrowImageView() {
    if (!arrowImageView_) {
        arrowImageView_ = kit::create<KZImageView>();
        arrowImageView_->setSetupSubviewsColorBlock([](KZImageView& view, bool dark) {
            const kit::Image arrow = kit::Image::named("kz_tip_permission_disable_arrow");
            view.setImage(dark ? imageWithTintColor(arrow, colorWithHex(kDarkBubble)) : arrow);
        });
    }
    return arrowImageView_;
}

const std::shared_ptr<KZView>& KZAIPermissionDisableTipView::contentView() {
    if (!contentView_) {
        contentView_ = kit::create<KZView>();
        contentView_->setBackgroundColor(kit::Color::clear());
    }
    return contentView_;
}

const std::shared_ptr<KZView>& KZAIPermissionDisableTipView::bgView() {
    if (!bgView_) {
        bgView_ = kit::create<KZView>();
        bgView_->setCornerRadius(4);
        bgView_->setMasksToBounds(true);
        bgView_->setSetupSubviewsColorBlock([](KZView& view, bool dark) {
            view.setBackgroundColor(dark ? colorWithHex(kDarkBubble) : kit::Color::white());
        });
    }
    return bgView_;
}

const std::shared_ptr<KZThemedTextField>& KZAIPermissionDisableTipView::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = kit::create<KZThemedTextField>();
        titleLabel_->setEditable(false);
        titleLabel_->setBordered(false);
        titleLabel_->setDrawsBackground(false);
        titleLabel_->setRefusesFirstResponder(true);
        titleLabel_->setFont(kit::Font::systemFont(12));
        titleLabel_->setAlignment(kit::TextAlignment::Left);
        titleLabel_->setLineBreakMode(kit::LineBreakMode::WordWrapping);
        titleLabel_->setMaximumNumberOfLines(LanguageHelper::getCurrentSystemLanguageType() == 1 ? 1 : 2);
        titleLabel_->setPreferredMaxLayoutWidth(textFieldMaxWidth());
        titleLabel_->setStringValue(textString());
        // Read once: a theme change leaves the text colour as it was made.
        titleLabel_->setTextThemeColor(&JWAppThemeHelper::getAiTipTextColor);
    }
    return titleLabel_;
}

kit::Size KZAIPermissionDisableTipView::intrinsicContentSize() const {
    const double h = __arrowHalfHeight();
    const kit::Size text = titleLabel_ ? titleLabel_->intrinsicContentSize() : kit::Size{};
    const double width = std::min(std::max(0.0, text.width), textFieldMaxWidth());
    return {width + 24 + 2 * h, std::max(0.0, text.height) + 20 + 2 * h};
}

void KZAIPermissionDisableTipView::setupSubviews() {
    addSubview(arrowImageView());
    addSubview(contentView());
    contentView_->addSubview(bgView());
    contentView_->addSubview(titleLabel());
}

void KZAIPermissionDisableTipView::setupSubviewsLayout() {
    const double h = __arrowHalfHeight();
    std::shared_ptr<kit::View> self = shared_from_this();
    kit::makeConstraints(contentView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(self).inset(h); });
    if (hasArrow()) {
        kit::makeConstraints(arrowImageView_, [&](kit::ConstraintMaker& make) {
            make.bottom().equalTo(kit::topOf(contentView_)).offset(h);
            make.size().equalTo(kit::Size{2 * h, 2 * h});
            make.left().equalTo(self).offset(arrowOffsetLeft());
        });
    }
    kit::makeConstraints(bgView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(contentView_); });
    const double maxWidth = textFieldMaxWidth();
    kit::makeConstraints(titleLabel_, [&](kit::ConstraintMaker& make) {
        make.center().equalTo(contentView_);
        make.width().lessThanOrEqualTo(maxWidth);
        make.edges().equalTo(contentView_).insets(kit::EdgeInsets{10, 12, 10, 12});
    });
}
