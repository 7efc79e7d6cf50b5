#include "app/windows/KZLoginStateWindowController.h"

#include "app/core/KZAIUserManager.h"
#include "app/ui/KZBackgroundView.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZHoverView.h"
#include "app/ui/KZImageView.h"
#include "app/ui/KZLineView.h"
#include "app/ui/KZThemedTextField.h"
#include "app/windows/KZSideSettingsWindowController.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/KZImageLoader.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

namespace {
constexpr const char* kDefaultAvatar = "title_bar_user_avatar_default";
}

bool KZLoginStateWindowController::__isUserLogin() const { return KZAIUserManager::shared().isLogin(); }
std::optional<std::string> KZLoginStateWindowController::__userAvatar() const {
    return KZAIUserManager::shared().avatarUrl();
}
std::string KZLoginStateWindowController::__userName() const { return KZAIUserManager::shared().userName(); }

const std::shared_ptr<KZImageView>& KZLoginStateWindowController::avatarView() {
    if (!avatarView_) {
        avatarView_ = kit::create<KZImageView>();
        avatarView_->setWantsLayer(true);
        avatarView_->setCornerRadius(16);
        avatarView_->setMasksToBounds(true);
        avatarView_->setImageScaling(kit::ImageScaling::ProportionallyUpOrDown);
    }
    return avatarView_;
}

const std::shared_ptr<KZThemedTextField>& KZLoginStateWindowController::nameLabel() {
    if (!nameLabel_) {
        nameLabel_ = kit::create<KZThemedTextField>();
        nameLabel_->setEditable(false);
        nameLabel_->setBordered(false);
        nameLabel_->setRefusesFirstResponder(true);
        nameLabel_->setFont(kit::Font::systemFont(16));
        nameLabel_->setAlignment(kit::TextAlignment::Left);
        nameLabel_->setTextThemeColor(&JWAppThemeHelper::getAiTitleColor);
        nameLabel_->setDrawsBackground(false);
        nameLabel_->setLineBreakMode(kit::LineBreakMode::TruncatingTail);
        nameLabel_->setUsesSingleLineMode(true);
    }
    return nameLabel_;
}

const std::shared_ptr<KZWindowLoginBackgroundView>& KZLoginStateWindowController::bgView() {
    if (!bgView_) bgView_ = kit::create<KZWindowLoginBackgroundView>();
    return bgView_;
}

const std::shared_ptr<KZLineView>& KZLoginStateWindowController::lineView() {
    if (!lineView_) lineView_ = kit::create<KZLineView>(kit::Rect{});
    return lineView_;
}

const std::shared_ptr<KZCustomViewButton>& KZLoginStateWindowController::loginButton() {
    if (!loginButton_) {
        loginButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
        loginButton_->setButtonTitle(KZLocalizedString("登录"));
        loginButton_->addTarget(std::static_pointer_cast<KZLoginStateWindowController>(shared_from_this()),
                                &KZLoginStateWindowController::onClickLoginButton);
    }
    return loginButton_;
}

const std::shared_ptr<KZCustomViewButton>& KZLoginStateWindowController::logoutButton() {
    if (!logoutButton_) {
        logoutButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIconText);
        logoutButton_->setButtonThemedImageName("title_bar_user_logout", kit::EdgeInsets{4, 2, 4, 2});
        logoutButton_->setButtonTitle(KZLocalizedString("退出登录"));
        logoutButton_->setDefaultTitleThemeColor(11);
        logoutButton_->setDownTitleColor(JWAppThemeHelper::getColor(12, true));
        auto& hover = logoutButton_->hoverView();
        hover->setGetHoverColor([](bool) { return JWAppThemeHelper::getColor(15); });
        hover->setGetPressColor([](bool) { return JWAppThemeHelper::getColor(14); });
        logoutButton_->addTarget(std::static_pointer_cast<KZLoginStateWindowController>(shared_from_this()),
                                 &KZLoginStateWindowController::onClickLogoutButton);
    }
    return logoutButton_;
}

void KZLoginStateWindowController::setupSubviews() {
    KZBasePopoverWindowController::setupSubviews();
    auto& content = contentView();
    content->addSubview(bgView());
    content->addSubview(avatarView());
    content->addSubview(nameLabel());
    content->addSubview(lineView());
    content->addSubview(loginButton());
    content->addSubview(logoutButton());
}

void KZLoginStateWindowController::setupSubViewsLayout() {
    KZBasePopoverWindowController::setupSubViewsLayout();
    nameLabel_->setContentCompressionResistancePriority(500, kit::View::Axis::Horizontal);
    auto content = contentView();
    kit::makeConstraints(bgView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(content).inset(0); });
    kit::makeConstraints(avatarView_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(20);
        make.top().equalTo(content).offset(10);
        make.size().equalTo(kit::Size{32, 32});
    });
    kit::makeConstraints(nameLabel_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(kit::rightOf(avatarView_)).offset(5);
        make.right().equalTo(content).offset(-5);
        make.centerY().equalTo(avatarView_).offset(2);
        make.height().equalTo(22);
    });
    kit::makeConstraints(lineView_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(20);
        make.right().equalTo(content).offset(-20);
        make.top().equalTo(kit::bottomOf(avatarView_)).offset(10);
        make.height().equalTo(1);
    });
    for (const auto& button : {loginButton_, logoutButton_}) {
        kit::makeConstraints(button, [&](kit::ConstraintMaker& make) {
            make.left().equalTo(content).offset(20);
            make.right().equalTo(content).offset(-20);
            make.top().equalTo(kit::bottomOf(lineView_)).offset(10);
            make.height().equalTo(24);
        });
    }
}

void KZLoginStateWindowController::showWindowTopRightPoint(kit::Point point) {
    // The default picture follows the appearance while it is shown: until a load ends, after a
    // failed one, or for good.
    avatarView()->setThemedImageName(kDefaultAvatar);
    avatarView_->setAccessibilityLabel(KZLocalizedString("头像"));
    nameLabel()->setStringValue(KZLocalizedString("未登录"));
    const bool login = __isUserLogin();
    if (login) {
        // Only addresses the image loader fetches (http, https, data): anything else, a local
        // file above all, keeps the default picture.
        if (auto avatar = __userAvatar(); avatar && KZImageLoader::isFetchableAddress(*avatar))
            sd_setImageWithURL(avatarView_, *avatar, avatarView_->image());
        if (auto name = __userName(); !name.empty()) nameLabel_->setStringValue(name);
    }
    loginButton()->setHidden(login);
    logoutButton()->setHidden(!login);
    placePopoverTopRight(*window(), point, kGapBelowPoint);
    showWindow();
}

void KZLoginStateWindowController::onClickLoginButton(KZCustomViewButton&) {
    close();
    if (onClickLogin_) {
        auto block = onClickLogin_;
        block();
    }
}

void KZLoginStateWindowController::onClickLogoutButton(KZCustomViewButton&) {
    HXReport::reportButtonClick(21077);
    close();
    if (onClickLogout_) {
        auto block = onClickLogout_;
        block();
    }
}
