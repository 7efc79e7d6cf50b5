#pragma once
// The strip of tabs in a tool window's title area: a horizontally scrolling row of 200-point tab
// item views followed by an add button. The window owns the list of tab models and is the strip's
// delegate; the strip only mirrors that list in its item views (reload, insert at the end, remove)
// and scrolls a tab into view. It never adds, removes or selects a model itself: the add button
// asks the delegate, and clicks on a tab reach the window through the handlers of the tab's model.
//
// Geometry (points): the visible strip is as wide as its tabs up to the strip's width less 22; the
// add button (22 x 22, vertically centred) stands 8 right of the last tab, or at the strip's right
// end once the tabs fill it. It is computed from the number of tabs and the strip's size, so the
// scroll position is always clamped against the final layout, also while an insertion animates.
//
// Made with kit::create<KZWindowTitleTabBar>(); the delegate is held weakly. Main thread only.

#include <cstddef>
#include <memory>
#include <vector>

#include "app/ui/KZView.h"
#include "kit/ui/Image.h"

class KZCustomViewButton;
class KZWindowTitleTabBar;
class KZWindowTitleTabBarItem;
class KZWindowTitleTabBarItemModel;
namespace kit {
class ScrollView;
}

class KZWindowTitleTabBarDelegate {
public:
    virtual ~KZWindowTitleTabBarDelegate() = default;
    // The window's models in strip order (the live list; the strip never keeps it).
    virtual const std::vector<std::shared_ptr<KZWindowTitleTabBarItemModel>>& tabBarItemModelsForTabBar(
        KZWindowTitleTabBar& tabBar) = 0;
    virtual void tabBarDidClickAddButton(KZWindowTitleTabBar& tabBar) = 0;
};

class KZWindowTitleTabBar : public KZView {
public:
    static constexpr double kItemWidth = 200;
    static constexpr double kAddButtonSize = 22;
    static constexpr double kAddButtonGap = 8;

    // Where everything of the strip goes for a number of tabs and a strip size.
    struct Geometry {
        kit::Rect scrollView;
        kit::Rect container;
        kit::Rect addButton;
        // Tab i in the container.
        kit::Rect item(std::size_t index) const;
        double height = 0;
    };
    static Geometry geometryFor(std::size_t tabCount, kit::Size stripSize);
    // The clip view's x that shows `item` whole from the visible rectangle `visible`, clamped to
    // max(0, min(x, max(0, content - viewport))); nullopt when it is visible already.
    static std::optional<double> scrollTargetFor(const kit::Rect& item, const kit::Rect& visible, double contentWidth);

    explicit KZWindowTitleTabBar(kit::Rect frame = {});
    ~KZWindowTitleTabBar() override;
    void init() override;
    std::string className() const override { return "KZWindowTitleTabBar"; }

    std::shared_ptr<KZWindowTitleTabBarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<KZWindowTitleTabBarDelegate> delegate) { delegate_ = std::move(delegate); }
    bool showsAddButton() const { return showsAddButton_; }
    void setShowsAddButton(bool shows);

    const std::shared_ptr<kit::View>& containerView() const { return containerView_; }
    const std::shared_ptr<kit::ScrollView>& scrollView() const { return scrollView_; }
    const std::vector<std::shared_ptr<KZWindowTitleTabBarItem>>& tabItems() const { return tabItems_; }
    const std::shared_ptr<KZCustomViewButton>& addBtn();

    // Rebuilds the item views from the delegate's list, without animation.
    void reload();
    // An item view for the model the window has just appended (index = number of items).
    void insertTabBarItemModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model, std::size_t index,
                               bool animated);
    // Removes the item view at the index of a model the window has just taken out of its list.
    void removeTabBarItemModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model, std::size_t index,
                               bool animated);
    // Scrolls until the model's item view is fully visible.
    void scrollToTabBarItemModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model, bool animated);
    // The clip view's scroll position.
    double scrollOffset() const;

    void clickAddBtnAction();
    void scrollViewBoundsDidChange();

    void setupSubviews() override;
    void setupSubviewsColorWithDark(bool dark) override;
    void layout() override;

    static kit::Image __imageOfAddButton(bool dark);

protected:
    // A new size lays the strip out at once (a layout pass may not come before the next click).
    void resizeSubviewsWithOldSize(kit::Size oldSize) override;

private:
    std::shared_ptr<KZWindowTitleTabBarItem> makeItem(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    // Puts every item view, the container, the scroll view and the add button where the
    // geometry says; animated moves the scroll view, the add button and the item views.
    void applyGeometry(bool animated, bool animateContainer);

    std::weak_ptr<KZWindowTitleTabBarDelegate> delegate_;
    bool showsAddButton_ = true;
    std::shared_ptr<kit::View> containerView_;
    std::shared_ptr<kit::ScrollView> scrollView_;
    std::vector<std::shared_ptr<KZWindowTitleTabBarItem>> tabItems_;
    // Closed tabs still shrinking away.
    std::vector<std::shared_ptr<KZWindowTitleTabBarItem>> removingItems_;
    std::shared_ptr<KZCustomViewButton> addBtn_;
    std::shared_ptr<void> boundsObserver_;
    kit::Size appliedSize_{-1, -1};
};
