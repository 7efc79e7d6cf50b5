// Every window the application opens (side window and its popovers, tool windows, panels,
// onboarding, tips, the drop window, confirm sheets) gets random mouse, wheel and key events at
// every one of its views, in sequences drawn from fixed seeds, so that a failure reproduces. The
// application must survive them and still answer afterwards.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "AppWindowsTestSupport.h"
#include "app/windows/KZLoginStateWindowController.h"
#include "app/windows/KZSideSettingsWindowController.h"
#include "app/windows/KZSideWindowRightView.h"
#include "kit/sys/GlobalHotKeys.h"

namespace {

class RandomInputTest : public apptest::AppWindowsTest, public ::testing::WithParamInterface<std::uint32_t> {
protected:
    // Opens (again) every window that is not on screen.
    void openEveryWindow() {
        auto shown = [](const std::shared_ptr<kit::WindowController>& controller) {
            return controller && controller->window() && controller->window()->isVisible();
        };
        if (!manager().sideMainWindowController() || !sideWindow().isVisible()) {
            manager().showSideMainWindowController();
            env.advance(apptest::kAfterSlide);
        }
        if (!started_) {
            makeReady(*side().singleWebView());
            // Logged out, the panels and the avatar open the login window instead.
            if (loggedIn_)
                KZAIUserManager::shared().onLoginStateChanged(kit::Dictionary{{"state", 0}, {"userName", "ann"}});
            started_ = true;
        }
        KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
        if (!shown(side().rightView()->loginStateWindowController()))
            side().rightView()->onClickAvatarButtonAction(nullptr);
        if (!shown(side().rightView()->settingsWindowController()))
            side().rightView()->onClickSettingsButtonAction(nullptr);
        for (int i = 0; i < 2 && !shown(manager().imageWindowController()); ++i)
            manager().showAIImageWindowControllerAndCreateNewTab();
        for (int i = 0; i < 2 && !shown(manager().documentWindowController()); ++i)
            manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
        if (!shown(manager().writingWindowController())) manager().showAIWritingWindowControllerFromSideWindow();
        if (!shown(manager().browserWindowController()))
            manager().showBrowserWindowControllerAndCreateNewTab("https://example.test/");
        manager().__showAISpliashWindowController();
        manager().showGuideEnableWindowController();
        manager().showPermissionWindowAlone();
        manager().showDropWindowController();
        // Last: the panels go away when another window takes the mouse or the keys.
        manager().showExplainPanelControllerWindowWithText("word", {300, 500});
        manager().showTranslatePanelControllerWindowWithText("word", {700, 500});
        env.advance(1);
    }

    bool started_ = false;
    const bool loggedIn_ = GetParam() % 2 == 1;

    static std::string kindOf(const kit::Window& window) {
        auto controller = window.windowController();
        if (!controller) return "a window of its own";
        const kit::WindowController& held = *controller;
        return typeid(held).name();
    }

    static void collect(const std::shared_ptr<kit::View>& view, std::vector<std::weak_ptr<kit::View>>& out) {
        out.push_back(view);
        for (const auto& child : view->subviews()) collect(child, out);
    }

    // A few random events at a random point of the view (in its window), or of the window when the
    // view shows nothing of itself.
    void shake(kit::Window& window, const kit::View& view, std::mt19937& random) {
        auto uniform = [&](double low, double high) {
            return std::uniform_real_distribution<double>(low, high)(random);
        };
        auto pick = [&](std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random); };
        const kit::Rect whole = {{0, 0}, window.frame().size};
        kit::Rect area = view.convertRectToView(view.bounds(), nullptr).intersection(whole);
        if (area.width() < 1 || area.height() < 1) area = whole;
        auto somewhere = [&](const kit::Rect& r) {
            return kit::Point{uniform(r.minX(), r.maxX()), uniform(r.minY(), r.maxY())};
        };
        const unsigned modifiers[] = {0, kit::ModifierShift, kit::ModifierControl, kit::ModifierOption,
                                      kit::ModifierCommand};
        struct Key {
            std::uint16_t code;
            const char* characters;
        };
        const Key keys[] = {{kit::kVK_Return, "\r"},  {kit::kVK_Escape, "\x1b"}, {kit::kVK_Tab, "\t"},
                            {kit::kVK_Space, " "},    {kit::kVK_Delete, "\x7f"}, {kit::kVK_LeftArrow, ""},
                            {kit::kVK_DownArrow, ""}, {kit::kVK_ANSI_A, "a"},    {kit::kVK_ANSI_W, "w"}};
        for (int n = 0; n < 4; ++n) {
            const kit::Point at = somewhere(area);
            switch (pick(8)) {
                case 0: ui.click(window, at, modifiers[pick(std::size(modifiers))]); break;
                case 1:
                    ui.mouseDown(window, at, 0, 2);
                    ui.mouseUp(window, at, 0, 2);
                    break;
                case 2: ui.rightClick(window, at); break;
                case 3: ui.drag(window, at, somewhere(whole), 3); break;
                case 4: ui.moveMouse(window.convertPointToScreen(at)); break;
                case 5: {
                    // Notches either way, smooth swipes in any direction, with or without Shift.
                    const double notch = (pick(2) == 0 ? 16.0 : -16.0);
                    const bool smooth = pick(2) == 0;
                    const double dx = smooth ? uniform(-30, 30) : (pick(3) == 0 ? notch : 0);
                    const double dy = smooth ? uniform(-30, 30) : (dx == 0 ? notch : 0);
                    ui.scroll(window, at, dx, dy, pick(3) == 0 ? unsigned{kit::ModifierShift} : 0u, smooth);
                    break;
                }
                default: {
                    const Key& key = keys[pick(std::size(keys))];
                    const unsigned flags = modifiers[pick(std::size(modifiers))];
                    ui.keyDown(window, key.code, key.characters, flags);
                    ui.keyUp(window, key.code, key.characters, flags);
                    break;
                }
            }
        }
    }
};

TEST_P(RandomInputTest, EveryViewOfEveryWindowSurvivesRandomMouseWheelAndKeyEvents) {
    std::mt19937 random(GetParam());
    // One kind of window a turn, in a fixed order; everything closed by the events of earlier
    // turns opens again first, and kinds the events open (sheets, cards) join the queue.
    std::vector<std::string> queue;
    std::set<std::string> kinds;
    std::size_t views = 0;
    auto visibleWindows = [] {
        std::vector<std::shared_ptr<kit::Window>> windows;
        for (const auto& window : kit::Application::shared().windows())
            if (window->isVisible()) windows.push_back(window);
        return windows;
    };
    for (std::size_t turn = 0; turn <= queue.size() && turn < 40; ++turn) {
        openEveryWindow();
        const auto windows = visibleWindows();
        std::set<std::string> newKinds;
        for (const auto& window : windows)
            if (!kinds.contains(kindOf(*window))) newKinds.insert(kindOf(*window));
        for (const auto& kind : newKinds) {
            kinds.insert(kind);
            queue.push_back(kind);
        }
        if (turn >= queue.size()) break;
        // Through the views of that kind's window in order; when the events close it, it opens
        // again and the walk goes on from the same place.
        for (std::size_t next = 0, opened = 0; opened < 20; ++opened) {
            if (opened > 0) openEveryWindow();
            const auto now = visibleWindows();
            auto found = std::find_if(now.begin(), now.end(), [&](const auto& w) { return kindOf(*w) == queue[turn]; });
            if (found == now.end()) break;
            const auto window = *found;
            std::vector<std::weak_ptr<kit::View>> all;
            collect(window->frameView(), all);
            for (; next < all.size() && window->isVisible(); ++next) {
                auto view = all[next].lock();
                // Views taken away by earlier events are left alone.
                if (!view || view->window() != window) continue;
                shake(*window, *view, random);
                if (++views % 16 == 0) env.advance(0.3);
            }
            if (next >= all.size()) break;
        }
        env.advance(5);
    }
    std::string seen;
    for (const auto& kind : kinds) seen += kind + " ";
    EXPECT_GE(kinds.size(), 11u) << seen;
    EXPECT_GT(views, 200u);
    // Still answering: the side window comes back on request, and a new tool window opens.
    manager().showSideMainWindowController();
    env.advance(1);
    EXPECT_TRUE(sideWindow().isVisible());
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    env.advance(1);
    ASSERT_NE(manager().documentWindowController(), nullptr);
    EXPECT_TRUE(manager().documentWindowController()->window()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomInputTest, ::testing::Values(1u, 2u, 3u));

}  // namespace
