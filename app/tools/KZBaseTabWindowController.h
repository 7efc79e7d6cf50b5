#pragma once
// Base of every tool window (writing, image, document, in-app browser): a window whose title area
// is a strip of tabs (KZWindowTitleTabBar) over a page area that shows the selected tab's page.
// The base owns the tabs in strip order (each a KZWindowTitleTabBarItemModel paired with one tab
// web view controller), selects, adds and removes them, keeps their number at or below 100 and
// floats a short tip when the limit is hit.
//
// KZAITabWindowController adds a refresh button, forwards the application's login events to the
// pages of all its tabs and creates the default tab when the window is shown empty.
//
// Made with kit::create<Subclass>(tabBarStyle, kit::Size{1000, 700}); the window-controller
// manager owns them and destroys a tabbed window when its last tab is gone (the subclasses ask it
// to). A controller removed from inside its own callbacks, and the tab controllers it drops, are
// released on a later turn of the run loop. Main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tools/KZWindowTitleTabBar.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/windows/KZBaseWindowController.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/RunLoop.h"
#include "kit/base/Value.h"
#include "kit/ui/Window.h"

class KZBaseTabWebViewController;
class KZAITabWebViewController;
class KZCustomViewButton;
class KZTabWindowTipView;
class KZWindowTitleTabBarBackgroundView;
class KZWindowTitleTabBarItemModel;
class KZAIWindowTitleTabBarItemModel;

// The page area: one child controller per tab, showing the one at the selected index.
class KZTabViewController {
public:
    KZTabViewController();
    const std::shared_ptr<kit::View>& view() const { return view_; }
    const std::vector<std::shared_ptr<KZBaseTabWebViewController>>& childViewControllers() const { return children_; }
    void addChildViewController(const std::shared_ptr<KZBaseTabWebViewController>& child);
    // Takes the child out; its view leaves the page area. Answers the child (null when none).
    std::shared_ptr<KZBaseTabWebViewController> removeChildViewControllerAtIndex(std::size_t index);
    std::optional<std::size_t> selectedTabViewItemIndex() const { return selected_; }
    void setSelectedTabViewItemIndex(std::size_t index);

private:
    std::shared_ptr<kit::View> view_;
    std::vector<std::shared_ptr<KZBaseTabWebViewController>> children_;
    std::optional<std::size_t> selected_;
    std::weak_ptr<KZBaseTabWebViewController> shown_;
};

class KZBaseTabWindowController : public KZBaseWindowController,
                                  public KZWindowTitleTabBarDelegate,
                                  public kit::WindowDelegate {
public:
    using Models = std::vector<std::shared_ptr<KZWindowTitleTabBarItemModel>>;
    static constexpr double kTitleHeight = 40;
    static constexpr double kTabBarLeft = 100;
    static constexpr double kTipDelay = 0.1;
    static constexpr double kTipDuration = 3.0;
    static constexpr const char* kTabLimitTip = KZLocalizableKey("已达到最大标签页数");
    static constexpr const char* kHideTipSelector = "hideTipView";

    // initWithTabBarStyle:windowSize:
    KZBaseTabWindowController(bool tabBarStyle, kit::Size windowSize);
    ~KZBaseTabWindowController() override;
    void init() override;

    bool hasTabBar() const { return hasTabBar_; }
    KZTabViewController& tabViewController() { return tabViewController_; }
    const Models& titleBarItemModels() const { return titleBarItemModels_; }
    std::shared_ptr<KZWindowTitleTabBarItemModel> selectedTitleBarItemModel() const {
        return selectedTitleBarItemModel_.lock();
    }
    const std::shared_ptr<KZWindowTitleTabBarBackgroundView>& titleBgView();
    const std::shared_ptr<KZWindowTitleTabBar>& titleTabBar();
    const std::shared_ptr<KZTabWindowTipView>& tipView();
    std::shared_ptr<kit::View> tabBarView();

    void selectTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    void addTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    virtual void removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    // The one entry for opening a tab: refuses at the limit with the tip, else createDefaultTab.
    void createDefaultTabIfNeeded(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo);
    // Pairs a new model with its tab controller: the child first, then the model.
    void addTab(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model,
                const std::shared_ptr<KZBaseTabWebViewController>& controller);
    void showTipViewWithText(const std::optional<std::string>& text);

    // Hooks.
    virtual void createDefaultTab(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo) {
        (void)url, (void)actionInfo;
    }
    virtual std::size_t tabMaxCount() { return 100; }
    virtual bool showsAddButtonOfTabBar() { return true; }
    virtual double rightMarginOfTabBar() { return -100.0; }

    // The tab bar's delegate.
    const Models& tabBarItemModelsForTabBar(KZWindowTitleTabBar& tabBar) override;
    void tabBarDidClickAddButton(KZWindowTitleTabBar& tabBar) override;

    // Shown by the application: behind a quit's question that is up in another window.
    void showWindow() override;
    void setupViews() override;
    void setupViewsLayout() override;
    void onWindowFrameChanged() override;
    // A sheet hangs from the bottom of the tab strip, never over the tabs it may ask about.
    kit::Rect windowWillPositionSheet(kit::Window& window, kit::Window& sheet, kit::Rect proposed) override;

protected:
    template <class T>
    std::shared_ptr<T> self() {
        return std::static_pointer_cast<T>(shared_from_this());
    }
    // The handlers a tab model gets: select it, or run `remove` on it; both hold the window and
    // the model weakly.
    template <class Window>
    void setHandlers(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model,
                     void (Window::*remove)(const std::shared_ptr<KZWindowTitleTabBarItemModel>&)) {
        std::weak_ptr<Window> weakWindow = self<Window>();
        std::weak_ptr<KZWindowTitleTabBarItemModel> weakModel = model;
        model->setSelectHandler([weakWindow, weakModel] {
            auto window = weakWindow.lock();
            auto m = weakModel.lock();
            if (window && m) window->selectTabBarModel(m);
        });
        model->setRemoveHandler([weakWindow, weakModel, remove] {
            auto window = weakWindow.lock();
            auto m = weakModel.lock();
            if (window && m) ((*window).*remove)(m);
        });
    }
    std::optional<std::size_t> indexOf(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) const;
    // Drops every tab at once without touching the strip (the window is going away).
    void removeAllTabsWithoutStrip();

private:
    void hideTipView();

    bool hasTabBar_;
    KZTabViewController tabViewController_;
    Models titleBarItemModels_;
    std::weak_ptr<KZWindowTitleTabBarItemModel> selectedTitleBarItemModel_;
    std::shared_ptr<KZWindowTitleTabBarBackgroundView> titleBgView_;
    std::shared_ptr<KZWindowTitleTabBar> titleTabBar_;
    std::shared_ptr<KZTabWindowTipView> tipView_;
    kit::TaskId tipShow_ = 0;
};

class KZAITabWindowController : public KZBaseTabWindowController {
public:
    using KZBaseTabWindowController::KZBaseTabWindowController;
    ~KZAITabWindowController() override;
    void init() override;

    std::shared_ptr<KZAIWindowTitleTabBarItemModel> selectedAIModel() const;
    const std::shared_ptr<KZCustomViewButton>& refreshButton();
    virtual bool showsRefreshButtonInTabBar() { return true; }

    // Creates the default tab first when the window has none.
    void showWindow() override;
    void showWindowAndCreateNewTabWithActionInfo(const std::optional<kit::Dictionary>& actionInfo);
    void onClickRefreshButtonAction();
    void onClickRefreshButtonActionFrom(KZCustomViewButton& sender);
    void onUserLoginStateChanged();
    void onUserCancelLogin();
    void onForceReloadWebview();

    // ---- Before the application ends (the window-controller manager asks each window in turn).
    // Whether the window holds work the user is to be asked about before the application ends.
    virtual bool hasUnsavedWork() { return false; }
    // Runs the window's own close question for the quit, bringing the window forward when the
    // user is asked: `done(true)` once the work is closed or given up, `done(false)` when the
    // user keeps it. Answers once, on a later turn of the run loop. A call while the window is
    // already asking joins that question.
    virtual void closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done);
    // Without a question and without showing the window: whether closing it for a quit would
    // still ask the user (`answer(true)`). By default, whether it holds unsaved work; windows
    // whose pages keep the work ask them whether it is saved. Answers on a later turn.
    virtual void probeUnsavedWork(std::function<void(bool unsaved)> answer);
    // Whether the tab's page holds an opened file it can still be asked about (a page whose
    // content process has ended has nothing left to save).
    static bool tabHasOpenFile(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);

    void setupViews() override;
    void setupViewsLayout() override;

protected:
    // Whether a window notification is about this controller's own window.
    bool isOwnWindow(const kit::Window& window) const { return this->window().get() == &window; }
    // Puts a question's sheet on the window, unless it is up or waiting already. While the user is
    // busy with another sheet, that one comes forward and the question follows it when it ends.
    // `logTag` names the window in the log.
    void beginQuestionSheet(const std::shared_ptr<kit::Window>& sheet, const char* logTag);
    static void report(std::int64_t key, const std::string& value);
    // Asks the pages of these tabs whether their work is saved: `answer(true)` when one is not.
    static void probePages(const std::vector<std::shared_ptr<KZAITabWebViewController>>& pages,
                           std::function<void(bool unsaved)> answer);

private:
    std::shared_ptr<KZCustomViewButton> refreshButton_;
};
