#include "app/windows/KZSideWindowRightView.h"

#include "app/core/AppDelegate.h"
#include "app/core/KZAIIPCClient.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/ui/KZAIPermissionDisableTipView.h"
#include "app/ui/KZAcceptsFirstMouseViews.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZLineView.h"
#include "app/ui/KZThemedTextField.h"
#include "app/windows/KZLoginStateWindowController.h"
#include "app/windows/KZSideSettingsWindowController.h"
#include "frameworks/HXReport.h"
#include "frameworks/KZImageLoader.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

namespace {

constexpr int kPinnedLevel = 20;
constexpr kit::Size kLoginStateSize{200, 98};
constexpr kit::Size kSettingsSize{200, 84};

void report(std::int64_t key) { HXReport::reportButtonClick(key); }

}  // namespace

KZSideWindowRightView::KZSideWindowRightView(std::weak_ptr<KZSideWindowRightViewDelegate> delegate)
    : delegate_(std::move(delegate)) {}

KZSideWindowRightView::~KZSideWindowRightView() = default;

void KZSideWindowRightView::init() {
    KZView::init();
    setupViews();
    onUserLoginStateChanged();
    std::weak_ptr<KZSideWindowRightView> weak = std::static_pointer_cast<KZSideWindowRightView>(shared_from_this());
    // The observation ends with the view.
    windowWillCloseObservation_ = kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kWindowWillCloseNotification, nullptr, [weak](const kit::Notification& notification) {
            if (auto self = weak.lock()) self->__receiveWindowWillCloseNotification(notification);
        });
}

// ---- Buttons --------------------------------------------------------------------------------------

std::shared_ptr<KZCustomViewButton> KZSideWindowRightView::makeIconButton(
    const char* imageName, const char* label, void (KZSideWindowRightView::*action)(KZCustomViewButton*)) {
    auto button = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
    button->setButtonThemedImageName(imageName);
    if (label) button->setAccessibilityLabel(KZLocalizedString(label));
    std::weak_ptr<KZSideWindowRightView> weak = std::static_pointer_cast<KZSideWindowRightView>(shared_from_this());
    button->setActionBlock([weak, action](KZCustomViewButton& sender) {
        if (auto self = weak.lock()) ((*self).*action)(&sender);
    });
    return button;
}

const std::shared_ptr<KZCustomViewButton>& KZSideWindowRightView::avatarButton() {
    if (!avatarButton_) {
        avatarButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleAvatar);
        avatarButton_->setButtonThemedImageName(kDefaultAvatarImage, kit::EdgeInsets{1, 1, 1, 1});
        avatarButton_->setAccessibilityLabel(KZLocalizedString("头像"));
        avatarButton_->setCornerRadius(12);
        auto& image = avatarButton_->imageView();
        image->setWantsLayer(true);
        image->setCornerRadius(11);
        image->setMasksToBounds(true);
        std::weak_ptr<KZSideWindowRightView> weak = std::static_pointer_cast<KZSideWindowRightView>(shared_from_this());
        avatarButton_->setActionBlock([weak](KZCustomViewButton& sender) {
            if (auto self = weak.lock()) self->onClickAvatarButtonAction(&sender);
        });
    }
    return avatarButton_;
}

const std::shared_ptr<KZCustomViewButton>& KZSideWindowRightView::settingsButton() {
    if (!settingsButton_)
        settingsButton_ = makeIconButton("title_bar_settings", KZLocalizableKey("设置"),
                                         &KZSideWindowRightView::onClickSettingsButtonAction);
    return settingsButton_;
}

const std::shared_ptr<KZCustomViewButton>& KZSideWindowRightView::flushButton() {
    if (!flushButton_)
        flushButton_ = makeIconButton("title_bar_webview_flush", KZLocalizableKey("刷新"),
                                      &KZSideWindowRightView::onClickFlushButtonAction);
    return flushButton_;
}

const std::shared_ptr<KZCustomViewButton>& KZSideWindowRightView::pinButton() {
    // The label comes from __flushPinButtonImage.
    if (!pinButton_)
        pinButton_ = makeIconButton("title_bar_pin_normal", nullptr, &KZSideWindowRightView::onClickPinButtonAction);
    return pinButton_;
}

const std::shared_ptr<KZAIUserLoginInfoTipView>& KZSideWindowRightView::loginInfoTipView() {
    if (!loginInfoTipView_) {
        loginInfoTipView_ = kit::create<KZAIUserLoginInfoTipView>();
        loginInfoTipView_->setBackgroundColor(kit::Color::clear());
        loginInfoTipView_->setHidden(true);
    }
    return loginInfoTipView_;
}

// ---- Construction and layout ----------------------------------------------------------------------

void KZSideWindowRightView::setupViews() {
    setWantsLayer(true);
    addSubview(avatarButton());
    splitView_ = kit::create<KZTabWindowLineView>();
    addSubview(splitView_);
    addSubview(settingsButton());
    flushButton()->setHidden(!showFlushButton());
    addSubview(flushButton_);
    addSubview(pinButton());
    isPinned_ = KZSharedPlistManager::sharedManager().db_qaWindowPinState();
    __flushPinButtonImage();
    layoutSubviews();
}

void KZSideWindowRightView::layoutSubviews() {
    std::shared_ptr<kit::View> self = shared_from_this();
    kit::remakeConstraints(avatarButton_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(self);
        make.centerY().equalTo(self);
        make.size().equalTo(kit::Size{kButtonSide, kButtonSide});
    });
    kit::remakeConstraints(splitView_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(kit::rightOf(avatarButton_)).offset(kSpacing);
        make.centerY().equalTo(avatarButton_);
        make.size().equalTo(kit::Size{0.5, 12});
    });
    std::shared_ptr<kit::View> previous = splitView_;
    for (const auto& button : {settingsButton_, flushButton_, pinButton_}) {
        kit::remakeConstraints(button, [&](kit::ConstraintMaker& make) {
            make.left().equalTo(kit::rightOf(previous)).offset(kSpacing);
            make.centerY().equalTo(avatarButton_);
            make.size().equalTo(kit::Size{kButtonSide, kButtonSide});
        });
        previous = button;
    }
}

// ---- Avatar and login -----------------------------------------------------------------------------

// The buttons' pictures have a variant for the dark title bar and follow the appearance on their
// own; so does the default avatar while it is shown (during a load, after a failed one, or when
// there is no avatar), whereas a loaded picture stays.
void KZSideWindowRightView::setUserAvatar(const std::optional<std::string>& address) {
    kit::logf("[Tab] Set User Avatar: %s", address ? address->c_str() : "(null)");
    auto& tip = loginInfoTipView();
    auto image = avatarButton()->imageView();
    if (address && KZImageLoader::isFetchableAddress(*address)) {
        // The default picture stays while loading and when the load fails.
        image->setThemedImageName(kDefaultAvatarImage);
        sd_setImageWithURL(image, *address, image->image());
        tip->titleLabel()->setStringValue(KZAIUserManager::shared().userName());
    } else {
        // A load still running for an earlier address must not replace the default picture.
        KZImageLoader::shared().cancel(*image);
        image->setThemedImageName(kDefaultAvatarImage);
        tip->titleLabel()->setStringValue(KZLocalizedString("点击登录"));
    }
}

void KZSideWindowRightView::onUserLoginStateChanged() {
    auto& user = KZAIUserManager::shared();
    setUserAvatar(user.avatarUrl());
    if (!user.isLogin() && loginStateWindowController_ && loginStateWindowController_->window()->isVisible())
        __destoryLoginStateWindowIfNeeded();
}

void KZSideWindowRightView::onClickAvatarButtonAction(KZCustomViewButton*) {
    auto& user = KZAIUserManager::shared();
    if (user.isLogin()) {
        report(21075);
        clickLoginArrowAction(nullptr);
        return;
    }
    HXReport::reportCommonKeyValue(24022, "3");
    report(21076);
    user.showLoginWindowRelateToWindow(nullptr);
}

void KZSideWindowRightView::clickLoginArrowAction(KZCustomViewButton*) {
    __destoryLoginStateWindowIfNeeded();
    __createLoginStateWindowController();
    kit::logLine("[Tab] Click Login Arrow");
    loginStateWindowController_->showWindowTopRightPoint(anchorPointOfButton(*avatarButton_));
}

void KZSideWindowRightView::__createLoginStateWindowController() {
    auto controller = kit::create<KZLoginStateWindowController>(kLoginStateSize, kit::EdgeInsets{});
    std::weak_ptr<KZSideWindowRightView> weak = std::static_pointer_cast<KZSideWindowRightView>(shared_from_this());
    controller->setOnClickLogin([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (auto delegate = self->delegate()) delegate->onClickLogin();
    });
    controller->setOnClickLogout([] { KZAIUserManager::shared().native2js_Logout(); });
    controller->window()->setMinSize(kLoginStateSize);
    controller->window()->setMaxSize(kLoginStateSize);
    loginStateWindowController_ = std::move(controller);
}

void KZSideWindowRightView::__destoryLoginStateWindowIfNeeded() {
    if (!loginStateWindowController_) return;
    auto controller = std::move(loginStateWindowController_);
    loginStateWindowController_.reset();
    controller->close();
    // It may be closing from inside its own event handling.
    kit::Application::shared().releaseLater(controller);
}

// ---- Settings -------------------------------------------------------------------------------------

void KZSideWindowRightView::onClickSettingsButtonAction(KZCustomViewButton*) {
    kit::logLine("[Tab] Click Settings Button");
    report(21071);
    __destorySettingsWindowIfNeeded();
    __createSettingsWindowController();
    settingsWindowController_->showWindowTopRightPoint(anchorPointOfButton(*settingsButton_));
}

void KZSideWindowRightView::__createSettingsWindowController() {
    auto controller = kit::create<KZSideSettingsWindowController>(kSettingsSize, kit::EdgeInsets{});
    controller->setOnClickSettings([] {
        kit::logLine("[Tab] Click Settings Menu Item");
        report(21078);
        KZAIIPCClient::shared().ai2main_showAIPreferencesNotification();
    });
    controller->setOnClickQuit([] {
        kit::logLine("[Tab] Click Quit Menu Item");
        report(21079);
        // After the current event: the popover has closed and the click is reported before the
        // application begins to end. It runs even when the view has gone meanwhile.
        kit::RunLoop::main().post([] {
            // Open panels and alerts end as cancelled before the quit goes on.
            kit::Application::shared().requestTermination([] {
                if (auto application = AppDelegate::current()) {
                    application->terminate();
                } else {
                    kit::Application::shared().terminate();
                }
            });
        });
    });
    controller->window()->setMinSize(kSettingsSize);
    controller->window()->setMaxSize(kSettingsSize);
    settingsWindowController_ = std::move(controller);
}

void KZSideWindowRightView::__destorySettingsWindowIfNeeded() {
    if (!settingsWindowController_) return;
    auto controller = std::move(settingsWindowController_);
    settingsWindowController_.reset();
    controller->close();
    kit::Application::shared().releaseLater(controller);
}

// ---- Refresh and pin ------------------------------------------------------------------------------

// NOLINTNEXTLINE(readability-make-member-function-const): a button action, taken as a member pointer.
void KZSideWindowRightView::onClickFlushButtonAction(KZCustomViewButton*) {
    kit::logLine("[Tab] Click Flush Button");
    report(21074);
    if (auto delegate = this->delegate()) delegate->onClickFlushWeb();
}

std::string KZSideWindowRightView::pinLabel() const {
    return isPinned_ ? KZLocalizedString("取消固定窗口") : KZLocalizedString("固定窗口");
}

void KZSideWindowRightView::onClickPinButtonAction(KZCustomViewButton*) {
    kit::logLine("[Tab] Click PIN Button");
    isPinned_ = !isPinned_;
    if (isPinned_) report(21070);
    if (auto w = window()) w->setLevel(isPinned_ ? kPinnedLevel : kit::WindowLevel::Normal);
    pinButton()->setAccessibilityLabel(pinLabel());
    KZSharedPlistManager::sharedManager().db_setQAWindowPinState(isPinned_);
    __flushPinButtonImage();
    if (auto delegate = this->delegate()) delegate->onPinStatusChangedFromRightView(*this);
}

void KZSideWindowRightView::__flushPinButtonImage() {
    pinButton()->setButtonThemedImageName(isPinned_ ? "title_bar_pin_select" : "title_bar_pin_normal");
    pinButton_->setAccessibilityLabel(pinLabel());
}

// ---- Anchors and closing --------------------------------------------------------------------------

kit::Point KZSideWindowRightView::anchorPointOfButton(const KZCustomViewButton& button) const {
    const kit::Rect frame = button.frame();
    const kit::Point inWindow = convertPointToView({frame.maxX(), frame.minY()}, nullptr);
    auto w = window();
    return w ? w->convertPointToScreen(inWindow) : inWindow;
}

void KZSideWindowRightView::__receiveWindowWillCloseNotification(const kit::Notification& notification) {
    auto delegate = this->delegate();
    auto sideWindow = delegate ? delegate->getWindow() : nullptr;
    if (!sideWindow || notification.object != sideWindow.get()) return;
    // Only ordered out: the controllers stay and their disappear blocks are not run.
    if (loginStateWindowController_) loginStateWindowController_->window()->orderOut();
    if (settingsWindowController_) settingsWindowController_->window()->orderOut();
}
