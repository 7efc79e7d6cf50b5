#include "app/tools/KZPanelTopView.h"

#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"

KZPanelTopView::KZPanelTopView(kit::Rect frame, std::optional<std::string> title)
    : kit::View(frame), title_(std::move(title)) {}

void KZPanelTopView::init() {
    kit::View::init();
    setupSubviews();
    setupLayout();
    if (title_) titleTF()->setStringValue(*title_);
}

const std::shared_ptr<kit::ImageView>& KZPanelTopView::iconImageView() {
    if (!iconImageView_) {
        iconImageView_ = kit::create<kit::ImageView>();
        iconImageView_->setImage(kit::Image::named("kz_tips_bar_logo"));
    }
    return iconImageView_;
}

const std::shared_ptr<kit::Label>& KZPanelTopView::titleTF() {
    if (!titleTF_) {
        titleTF_ = kit::create<kit::Label>();
        titleTF_->setEditable(false);
        titleTF_->setBordered(false);
        titleTF_->setRefusesFirstResponder(true);
        titleTF_->setFont(kit::Font::systemFont(16, kit::FontWeight::Medium));
        titleTF_->setAlignment(kit::TextAlignment::Center);
        titleTF_->setTextColor(kit::Color::black());
        titleTF_->setDrawsBackground(false);
        titleTF_->setUsesSingleLineMode(true);
    }
    return titleTF_;
}

void KZPanelTopView::setupSubviews() {
    setWantsLayer(true);
    updateLayer([](kit::LayerStyle& layer) { layer.backgroundColor = kit::Color::clear(); });
    addSubview(iconImageView());
    addSubview(titleTF());
}

void KZPanelTopView::setupLayout() {
    auto self = shared_from_this();
    kit::makeConstraints(iconImageView_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(self).offset(kLogoInset);
        make.top().equalTo(self).offset(kLogoInset);
        make.width().height().equalTo(kLogoSize);
    });
    kit::makeConstraints(titleTF_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(kit::rightOf(iconImageView_)).offset(kTitleGap);
        make.centerY().equalTo(iconImageView_);
    });
}
