// A tool window with three tabs, the middle one selected and the first hovered, drawn to PNG in
// both appearances (build/test-output/tools/), and the colours a user sees read back from it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "ToolWindowsTestSupport.h"
#include "app/tools/KZTabWindowTipView.h"
#include "app/ui/KZHoverView.h"
#include "frameworks/ColorHelpers.h"
#include "kit/headless/OffscreenRenderer.h"

namespace {

class ToolWindowRenderingTest : public tooltest::ToolWindowsTest {};

bool near(kit::Color a, kit::Color b) {
    const double t = 2.0 / 255;
    return std::fabs(a.red - b.red) <= t && std::fabs(a.green - b.green) <= t && std::fabs(a.blue - b.blue) <= t;
}

std::string hex(kit::Color c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<int>(std::lround(c.red * 255)),
                  static_cast<int>(std::lround(c.green * 255)), static_cast<int>(std::lround(c.blue * 255)));
    return text;
}

TEST_F(ToolWindowRenderingTest, TabsInBothAppearances) {
    manager().showAIImageWindowControllerAndCreateNewTab();
    manager().showAIImageWindowControllerAndCreateNewTab();
    manager().showAIImageWindowControllerAndCreateNewTab();
    auto window = image();
    const auto tabs = window->titleBarItemModels();
    tabs[0]->setTitle("Cat");
    tabs[1]->setTitle("A long title that runs out softly before the close button");
    tabs[2]->setTitle("报告");
    window->selectTabBarModel(tabs[1]);
    env.advance(1);
    tabs[0]->associateTabBarItem()->setIsHovered(true);
    window->window()->setFrame({100, 100, 1000, 700});
    env.runUntilIdle();

    struct Case {
        bool dark;
        const char* file;
        std::uint32_t title, selected, hovered;
    };
    for (const Case& c : {Case{false, "tool-window-light.png", 0xFFF1D7, 0xFFFFFF, 0xFFF8E9},
                          Case{true, "tool-window-dark.png", 0x272835, 0x5B5E71, 0x353742}}) {
        SCOPED_TRACE(c.file);
        setDark(c.dark);
        const auto path = outputDirectory("tools") / c.file;
        ASSERT_TRUE(ui.writePng(*window->window(), path).ok());
        auto picture = kit::Image::fromFile(path);
        ASSERT_TRUE(picture.ok());
        const kit::Image& png = picture.value();
        // The title strip is the top 40 points; tabs start 100 in, 200 wide each.
        const double y = 700 - 8;
        auto at = [&](double x) { return kit::colorAtPoint(png, {x, y}); };
        EXPECT_TRUE(near(at(900), colorWithHex(c.title))) << hex(at(900));       // right of the add button
        EXPECT_TRUE(near(at(304), colorWithHex(c.selected))) << hex(at(304));    // the selected face
        EXPECT_TRUE(near(at(104), colorWithHex(c.hovered))) << hex(at(104));     // the hovered tab
        EXPECT_TRUE(near(at(504), colorWithHex(c.title))) << hex(at(504));       // a plain tab blends in
        // The divider at a plain tab's right edge, none at the selected one's.
        EXPECT_TRUE(near(kit::colorAtPoint(png, {699.5, 700 - 20}), colorWithHex(0xC7D4E8)));
        EXPECT_FALSE(near(kit::colorAtPoint(png, {499.5, 700 - 20}), colorWithHex(0xC7D4E8)));
        // The long title is clipped and faded: the last points before the icon row's end show
        // no text colour.
        const double fadeEnd = 300 + 12 + 20 + 5 + 126 - 1;
        EXPECT_TRUE(near(kit::colorAtPoint(png, {fadeEnd, 700 - 20}), colorWithHex(c.selected)))
            << hex(kit::colorAtPoint(png, {fadeEnd, 700 - 20}));
    }
}

TEST_F(ToolWindowRenderingTest, ScrolledTabsStayInsideTheStrip) {
    for (int i = 0; i < 8; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto window = document();
    window->window()->setFrame({100, 100, 1000, 700});
    env.advance(1);
    // The last tab is selected and scrolled into view; the first ones run under the strip's left
    // end and must not be drawn over the window's buttons.
    EXPECT_GT(window->titleTabBar()->scrollOffset(), 0);
    const auto path = outputDirectory("tools") / "tool-window-scrolled.png";
    ASSERT_TRUE(ui.writePng(*window->window(), path).ok());
    auto picture = kit::Image::fromFile(path);
    ASSERT_TRUE(picture.ok());
    for (double x : {90.0, 95.0, 99.0})
        EXPECT_TRUE(near(kit::colorAtPoint(picture.value(), {x, 700 - 8}), colorWithHex(0xFFF1D7)))
            << x << " " << hex(kit::colorAtPoint(picture.value(), {x, 700 - 8}));
    // The selected (last) tab ends 22 before the strip does (the add button's room), and the
    // strip 100 before the window's right edge.
    EXPECT_TRUE(near(kit::colorAtPoint(picture.value(), {876, 700 - 8}), colorWithHex(0xFFFFFF)));
    EXPECT_TRUE(near(kit::colorAtPoint(picture.value(), {880, 700 - 8}), colorWithHex(0xFFF1D7)));
}

TEST_F(ToolWindowRenderingTest, TheTabLimitTipHasASoftEdgeOnAWhitePage) {
    manager().showAIImageWindowControllerAndCreateNewTab();
    auto window = image();
    window->window()->setFrame({100, 100, 1000, 700});
    window->showTipViewWithText(std::string("已达到最大标签页数"));
    env.advance(1);
    auto tip = window->tipView();
    ASSERT_NE(tip->superview(), nullptr);
    const auto path = outputDirectory("tools") / "tab-limit-tip.png";
    ASSERT_TRUE(ui.writePng(*window->window(), path).ok());
    auto picture = kit::Image::fromFile(path);
    ASSERT_TRUE(picture.ok());
    const kit::Rect f = tip->convertRectToView(tip->bounds(), nullptr);
    auto at = [&](double x, double y) { return kit::colorAtPoint(picture.value(), {x, y}); };
    auto darkness = [&](double x, double y) { return 1 - at(x, y).red; };
    // The white tip on the white page has an edge: its shadow falls 4 left and 4 down, and
    // nothing on the far sides or further away.
    EXPECT_TRUE(near(at(f.midX(), f.midY() + f.height() / 4), colorWithHex(0xFFFFFF)));
    EXPECT_GT(darkness(f.minX() - 1, f.midY()), 0.08) << hex(at(f.minX() - 1, f.midY()));
    EXPECT_GT(darkness(f.midX(), f.minY() - 1), 0.08) << hex(at(f.midX(), f.minY() - 1));
    for (const kit::Point p : {kit::Point{f.maxX() + 2, f.midY()}, kit::Point{f.midX(), f.maxY() + 2},
                               kit::Point{f.minX() - 20, f.midY()}, kit::Point{f.midX(), f.minY() - 20}})
        EXPECT_TRUE(near(at(p.x, p.y), colorWithHex(0xFFFFFF))) << p.x << "," << p.y << " " << hex(at(p.x, p.y));
}

}  // namespace
