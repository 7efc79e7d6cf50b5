#include "app/tools/KZTabWindowTipView.h"

#include <cmath>

#include "frameworks/ColorHelpers.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"

namespace {
constexpr double kLeading = 18;
constexpr double kIconSize = 20;
constexpr double kIconGap = 6;
constexpr double kTrailing = 18;
constexpr double kVertical = 11;
}  // namespace

void KZTabWindowTipView::setTipValue(std::string value) {
    tipValue_ = std::move(value);
    titleLabel()->setStringValue(tipValue_);
    invalidateIntrinsicContentSize();
    setNeedsLayout();
}

const std::shared_ptr<kit::ImageView>& KZTabWindowTipView::imageView() {
    if (!imageView_) {
        imageView_ = kit::create<kit::ImageView>();
        imageView_->setImage(kit::Image::named("kz_window_confirm_close_icon"));
        imageView_->setImageScaling(kit::ImageScaling::AxesIndependently);
    }
    return imageView_;
}

const std::shared_ptr<kit::Label>& KZTabWindowTipView::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = kit::create<kit::Label>();
        titleLabel_->setEditable(false);
        titleLabel_->setBordered(false);
        titleLabel_->setDrawsBackground(false);
        titleLabel_->setRefusesFirstResponder(true);
        titleLabel_->setFont(kit::Font::systemFont(12));
        titleLabel_->setUsesSingleLineMode(true);
        titleLabel_->setMaximumNumberOfLines(1);
        titleLabel_->setTextColor(colorWithHex(0x131624));
        titleLabel_->setLineBreakMode(kit::LineBreakMode::TruncatingTail);
    }
    return titleLabel_;
}

const std::shared_ptr<KZView>& KZTabWindowTipView::backgroundView() {
    if (!backgroundView_) {
        backgroundView_ = kit::create<KZView>();
        backgroundView_->setCornerRadius(5);
        backgroundView_->setMasksToBounds(true);
        backgroundView_->setBackgroundColor(kit::Color::white());
    }
    return backgroundView_;
}

void KZTabWindowTipView::setupSubviews() {
    addSubview(backgroundView());
    addSubview(imageView());
    addSubview(titleLabel());
}

void KZTabWindowTipView::setupSubviewsLayout() { setNeedsLayout(); }

kit::Size KZTabWindowTipView::intrinsicContentSize() const {
    const kit::Size text = titleLabel_ ? titleLabel_->intrinsicContentSize() : kit::Size{0, 0};
    return {std::ceil(text.width) + kLeading + kIconSize + kIconGap + kTrailing, std::ceil(text.height) + 2 * kVertical};
}

void KZTabWindowTipView::layout() {
    KZView::layout();
    const kit::Rect b = bounds();
    backgroundView()->setFrame(b);
    imageView()->setFrame({kLeading, std::round(b.midY() - kIconSize / 2), kIconSize, kIconSize});
    const double x = kLeading + kIconSize + kIconGap;
    titleLabel()->setFrame({x, kVertical, std::max(0.0, b.width() - x - kTrailing), std::max(0.0, b.height() - 2 * kVertical)});
}
