#include "app/windows/KZAILoginWindowController.h"

#include "app/core/KZAIUserManager.h"
#include "app/core/KZBundleInfo.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZHoverView.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZWebTypes.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Layout.h"

KZAILoginWindowController::KZAILoginWindowController(bool hasTitleBar, kit::Size windowSize)
    : KZBaseWindowController(hasTitleBar, windowSize) {}

void KZAILoginWindowController::customInit() {
    auto w = window();
    for (auto kind : {kit::WindowButton::Miniaturize, kit::WindowButton::Zoom})
        if (auto button = w->standardWindowButton(kind)) button->setHidden(true);
    w->setMinSize(w->frame().size);
    w->setMaxSize(w->frame().size);
    w->setLevel(1);
    auto self = std::static_pointer_cast<KZAILoginWindowController>(shared_from_this());
    std::weak_ptr<KZAILoginWindowController> weak = self;
    // Registered under the controller's address: the base class removes it when it goes.
    kit::NotificationCenter::defaultCenter().addObserver(
        shared_from_this(), kKZAIUserLoginStateChangedNotification, nullptr, [weak](const kit::Notification&) {
            if (auto strong = weak.lock()) strong->onUserLoginStateChanged();
        });
    w->setDelegate(std::static_pointer_cast<kit::WindowDelegate>(self));
}

std::string KZAILoginWindowController::windowTitle() { return KZLocalizedString("登录Quarn AI助手"); }

const std::shared_ptr<kit::ImageView>& KZAILoginWindowController::topImageView() {
    if (!topImageView_) {
        topImageView_ = kit::create<kit::ImageView>();
        topImageView_->setImage(kit::Image::named("kz_login_window_top"));
        topImageView_->setImageScaling(kit::ImageScaling::AxesIndependently);
        topImageView_->setAccessibilityLabel(KZLocalizedString("登录即可解锁AI功能无限次使用"));
    }
    return topImageView_;
}

const std::shared_ptr<KZAIWebView>& KZAILoginWindowController::loginWebView() {
    if (!loginWebView_) {
        loginWebView_ = kit::create<KZAIWebView>();
        loginWebView_->setShowsRefreshButtonInErrorView(false);
        loginWebView_->setDelegate(
            std::static_pointer_cast<KZAIWebViewDelegate>(std::static_pointer_cast<KZAILoginWindowController>(shared_from_this())));
    }
    return loginWebView_;
}

const std::shared_ptr<KZCustomViewButton>& KZAILoginWindowController::flushButton() {
    if (!flushButton_) {
        flushButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
        flushButton_->setButtonImageName("title_bar_login_flush", kit::EdgeInsets{2, 2, 2, 2});
        flushButton_->setAccessibilityLabel(KZLocalizedString("刷新"));
        flushButton_->hoverView()->setGetHoverColor([](bool) { return JWAppThemeHelper::getColor(18, true); });
        flushButton_->hoverView()->setGetPressColor([](bool) { return JWAppThemeHelper::getColor(19, true); });
        flushButton_->addTarget(std::static_pointer_cast<KZAILoginWindowController>(shared_from_this()),
                                &KZAILoginWindowController::onClickFlushButtonAction);
    }
    return flushButton_;
}

void KZAILoginWindowController::setupViews() {
    auto content = window()->contentView();
    content->addSubview(topImageView());
    content->addSubview(loginWebView());
    content->addSubview(flushButton());
}

void KZAILoginWindowController::setupViewsLayout() {
    auto content = window()->contentView();
    kit::makeConstraints(topImageView_, [&](kit::ConstraintMaker& make) {
        make.left().top().equalTo(content);
        make.size().equalTo(kit::Size{370, 149});
    });
    kit::makeConstraints(loginWebView_, [&](kit::ConstraintMaker& make) {
        make.top().equalTo(kit::bottomOf(topImageView_));
        make.left().right().bottom().equalTo(content);
    });
    kit::makeConstraints(flushButton_, [&](kit::ConstraintMaker& make) {
        make.size().equalTo(kit::Size{20, 20});
        make.left().equalTo(content).offset(15);
        make.bottom().equalTo(content).offset(-19);
    });
}

std::string KZAILoginWindowController::loginPageURL() const {
    return KZBundleInfo::aiPageURL(KZAIUserManager::kLoginPagePath, KZWebPageVersion);
}

void KZAILoginWindowController::loadRequest() { loginWebView()->loadRequestWithURL(loginPageURL()); }

void KZAILoginWindowController::showWindow() {
    auto w = window();
    if (!w->isVisible()) loadRequest();
    w->makeKeyAndOrderFront();
}

void KZAILoginWindowController::onUserLoginStateChanged() {
    kit::logLine("[Translate] onUserLoginStateChanged");
    const bool login = KZAIUserManager::shared().isLogin();
    loginWebView()->native2js_loginEventNotify(login);
    loginWebView()->native2js_clientUserChange(login, false);
}

void KZAILoginWindowController::windowWillClose(kit::Window& closing) {
    if (&closing != window().get()) return;
    HXReport::reportCommonKeyValue(24054, "1");
    if (!KZAIUserManager::shared().isLogin())
        kit::NotificationCenter::defaultCenter().post(kKZAIUserCancelLoginNotification);
}

void KZAILoginWindowController::onClickFlushButtonAction(KZCustomViewButton&) { loginWebView()->reload(); }
