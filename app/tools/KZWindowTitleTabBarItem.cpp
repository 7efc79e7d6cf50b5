#include "app/tools/KZWindowTitleTabBarItem.h"

#include <algorithm>
#include <cmath>

#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/ui/KZHoverView.h"
#include "app/ui/KZImageTint.h"
#include "frameworks/ColorHelpers.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/KZImageLoader.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Text.h"

// ---- Colour views ---------------------------------------------------------------------------------

void KZWindowTitleTabBgView::setupSubviewsColorWithDark(bool dark) {
    setBackgroundColor(dark ? colorWithHex(0x272835) : colorWithHex(0xFFF1D7));
}

void KZWindowTitleTabSelectView::setupSubviewsColorWithDark(bool dark) {
    setBackgroundColor(dark ? colorWithHex(0x5B5E71) : colorWithHex(0xFFFFFF));
}

// ---- Title ----------------------------------------------------------------------------------------

void KZWindowTitleTabTextField::init() {
    kit::Label::init();
    setWantsLayer(true);
    updateLayer([](kit::LayerStyle& layer) {
        kit::GradientMask mask;
        mask.startPoint = {0, 0.5};
        mask.endPoint = {1, 0.5};
        mask.colors = {kit::Color::black(), kit::Color::clear()};
        mask.locations = {0.85, 1.0};
        layer.mask = mask;
    });
}

// ---- Close button ---------------------------------------------------------------------------------

const std::shared_ptr<kit::ImageView>& KZWindowTitleTabButton::imageView() {
    if (!imageView_) {
        imageView_ = kit::create<kit::ImageView>();
        imageView_->setImageScaling(kit::ImageScaling::AxesIndependently);
    }
    return imageView_;
}

const std::shared_ptr<KZHoverView>& KZWindowTitleTabButton::hoverView() {
    if (!hoverView_) {
        hoverView_ = kit::create<KZHoverView>();
        hoverView_->setCornerRadius(4);
        hoverView_->setMasksToBounds(true);
    }
    return hoverView_;
}

void KZWindowTitleTabButton::setupSubviews() {
    addSubview(hoverView());
    addSubview(imageView());
}

void KZWindowTitleTabButton::setupSubviewsLayout() { setNeedsLayout(); }

void KZWindowTitleTabButton::layout() {
    KZView::layout();
    const kit::Rect b = bounds();
    hoverView()->setFrame(b);
    imageView()->setFrame({std::round(b.midX() - 8), std::round(b.midY() - 8), 16, 16});
}

void KZWindowTitleTabButton::setupSubviewsColorWithDark(bool dark) {
    KZView::setupSubviewsColorWithDark(dark);
    kit::Image image = kit::Image::named("title_bar_tab_close");
    imageView()->setImage(dark ? imageWithTintColor(image, kit::Color::white()) : image);
}

std::shared_ptr<kit::View> KZWindowTitleTabButton::hitTest(kit::Point point) {
    if (isHidden() || !frame().contains(point)) return nullptr;
    return shared_from_this();
}

void KZWindowTitleTabButton::mouseUp(const kit::Event& event) {
    // A press that leaves the button before the release is a change of mind, not a close.
    const kit::Point point = convertPointFromView(event.locationInWindow, nullptr);
    if (!bounds().contains(point)) return;
    runMouseUpBlock();
}

bool KZWindowTitleTabButton::accessibilityPerformPress() {
    runMouseUpBlock();
    return true;
}

// ---- Tab item -------------------------------------------------------------------------------------

KZWindowTitleTabBarItem::KZWindowTitleTabBarItem(kit::Rect frame) : kit::View(frame) {}

void KZWindowTitleTabBarItem::init() {
    kit::View::init();
    setupViews();
    setWantsLayer(true);
    setMasksToBounds(true);
}

const std::shared_ptr<KZWindowTitleTabBgView>& KZWindowTitleTabBarItem::bgView() {
    if (!bgView_) bgView_ = kit::create<KZWindowTitleTabBgView>();
    return bgView_;
}

const std::shared_ptr<KZWindowTitleTabSelectView>& KZWindowTitleTabBarItem::selectView() {
    if (!selectView_) selectView_ = kit::create<KZWindowTitleTabSelectView>();
    return selectView_;
}

const std::shared_ptr<KZView>& KZWindowTitleTabBarItem::actionView() {
    if (!actionView_) {
        actionView_ = kit::create<KZView>();
        std::weak_ptr<kit::View> weak = weak_from_this();
        actionView_->setMouseUpBlock([weak](KZView&) {
            auto self = std::static_pointer_cast<KZWindowTitleTabBarItem>(weak.lock());
            if (!self) return;
            if (auto model = self->model()) model->didSelect();
        });
    }
    return actionView_;
}

const std::shared_ptr<KZHoverView>& KZWindowTitleTabBarItem::hoverView() {
    if (!hoverView_) {
        hoverView_ = kit::create<KZHoverView>();
        hoverView_->setGetHoverColor([](bool dark) { return dark ? colorWithHex(0x353742) : colorWithHex(0xFFF8E9); });
    }
    return hoverView_;
}

const std::shared_ptr<kit::View>& KZWindowTitleTabBarItem::lineView() {
    if (!lineView_) {
        lineView_ = kit::create<kit::View>();
        lineView_->setWantsLayer(true);
        lineView_->setBackgroundColor(colorWithHex(0xC7D4E8));
    }
    return lineView_;
}

const std::shared_ptr<kit::View>& KZWindowTitleTabBarItem::stackView() {
    if (!stackView_) stackView_ = kit::create<kit::View>();
    return stackView_;
}

const std::shared_ptr<kit::ImageView>& KZWindowTitleTabBarItem::iconView() {
    if (!iconView_) {
        iconView_ = kit::create<kit::ImageView>();
        iconView_->setWantsLayer(true);
        iconView_->setCornerRadius(0);
        iconView_->setMasksToBounds(true);
        iconView_->setImageScaling(kit::ImageScaling::AxesIndependently);
        iconView_->setAccessibilityLabel("icon");
    }
    return iconView_;
}

const std::shared_ptr<KZWindowTitleTabTextField>& KZWindowTitleTabBarItem::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = kit::create<KZWindowTitleTabTextField>();
        titleLabel_->setEditable(false);
        titleLabel_->setBordered(false);
        titleLabel_->setDrawsBackground(false);
        titleLabel_->setRefusesFirstResponder(true);
        titleLabel_->setFont(kit::Font::systemFont(12));
        titleLabel_->setUsesSingleLineMode(true);
        titleLabel_->setMaximumNumberOfLines(1);
        titleLabel_->setLineBreakMode(kit::LineBreakMode::Clipping);
        titleLabel_->setAlignment(kit::TextAlignment::Left);
        titleLabel_->setTextColor(JWAppThemeHelper::getAiTitleColor());
        titleLabel_->setContentHuggingPriority(50, kit::View::Axis::Horizontal);
        titleLabel_->setContentCompressionResistancePriority(50, kit::View::Axis::Horizontal);
    }
    return titleLabel_;
}

const std::shared_ptr<KZWindowTitleTabButton>& KZWindowTitleTabBarItem::closeButton() {
    if (!closeButton_) {
        closeButton_ = kit::create<KZWindowTitleTabButton>();
        closeButton_->setAccessibilityLabel(KZLocalizedString("关闭"));
        std::weak_ptr<kit::View> weak = weak_from_this();
        closeButton_->setMouseUpBlock([weak](KZView& sender) {
            if (auto self = std::static_pointer_cast<KZWindowTitleTabBarItem>(weak.lock())) self->onClickRemoveButton(sender);
        });
        // Its hover colour depends on whether its tab is the selected one.
        std::weak_ptr<KZWindowTitleTabButton> button = closeButton_;
        closeButton_->hoverView()->setGetHoverColor([button](bool dark) {
            auto b = button.lock();
            if (!dark) return colorWithHex(0xF4E8D7);
            return (b && b->isSelected()) ? colorWithHex(0x353742) : colorWithHex(0x5B5E71);
        });
    }
    return closeButton_;
}

void KZWindowTitleTabBarItem::setupViews() {
    addSubview(bgView());
    addSubview(selectView());
    addSubview(hoverView());
    addSubview(actionView());
    addSubview(lineView());
    addSubview(stackView());
    stackView()->addSubview(iconView());
    stackView()->addSubview(titleLabel());
    stackView()->addSubview(closeButton());
    setNeedsLayout();
}

void KZWindowTitleTabBarItem::layout() {
    kit::View::layout();
    const kit::Rect b = bounds();
    for (const auto& fill : {std::static_pointer_cast<kit::View>(bgView()), std::static_pointer_cast<kit::View>(selectView()),
                             std::static_pointer_cast<kit::View>(hoverView()), std::static_pointer_cast<kit::View>(actionView())})
        fill->setFrame(b);
    lineView()->setFrame({b.maxX() - 1, std::round(b.midY() - 10), 1, 20});

    // The row: icon, title, close button, 5 apart, 12 in from either edge; the title takes what
    // is left and is the first to shrink.
    const double rowWidth = std::max(0.0, b.width() - 2 * kStackInset);
    const double titleHeight = std::ceil(titleLabel()->intrinsicContentSize().height);
    const double rowHeight = std::max({kIconSize, kCloseSize, titleHeight});
    stackView()->setFrame({kStackInset, std::round(b.midY() - rowHeight / 2), rowWidth, rowHeight});
    const double titleWidth = std::max(0.0, rowWidth - kIconSize - kCloseSize - 2 * kStackSpacing);
    iconView()->setFrame({0, std::round((rowHeight - kIconSize) / 2), kIconSize, kIconSize});
    titleLabel()->setFrame(
        {kIconSize + kStackSpacing, std::round((rowHeight - titleHeight) / 2), titleWidth, titleHeight});
    closeButton()->setFrame({std::max(0.0, rowWidth - kCloseSize), std::round((rowHeight - kCloseSize) / 2), kCloseSize,
                             kCloseSize});
}

std::shared_ptr<kit::View> KZWindowTitleTabBarItem::hitTest(kit::Point point) {
    if (isHidden() || !frame().contains(point)) return nullptr;
    const kit::Point local = {point.x - frame().minX() + bounds().minX(), point.y - frame().minY() + bounds().minY()};
    const kit::Point inStack = {local.x - stackView()->frame().minX(), local.y - stackView()->frame().minY()};
    if (auto hit = closeButton()->hitTest(inStack)) return hit;
    return actionView();
}

void KZWindowTitleTabBarItem::setModel(std::shared_ptr<KZWindowTitleTabBarItemModel> model) {
    model_ = std::move(model);
    if (model_) model_->setAssociateTabBarItem(std::static_pointer_cast<KZWindowTitleTabBarItem>(shared_from_this()));
    refresh();
}

void KZWindowTitleTabBarItem::refresh() {
    if (!model_) return;
    // Icon: the resource image at once, the remote one (when there is one) once it has loaded.
    kit::Image placeholder = model_->iconName().empty() ? kit::Image{} : kit::Image::named(model_->iconName());
    sd_setImageWithURL(iconView(), model_->iconURL(), std::move(placeholder));
    titleLabel()->setStringValue(kit::isolatedText(model_->title()));
    const bool selected = model_->isSelected();
    lineView()->setHidden(selected);
    hoverView()->setHidden(selected);
    selectView()->setHidden(!selected);
    closeButton()->setSelect(selected);
    closeButton()->hoverView()->setNeedsDisplay();
}

void KZWindowTitleTabBarItem::setIsHovered(bool hovered) {
    hoverView()->setIsHovered(hovered);
    closeButton()->hoverView()->setIsHovered(hovered);
}

void KZWindowTitleTabBarItem::onClickRemoveButton(KZView&) {
    // The remove handler may take this item out of the strip: keep it until the click is over.
    auto self = shared_from_this();
    if (model_) model_->didRemove();
}

void KZWindowTitleTabBarItem::viewDidChangeEffectiveAppearance() {
    kit::View::viewDidChangeEffectiveAppearance();
    // The title colour follows the appearance like the rest of the tab.
    titleLabel()->setTextColor(JWAppThemeHelper::getAiTitleColor());
}
