#include "app/ui/KZCustomViewButton.h"

#include <algorithm>

#include "app/ui/KZAcceptsFirstMouseViews.h"
#include "app/ui/KZHoverView.h"
#include "frameworks/ColorHelpers.h"
#include "frameworks/JWAppThemeHelper.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

namespace {
kit::Color theme(int index) { return JWAppThemeHelper::getColor(index); }
}  // namespace

KZCustomViewButton::KZCustomViewButton(kit::Rect frame) : KZView(frame) {}

void KZCustomViewButton::init() {
    KZView::init();
    enabled_ = true;
    setWantsLayer(true);
    setMasksToBounds(true);
    setBackgroundColor(kit::Color::clear());
    setAccessibilityRole("AXButton");
    _setupSubviews();
}

std::shared_ptr<KZCustomViewButton> KZCustomViewButton::buttonWithStyle(std::uint64_t style) {
    auto button = kit::create<KZCustomViewButton>();
    button->setButtonStyle(style);
    return button;
}

// Subviews.

const std::shared_ptr<KZHoverView>& KZCustomViewButton::hoverView() {
    if (!hoverView_) {
        hoverView_ = kit::create<KZHoverView>();
        hoverView_->setCornerRadius(2);
        hoverView_->setMasksToBounds(true);
    }
    return hoverView_;
}

const std::shared_ptr<KZAcceptsFirstMouseImageView>& KZCustomViewButton::imageView() {
    if (!imageView_) {
        imageView_ = kit::create<KZAcceptsFirstMouseImageView>();
        imageView_->setWantsLayer(true);
        imageView_->setCornerRadius(0);
        imageView_->setMasksToBounds(true);
        imageView_->setImageScaling(kit::ImageScaling::ProportionallyUpOrDown);
    }
    return imageView_;
}

const std::shared_ptr<KZAcceptsFirstMouseTextField>& KZCustomViewButton::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = kit::create<KZAcceptsFirstMouseTextField>();
        titleLabel_->setEditable(false);
        titleLabel_->setBordered(false);
        titleLabel_->setRefusesFirstResponder(true);
        titleLabel_->setFont(kit::Font::systemFont(14));
        titleLabel_->setAlignment(kit::TextAlignment::Center);
        titleLabel_->setTextColor(kit::Color::black());
        titleLabel_->setDrawsBackground(false);
        titleLabel_->setUsesSingleLineMode(true);
    }
    return titleLabel_;
}

void KZCustomViewButton::_setupSubviews() {  // NOLINT(bugprone-virtual-near-miss): see the declaration
    addSubview(hoverView());
    addSubview(imageView());
    hoverView_->addSubview(titleLabel());
    std::weak_ptr<kit::View> weakSelf = weak_from_this();
    kit::makeConstraints(hoverView_, [&](kit::ConstraintMaker& make) {
        if (auto self = weakSelf.lock()) make.edges().equalTo(self).inset(0);
    });
}

// Styles.

void KZCustomViewButton::setButtonStyle(std::uint64_t style) {
    if (style == buttonStyle_) return;
    buttonStyle_ = style;
    _layoutSubviews();
    switch (style) {
        case KZCustomViewButtonStylePrimary: _setupButtonStylePrimary(); break;
        case KZCustomViewButtonStyleSecondary: _setupButtonStyleSecondary(); break;
        case KZCustomViewButtonStyleText: _setupButtonStyleText(); break;
        case KZCustomViewButtonStyleIcon: _setupButtonStyleIcon(); break;
        case KZCustomViewButtonStyleIconText: _setupButtonStyleIconText(); break;
        case KZCustomViewButtonStyleAvatar: _setupButtonStyleAvatar(); break;
        case KZCustomViewButtonStyleIconWhite: _setupButtonStyleIconWhite(); break;
        default: break;
    }
}

void KZCustomViewButton::_setupButtonStylePrimary() {
    hoverView_->setGetDefaultColor([](bool) { return colorWithHex(0x58CE9B); });
    hoverView_->setGetHoverColor([](bool) { return colorWithHex(0x5FDEA6); });
    hoverView_->setGetPressColor([](bool) { return colorWithHex(0x07A36F); });
    setDefaultTitleColor(kit::Color::white());
    setDefaultBorderColor(kit::Color::clear());
    setBorderWidth(0);
    setBorderCornerRadius(2);
}

void KZCustomViewButton::_setupButtonStyleSecondary() {
    hoverView_->setGetDefaultColor(nullptr);
    hoverView_->setGetHoverColor([](bool) { return kit::Color::clear(); });
    hoverView_->setGetPressColor([](bool) { return kit::Color::clear(); });
    setTitleAlignment(kit::TextAlignment::Center);
    setDownTitleColor(colorWithHex(0x07A36F));
    setSetupSubviewsColorBlock([](KZView& view, bool dark) {
        static_cast<KZCustomViewButton&>(view).setDefaultBorderColor(dark ? colorWithHex(0xFFFFFF, 0.9)
                                                                          : colorWithHex(0x9A9A9A, 0.2));
    });
    setDownBorderColor(colorWithHex(0x07A36F));
    setThemeColors({11, 3, 3});
    setBorderWidth(1);
    setBorderCornerRadius(2);
}

void KZCustomViewButton::_setupButtonStyleText() {
    hoverView_->setGetDefaultColor(nullptr);
    hoverView_->setGetHoverColor([](bool) { return kit::Color::clear(); });
    hoverView_->setGetPressColor([](bool) { return kit::Color::clear(); });
    setDownTitleColor(colorWithHex(0x07A36F));
    setThemeColors({11, 3, std::nullopt});
    setBorderWidth(0);
    setBorderCornerRadius(0);
}

void KZCustomViewButton::_setupButtonStyleIcon() {
    hoverView_->setGetDefaultColor(nullptr);
    hoverView_->setGetHoverColor([](bool) { return theme(18); });
    hoverView_->setGetPressColor([](bool) { return theme(19); });
    setBorderWidth(0);
    setBorderCornerRadius(0);
}

void KZCustomViewButton::_setupButtonStyleIconText() {
    _setupButtonStyleIcon();
    setThemeColors({10, std::nullopt, std::nullopt});
}

void KZCustomViewButton::_setupButtonStyleAvatar() {
    hoverView_->setGetDefaultColor(nullptr);
    hoverView_->setGetHoverColor([](bool) { return colorWithHex(0xFFFFFF, 0.8); });
    hoverView_->setGetPressColor([](bool) { return kit::Color::clear(); });
    setBorderWidth(0);
    setBorderCornerRadius(0);
}

void KZCustomViewButton::_setupButtonStyleIconWhite() {
    hoverView_->setGetDefaultColor(nullptr);
    hoverView_->setGetHoverColor([](bool dark) { return dark ? colorWithHex(0xFFFFFF, 0.1) : kit::Color::white(); });
    hoverView_->setGetPressColor([](bool dark) { return dark ? colorWithHex(0xFFFFFF, 0.2) : colorWithHex(0xFAF9F7); });
    setDefaultBorderColor(kit::Color::clear());
    setBorderWidth(1);
    setBorderCornerRadius(4);
}

// Content.

void KZCustomViewButton::setButtonTitle(std::string title) {
    title_ = std::move(title);
    titleLabel_->setStringValue(title_);
    _layoutTitleLabel();
}

void KZCustomViewButton::setButtonImageName(std::string_view name) { setButtonImageName(name, {}); }

void KZCustomViewButton::setButtonImageName(std::string_view name, kit::EdgeInsets contentInset) {
    setButtonImage(kit::Image::named(name), contentInset);
}

void KZCustomViewButton::setButtonImage(kit::Image image) { setButtonImage(std::move(image), {}); }

void KZCustomViewButton::setButtonImage(kit::Image image, kit::EdgeInsets contentInset) {
    contentInset_ = contentInset;
    imageView_->setImage(std::move(image));
    _layoutImageView();
    // The icon-and-text title hangs off the image.
    if (buttonStyle_ == KZCustomViewButtonStyleIconText) _layoutTitleLabel();
}

void KZCustomViewButton::setButtonThemedImageName(std::string_view name, kit::EdgeInsets contentInset) {
    imageView_->setThemedImageName(std::string(name));
    setButtonImage(imageView_->image(), contentInset);
}

// Appearance setters.

void KZCustomViewButton::setThemeColors(ThemeIndices indices) {
    // Indices a style leaves out keep the colour (and the index) the button had.
    if (indices.defaultTitle) setDefaultTitleColor(theme(*indices.defaultTitle));
    if (indices.hoverTitle) setHoverTitleColor(theme(*indices.hoverTitle));
    if (indices.hoverBorder) setHoverBorderColor(theme(*indices.hoverBorder));
    if (indices.defaultTitle) themeIndices_.defaultTitle = indices.defaultTitle;
    if (indices.hoverTitle) themeIndices_.hoverTitle = indices.hoverTitle;
    if (indices.hoverBorder) themeIndices_.hoverBorder = indices.hoverBorder;
}

void KZCustomViewButton::viewDidChangeEffectiveAppearance() {
    KZView::viewDidChangeEffectiveAppearance();
    if (themeIndices_.hoverTitle) hoverTitleColor_ = theme(*themeIndices_.hoverTitle);
    if (themeIndices_.hoverBorder) hoverBorderColor_ = theme(*themeIndices_.hoverBorder);
    if (themeIndices_.defaultTitle) {
        defaultTitleColor_ = theme(*themeIndices_.defaultTitle);
        if (!enabled_ || (!down_ && !hover_)) titleLabel_->setTextColor(*defaultTitleColor_);
    }
    _updateViews();
}

void KZCustomViewButton::setHoverTitleColor(OptionalColor color) {
    hoverTitleColor_ = color;
    themeIndices_.hoverTitle.reset();
}

void KZCustomViewButton::setHoverBorderColor(OptionalColor color) {
    hoverBorderColor_ = color;
    themeIndices_.hoverBorder.reset();
}

void KZCustomViewButton::setDefaultBorderColor(OptionalColor color) {
    defaultBorderColor_ = color;
    if (color) setBorderColor(*color);
}

void KZCustomViewButton::setBorderCornerRadius(float radius) {
    borderCornerRadius_ = radius;
    setCornerRadius(radius);
}

void KZCustomViewButton::setBorderWidth(float width) {
    borderWidth_ = width;
    KZView::setBorderWidth(width);
}

void KZCustomViewButton::setDefaultTitleColor(OptionalColor color) {
    defaultTitleColor_ = color;
    themeIndices_.defaultTitle.reset();
    if (color) titleLabel_->setTextColor(*color);
}

void KZCustomViewButton::setTitleAlignment(kit::TextAlignment alignment) {
    titleAlignment_ = alignment;
    titleLabel_->setAlignment(alignment);
}

void KZCustomViewButton::setTitleFont(kit::Font font) {
    titleFont_ = font;
    titleLabel_->setFont(std::move(font));
    _layoutTitleLabel();
}

// Layout, by frame arithmetic: the hover view fills the button, so the title's frame in the
// hover view is its frame in the button.

void KZCustomViewButton::layout() {
    KZView::layout();
    _layoutSubviews();
}

void KZCustomViewButton::_layoutSubviews() {
    _layoutImageView();
    _layoutTitleLabel();
}

void KZCustomViewButton::_layoutImageView() {
    const kit::Rect b = bounds();
    const kit::Size imageSize = imageView_->image().size();
    const double aspect = (imageView_->image().isNull() || imageSize.height == 0) ? 1.0 : imageSize.width / imageSize.height;
    const double height = std::max(0.0, b.height() - contentInset_.top - contentInset_.bottom);
    const double width = height * aspect;
    // The top is `top` below the button's top; in unflipped coordinates the origin is then `bottom` up.
    imageView_->setFrame({contentInset_.left, b.height() - contentInset_.top - height, width, height});
}

void KZCustomViewButton::_layoutTitleLabel() {
    const kit::Rect b = bounds();
    const kit::Size natural = titleLabel_->intrinsicContentSize();
    const double height = std::max(0.0, natural.height);
    if (buttonStyle_ == KZCustomViewButtonStyleIconText) {
        const kit::Rect image = imageView_->frame();
        titleLabel_->setFrame({image.maxX() + 5, image.midY() - height / 2, std::max(0.0, natural.width), height});
        return;
    }
    titleLabel_->setFrame({0, b.midY() - height / 2, b.width(), height});
}

// States.

void KZCustomViewButton::_updateViews() {
    _updateBorderColor();
    _updateTitleColor();
}

void KZCustomViewButton::_updateBorderColor() {
    if (!enabled_) return;
    OptionalColor color;
    if (down_) {
        color = downBorderColor_;
    } else if (hover_ && hoverBorderColor_) {
        color = hoverBorderColor_;
    } else {
        color = defaultBorderColor_;
    }
    if (color) setBorderColor(*color);
}

void KZCustomViewButton::_updateTitleColor() {
    if (!enabled_ || title_.empty()) return;
    OptionalColor color;
    if (down_) {
        color = downTitleColor_;
    } else if (hover_ && hoverTitleColor_) {
        color = hoverTitleColor_;
    } else {
        color = defaultTitleColor_;
    }
    if (color) titleLabel_->setTextColor(*color);
}

bool KZCustomViewButton::_mouseInView() const {
    auto window = this->window();
    if (!window || isHidden()) return false;
    const kit::Point inWindow = window->convertPointFromScreen(kit::Event::mouseLocation());
    return visibleRect().contains(convertPointFromView(inWindow, nullptr));
}

std::shared_ptr<kit::View> KZCustomViewButton::hitTest(kit::Point point) {
    auto hit = KZView::hitTest(point);
    if (hit && (hit == imageView_ || hit == titleLabel_) && !hoverView_->isHidden()) return hoverView_;
    return hit;
}

void KZCustomViewButton::updateTrackingAreas() {
    KZView::updateTrackingAreas();
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = kit::TrackingArea::make(bounds(), kit::TrackingMouseEnteredAndExited | kit::TrackingActiveAlways,
                                            weak_from_this());
    addTrackingArea(trackingArea_);
}

void KZCustomViewButton::mouseEntered(const kit::Event&) {
    hover_ = true;
    _updateViews();
}

void KZCustomViewButton::mouseExited(const kit::Event&) {
    hover_ = false;
    _updateViews();
}

void KZCustomViewButton::mouseDown(const kit::Event&) {
    down_ = true;
    _updateViews();
}

void KZCustomViewButton::mouseUp(const kit::Event&) {
    auto self = shared_from_this();
    down_ = false;
    if (_mouseInView() && enabled_) {
        hover_ = false;
        sendAction();
    }
    _updateViews();
}

void KZCustomViewButton::sendAction() {
    if (!action_) return;
    // The action may close the window or remove the button; the button outlives the event.
    kit::Application::shared().releaseLater(shared_from_this());
    auto action = action_;
    action(*this);
}

// Accessibility.

std::string KZCustomViewButton::accessibilityLabel() const {
    if (titleLabel_ && !titleLabel_->stringValue().empty()) return titleLabel_->stringValue();
    return KZView::accessibilityLabel();
}

bool KZCustomViewButton::accessibilityPerformPress() {
    if (enabled_) {
        auto self = shared_from_this();
        sendAction();
    }
    return enabled_;
}
