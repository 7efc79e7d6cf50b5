// The in-app browser window: tabs opened by address, the page's title and icon on the tab, the
// reload, copy and open-in-browser buttons, and closing.

#include <gtest/gtest.h>

#include "ToolWindowsTestSupport.h"
#include "app/tools/KZAIBrowserWindowController.h"
#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "app/web/KZWKWebView.h"
#include "kit/ui/Pasteboard.h"

namespace {

using kit::Rect;

class BrowserWindowTest : public tooltest::ToolWindowsTest {
protected:
    std::shared_ptr<KZAIBrowserWindowController> browser() {
        return std::dynamic_pointer_cast<KZAIBrowserWindowController>(manager().browserWindowController());
    }
    static kit::ScriptedWebEngine& engineOf(const tooltest::ModelPtr& model) {
        return *kit::ScriptedWebEngine::of(*model->associateWebView()->webView());
    }
    // The page answers the icon script with `icon` (a string, null, or an error).
    static void pageIcon(const tooltest::ModelPtr& model, const kit::ScriptResult& icon) {
        engineOf(model).setResponder([icon](const std::string& script) {
            return script == KZAIBrowserWebView::kFaviconScript ? icon : kit::ScriptResult(kit::Value());
        });
    }
};

TEST_F(BrowserWindowTest, ResolvesIconAddressesAgainstThePage) {
    struct Case {
        const char* reference;
        const char* base;
        const char* expected;
    };
    for (const Case& c : {Case{"https://cdn.test/i.png", "https://a.test/x/y", "https://cdn.test/i.png"},
                          Case{"data:image/png;base64,AA", "https://a.test/", "data:image/png;base64,AA"},
                          Case{"//cdn.test/i.ico", "https://a.test/x", "https://cdn.test/i.ico"},
                          Case{"/favicon.ico", "https://a.test:8443/x/y?q=1", "https://a.test:8443/favicon.ico"},
                          Case{"icon.png", "https://a.test/docs/page.html", "https://a.test/docs/icon.png"},
                          Case{"../img/./i.png", "https://a.test/docs/sub/page", "https://a.test/docs/img/i.png"},
                          Case{"../../../../i.png", "https://a.test/a/b", "https://a.test/i.png"},
                          Case{"?v=2", "https://a.test/p?q=1#f", "https://a.test/p?v=2"},
                          Case{"i.png", "not an address", ""}}) {
        EXPECT_EQ(KZAIBrowserWebView::resolveAddress(c.reference, c.base), c.expected) << c.reference << " on " << c.base;
    }
}

TEST_F(BrowserWindowTest, TabsFollowTheirPagesTitleAndIcon) {
    sideWindow().setFrame({1300, 50, 420, 800});
    manager().showBrowserWindowControllerAndCreateNewTab("https://news.test/a");
    auto window = browser();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->window()->frame(), manager().__calulateFrameWithFunctionWindow(nullptr));
    EXPECT_TRUE(window->titleTabBar()->addBtn()->isHidden());
    EXPECT_EQ(window->titleTabBar()->frame().maxX(), window->titleBgView()->frame().width() - 150);
    EXPECT_EQ(window->rightView()->frame().size, (kit::Size{80, 24}));
    EXPECT_EQ(window->rightView()->frame().maxX(), window->titleBgView()->frame().width() - 20);
    auto tab = window->titleBarItemModels()[0];
    EXPECT_EQ(tab->title(), "新标签页");
    EXPECT_EQ(tab->iconName(), "title_bar_tab_icon_web");
    EXPECT_EQ(tab->webUrlString(), "https://news.test/a");

    // The page's title and icon reach the tab; an empty title and a page without icon keep them.
    pageIcon(tab, kit::ScriptResult(kit::Value("/static/icon.png")));
    ASSERT_TRUE(engineOf(tab).loadPage("https://news.test/a", "Front page"));
    env.runUntilIdle();
    EXPECT_EQ(tab->title(), "Front page");
    EXPECT_EQ(tab->iconURL(), "https://news.test/static/icon.png");
    pageIcon(tab, kit::ScriptResult(kit::Value()));
    ASSERT_TRUE(engineOf(tab).loadPage("https://news.test/b", ""));
    env.runUntilIdle();
    EXPECT_EQ(tab->title(), "Front page");
    EXPECT_EQ(tab->iconURL(), "https://news.test/static/icon.png");
    pageIcon(tab, kit::ScriptResult(kit::Error{"script failed"}));
    ASSERT_TRUE(engineOf(tab).loadPage("https://news.test/c", "Third"));
    env.runUntilIdle();
    EXPECT_EQ(tab->title(), "Third");
    EXPECT_EQ(tab->iconURL(), "https://news.test/static/icon.png");

    // Another request adds a tab and puts the window back in its place.
    window->window()->setFrame({5, 6, 1000, 700});
    manager().showBrowserWindowControllerAndCreateNewTab("https://other.test/");
    EXPECT_EQ(window->titleBarItemModels().size(), 2u);
    EXPECT_EQ(window->window()->frame(), manager().__calulateFrameWithFunctionWindow(nullptr));
    EXPECT_EQ(window->selectedTitleBarItemModel(), window->titleBarItemModels()[1]);
}

TEST_F(BrowserWindowTest, ButtonsActOnTheSelectedPageAndClosingReleasesTheWindow) {
    manager().showBrowserWindowControllerAndCreateNewTab("https://news.test/start");
    auto window = browser();
    auto tab = window->titleBarItemModels()[0];
    // Before the page reports an address of its own: the opening address.
    ui.clickView(*window->rightView()->copiButton());
    EXPECT_EQ(kit::Pasteboard::general().stringForType(), std::optional<std::string>("https://news.test/start"));
    ASSERT_TRUE(engineOf(tab).loadPage("https://news.test/moved", "Moved"));
    env.runUntilIdle();
    ui.clickView(*window->rightView()->copiButton());
    EXPECT_EQ(kit::Pasteboard::general().stringForType(), std::optional<std::string>("https://news.test/moved"));
    ui.clickView(*window->rightView()->externalButton());
    EXPECT_EQ(env.workspace().openedURLs(), std::vector<std::string>{"https://news.test/moved"});
    const int reloads = engineOf(tab).reloadCount();
    ui.clickView(*window->rightView()->refreshButton());
    EXPECT_EQ(engineOf(tab).reloadCount(), reloads + 1);

    // Closing the window removes every tab without asking and releases the controller.
    manager().showBrowserWindowControllerAndCreateNewTab("https://news.test/second");
    std::weak_ptr<KZAIBrowserWindowController> weak = window;
    window->window()->performClose();
    window.reset();
    env.runUntilIdle();
    EXPECT_EQ(browser(), nullptr);
    EXPECT_TRUE(weak.expired());
    manager().showBrowserWindowControllerAndCreateNewTab("https://news.test/again");
    ASSERT_NE(browser(), nullptr);
    EXPECT_EQ(browser()->titleBarItemModels().size(), 1u);
    // The last tab's close button destroys the window.
    ui.clickView(*browser()->titleBarItemModels()[0]->associateTabBarItem()->closeButton());
    EXPECT_EQ(browser(), nullptr);
}

TEST_F(BrowserWindowTest, OtherSitesOpenTheBrowserOnlyOnTheUsersClickAndAtMostOnceASecond) {
    manager().showBrowserWindowControllerAndCreateNewTab("https://popups.test/");
    auto window = browser();
    auto foreign = window->titleBarItemModels()[0];
    ASSERT_TRUE(engineOf(foreign).loadPage("https://popups.test/", "Pop-ups"));
    manager().showBrowserWindowControllerAndCreateNewTab("https://ai.quarn.test/chat");
    auto service = window->titleBarItemModels()[1];
    ASSERT_TRUE(engineOf(service).loadPage("https://ai.quarn.test:443/chat", "Chat"));
    env.runUntilIdle();

    struct Step {
        const tooltest::ModelPtr& tab;
        const char* url;
        bool click;
        double after;  // seconds before the request
        bool opens;
    };
    const std::vector<Step> steps{
        // Scripts of another site open nothing, however often they try.
        {foreign, "https://ad.test/1", false, 0, false},
        {foreign, "https://ad.test/2", false, 0, false},
        {foreign, "https://ad.test/3", false, 2, false},
        // A click opens one; a second within the second does not.
        {foreign, "https://popups.test/a", true, 0, true},
        {foreign, "https://popups.test/b", true, 0.5, false},
        {foreign, "https://popups.test/c", true, 0.6, true},
        // The AI service's pages keep opening windows with or without a click.
        {service, "https://docs.test/x", false, 0, true},
        {service, "https://docs.test/y", false, 0, true},
        {service, "https://docs.test/z", true, 0, true},
    };
    std::vector<std::string> expected;
    for (const Step& step : steps) {
        env.advance(step.after);
        EXPECT_EQ(engineOf(step.tab).openNewWindow(step.url, kit::NavigationType::Other, step.click), nullptr);
        if (step.opens) expected.emplace_back(step.url);
        EXPECT_EQ(env.workspace().openedURLs(), expected) << step.url;
    }
    EXPECT_EQ(env.log().count("[WebView] new window dropped, not asked for by the user: https://ad.test/"), 3u);
    EXPECT_EQ(env.log().count("[WebView] new window dropped, another one was opened just before"), 1u);
}

}  // namespace
