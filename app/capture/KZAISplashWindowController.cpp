#include "app/capture/KZAISplashWindowController.h"

#include "app/core/KZAIIPCClient.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/COSwitch.h"
#include "frameworks/ColorHelpers.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/KZShortcutConfig.h"
#include "frameworks/KZShortcutManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/Event.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/StatusItem.h"

// The view under every page: it holds the key focus, so Return and Escape reach the window
// whatever the mouse points at.
class KZSplashKeyView : public kit::View {
public:
    using KeyHandler = std::function<bool(unsigned short keyCode)>;
    std::string className() const override { return "KZSplashKeyView"; }
    bool acceptsFirstResponder() const override { return true; }
    void setKeyHandler(KeyHandler handler) { handler_ = std::move(handler); }
    void keyDown(const kit::Event& event) override {
        if (!handler_ || !handler_(event.keyCode)) kit::View::keyDown(event);
    }

private:
    KeyHandler handler_;
};

namespace {

constexpr double kTextInset = 90;      // left and right margin of the texts
constexpr double kPictureTop = 44;
constexpr kit::Size kPictureSize{320, 150};
constexpr double kBottomBarHeight = 84;  // the buttons and the page dots below the pages
constexpr kit::Size kButtonSize{128, 36};
constexpr double kDotSize = 8;

// Colours of the white content area; they do not follow the dark appearance because the
// window's content stays white.
kit::Color titleColor() { return colorWithHex(0x1F1F1F); }
kit::Color detailColor() { return colorWithHex(0x5B5E71); }
kit::Color dotColor(bool current) { return current ? colorWithHex(0x58CE9B) : colorWithHex(0xD3D6DE); }

std::string replacingPlaceholder(std::string format, const std::string& value) {
    if (auto at = format.find("%@"); at != std::string::npos) format.replace(at, 2, value);
    return format;
}

}  // namespace

KZAISplashWindowController::KZAISplashWindowController(bool hasTitleBar, kit::Size windowSize)
    : KZBaseWindowController(hasTitleBar, windowSize) {}

std::string KZAISplashWindowController::windowTitle() { return KZLocalizedString("欢迎使用Quarn AI助手"); }

void KZAISplashWindowController::customInit() {
    auto w = window();
    w->setDelegate(std::static_pointer_cast<KZAISplashWindowController>(shared_from_this()));
    w->setMinSize(w->frame().size);
    w->setMaxSize(w->frame().size);
    for (auto kind : {kit::WindowButton::Miniaturize, kit::WindowButton::Zoom})
        if (auto button = w->standardWindowButton(kind)) button->setHidden(true);
}

KZAISplashWindowController::PageViews KZAISplashWindowController::makePage(const char* imageName,
                                                                           const std::string& title,
                                                                           const std::string& detail) {
    PageViews page;
    page.view = kit::create<kit::View>();
    page.picture = kit::create<kit::ImageView>();
    page.picture->setImage(kit::Image::named(imageName));
    page.picture->setImageScaling(kit::ImageScaling::ProportionallyUpOrDown);
    page.view->addSubview(page.picture);

    page.title = kit::Label::withString(title);
    page.title->setFont(kit::Font::boldSystemFont(24));
    page.title->setAlignment(kit::TextAlignment::Center);
    page.title->setTextColor(titleColor());
    page.title->setUsesSingleLineMode(true);
    page.view->addSubview(page.title);

    page.detail = kit::Label::wrappingWithString(detail);
    page.detail->setFont(kit::Font::systemFont(14));
    page.detail->setAlignment(kit::TextAlignment::Center);
    page.detail->setTextColor(detailColor());
    page.detail->setPreferredMaxLayoutWidth(kWidth - 2 * kTextInset - 2 * kit::Label::kHorizontalPadding);
    page.view->addSubview(page.detail);
    return page;
}

std::shared_ptr<COSwitch> KZAISplashWindowController::addSwitchRow(PageViews& page, const std::string& label) {
    page.switchLabel = kit::Label::withString(label);
    page.switchLabel->setFont(kit::Font::systemFont(14));
    page.switchLabel->setTextColor(titleColor());
    page.switchLabel->setUsesSingleLineMode(true);
    page.view->addSubview(page.switchLabel);
    auto control = kit::create<COSwitch>();
    control->setAccessibilityLabel(label);
    page.view->addSubview(control);
    return control;
}

void KZAISplashWindowController::setupViews() {
    auto content = window()->contentView();
    keyView_ = kit::create<KZSplashKeyView>();
    content->addSubview(keyView_);
    std::weak_ptr<KZAISplashWindowController> weak =
        std::static_pointer_cast<KZAISplashWindowController>(shared_from_this());
    keyView_->setKeyHandler([weak](unsigned short keyCode) {
        auto self = weak.lock();
        return self && self->handleKey(keyCode);
    });

    pages_[PageWelcome] = makePage(
        "kz_splash_page_welcome", KZLocalizedString("欢迎使用Quarn AI助手"),
        KZLocalizedString("划词解释、翻译，截图提问，拖入文件，随时与AI对话。只需几步，完成设置。"));
    pages_[PageStatusItem] = makePage(
        "kz_splash_page_status", KZLocalizedString("在状态栏显示AI助手"),
        KZLocalizedString("打开后，状态栏会出现AI助手图标，点击图标即可打开AI助手。"));
    statusItemSwitch_ = addSwitchRow(pages_[PageStatusItem], KZLocalizedString("在状态栏显示图标"));
    pages_[PageTextTool] = makePage(
        "kz_splash_page_texttool", KZLocalizedString("划词工具"),
        KZLocalizedString("在任意应用中选中文字，即可一键解释或翻译。划词工具需要辅助功能权限。"));
    textToolSwitch_ = addSwitchRow(pages_[PageTextTool], KZLocalizedString("启用划词工具"));
    pages_[PageDone] = makePage("kz_splash_page_done", KZLocalizedString("设置完成"), openSideWindowHint());
    for (auto& page : pages_) content->addSubview(page.view);

    statusItemSwitch_->setAction([weak](kit::Control& sender) {
        if (auto self = weak.lock()) self->onStatusItemSwitchChanged(static_cast<COSwitch&>(sender).isOn());
    });
    textToolSwitch_->setAction([weak](kit::Control& sender) {
        if (auto self = weak.lock()) self->onTextToolSwitchChanged(static_cast<COSwitch&>(sender).isOn());
    });

    for (auto& dot : dots_) {
        dot = kit::create<kit::View>();
        dot->setWantsLayer(true);
        content->addSubview(dot);
    }

    backButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleSecondary);
    backButton_->setButtonTitle(KZLocalizedString("上一步"));
    backButton_->setActionBlock([weak](KZCustomViewButton&) {
        if (auto self = weak.lock()) self->goBack();
    });
    content->addSubview(backButton_);

    nextButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
    nextButton_->setActionBlock([weak](KZCustomViewButton&) {
        if (auto self = weak.lock()) self->goNext();
    });
    content->addSubview(nextButton_);

    refreshSwitches();
    updateControls();
}

void KZAISplashWindowController::setupViewsLayout() {
    auto content = window()->contentView();
    kit::makeConstraints(keyView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(content); });
    for (auto& page : pages_) {
        kit::makeConstraints(page.view, [&](kit::ConstraintMaker& make) {
            make.left().right().top().equalTo(content);
            make.bottom().equalTo(content).offset(-kBottomBarHeight);
        });
        kit::makeConstraints(page.picture, [&](kit::ConstraintMaker& make) {
            make.centerX().equalTo(page.view);
            make.top().equalTo(page.view).offset(kPictureTop);
            make.size().equalTo(kPictureSize);
        });
        kit::makeConstraints(page.title, [&](kit::ConstraintMaker& make) {
            make.left().equalTo(page.view).offset(kTextInset);
            make.right().equalTo(page.view).offset(-kTextInset);
            make.top().equalTo(kit::bottomOf(page.picture)).offset(26);
        });
        kit::makeConstraints(page.detail, [&](kit::ConstraintMaker& make) {
            make.left().equalTo(page.view).offset(kTextInset);
            make.right().equalTo(page.view).offset(-kTextInset);
            make.top().equalTo(kit::bottomOf(page.title)).offset(12);
        });
    }
    for (auto* control : {&statusItemSwitch_, &textToolSwitch_}) {
        auto& page = pages_[control == &statusItemSwitch_ ? PageStatusItem : PageTextTool];
        // The label, 12 points and the 38-point switch, centred together under the text (the
        // label's text is fixed when the window is made).
        const double rowWidth = page.switchLabel->intrinsicContentSize().width + 12 + 38;
        kit::makeConstraints(page.switchLabel, [&](kit::ConstraintMaker& make) {
            make.right().equalTo(kit::centerXOf(page.view)).offset(rowWidth / 2 - 12 - 38);
            make.top().equalTo(kit::bottomOf(page.detail)).offset(30);
        });
        kit::makeConstraints(*control, [&](kit::ConstraintMaker& make) {
            make.left().equalTo(kit::rightOf(page.switchLabel)).offset(12);
            make.centerY().equalTo(page.switchLabel);
            make.size().equalTo(kit::Size{38, 22});
        });
    }
    kit::makeConstraints(nextButton_, [&](kit::ConstraintMaker& make) {
        make.right().equalTo(content).offset(-40);
        make.bottom().equalTo(content).offset(-28);
        make.size().equalTo(kButtonSize);
    });
    kit::makeConstraints(backButton_, [&](kit::ConstraintMaker& make) {
        make.right().equalTo(kit::leftOf(nextButton_)).offset(-12);
        make.centerY().equalTo(nextButton_);
        make.size().equalTo(kButtonSize);
    });
    for (int i = 0; i < kPageCount; ++i) {
        kit::makeConstraints(dots_[static_cast<std::size_t>(i)], [&](kit::ConstraintMaker& make) {
            make.left().equalTo(content).offset(40 + i * 2 * kDotSize);
            make.centerY().equalTo(nextButton_);
            make.size().equalTo(kit::Size{kDotSize, kDotSize});
        });
    }
}

void KZAISplashWindowController::showWindow() {
    showPage(PageWelcome);
    KZBaseWindowController::showWindow();
    window()->makeFirstResponder(keyView_);
}

// ---- Pages ----------------------------------------------------------------------------------

void KZAISplashWindowController::showPage(int page) {
    if (page < 0 || page >= kPageCount) return;
    currentPage_ = page;
    kit::logf("[Splash] show page %d", page + 1);
    if (page == PageDone) pages_[PageDone].detail->setStringValue(openSideWindowHint());
    refreshSwitches();
    updateControls();
}

void KZAISplashWindowController::goNext() {
    if (currentPage_ == PageDone) {
        close();
        return;
    }
    showPage(currentPage_ + 1);
}

void KZAISplashWindowController::goBack() { showPage(currentPage_ - 1); }

bool KZAISplashWindowController::handleKey(unsigned short keyCode) {
    switch (keyCode) {
        case kit::kVK_Return:
        case kit::kVK_ANSI_KeypadEnter:
            goNext();
            return true;
        case kit::kVK_Escape:
            close();
            return true;
        case kit::kVK_Space:
            // The page's switch, for those who keep to the keyboard.
            if (currentPage_ == PageStatusItem) return statusItemSwitch_->accessibilityPerformPress();
            if (currentPage_ == PageTextTool) return textToolSwitch_->accessibilityPerformPress();
            return false;
        default:
            return false;
    }
}

void KZAISplashWindowController::updateControls() {
    for (int i = 0; i < kPageCount; ++i) {
        const bool current = i == currentPage_;
        pages_[static_cast<std::size_t>(i)].view->setHidden(!current);
        dots_[static_cast<std::size_t>(i)]->updateLayer([current](kit::LayerStyle& layer) {
            layer.backgroundColor = dotColor(current);
            layer.cornerRadius = kDotSize / 2;
            layer.masksToBounds = true;
        });
    }
    backButton_->setHidden(currentPage_ == PageWelcome);
    nextButton_->setButtonTitle(currentPage_ == PageDone ? KZLocalizedString("开始使用") : KZLocalizedString("下一步"));
}

void KZAISplashWindowController::refreshSwitches() {
    statusItemSwitch_->setOn(KZWindowControllerManager::manager().showAIStatusBarItem());
    textToolSwitch_->setOn(KZSharedPlistManager::sharedManager().db_getUseGetTextTool());
}

std::vector<std::shared_ptr<kit::Label>> KZAISplashWindowController::labelsOfPage(int page) const {
    const auto& views = pages_.at(static_cast<std::size_t>(page));
    std::vector<std::shared_ptr<kit::Label>> labels{views.title, views.detail};
    if (views.switchLabel) labels.push_back(views.switchLabel);
    return labels;
}

// ---- What the pages change ------------------------------------------------------------------

void KZAISplashWindowController::onStatusItemSwitchChanged(bool on) {
    kit::logf("[Splash] status item switch: %d", on ? 1 : 0);
    auto& manager = KZWindowControllerManager::manager();
    KZSharedPlistManager::sharedManager().db_setGuideWindowChoosedAIShowIndex(on ? KZGuideWindowAIShowChoiceShow
                                                                                  : KZGuideWindowAIShowChoiceHide);
    manager.setShowAIStatusBarItem(on);
    statusItemObserver_.reset();
    guideTipWaiting_ = false;
    if (!on) return;
    auto placed = [](const kit::StatusItem& item) { return item.hasWindow() && !item.windowFrame().isEmpty(); };
    auto item = manager.statusItem();
    if (!item || placed(*item)) {
        manager.showGuideEnableWindowController();
        return;
    }
    // A tray shows a new item a moment later; the tip points at it then.
    guideTipWaiting_ = true;
    std::weak_ptr<KZAISplashWindowController> weak =
        std::static_pointer_cast<KZAISplashWindowController>(shared_from_this());
    std::weak_ptr<kit::StatusItem> weakItem = item;
    statusItemObserver_ = kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kStatusItemWindowDidChangeNotification, item.get(), [weak, weakItem, placed](const kit::Notification&) {
            auto self = weak.lock();
            auto item = weakItem.lock();
            if (!self || !item || !self->guideTipWaiting_ || !placed(*item)) return;
            self->guideTipWaiting_ = false;
            auto& manager = KZWindowControllerManager::manager();
            if (manager.showAIStatusBarItem()) manager.showGuideEnableWindowController();
        });
}

void KZAISplashWindowController::onTextToolSwitchChanged(bool on) {
    kit::logf("[Splash] text tool switch: %d", on ? 1 : 0);
    auto& settings = KZSharedPlistManager::sharedManager();
    settings.db_setUseGetTextTool(on);
    KZAIIPCClient::shared().ai2text_useAIGetTextChanged(on);
    if (on && !settings.db_accessibilityEnabled()) KZWindowControllerManager::manager().showPermissionWindowAlone();
}

std::string KZAISplashWindowController::openSideWindowHint() {
    std::string hotKey;
    if (const auto* live = KZShortcutManager::shared().configForHotKeyId(KZShortcutHotKeyIdSideWindow)) {
        hotKey = live->displayString();
    } else if (auto saved = KZShortcutManager::loadSavedConfig(KZShortcutHotKeyIdSideWindow)) {
        hotKey = saved->displayString();
    }
    const bool statusItem = KZWindowControllerManager::manager().showAIStatusBarItem();
    if (!hotKey.empty() && statusItem)
        return replacingPlaceholder(KZLocalizedString("按 %@ 或点击状态栏图标，即可打开AI助手。"), hotKey);
    if (!hotKey.empty()) return replacingPlaceholder(KZLocalizedString("按 %@ 即可随时打开AI助手。"), hotKey);
    if (statusItem) return KZLocalizedString("点击状态栏中的AI助手图标，即可随时打开AI助手。");
    return KZLocalizedString("还没有打开AI助手的方式：请返回上一步在状态栏显示图标，或在Quarn的设置中设置快捷键。");
}

// ---- Closing --------------------------------------------------------------------------------

void KZAISplashWindowController::windowWillClose(kit::Window& closing) {
    if (&closing != window().get()) return;
    auto& settings = KZSharedPlistManager::sharedManager();
    if (!settings.db_hasShowGuideWindow()) settings.db_setHasShowGuideWindow(true);
    if (windowWillCloseBlock_) {
        auto block = windowWillCloseBlock_;
        block();
    }
}
