#include "app/tools/KZBaseTabWindowController.h"

#include <algorithm>
#include <cmath>

#include "app/core/KZAIUserManager.h"
#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZTabWindowTipView.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "app/web/KZAIWebView.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"

// ---- Page area ------------------------------------------------------------------------------------

KZTabViewController::KZTabViewController() : view_(kit::create<kit::View>()) {
    view_->setWantsLayer(true);
    view_->setBackgroundColor(kit::Color::clear());
}

void KZTabViewController::addChildViewController(const std::shared_ptr<KZBaseTabWebViewController>& child) {
    children_.push_back(child);
}

std::shared_ptr<KZBaseTabWebViewController> KZTabViewController::removeChildViewControllerAtIndex(std::size_t index) {
    if (index >= children_.size()) return nullptr;
    auto child = children_[index];
    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
    if (child->isViewLoaded()) child->view()->removeFromSuperview();
    if (shown_.lock() == child) shown_.reset();
    if (selected_) {
        if (children_.empty()) {
            selected_.reset();
        } else if (*selected_ >= children_.size()) {
            selected_ = children_.size() - 1;
        } else if (*selected_ > index) {
            selected_ = *selected_ - 1;
        }
    }
    return child;
}

void KZTabViewController::setSelectedTabViewItemIndex(std::size_t index) {
    if (children_.empty()) return;
    index = std::min(index, children_.size() - 1);
    selected_ = index;
    auto child = children_[index];
    auto previous = shown_.lock();
    if (previous == child) return;
    // Pages not shown stay loaded, hidden.
    if (previous && previous->isViewLoaded()) previous->view()->setHidden(true);
    const auto& page = child->view();
    if (page->superview() != view_.get()) {
        page->setFrame(view_->bounds());
        page->setAutoresizingMask(kit::ViewWidthSizable | kit::ViewHeightSizable);
        view_->addSubview(page);
    }
    page->setHidden(false);
    shown_ = child;
    child->viewWillAppear();
}

// ---- Base tab window ------------------------------------------------------------------------------

KZBaseTabWindowController::KZBaseTabWindowController(bool tabBarStyle, kit::Size windowSize)
    : KZBaseWindowController(false, windowSize), hasTabBar_(tabBarStyle) {}

KZBaseTabWindowController::~KZBaseTabWindowController() {
    if (tipShow_) kit::RunLoop::main().cancel(tipShow_);
    kit::RunLoop::main().cancelPerforms(this);
}

void KZBaseTabWindowController::init() {
    KZBaseWindowController::init();
    auto w = window();
    w->setMinSize({1000, 700});
    w->setDelegate(std::static_pointer_cast<kit::WindowDelegate>(self<KZBaseTabWindowController>()));
    titleBarItemModels_.clear();
}

const std::shared_ptr<KZWindowTitleTabBarBackgroundView>& KZBaseTabWindowController::titleBgView() {
    if (!titleBgView_) titleBgView_ = kit::create<KZWindowTitleTabBarBackgroundView>();
    return titleBgView_;
}

const std::shared_ptr<KZWindowTitleTabBar>& KZBaseTabWindowController::titleTabBar() {
    if (!titleTabBar_) {
        titleTabBar_ = kit::create<KZWindowTitleTabBar>();
        titleTabBar_->setDelegate(std::static_pointer_cast<KZWindowTitleTabBarDelegate>(self<KZBaseTabWindowController>()));
    }
    return titleTabBar_;
}

const std::shared_ptr<KZTabWindowTipView>& KZBaseTabWindowController::tipView() {
    if (!tipView_) {
        tipView_ = kit::create<KZTabWindowTipView>();
        tipView_->updateLayer([](kit::LayerStyle& layer) {
            layer.backgroundColor = kit::Color::clear();
            layer.shadow.opacity = 0.4;
            layer.shadow.offset = {-4, -4};
            layer.shadow.radius = 5;
        });
    }
    return tipView_;
}

std::shared_ptr<kit::View> KZBaseTabWindowController::tabBarView() { return titleBgView(); }

void KZBaseTabWindowController::showWindow() {
    KZBaseWindowController::showWindow();
    KZWindowControllerManager::toolWindowDidShow(*this);
}

void KZBaseTabWindowController::setupViews() {
    auto content = window()->contentView();
    content->setWantsLayer(true);
    content->addSubview(titleBgView());
    if (hasTabBar_) titleBgView()->addSubview(titleTabBar());
    titleTabBar()->setShowsAddButton(showsAddButtonOfTabBar());
    content->addSubview(tabViewController_.view());
}

void KZBaseTabWindowController::setupViewsLayout() {
    auto content = window()->contentView();
    auto bg = titleBgView();
    kit::makeConstraints(bg, [&](kit::ConstraintMaker& make) {
        make.left().right().top().equalTo(content);
        make.height().equalTo(kTitleHeight);
    });
    if (hasTabBar_) {
        const double margin = rightMarginOfTabBar();
        kit::makeConstraints(titleTabBar(), [&](kit::ConstraintMaker& make) {
            make.left().equalTo(bg).offset(kTabBarLeft);
            make.right().equalTo(bg).offset(margin);
            make.top().bottom().equalTo(bg);
        });
    }
    kit::makeConstraints(tabViewController_.view(), [&](kit::ConstraintMaker& make) {
        make.left().right().bottom().equalTo(content);
        make.top().equalTo(kit::bottomOf(bg));
    });
}

kit::Rect KZBaseTabWindowController::windowWillPositionSheet(kit::Window& window, kit::Window&, kit::Rect proposed) {
    const double stripBottom = window.frame().height() - kTitleHeight;
    return {proposed.minX(), std::min(proposed.maxY(), stripBottom), proposed.width(), 0};
}

void KZBaseTabWindowController::onWindowFrameChanged() {
    auto content = window()->contentView();
    kit::updateConstraints(titleBgView(), [&](kit::ConstraintMaker& make) { make.width().equalTo(content->bounds().width()); });
    content->layoutSubtreeIfNeeded();
    titleTabBar()->scrollToTabBarItemModel(selectedTitleBarItemModel(), false);
}

const KZBaseTabWindowController::Models& KZBaseTabWindowController::tabBarItemModelsForTabBar(KZWindowTitleTabBar&) {
    return titleBarItemModels_;
}

void KZBaseTabWindowController::tabBarDidClickAddButton(KZWindowTitleTabBar&) {
    createDefaultTabIfNeeded(std::nullopt, std::nullopt);
}

std::optional<std::size_t> KZBaseTabWindowController::indexOf(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) const {
    auto found = std::find(titleBarItemModels_.begin(), titleBarItemModels_.end(), model);
    if (!model || found == titleBarItemModels_.end()) return std::nullopt;
    return static_cast<std::size_t>(found - titleBarItemModels_.begin());
}

void KZBaseTabWindowController::addTab(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model,
                                       const std::shared_ptr<KZBaseTabWebViewController>& controller) {
    tabViewController_.addChildViewController(controller);
    addTabBarModel(model);
}

void KZBaseTabWindowController::addTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    if (!model) return;
    const std::size_t n = titleBarItemModels_.size();
    titleBarItemModels_.push_back(model);
    // The first tab of a window appears at once; later ones slide in.
    titleTabBar()->insertTabBarItemModel(model, n, n >= 1);
    selectTabBarModel(model);
}

void KZBaseTabWindowController::selectTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    selectedTitleBarItemModel_ = model;
    for (const auto& m : titleBarItemModels_) m->setIsSelected(m == model);
    titleTabBar()->scrollToTabBarItemModel(model, true);
    const auto index = indexOf(model);
    if (!index) return;
    tabViewController_.setSelectedTabViewItemIndex(*index);
}

void KZBaseTabWindowController::removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference) {
    // A copy: the caller may pass an element of the list this removes it from.
    const auto model = modelReference;
    const auto found = indexOf(model);
    if (!found) return;
    const std::size_t i = *found;
    const std::size_t count = titleBarItemModels_.size();
    std::shared_ptr<KZWindowTitleTabBarItemModel> next;
    if (model == selectedTitleBarItemModel()) {
        if (i + 1 <= count - 1) {
            next = titleBarItemModels_[i + 1];
        } else if (i > 0) {
            next = titleBarItemModels_[i - 1];
        }
    }
    // The tab's controller may be the one whose callback led here: it goes on a later turn.
    kit::Application::shared().releaseLater(tabViewController_.removeChildViewControllerAtIndex(i));
    titleBarItemModels_.erase(titleBarItemModels_.begin() + static_cast<std::ptrdiff_t>(i));
    titleTabBar()->removeTabBarItemModel(model, i, true);
    if (next) selectTabBarModel(next);
}

void KZBaseTabWindowController::removeAllTabsWithoutStrip() {
    while (!tabViewController_.childViewControllers().empty()) {
        const std::size_t last = tabViewController_.childViewControllers().size() - 1;
        kit::Application::shared().releaseLater(tabViewController_.removeChildViewControllerAtIndex(last));
    }
    for (auto& model : titleBarItemModels_) kit::Application::shared().releaseLater(model);
    titleBarItemModels_.clear();
}

void KZBaseTabWindowController::createDefaultTabIfNeeded(const std::optional<std::string>& url,
                                                         const std::optional<kit::Dictionary>& actionInfo) {
    if (titleBarItemModels_.size() >= tabMaxCount()) {
        showTipViewWithText(KZLocalizedString(kTabLimitTip));
        return;
    }
    createDefaultTab(url, actionInfo);
}

void KZBaseTabWindowController::showTipViewWithText(const std::optional<std::string>& text) {
    tipView()->setTipValue(text.value_or(""));
    std::weak_ptr<KZBaseTabWindowController> weak = self<KZBaseTabWindowController>();
    if (tipShow_) kit::RunLoop::main().cancel(tipShow_);
    tipShow_ = kit::RunLoop::main().postAfter(kTipDelay, [weak] {
        auto me = weak.lock();
        if (!me || !me->window()) return;
        me->tipShow_ = 0;
        auto content = me->window()->contentView();
        auto tip = me->tipView();
        const kit::Size size = tip->intrinsicContentSize();
        const kit::Rect b = content->bounds();
        tip->setFrame({std::floor(b.midX() - size.width / 2), b.maxY() - 80 - size.height, size.width, size.height});
        kit::AnimationContext::runAnimationGroup([&](kit::AnimationContext& context) {
            context.duration = 0.25;
            context.timingFunction = kit::TimingFunction::EaseIn;
            content->animator().addSubview(tip);
        });
    });
    // Every tip stays its full time: a newer one re-arms the removal.
    kit::RunLoop::main().cancelPerforms(this, kHideTipSelector);
    kit::RunLoop::main().performAfterDelay(this, kHideTipSelector, kTipDuration, [weak] {
        if (auto me = weak.lock()) me->hideTipView();
    });
}

void KZBaseTabWindowController::hideTipView() {
    auto tip = tipView();
    kit::AnimationContext::runAnimationGroup([&](kit::AnimationContext& context) {
        context.duration = 0.25;
        context.timingFunction = kit::TimingFunction::EaseOut;
        tip->animator().removeFromSuperview();
    });
}

// ---- AI tab window --------------------------------------------------------------------------------

KZAITabWindowController::~KZAITabWindowController() {
    kit::NotificationCenter::defaultCenter().removeObserver(static_cast<kit::WindowController*>(this));
}

void KZAITabWindowController::init() {
    KZBaseTabWindowController::init();
    auto observer = std::static_pointer_cast<const void>(std::static_pointer_cast<kit::WindowController>(shared_from_this()));
    KZObserveUserLoginNotifications(observer, self<KZAITabWindowController>());
}

std::shared_ptr<KZAIWindowTitleTabBarItemModel> KZAITabWindowController::selectedAIModel() const {
    return std::dynamic_pointer_cast<KZAIWindowTitleTabBarItemModel>(selectedTitleBarItemModel());
}

const std::shared_ptr<KZCustomViewButton>& KZAITabWindowController::refreshButton() {
    if (!refreshButton_) {
        refreshButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
        refreshButton_->setButtonImageName("title_bar_webview_flush");
        refreshButton_->setAccessibilityLabel(KZLocalizedString("刷新"));
        refreshButton_->addTarget(self<KZAITabWindowController>(), &KZAITabWindowController::onClickRefreshButtonActionFrom);
    }
    return refreshButton_;
}

void KZAITabWindowController::onClickRefreshButtonActionFrom(KZCustomViewButton&) { onClickRefreshButtonAction(); }

void KZAITabWindowController::setupViews() {
    KZBaseTabWindowController::setupViews();
    if (showsRefreshButtonInTabBar()) titleBgView()->addSubview(refreshButton());
}

void KZAITabWindowController::setupViewsLayout() {
    KZBaseTabWindowController::setupViewsLayout();
    if (!showsRefreshButtonInTabBar()) return;
    auto bg = titleBgView();
    kit::makeConstraints(refreshButton(), [&](kit::ConstraintMaker& make) {
        make.right().equalTo(bg).offset(-20);
        make.centerY().equalTo(bg);
        make.size().equalTo(kit::Size{24, 24});
    });
}

void KZAITabWindowController::showWindow() {
    if (titleBarItemModels().empty()) createDefaultTabIfNeeded(std::nullopt, std::nullopt);
    KZBaseTabWindowController::showWindow();
}

void KZAITabWindowController::showWindowAndCreateNewTabWithActionInfo(const std::optional<kit::Dictionary>& actionInfo) {
    createDefaultTabIfNeeded(std::nullopt, actionInfo);
    showWindow();
}

void KZAITabWindowController::onClickRefreshButtonAction() {
    if (auto model = selectedTitleBarItemModel())
        if (auto web = model->associateWebView()) web->reload();
}

void KZAITabWindowController::onUserLoginStateChanged() {
    const Models models = titleBarItemModels();
    for (const auto& model : models) {
        auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView());
        if (!web) continue;
        const bool isLogin = KZAIUserManager::shared().isLogin();
        web->native2js_loginEventNotify(isLogin);
        web->native2js_clientUserChange(isLogin, false);
    }
}

void KZAITabWindowController::onUserCancelLogin() {
    const Models models = titleBarItemModels();
    for (const auto& model : models)
        if (auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView())) web->native2js_cancelLogin();
}

void KZAITabWindowController::onForceReloadWebview() {
    const Models models = titleBarItemModels();
    for (const auto& model : models)
        if (auto web = model->associateWebView()) web->reloadOriginUrl();
}

void KZAITabWindowController::closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) {
    kit::RunLoop::main().post([done = std::move(done)] { done(true); });
}

void KZAITabWindowController::probeUnsavedWork(std::function<void(bool unsaved)> answer) {
    kit::RunLoop::main().post([answer = std::move(answer), unsaved = hasUnsavedWork()] { answer(unsaved); });
}

void KZAITabWindowController::probePages(const std::vector<std::shared_ptr<KZAITabWebViewController>>& pages,
                                         std::function<void(bool unsaved)> answer) {
    if (pages.empty()) {
        kit::RunLoop::main().post([answer = std::move(answer)] { answer(false); });
        return;
    }
    struct Answers {
        std::size_t waiting = 0;
        bool unsaved = false;
        std::function<void(bool unsaved)> answer;
    };
    auto answers = std::make_shared<Answers>(Answers{pages.size(), false, std::move(answer)});
    for (const auto& page : pages) {
        page->askWhetherSaved([answers](bool saved) {
            answers->unsaved = answers->unsaved || !saved;
            if (--answers->waiting == 0) answers->answer(answers->unsaved);
        });
    }
}

void KZAITabWindowController::beginQuestionSheet(const std::shared_ptr<kit::Window>& sheet, const char* logTag) {
    auto w = window();
    if (!w || !sheet || sheet->sheetParent()) return;
    if (auto up = w->attachedSheet()) {
        kit::logf("%s another sheet is up: the confirm close follows when it ends", logTag);
        up->makeKeyAndOrderFront();
    }
    w->beginSheet(sheet);
}

bool KZAITabWindowController::tabHasOpenFile(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    auto web = std::dynamic_pointer_cast<KZAIWebView>(model->associateWebView());
    return web && web->hasOpenFile() && !web->isContentProcessTerminated();
}

void KZAITabWindowController::report(std::int64_t key, const std::string& value) {
    HXReport::reportCommonKeyValue(key, value);
}
