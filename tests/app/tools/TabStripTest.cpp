// The title tab strip and the tab model: geometry, scrolling into view, the insert, remove and
// reload bookkeeping, the tab item's clicks and what it shows.

#include <gtest/gtest.h>

#include "ToolWindowsTestSupport.h"
#include "app/ui/KZHoverView.h"
#include "frameworks/KZImageLoader.h"
#include "kit/ui/ScrollView.h"

namespace {

using kit::Rect;
using tooltest::Model;
using tooltest::ModelPtr;

// A window holding one strip 800 x 40, whose delegate is a plain list.
class TabStripTest : public tooltest::ToolWindowsTest {
protected:
    struct ListDelegate : KZWindowTitleTabBarDelegate {
        std::vector<ModelPtr> models;
        int addClicks = 0;
        const std::vector<ModelPtr>& tabBarItemModelsForTabBar(KZWindowTitleTabBar&) override { return models; }
        void tabBarDidClickAddButton(KZWindowTitleTabBar&) override { ++addClicks; }
    };

    TabStripTest() {
        window = kit::create<kit::Window>(Rect{100, 100, 800, 40}, kit::WindowStyleBorderless);
        strip = kit::create<KZWindowTitleTabBar>(Rect{0, 0, 800, 40});
        window->contentView()->addSubview(strip);
        strip->setDelegate(list);
        window->orderFront();
        strip->layoutSubtreeIfNeeded();
    }

    ModelPtr append(const std::string& title, bool animated = false) {
        auto model = std::make_shared<Model>();
        model->setTitle(title);
        list->models.push_back(model);
        strip->insertTabBarItemModel(model, list->models.size() - 1, animated);
        return model;
    }
    void removeAt(std::size_t index, bool animated = false) {
        auto model = list->models[index];
        list->models.erase(list->models.begin() + static_cast<std::ptrdiff_t>(index));
        strip->removeTabBarItemModel(model, index, animated);
    }
    std::vector<std::string> shownTitles() {
        std::vector<std::string> titles;
        for (const auto& item : strip->tabItems()) {
            const std::string& shown = item->titleLabel()->stringValue();
            const std::string bare = shown.size() >= 6 ? shown.substr(3, shown.size() - 6) : shown;
            titles.push_back(shown == tooltest::isolated(bare) ? bare : "not set apart: " + shown);
        }
        return titles;
    }

    std::shared_ptr<kit::Window> window;
    std::shared_ptr<KZWindowTitleTabBar> strip;
    std::shared_ptr<ListDelegate> list = std::make_shared<ListDelegate>();
};

TEST_F(TabStripTest, GeometryAtStripWidth800) {
    struct Case {
        std::size_t tabs;
        double visible, addX, content;
    };
    // The strip shows its tabs up to 800 - 22; the add button follows 8 to the right until the
    // strip is full, then stays at the right end.
    for (const Case& c : {Case{0, 0, 8, 0}, Case{1, 200, 208, 200}, Case{3, 600, 608, 600}, Case{10, 778, 778, 2000}}) {
        SCOPED_TRACE(c.tabs);
        const auto g = KZWindowTitleTabBar::geometryFor(c.tabs, {800, 40});
        EXPECT_EQ(g.scrollView, (Rect{0, 0, c.visible, 40}));
        EXPECT_EQ(g.addButton, (Rect{c.addX, 9, 22, 22}));
        EXPECT_EQ(g.container, (Rect{0, 0, c.content, 40}));
        EXPECT_LE(g.addButton.maxX(), 800);
        if (c.tabs) {
            EXPECT_EQ(g.item(c.tabs - 1), (Rect{200.0 * static_cast<double>(c.tabs - 1), 0, 200, 40}));
        }

        // The live strip lays itself out the same way.
        for (std::size_t i = strip->tabItems().size(); i < c.tabs; ++i) append("t" + std::to_string(i));
        EXPECT_EQ(strip->scrollView()->frame(), g.scrollView);
        EXPECT_EQ(strip->addBtn()->frame(), g.addButton);
        EXPECT_EQ(strip->containerView()->frame(), g.container);
        for (std::size_t i = 0; i < c.tabs; ++i) EXPECT_EQ(strip->tabItems()[i]->frame(), g.item(i)) << i;
    }
}

TEST_F(TabStripTest, ScrollTargetShowsTheWholeTabAndStaysInTheContent) {
    struct Case {
        const char* what;
        Rect item;
        double visibleX;
        double content;
        std::optional<double> target;
    };
    const double viewport = 778;
    for (const Case& c : {
             Case{"fully visible", {200, 0, 200, 40}, 0, 2000, std::nullopt},
             Case{"hidden on the right: its right edge meets the strip's", {1000, 0, 200, 40}, 0, 2000, 1200 - viewport},
             Case{"partly hidden on the right", {600, 0, 200, 40}, 0, 2000, 800 - viewport},
             Case{"hidden on the left: its left edge meets the strip's", {200, 0, 200, 40}, 900, 2000, 200},
             Case{"the last tab: never beyond content less viewport", {1800, 0, 200, 40}, 0, 2000, 2000 - viewport},
             Case{"no item view: the empty rectangle at the origin", {0, 0, 0, 0}, 500, 2000, 0},
             Case{"content narrower than the strip: never below 0", {0, 0, 200, 40}, 30, 600, 0},
             Case{"a stale offset beyond the content is pulled back", {1000, 0, 200, 40}, 0, 1100, 1100 - viewport},
         }) {
        SCOPED_TRACE(c.what);
        const auto target = KZWindowTitleTabBar::scrollTargetFor(c.item, {c.visibleX, 0, viewport, 40}, c.content);
        ASSERT_EQ(target.has_value(), c.target.has_value());
        if (target) {
            EXPECT_DOUBLE_EQ(*target, *c.target);
        }
    }
}

TEST_F(TabStripTest, ScrollsAgainstTheFinalLayoutOfAnAnimatedInsertAndClearsHover) {
    for (int i = 0; i < 6; ++i) append("t" + std::to_string(i));
    // The 7th tab slides in: scrolling to it at once must reach its place in the final layout.
    auto last = append("last", true);
    strip->scrollToTabBarItemModel(last, false);
    EXPECT_DOUBLE_EQ(strip->scrollOffset(), 1400 - 778);
    env.advance(1);
    EXPECT_DOUBLE_EQ(strip->scrollOffset(), 1400 - 778);
    EXPECT_EQ(strip->scrollView()->frame(), (Rect{0, 0, 778, 40}));

    // Back to the first, animated; the hover highlight of a tab does not survive the scroll.
    strip->tabItems()[2]->setIsHovered(true);
    strip->scrollToTabBarItemModel(list->models[0], true);
    env.advance(1);
    EXPECT_DOUBLE_EQ(strip->scrollOffset(), 0);
    EXPECT_FALSE(strip->tabItems()[2]->hoverView()->isHovered());
    EXPECT_FALSE(strip->tabItems()[2]->closeButton()->hoverView()->isHovered());
    // A visible tab scrolls nothing.
    strip->scrollToTabBarItemModel(list->models[1], false);
    EXPECT_DOUBLE_EQ(strip->scrollOffset(), 0);
}

TEST_F(TabStripTest, ATabAddedBeforeTheStripIsLaidOutIsWhereItIsDrawn) {
    // A window's first tab comes before its first layout pass: the strip has no width yet.
    strip->setFrame({0, 0, 0, 0});
    auto first = append("first");
    strip->scrollToTabBarItemModel(first, true);
    env.advance(1);
    strip->setFrame({0, 0, 800, 40});
    EXPECT_DOUBLE_EQ(strip->scrollOffset(), 0);
    EXPECT_EQ(strip->scrollView()->frame(), (Rect{0, 0, 200, 40}));
    int selects = 0;
    first->setSelectHandler([&] { ++selects; });
    window->layoutIfNeeded();
    ui.click(*window, first->associateTabBarItem()->titleLabel()->convertPointToView({4, 4}, nullptr));
    EXPECT_EQ(selects, 1);
    // A stale offset beyond what the final layout can show is pulled back.
    strip->scrollView()->contentView()->setBoundsOrigin({150, 0});
    append("second");
    EXPECT_DOUBLE_EQ(strip->scrollOffset(), 0);
}

TEST_F(TabStripTest, InsertRemoveAndReloadBookkeeping) {
    auto a = append("A");
    auto b = append("B", true);
    auto c = append("C", true);
    env.advance(1);
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(a->associateTabBarItem(), strip->tabItems()[0]);

    // Out-of-range indices are ignored.
    strip->insertTabBarItemModel(std::make_shared<Model>(), 5, false);
    strip->removeTabBarItemModel(a, 3, false);
    EXPECT_EQ(strip->tabItems().size(), 3u);

    // Removing the first re-attaches the second at the left edge; the removed view shrinks away
    // and its model forgets it once it is gone.
    removeAt(0, true);
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"B", "C"}));
    env.advance(1);
    EXPECT_EQ(strip->tabItems()[0]->frame(), (Rect{0, 0, 200, 40}));
    EXPECT_EQ(strip->containerView()->frame().width(), 400);
    EXPECT_EQ(strip->containerView()->subviews().size(), 2u);
    EXPECT_EQ(a->associateTabBarItem(), nullptr);
    EXPECT_EQ(strip->addBtn()->frame().minX(), 408);

    // Reload with fewer models drops views at the end and re-assigns the rest in order.
    list->models = {c};
    strip->reload();
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"C"}));
    EXPECT_EQ(c->associateTabBarItem(), strip->tabItems()[0]);
    // ... and with more, adds views at the end.
    auto d = std::make_shared<Model>();
    d->setTitle("D");
    list->models = {a, b, c, d};
    strip->reload();
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_EQ(strip->containerView()->frame().width(), 800);

    // Removing the last leaves a zero-width container.
    while (!list->models.empty()) removeAt(list->models.size() - 1);
    EXPECT_EQ(strip->containerView()->frame().width(), 0);
    EXPECT_EQ(strip->addBtn()->frame().minX(), 8);
}

TEST_F(TabStripTest, ModelChangesShowAtOnceAndClicksReachTheHandlers) {
    auto a = append("A");
    auto b = append("B");
    int selects = 0, removes = 0;
    a->setSelectHandler([&] { ++selects; });
    a->setRemoveHandler([&] { ++removes; });
    auto item = strip->tabItems()[0];

    a->setTitle("Renamed");
    EXPECT_EQ(item->titleLabel()->stringValue(), tooltest::isolated("Renamed"));
    a->setIsSelected(true);
    EXPECT_FALSE(item->selectView()->isHidden());
    EXPECT_TRUE(item->lineView()->isHidden());
    EXPECT_TRUE(item->hoverView()->isHidden());
    EXPECT_TRUE(item->closeButton()->isSelected());
    a->setWebUrlString("https://elsewhere.test/");  // touches nothing on screen
    EXPECT_EQ(item->titleLabel()->stringValue(), tooltest::isolated("Renamed"));

    // A click on the title selects; a click on the close button removes without selecting.
    ui.click(*window, item->titleLabel()->convertPointToView({5, 5}, nullptr));
    EXPECT_EQ(selects, 1);
    ui.clickView(*item->closeButton());
    EXPECT_EQ(removes, 1);
    EXPECT_EQ(selects, 1);
    // A press on the close button released outside it is a change of mind.
    const kit::Point onClose = kit::HeadlessUi::centerOf(*item->closeButton());
    ui.mouseDown(*window, onClose);
    ui.mouseUp(*window, {onClose.x + 40, onClose.y});
    EXPECT_EQ(removes, 1);
    EXPECT_EQ(selects, 1);
    // The accessibility press acts as a click; a tab without handlers does nothing.
    EXPECT_TRUE(item->closeButton()->accessibilityPerformPress());
    EXPECT_EQ(removes, 2);
    ui.clickView(*strip->tabItems()[1]->closeButton());
    ui.click(*window, strip->tabItems()[1]->titleLabel()->convertPointToView({5, 5}, nullptr));
    EXPECT_EQ(b->title(), "B");

    // The add button clears its hover and asks the delegate.
    strip->addBtn()->hoverView()->setIsHovered(true);
    ui.clickView(*strip->addBtn());
    EXPECT_EQ(list->addClicks, 1);
    EXPECT_FALSE(strip->addBtn()->hoverView()->isHovered());
    strip->setShowsAddButton(false);
    EXPECT_TRUE(strip->addBtn()->isHidden());
}

TEST_F(TabStripTest, CloseButtonHoverColourFollowsSelectionAndAppearance) {
    auto a = append("A");
    auto b = append("B");
    a->setIsSelected(true);
    auto hoverOf = [&](std::size_t i) { return strip->tabItems()[i]->closeButton()->hoverView()->getHoverColor(); };
    struct Case {
        bool dark;
        std::size_t tab;
        std::uint32_t colour;
    };
    for (const Case& c : {Case{true, 0, 0x353742}, Case{true, 1, 0x5B5E71}, Case{false, 0, 0xF4E8D7}, Case{false, 1, 0xF4E8D7}})
        EXPECT_EQ(hoverOf(c.tab)(c.dark), kit::Color::fromHex(c.colour)) << c.dark << " " << c.tab;
    EXPECT_EQ(strip->tabItems()[1]->hoverView()->getHoverColor()(true), kit::Color::fromHex(0x353742));
    EXPECT_EQ(strip->tabItems()[1]->hoverView()->getHoverColor()(false), kit::Color::fromHex(0xFFF8E9));

    // The title colour follows the appearance like the rest of the tab.
    const kit::Color light = strip->tabItems()[0]->titleLabel()->textColor();
    JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Dark);
    env.runUntilIdle();
    EXPECT_EQ(strip->tabItems()[0]->titleLabel()->textColor(), JWAppThemeHelper::getAiTitleColor());
    EXPECT_NE(strip->tabItems()[0]->titleLabel()->textColor(), light);
    EXPECT_EQ(strip->tabItems()[0]->selectView()->layer().backgroundColor, kit::Color::fromHex(0x5B5E71));
    (void)b;
}

}  // namespace
