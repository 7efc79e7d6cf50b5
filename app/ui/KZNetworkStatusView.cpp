#include "app/ui/KZNetworkStatusView.h"

#include "app/ui/KZCustomViewButton.h"
#include "frameworks/ColorHelpers.h"
#include "kit/ui/Create.h"
#include "kit/ui/Image.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/StackView.h"

KZNetworkStatusView::KZNetworkStatusView(std::uint64_t style, kit::Rect frame) : kit::View(frame), style_(style) {}

std::shared_ptr<KZNetworkStatusView> KZNetworkStatusView::initWithStyle(std::uint64_t style) {
    return kit::create<KZNetworkStatusView>(style);
}

void KZNetworkStatusView::init() {
    kit::View::init();
    setupSubviews();
    setupStyle();
    setupLayout();
}

const std::shared_ptr<kit::StackView>& KZNetworkStatusView::stackView() {
    if (!stackView_) {
        stackView_ = kit::create<kit::StackView>();
        stackView_->setOrientation(kit::StackOrientation::Vertical);
        stackView_->setAlignment(kit::StackAlignment::Center);
    }
    return stackView_;
}

const std::shared_ptr<kit::ImageView>& KZNetworkStatusView::imageView() {
    if (!imageView_) {
        imageView_ = kit::create<kit::ImageView>();
        imageView_->setImageScaling(kit::ImageScaling::ProportionallyUpOrDown);
    }
    return imageView_;
}

const std::shared_ptr<kit::Label>& KZNetworkStatusView::descTF() {
    if (!descTF_) {
        descTF_ = kit::create<kit::Label>();
        descTF_->setEditable(false);
        descTF_->setBordered(false);
        descTF_->setRefusesFirstResponder(true);
        descTF_->setFont(kit::Font::systemFont(12));
        descTF_->setAlignment(kit::TextAlignment::Center);
        descTF_->setTextColor(colorWithHex(0x4D4D4D));
        descTF_->setDrawsBackground(false);
        descTF_->setTextBackgroundColor(kit::Color::clear());
        descTF_->setUsesSingleLineMode(true);
    }
    return descTF_;
}

const std::shared_ptr<KZCustomViewButton>& KZNetworkStatusView::button() {
    if (!button_ && style_ == KZNetworkStatusViewStyleImageTextButton) {
        button_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
        button_->addTarget(std::static_pointer_cast<KZNetworkStatusView>(shared_from_this()),
                           &KZNetworkStatusView::clickBtnAction);
    }
    return button_;
}

void KZNetworkStatusView::setupSubviews() {
    setWantsLayer(true);
    setBackgroundColor(kit::Color::white());
    addSubview(stackView());
}

void KZNetworkStatusView::setupStyle() {
    kit::Size imageSize;
    switch (style_) {
        case KZNetworkStatusViewStyleImageText: imageSize = kImageSizeStyle0; break;
        case KZNetworkStatusViewStyleImageTextButton: imageSize = kImageSizeStyle1; break;
        default: return;
    }
    auto& image = imageView();
    image->setFrameSize(imageSize);
    // The stack sizes its views by their constraints before their images: pin the picture's size.
    kit::makeConstraints(image, [&](kit::ConstraintMaker& make) { make.size().equalTo(imageSize); });
    auto& stack = stackView();
    stack->addArrangedSubview(image);
    stack->setCustomSpacing(kSpacingAfterImage, image);
    stack->addArrangedSubview(descTF());
    if (style_ == KZNetworkStatusViewStyleImageTextButton) {
        stack->setCustomSpacing(kSpacingAfterText, descTF());
        auto& btn = button();
        btn->setFrameSize(kButtonSize);
        kit::makeConstraints(btn, [&](kit::ConstraintMaker& make) { make.size().equalTo(kButtonSize); });
        stack->addArrangedSubview(btn);
    }
}

void KZNetworkStatusView::setupLayout() {
    auto self = shared_from_this();
    kit::makeConstraints(stackView(), [&](kit::ConstraintMaker& make) { make.center().equalTo(self).offset(0); });
}

void KZNetworkStatusView::setImageName(std::string imageName) {
    imageName_ = std::move(imageName);
    imageView()->setImage(kit::Image::named(imageName_));
}

void KZNetworkStatusView::setDescText(std::string descText) {
    descText_ = std::move(descText);
    descTF()->setStringValue(descText_);
    stackView()->setNeedsLayout();
}

void KZNetworkStatusView::setButtonTitle(std::string buttonTitle) {
    buttonTitle_ = std::move(buttonTitle);
    if (auto& btn = button()) btn->setButtonTitle(buttonTitle_);
}

void KZNetworkStatusView::mouseDown(const kit::Event&) {}

void KZNetworkStatusView::clickBtnAction(KZCustomViewButton&) {
    if (!clickEvent_) return;
    // A copy: the block may replace itself or release the view.
    auto keep = shared_from_this();
    ClickEvent run = clickEvent_;
    run(*this);
}
