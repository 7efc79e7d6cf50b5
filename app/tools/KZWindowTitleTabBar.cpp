#include "app/tools/KZWindowTitleTabBar.h"

#include <algorithm>
#include <cmath>

#include "app/tools/KZWindowTitleTabBarItem.h"
#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZHoverView.h"
#include "app/ui/KZImageTint.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/ScrollView.h"

// ---- Geometry -------------------------------------------------------------------------------------

kit::Rect KZWindowTitleTabBar::Geometry::item(std::size_t index) const {
    return {kItemWidth * static_cast<double>(index), 0, kItemWidth, height};
}

KZWindowTitleTabBar::Geometry KZWindowTitleTabBar::geometryFor(std::size_t tabCount, kit::Size stripSize) {
    Geometry g;
    g.height = stripSize.height;
    const double content = kItemWidth * static_cast<double>(tabCount);
    const double visible = std::max(0.0, std::min(content, stripSize.width - kAddButtonSize));
    g.container = {0, 0, content, stripSize.height};
    g.scrollView = {0, 0, visible, stripSize.height};
    const double addX = std::max(0.0, std::min(visible + kAddButtonGap, stripSize.width - kAddButtonSize));
    g.addButton = {addX, std::round((stripSize.height - kAddButtonSize) / 2), kAddButtonSize, kAddButtonSize};
    return g;
}

std::optional<double> KZWindowTitleTabBar::scrollTargetFor(const kit::Rect& item, const kit::Rect& visible,
                                                           double contentWidth) {
    if (item.minX() >= visible.minX() && item.maxX() <= visible.maxX()) return std::nullopt;
    const double x = item.minX() < visible.minX() ? item.minX() : item.maxX() - visible.width();
    return std::max(0.0, std::min(x, std::max(0.0, contentWidth - visible.width())));
}

// ---- Building -------------------------------------------------------------------------------------

KZWindowTitleTabBar::KZWindowTitleTabBar(kit::Rect frame) : KZView(frame) {}

KZWindowTitleTabBar::~KZWindowTitleTabBar() = default;

void KZWindowTitleTabBar::init() {
    KZView::init();
    tabItems_.clear();
}

const std::shared_ptr<KZCustomViewButton>& KZWindowTitleTabBar::addBtn() {
    if (!addBtn_) {
        addBtn_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
        addBtn_->setButtonImage(__imageOfAddButton(isDarkMode()), kit::EdgeInsets{4, 4, 4, 4});
        addBtn_->hoverView()->setCornerRadius(4);
        addBtn_->hoverView()->setMasksToBounds(true);
        addBtn_->hoverView()->setIsHovered(false);
        std::weak_ptr<kit::View> weak = weak_from_this();
        addBtn_->setActionBlock([weak](KZCustomViewButton&) {
            if (auto self = std::static_pointer_cast<KZWindowTitleTabBar>(weak.lock())) self->clickAddBtnAction();
        });
        addBtn_->setAccessibilityLabel(KZLocalizedString("新增标签页"));
    }
    return addBtn_;
}

void KZWindowTitleTabBar::setupSubviews() {
    containerView_ = kit::create<kit::View>();
    scrollView_ = kit::create<kit::ScrollView>();
    scrollView_->setDrawsBackground(false);
    // Tabs scrolled out of the strip are not drawn over the window's buttons.
    scrollView_->setMasksToBounds(true);
    scrollView_->setHasVerticalScroller(false);
    scrollView_->setHasHorizontalScroller(false);
    scrollView_->setScrollsVertically(false);
    scrollView_->setDocumentView(containerView_);
    auto clip = scrollView_->contentView();
    clip->setPostsBoundsChangedNotifications(true);
    std::weak_ptr<kit::View> weak = weak_from_this();
    // Only this strip's clip view: other strips and scroll views are not our business.
    boundsObserver_ = kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kViewBoundsDidChangeNotification, clip.get(), [weak](const kit::Notification&) {
            if (auto self = std::static_pointer_cast<KZWindowTitleTabBar>(weak.lock())) self->scrollViewBoundsDidChange();
        });
    addSubview(scrollView_);
    addSubview(addBtn());
}

void KZWindowTitleTabBar::setupSubviewsColorWithDark(bool dark) {
    KZView::setupSubviewsColorWithDark(dark);
    addBtn()->setButtonImage(__imageOfAddButton(dark), kit::EdgeInsets{4, 4, 4, 4});
}

kit::Image KZWindowTitleTabBar::__imageOfAddButton(bool dark) {
    kit::Image image = kit::Image::named("title_bar_add");
    return dark ? imageWithTintColor(image, kit::Color::white()) : image;
}

void KZWindowTitleTabBar::setShowsAddButton(bool shows) {
    showsAddButton_ = shows;
    addBtn()->setHidden(!shows);
}

// ---- Layout ---------------------------------------------------------------------------------------

void KZWindowTitleTabBar::layout() {
    KZView::layout();
    // Only a new size calls for a new layout here: the tab operations lay out (and animate) by
    // themselves, and a layout pass in the middle of their animation must not cut it short.
    if (bounds().size == appliedSize_) return;
    applyGeometry(false, false);
}

void KZWindowTitleTabBar::resizeSubviewsWithOldSize(kit::Size oldSize) {
    KZView::resizeSubviewsWithOldSize(oldSize);
    if (bounds().size != appliedSize_) applyGeometry(false, false);
}

void KZWindowTitleTabBar::applyGeometry(bool animated, bool animateContainer) {
    appliedSize_ = bounds().size;
    const Geometry g = geometryFor(tabItems_.size(), bounds().size);
    auto place = [animated](const std::shared_ptr<kit::View>& view, const kit::Rect& frame) {
        if (view->frame() == frame) return;
        if (animated) {
            view->animator().setFrame(frame);
        } else {
            view->setFrame(frame);
        }
    };
    if (animated && animateContainer) {
        place(containerView_, g.container);
    } else {
        containerView_->setFrame(g.container);
    }
    kit::AnimationContext::runAnimationGroup([&](kit::AnimationContext&) {
        for (std::size_t i = 0; i < tabItems_.size(); ++i) place(tabItems_[i], g.item(i));
        place(scrollView_, g.scrollView);
        place(addBtn(), g.addButton);
    });
    // The scroll position never goes beyond what the final layout can show.
    const double limit = std::max(0.0, g.container.width() - g.scrollView.width());
    if (scrollOffset() > limit) scrollView_->contentView()->setBoundsOrigin({limit, 0});
}

// ---- Items ----------------------------------------------------------------------------------------

std::shared_ptr<KZWindowTitleTabBarItem> KZWindowTitleTabBar::makeItem(
    const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    auto item = kit::create<KZWindowTitleTabBarItem>();
    item->setModel(model);
    return item;
}

void KZWindowTitleTabBar::reload() {
    auto d = delegate();
    static const std::vector<std::shared_ptr<KZWindowTitleTabBarItemModel>> none;
    const auto& models = d ? d->tabBarItemModelsForTabBar(*this) : none;
    const std::size_t n = models.size();
    while (tabItems_.size() > n) {
        tabItems_.back()->removeFromSuperview();
        tabItems_.pop_back();
    }
    while (tabItems_.size() < n) {
        auto item = kit::create<KZWindowTitleTabBarItem>();
        containerView_->addSubview(item);
        tabItems_.push_back(item);
    }
    for (std::size_t i = 0; i < n; ++i) tabItems_[i]->setModel(models[i]);
    applyGeometry(false, false);
}

void KZWindowTitleTabBar::insertTabBarItemModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model,
                                                std::size_t index, bool animated) {
    if (index > tabItems_.size()) return;
    // The view shows the delegate's model at that index (the one just appended), else the one given.
    std::shared_ptr<KZWindowTitleTabBarItemModel> shown = model;
    if (auto d = delegate()) {
        const auto& models = d->tabBarItemModelsForTabBar(*this);
        if (index < models.size()) shown = models[index];
    }
    auto item = makeItem(shown);
    const Geometry g = geometryFor(tabItems_.size() + 1, bounds().size);
    // The new tab appears in its place at once; the strip's growth and the add button's move animate.
    item->setFrame(g.item(index));
    containerView_->addSubview(item);
    tabItems_.insert(tabItems_.begin() + static_cast<std::ptrdiff_t>(index), item);
    applyGeometry(animated, false);
}

void KZWindowTitleTabBar::removeTabBarItemModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>&,
                                                std::size_t index, bool animated) {
    if (index >= tabItems_.size()) return;
    auto removed = tabItems_[index];
    tabItems_.erase(tabItems_.begin() + static_cast<std::ptrdiff_t>(index));
    const kit::Rect collapsed = {kItemWidth * static_cast<double>(index), 0, 0, bounds().height()};
    if (!animated) {
        removed->removeFromSuperview();
        applyGeometry(false, false);
        return;
    }
    // The closed tab shrinks to nothing while its right neighbours slide left; it leaves the
    // strip when that is over (it is out of the bookkeeping already). The strip keeps it alive
    // meanwhile, not the animation: a view must not go down with the animation that moves it.
    removingItems_.push_back(removed);
    std::weak_ptr<kit::View> weak = weak_from_this();
    const KZWindowTitleTabBarItem* identity = removed.get();
    kit::AnimationContext::runAnimationGroup(
        [&](kit::AnimationContext&) {
            removed->animator().setFrame(collapsed);
            applyGeometry(true, true);
        },
        [weak, identity](bool) {
            auto self = std::static_pointer_cast<KZWindowTitleTabBar>(weak.lock());
            if (!self) return;
            auto& list = self->removingItems_;
            auto found = std::find_if(list.begin(), list.end(), [&](const auto& item) { return item.get() == identity; });
            if (found == list.end()) return;
            auto item = *found;
            list.erase(found);
            item->removeFromSuperview();
            kit::Application::shared().releaseLater(std::move(item));
        });
}

// ---- Scrolling ------------------------------------------------------------------------------------

double KZWindowTitleTabBar::scrollOffset() const { return scrollView_->contentView()->bounds().origin.x; }

void KZWindowTitleTabBar::scrollToTabBarItemModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model,
                                                  bool animated) {
    // Against the final layout: an insertion may still be animating the strip's growth.
    const Geometry g = geometryFor(tabItems_.size(), bounds().size);
    kit::Rect item{};
    if (auto view = model ? model->associateTabBarItem() : nullptr) {
        auto found = std::find(tabItems_.begin(), tabItems_.end(), view);
        if (found != tabItems_.end()) item = g.item(static_cast<std::size_t>(found - tabItems_.begin()));
    }
    // A strip not laid out yet shows nothing: there is nothing to scroll into view.
    if (g.scrollView.width() <= 0) return;
    const kit::Rect visible = {scrollOffset(), 0, g.scrollView.width(), g.height};
    const auto target = scrollTargetFor(item, visible, g.container.width());
    if (!target) return;
    auto clip = scrollView_->contentView();
    if (animated) {
        kit::AnimationContext::runAnimationGroup(
            [&](kit::AnimationContext&) { clip->animator().setBoundsOrigin({*target, 0}); });
    } else {
        clip->setBoundsOrigin({*target, 0});
    }
}

void KZWindowTitleTabBar::scrollViewBoundsDidChange() {
    // The tabs moved under a still pointer: no tab keeps a hover highlight.
    for (const auto& item : tabItems_) item->setIsHovered(false);
}

void KZWindowTitleTabBar::clickAddBtnAction() {
    addBtn()->hoverView()->setIsHovered(false);
    if (auto d = delegate()) d->tabBarDidClickAddButton(*this);
}
