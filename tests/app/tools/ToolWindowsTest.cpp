// The tabbed window base and the writing, image and document windows: tabs and selection, the
// tab limit and its tip, login forwarding, closing (with the saved question and the confirm
// sheet), reports, and what the window-controller manager does with them.

#include <gtest/gtest.h>

#include <algorithm>

#include "ToolWindowsTestSupport.h"
#include "app/tools/KZTabWindowTipView.h"
#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Control.h"
#include "kit/ui/ScrollView.h"
#include "kit/base/NotificationCenter.h"

namespace {

using kit::Rect;
using tooltest::ModelPtr;

class ToolWindowsTest : public tooltest::ToolWindowsTest {};

// The close question about a file, its name set apart from the sentence.
std::string question(const std::string& name) {
    return "是否关闭 " + tooltest::isolated(name) + " 文件？关闭后将无法继续操作。";
}

std::string text(const kit::Value& value) {
    const std::string* s = value.asString();
    return s ? *s : std::string();
}

// An application delegate whose end of the main loop counts in `exits`.
std::shared_ptr<AppDelegate> countingExits(int& exits) {
    AppDelegate::Options options;
    options.quit = [&exits] { ++exits; };
    return std::make_shared<AppDelegate>(std::move(options));
}

std::string clickedFile(const std::vector<kit::Value>& calls) {
    for (const auto& call : calls)
        if (text(call["handlerName"]) == "HandleFile") return text(call["data"]["path"]);
    return {};
}

// ---- Tabs and selection ---------------------------------------------------------------------------

TEST_F(ToolWindowsTest, NewTabsAreAppendedSelectedAndRemovalSelectsANeighbour) {
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto window = document();
    ASSERT_NE(window, nullptr);
    auto& strip = *window->titleTabBar();
    // The first tab appears at once, without animation; later ones slide in.
    EXPECT_EQ(strip.tabItems().size(), 1u);
    EXPECT_EQ(strip.scrollView()->frame().width(), 200);
    for (int i = 0; i < 2; ++i) window->tabBarDidClickAddButton(strip);
    EXPECT_LT(strip.scrollView()->frame().width(), 600);
    env.advance(1);
    EXPECT_EQ(strip.scrollView()->frame().width(), 600);
    ASSERT_EQ(window->titleBarItemModels().size(), 3u);
    EXPECT_EQ(window->selectedTitleBarItemModel(), window->titleBarItemModels()[2]);
    EXPECT_EQ(window->tabViewController().selectedTabViewItemIndex(), 2u);

    struct Case {
        const char* what;
        int selected, removed;
        int expected;  // index in the original A B C, -1 for none
    };
    for (const Case& c : {Case{"middle selected: its right neighbour", 1, 1, 2},
                          Case{"last selected: its left neighbour", 2, 2, 1},
                          Case{"first selected: its right neighbour", 0, 0, 1},
                          Case{"an unselected tab: the selection stays", 0, 2, 0},
                          Case{"an unselected tab left of the selection", 2, 0, 2}}) {
        SCOPED_TRACE(c.what);
        manager().showAIDocumentWindowFromSideWindowWithActionInfo({});  // a fresh window of three
        auto w = document();
        while (w->titleBarItemModels().size() < 3) w->createDefaultTabIfNeeded(std::nullopt, std::nullopt);
        while (w->titleBarItemModels().size() > 3) w->removeTabBarModel(w->titleBarItemModels().front());
        const auto abc = w->titleBarItemModels();
        w->selectTabBarModel(abc[static_cast<std::size_t>(c.selected)]);
        auto shownPage = abc[static_cast<std::size_t>(c.selected)]->associateWebView();
        w->removeTabBarModel(abc[static_cast<std::size_t>(c.removed)]);
        env.advance(1);
        const auto& expected = abc[static_cast<std::size_t>(c.expected)];
        EXPECT_EQ(w->selectedTitleBarItemModel(), expected);
        std::size_t selectedCount = 0;
        for (const auto& m : w->titleBarItemModels()) selectedCount += m->isSelected() ? 1 : 0;
        EXPECT_EQ(selectedCount, 1u);
        // The page shown is the selected tab's, and only it is visible.
        for (const auto& m : w->titleBarItemModels())
            EXPECT_EQ(m->associateWebView()->superview()->isHidden(), m != expected) << m->title();
        if (c.selected != c.removed) {
            EXPECT_FALSE(shownPage->superview()->isHidden());
        }
        EXPECT_EQ(w->tabViewController().childViewControllers().size(), 2u);
        EXPECT_EQ(w->titleTabBar()->tabItems().size(), 2u);
    }

    // The only tab: nothing is selected and the document window goes.
    auto w = document();
    while (w->titleBarItemModels().size() > 1) w->removeTabBarModel(w->titleBarItemModels().back());
    auto last = w->titleBarItemModels()[0];
    w->removeTabBarModel(last);
    EXPECT_TRUE(w->titleBarItemModels().empty());
    EXPECT_EQ(document(), nullptr);
    EXPECT_TRUE(w->window()->isClosed());
}

TEST_F(ToolWindowsTest, ClicksUnderTheTransparentTitleBarReachTheTabs) {
    for (int i = 0; i < 3; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto window = document();
    env.advance(1);
    const auto tabs = window->titleBarItemModels();
    ui.click(*window->window(), tabs[0]->associateTabBarItem()->titleLabel()->convertPointToView({4, 4}, nullptr));
    EXPECT_EQ(window->selectedTitleBarItemModel(), tabs[0]);
    ui.clickView(*tabs[1]->associateTabBarItem()->closeButton());
    EXPECT_EQ(titles(*window).size(), 2u);
    EXPECT_EQ(window->selectedTitleBarItemModel(), tabs[0]);
    ui.clickView(*window->titleTabBar()->addBtn());
    EXPECT_EQ(titles(*window).size(), 3u);
    // A drag on the empty part of the strip still moves the window.
    const kit::Point origin = window->window()->frame().origin;
    const double top = window->window()->frame().height() - 10;
    ui.drag(*window->window(), {900, top}, {950, top - 30});
    EXPECT_EQ(window->window()->frame().origin, (kit::Point{origin.x + 50, origin.y - 30}));
    // The standard buttons still work there.
    ui.clickView(*window->window()->standardWindowButton(kit::WindowButton::Miniaturize));
    EXPECT_TRUE(window->window()->isMiniaturized());
}

TEST_F(ToolWindowsTest, ResizingKeepsTheStripAsWideAsTheWindowAndTheSelectedTabInView) {
    for (int i = 0; i < 8; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto window = document();
    kit::Window& w = *window->window();
    w.setFrame({100, 100, 1400, 700});
    window->selectTabBarModel(window->titleBarItemModels()[7]);
    env.advance(1);
    for (double width : {1000.0, 1250.0, 1600.0}) {
        SCOPED_TRACE(width);
        ui.userResize(w, {100, 100, width, 700});
        env.advance(1);
        EXPECT_EQ(window->titleBgView()->frame().width(), w.contentView()->bounds().width());
        auto& strip = *window->titleTabBar();
        EXPECT_EQ(strip.frame().width(), width - 200);
        const kit::Rect item = window->selectedTitleBarItemModel()->associateTabBarItem()->frame();
        EXPECT_GE(item.minX(), strip.scrollOffset());
        EXPECT_LE(item.maxX(), strip.scrollOffset() + strip.scrollView()->frame().width());
    }
}

TEST_F(ToolWindowsTest, AnOrdinaryWheelReachesEveryTabAtTheSmallestWidth) {
    for (int i = 0; i < 8; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto window = document();
    kit::Window& w = *window->window();
    ui.userResize(w, {100, 100, 100, 100});
    env.advance(1);
    ASSERT_EQ(w.frame().width(), 1000);
    auto& strip = *window->titleTabBar();
    const auto& models = window->titleBarItemModels();
    struct Case {
        const char* what;
        double dx, dy;
        unsigned modifiers;
    };
    for (const Case& c :
         {Case{"wheel notches towards the user", 0, -16, 0}, Case{"the same with Shift", 0, -16, kit::ModifierShift},
          Case{"sideways notches", -16, 0, 0}}) {
        SCOPED_TRACE(c.what);
        window->selectTabBarModel(models[0]);
        env.advance(1);
        ASSERT_EQ(strip.scrollOffset(), 0);
        const kit::Point pointer = kit::HeadlessUi::centerOf(*strip.scrollView());
        auto last = models[7]->associateTabBarItem();
        auto shownWhole = [&] {
            const kit::Rect item = last->frame();
            return item.minX() >= strip.scrollOffset() &&
                   item.maxX() <= strip.scrollOffset() + strip.scrollView()->frame().width();
        };
        int notches = 0;
        for (; !shownWhole() && notches < 100; ++notches) ui.scroll(w, pointer, c.dx, c.dy, c.modifiers, false);
        EXPECT_TRUE(shownWhole()) << notches << " notches";
        // 800 points of tabs hidden in an 800-point strip: GTK's step for that length is 86
        // points, ten notches (16-point notches took 50).
        EXPECT_LE(notches, 10);
        ui.clickView(*last);
        env.advance(1);
        EXPECT_EQ(window->selectedTitleBarItemModel(), models[7]);
        // And back to the first, the other way.
        for (notches = 0; strip.scrollOffset() > 0 && notches < 100; ++notches)
            ui.scroll(w, pointer, -c.dx, -c.dy, c.modifiers, false);
        EXPECT_EQ(strip.scrollOffset(), 0);
    }
}

TEST_F(ToolWindowsTest, TheHundredthTabIsTheLastAndEveryTipStaysItsFullTime) {
    manager().showAIImageWindowControllerAndCreateNewTab();
    auto window = image();
    while (window->titleBarItemModels().size() < 99) window->createDefaultTabIfNeeded(std::nullopt, std::nullopt);
    window->tabBarDidClickAddButton(*window->titleTabBar());
    EXPECT_EQ(window->titleBarItemModels().size(), 100u);
    env.advance(1);
    auto tip = window->tipView();
    EXPECT_EQ(tip->superview(), nullptr);

    // At the limit: the add button and every open request show the tip 0.1 s later, add nothing,
    // and drop the action.
    window->tabBarDidClickAddButton(*window->titleTabBar());
    manager().showAIImageWindowFromSideWindowWithActionInfo(kit::Dictionary{{"type", "picture"}, {"path", "/x.png"}});
    EXPECT_EQ(window->titleBarItemModels().size(), 100u);
    EXPECT_EQ(tip->superview(), nullptr);
    env.advance(0.1);
    EXPECT_EQ(tip->superview(), window->window()->contentView().get());
    EXPECT_EQ(tip->tipValue(), "已达到最大标签页数");
    const Rect content = window->window()->contentView()->bounds();
    EXPECT_NEAR(tip->frame().midX(), content.midX(), 1);
    EXPECT_EQ(tip->frame().maxY(), content.maxY() - 80);
    EXPECT_EQ(tip->frame().width(), tip->titleLabel()->intrinsicContentSize().width + 62);
    EXPECT_EQ(tip->layer().shadow.opacity, 0.4);

    // A second tip 2 s after the first stays its own 3 s (the first one's time does not end it).
    env.advance(1.9);
    window->tabBarDidClickAddButton(*window->titleTabBar());
    env.advance(1.5);  // 3.5 s after the first
    EXPECT_EQ(tip->superview(), window->window()->contentView().get());
    env.advance(2);
    EXPECT_EQ(tip->superview(), nullptr);
    EXPECT_EQ(window->titleBarItemModels().size(), 100u);
}

TEST_F(ToolWindowsTest, LoginEventsReachEveryTabInOrderAndRefreshReloads) {
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    manager().showAIWritingWindowControllerFromSideWindow();
    std::vector<KZAIWebView*> pages;
    for (const auto& m : document()->titleBarItemModels()) pages.push_back(&pageView(m));
    pages.push_back(&pageView(writing()->titleBarItemModels()[0]));
    for (auto* page : pages) makeReady(*page, "document");

    kit::NotificationCenter::defaultCenter().post(kKZAIUserLoginStateChangedNotification);
    kit::NotificationCenter::defaultCenter().post(kKZAIUserCancelLoginNotification);
    for (auto* page : pages)
        EXPECT_EQ(callNamesToPage(*page), (std::vector<std::string>{"LoginEventNotify", "ClientUserChange", "CancelLogin"}));

    // Force reload loads every tab's page afresh; the refresh button reloads the selected one.
    const auto before = pageOf(*pages[0]).loadedRequests().size();
    kit::NotificationCenter::defaultCenter().post(kKZAIUserForceReloadWebViewNotification);
    EXPECT_EQ(pageOf(*pages[0]).loadedRequests().size(), before + 1);
    EXPECT_EQ(pageOf(*pages[2]).loadedRequests().back().url, pages[2]->rootURL());
    ASSERT_TRUE(document()->refreshButton()->superview() != nullptr);
    EXPECT_EQ(image(), nullptr);
}

// ---- Tab page controllers -------------------------------------------------------------------------

TEST_F(ToolWindowsTest, PendingActionWaitsForTheToolPageAndFilesNameTheTab) {
    const kit::Dictionary action{{"type", "picture"}, {"path", "/home/u/Cat.JPEG"}};
    manager().showAIImageWindowFromSideWindowWithActionInfo(action);
    auto model = image()->titleBarItemModels()[0];
    auto& page = pageView(model);
    EXPECT_EQ(model->title(), "打开新图片");
    EXPECT_EQ(model->iconName(), "title_bar_tab_icon_default_image");
    EXPECT_EQ(model->webUrlString(), std::string(apptest::kServiceBase) + "thirdParty/dorvaka/picture?version=6");

    // Only the image page's own ready signal delivers the action, and only once.
    openPage(page);
    pageCalls(page, "WebIsReady", kit::Dictionary{{"from", "document"}});
    EXPECT_EQ(clickedFile(callsToPage(page)), "");
    pageCalls(page, "WebIsReady", kit::Dictionary{{"from", "image"}});
    EXPECT_EQ(clickedFile(callsToPage(page)), "/home/u/Cat.JPEG");
    pageCalls(page, "WebIsReady", kit::Dictionary{{"from", "image"}});
    EXPECT_EQ(clickedFile(callsToPage(page)), "");

    struct Case {
        std::string path, imageTitle, imageIcon, documentTitle, documentIcon;
    };
    for (const Case& c : {
             Case{"/home/u/Cat.JPEG", "Cat", "title_bar_tab_icon_jpg", "Cat", "title_bar_tab_icon_default_doc"},
             Case{"/a/b.bmp", "b", "title_bar_tab_icon_bmp", "b", "title_bar_tab_icon_default_doc"},
             Case{"x.GIF", "x", "title_bar_tab_icon_gif", "x", "title_bar_tab_icon_default_doc"},
             Case{"/p/shot.png", "shot", "title_bar_tab_icon_png", "shot", "title_bar_tab_icon_default_doc"},
             Case{"/p/s.webp", "s", "title_bar_tab_icon_webp", "s", "title_bar_tab_icon_default_doc"},
             Case{"/d/Report.pdf", "Report", "title_bar_tab_icon_default_image", "Report", "title_bar_tab_icon_pdf"},
             Case{"/d/notes.Doc", "notes", "title_bar_tab_icon_default_image", "notes", "title_bar_tab_icon_doc"},
             Case{"/d/sheet.xlsx", "sheet", "title_bar_tab_icon_default_image", "sheet", "title_bar_tab_icon_excel"},
             Case{"/d/t.xls", "t", "title_bar_tab_icon_default_image", "t", "title_bar_tab_icon_excel"},
             Case{"/d/r.txt", "r", "title_bar_tab_icon_default_image", "r", "title_bar_tab_icon_txt"},
             Case{"/d/slides.ppt", "slides", "title_bar_tab_icon_default_image", "slides", "title_bar_tab_icon_ppt"},
             Case{"/d/new.docx", "new", "title_bar_tab_icon_default_image", "new", "title_bar_tab_icon_default_doc"},
             Case{"/d/new.pptx", "new", "title_bar_tab_icon_default_image", "new", "title_bar_tab_icon_default_doc"},
             Case{"", "打开新图片", "title_bar_tab_icon_default_image", "打开新文档", "title_bar_tab_icon_default_doc"},
         }) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(KZAIImageWebViewController::__titleFromPath(c.path), c.imageTitle);
        EXPECT_EQ(KZAIImageWebViewController::__iconNameFromPath(c.path), c.imageIcon);
        EXPECT_EQ(KZAIDocumentWebViewController::__titleFromPath(c.path), c.documentTitle);
        EXPECT_EQ(KZAIDocumentWebViewController::__iconNameFromPath(c.path), c.documentIcon);
    }

    // The page's report names the tab; saving an image proposes the tab's title.
    pageCalls(page, "OpenFileNotify", kit::Dictionary{{"path", "/home/u/Cat.JPEG"}});
    EXPECT_EQ(model->title(), "Cat");
    EXPECT_EQ(model->associateTabBarItem()->titleLabel()->stringValue(), tooltest::isolated("Cat"));
    EXPECT_EQ(model->iconName(), "title_bar_tab_icon_jpg");
    auto delegate = std::dynamic_pointer_cast<KZAIWebViewDelegate>(page.aiDelegate());
    EXPECT_EQ(delegate->recommendedImageSaveNameForWebview(page), std::optional<std::string>("Cat"));

    // Login requests report which tool asked.
    pageCalls(page, "RequestLogin");
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto& doc = pageView(document()->titleBarItemModels()[0]);
    openPage(doc);
    pageCalls(doc, "RequestLogin");
    manager().showAIWritingWindowControllerFromSideWindow();
    auto& write = pageView(writing()->titleBarItemModels()[0]);
    openPage(write);
    pageCalls(write, "RequestLogin");
    EXPECT_EQ(reports(24022), (std::vector<std::string>{"11", "7", "9"}));
}

// ---- Image window closing -------------------------------------------------------------------------

TEST_F(ToolWindowsTest, ImageWindowClosesUnsavedTabsOneByOneAndCancelStops) {
    auto window = openImageTabs({"/p/one.png", "/p/two.png", "/p/three.png"});
    const auto tabs = window->titleBarItemModels();
    kit::Window& w = *window->window();
    HXReport::takeRecordedEvents();

    // Closing the window starts with the selected (last) tab: its page is asked first.
    w.performClose();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(reports(24053), std::vector<std::string>{"3"});
    EXPECT_TRUE(wasAskedIfSaved(tabs[2]));
    EXPECT_FALSE(wasAskedIfSaved(tabs[1]));
    answerSaved(tabs[2], false);
    auto sheet = sheetOf(w);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->titleLabel()->stringValue(), question("three"));
    answerSheet(w, true);
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"one", "two"}));
    // The next tab 0.5 s after the OK.
    env.advance(0.4);
    EXPECT_FALSE(wasAskedIfSaved(tabs[1]));
    env.advance(0.1);
    EXPECT_TRUE(wasAskedIfSaved(tabs[1]));
    // No answer within 3 s counts as unsaved: the user decides, and cancels.
    env.advance(3);
    ASSERT_NE(sheetOf(w), nullptr);
    EXPECT_EQ(sheetOf(w)->titleLabel()->stringValue(), question("two"));
    answerSheet(w, false);
    env.advance(2);
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(wasAskedIfSaved(tabs[0]));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(image(), window);
    // A late answer from the page changes nothing.
    answerSaved(tabs[1], true);
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"one", "two"}));

    // A tab without an opened file closes at once, without asking; a saved page's tab goes on
    // the answer; the last tab gone, the window goes and reports it.
    auto plain = openImageTabs({""});
    (void)plain;
    auto fresh = window->titleBarItemModels().back();
    window->removeTabBarModelByClickWindowClose(fresh);
    EXPECT_FALSE(wasAskedIfSaved(fresh));
    EXPECT_EQ(window->titleBarItemModels().size(), 2u);
    w.performClose();
    answerSaved(tabs[1], true);
    EXPECT_EQ(titles(*window), std::vector<std::string>{"one"});
    EXPECT_TRUE(wasAskedIfSaved(tabs[0]));
    answerSaved(tabs[0], true);
    EXPECT_EQ(image(), nullptr);
    EXPECT_TRUE(w.isClosed());
    EXPECT_EQ(reports(24051), std::vector<std::string>{"3"});

    // A window without tabs closes at once and reports 0 tabs.
    manager().showAIImageWindowControllerAndCreateNewTab();
    auto empty = image();
    empty->removeTabBarModel(empty->titleBarItemModels()[0]);
    HXReport::takeRecordedEvents();
    auto other = kit::create<KZAIImageWindowController>(true, kit::Size{1000, 700});
    other->window()->orderFront();
    other->window()->performClose();
    EXPECT_TRUE(other->window()->isClosed());
    EXPECT_EQ(reports(24053), std::vector<std::string>{"0"});
}

TEST_F(ToolWindowsTest, AnAnswerOnlyEverClosesItsOwnTab) {
    // The data-loss regression: closing A, then B while A's page is still being asked. A's answer
    // must never remove B, and B's own question stands.
    auto window = openImageTabs({"/p/a.png", "/p/b.png", "/p/c.png"});
    const auto tabs = window->titleBarItemModels();
    tabs[0]->didRemove();
    tabs[1]->didRemove();
    EXPECT_TRUE(wasAskedIfSaved(tabs[0]));
    EXPECT_TRUE(wasAskedIfSaved(tabs[1]));
    answerSaved(tabs[0], true);
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"b", "c"}));
    // B answers unsaved: the user is asked about B, never silently.
    answerSaved(tabs[1], false);
    ASSERT_NE(sheetOf(*window->window()), nullptr);
    EXPECT_EQ(sheetOf(*window->window())->titleLabel()->stringValue(), question("b"));
    // A second close of B while it is pending starts nothing new; an answer from a tab that is
    // not being closed is ignored.
    tabs[1]->didRemove();
    answerSaved(tabs[2], true);
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"b", "c"}));
    answerSheet(*window->window(), false);
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"b", "c"}));

    // Two unsaved answers: two sheets, one after the other, each about its own tab.
    tabs[1]->didRemove();
    tabs[2]->didRemove();
    answerSaved(tabs[2], false);
    answerSaved(tabs[1], false);
    EXPECT_EQ(sheetOf(*window->window())->titleLabel()->stringValue(), question("c"));
    answerSheet(*window->window(), true);
    EXPECT_EQ(titles(*window), std::vector<std::string>{"b"});
    ASSERT_NE(sheetOf(*window->window()), nullptr);
    EXPECT_EQ(sheetOf(*window->window())->titleLabel()->stringValue(), question("b"));
    answerSheet(*window->window(), false);
    EXPECT_EQ(titles(*window), std::vector<std::string>{"b"});

    // The sheet's own close button answers as Cancel: the tab is kept and can be closed again.
    tabs[1]->didRemove();
    answerSaved(tabs[1], false);
    std::vector<bool> answers;
    sheetOf(*window->window())->setOnClickHandler([&, handler = sheetOf(*window->window())->onClickHandler()](bool ok) {
        answers.push_back(ok);
        handler(ok);
    });
    sheetOf(*window->window())->window()->performClose();
    env.runUntilIdle();
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_EQ(sheetOf(*window->window()), nullptr);
    tabs[1]->didRemove();
    EXPECT_TRUE(wasAskedIfSaved(tabs[1]));

    // Escape answers as Cancel, Return as OK.
    answerSaved(tabs[1], false);
    ui.keyDown(*sheetOf(*window->window())->window(), kit::kVK_Escape, "\x1b");
    env.runUntilIdle();
    EXPECT_EQ(sheetOf(*window->window()), nullptr);
    EXPECT_EQ(titles(*window), std::vector<std::string>{"b"});
    tabs[1]->didRemove();
    answerSaved(tabs[1], false);
    ui.keyDown(*sheetOf(*window->window())->window(), kit::kVK_Return, "\r");
    EXPECT_EQ(image(), nullptr);
}

TEST_F(ToolWindowsTest, FileNamesCannotTurnTabTitlesOrTheCloseQuestionAround) {
    const std::string rlo = "\u202E", pdi = "\u2069";
    struct Case {
        std::string path, title, shown;
    };
    const Case cases[] = {
        {"/p/photo" + rlo + "gnp.exe.png", "photo" + rlo + "gnp.exe", "\u2068photo" + rlo + "gnp.exe" + pdi},
        {"/p/two\nlines.png", "two\nlines", "\u2068two lines" + pdi},
        {"/p/" + pdi + rlo + "x\r.png", pdi + rlo + "x\r", "\u2068" + rlo + "x " + pdi},
    };
    std::vector<std::string> files;
    for (const Case& c : cases) files.push_back(c.path);
    auto window = openImageTabs(files);
    const auto tabs = window->titleBarItemModels();
    kit::Window& w = *window->window();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        // The model keeps the name as it is (it is also the name offered for saving).
        EXPECT_EQ(tabs[i]->title(), cases[i].title);
        EXPECT_EQ(tabs[i]->associateTabBarItem()->titleLabel()->stringValue(), cases[i].shown);
        tabs[i]->didRemove();
        answerSaved(tabs[i], false);
        ASSERT_NE(sheetOf(w), nullptr);
        EXPECT_EQ(sheetOf(w)->titleLabel()->stringValue(),
                  "是否关闭 " + cases[i].shown + " 文件？关闭后将无法继续操作。");
        answerSheet(w, false);
    }
    EXPECT_EQ(window->titleBarItemModels().size(), std::size(cases));
}

TEST_F(ToolWindowsTest, TheUnsavedFallbackBelongsToItsOwnQuestion) {
    auto window = openImageTabs({"/p/a.png", "/p/b.png"});
    const auto tabs = window->titleBarItemModels();
    // Asked at 0, answered "saved?" no... the user cancels; asked again at 2.5 s.
    tabs[0]->didRemove();
    env.advance(1);
    answerSaved(tabs[0], false);
    answerSheet(*window->window(), false);
    env.advance(1.5);
    tabs[0]->didRemove();
    EXPECT_TRUE(wasAskedIfSaved(tabs[0]));
    // 3 s after the first question: its timer must not answer the second one.
    env.advance(0.6);
    EXPECT_EQ(sheetOf(*window->window()), nullptr);
    answerSaved(tabs[0], true);
    EXPECT_EQ(titles(*window), std::vector<std::string>{"b"});
    env.advance(5);
    EXPECT_EQ(sheetOf(*window->window()), nullptr);
    EXPECT_EQ(titles(*window), std::vector<std::string>{"b"});
}

TEST_F(ToolWindowsTest, QuittingWaitsForOpenFilesAndTheUsersAnswer) {
    std::vector<bool> decisions;
    auto decided = [&](bool proceed) { decisions.push_back(proceed); };
    // No image window, or one without opened files: nothing holds the quit.
    EXPECT_FALSE(KZCoreHooks::holdTermination(decided));
    openImageTabs({""});
    EXPECT_FALSE(KZCoreHooks::holdTermination(decided));

    auto window = openImageTabs({"/p/kept.png"});
    const auto tabs = window->titleBarItemModels();
    window->window()->orderOut();
    ASSERT_TRUE(KZCoreHooks::holdTermination(decided));
    EXPECT_TRUE(window->window()->isVisible());  // brought back to ask
    // The user keeps the unsaved file: the application goes on, with both tabs.
    answerSaved(tabs[1], false);
    answerSheet(*window->window(), false);
    EXPECT_EQ(decisions, std::vector<bool>{false});
    EXPECT_EQ(titles(*window), (std::vector<std::string>{"打开新图片", "kept"}));

    // Asked again, the user lets it go: the other tab follows, then the application may end.
    ASSERT_TRUE(KZCoreHooks::holdTermination(decided));
    answerSaved(tabs[1], false);
    answerSheet(*window->window(), true);
    EXPECT_EQ(decisions, std::vector<bool>{false});
    env.advance(0.5);
    EXPECT_EQ(image(), nullptr);
    EXPECT_EQ(decisions, (std::vector<bool>{false, true}));
}

TEST_F(ToolWindowsTest, AQuitInProgressHasOneAnswerWhateverTheUserDoesMeanwhile) {
    // Image tabs a, b and c hold unsaved files (c is selected, so it is asked first) and the user
    // quits; each case is what happens while the quit asks. Afterwards the application runs on with
    // the tabs named, nothing left over acts later, and another quit asks again and then ends.
    struct Case {
        const char* what;
        std::function<void(AppDelegate& app, kit::Window& w, const std::vector<ModelPtr>& tabs)> meanwhile;
        std::vector<std::string> kept;
    };
    const std::vector<Case> cases{
        {"quit, OK, the user closes another tab within the pause, Cancel on its question",
         [&](AppDelegate& app, kit::Window& w, const std::vector<ModelPtr>& tabs) {
             app.terminate();
             answerSaved(tabs[2], false);
             answerSheet(w, true);
             env.advance(0.2);
             tabs[0]->didRemove();
             answerSaved(tabs[0], false);
             answerSheet(w, false);
         },
         {"a", "b"}},
        {"quit, OK, the user closes both other tabs, the pause ends under the question of one, Cancel",
         [&](AppDelegate& app, kit::Window& w, const std::vector<ModelPtr>& tabs) {
             app.terminate();
             answerSaved(tabs[2], false);
             answerSheet(w, true);
             tabs[0]->didRemove();
             tabs[1]->didRemove();
             answerSaved(tabs[0], false);
             env.advance(1);
             answerSheet(w, false);
             answerSaved(tabs[1], false);
             answerSheet(w, true);
         },
         {"a"}},
        {"quit, the user closes another tab while the page is asked, Cancel, then OK on the user's own",
         [&](AppDelegate& app, kit::Window& w, const std::vector<ModelPtr>& tabs) {
             app.terminate();
             tabs[1]->didRemove();
             answerSaved(tabs[2], false);
             answerSheet(w, false);
             answerSaved(tabs[1], false);
             answerSheet(w, true);
         },
         {"a", "c"}},
        {"two quits in a row: one question",
         [&](AppDelegate& app, kit::Window& w, const std::vector<ModelPtr>& tabs) {
             app.terminate();
             EXPECT_TRUE(wasAskedIfSaved(tabs[2]));
             app.terminate();
             EXPECT_FALSE(wasAskedIfSaved(tabs[2]));
             answerSaved(tabs[2], false);
             answerSheet(w, false);
         },
         {"a", "b", "c"}},
        {"a termination signal while the question is up: the question stands",
         [&](AppDelegate& app, kit::Window& w, const std::vector<ModelPtr>& tabs) {
             app.terminate();
             answerSaved(tabs[2], false);
             auto sheet = sheetOf(w);
             app.terminate();
             EXPECT_EQ(sheetOf(w), sheet);
             answerSheet(w, false);
         },
         {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int exits = 0;
        auto app = countingExits(exits);
        auto window = openImageTabs({"/p/a.png", "/p/b.png", "/p/c.png"});
        c.meanwhile(*app, *window->window(), window->titleBarItemModels());
        env.advance(5);
        EXPECT_EQ(exits, 0);
        ASSERT_EQ(image(), window);
        EXPECT_EQ(titles(*window), c.kept);
        EXPECT_EQ(sheetOf(*window->window()), nullptr);
        EXPECT_FALSE(window->isClosingByClickWindowClose());

        app->terminate();
        EXPECT_EQ(exits, 0);
        for (int turn = 0; turn < 10 && image(); ++turn) {
            for (const auto& tab : image()->titleBarItemModels())
                if (wasAskedIfSaved(tab)) answerSaved(tab, true);
            env.advance(1);
        }
        EXPECT_EQ(image(), nullptr);
        EXPECT_EQ(exits, 1);
    }
}

TEST_F(ToolWindowsTest, QuittingAsksEveryToolWindowAboutItsUnsavedWorkInTurn) {
    // A writing draft (its window closed, so hidden), an image tab and document tabs; the pages
    // answer whether their work is saved, the user answers each question in turn.
    struct Case {
        const char* what;
        bool writingSaved, imageSaved;
        std::string imageFile;
        int documentTabs;
        std::vector<bool> answers;
        std::vector<std::string> questions;
        int exits;
    };
    const std::string writingQuestion = KZAIWritingWindowController::kConfirmText;
    const std::string imageQuestion = question("pic");
    const std::string documentQuestion = KZAIDocumentWindowController::kConfirmText;
    for (const Case& c : {
             Case{"Cancel on the writing question", false, false, "/p/pic.png", 2, {false}, {writingQuestion}, 0},
             Case{"Cancel on the image question", true, false, "/p/pic.png", 2, {false}, {imageQuestion}, 0},
             Case{"Cancel on the document question",
                  false,
                  false,
                  "/p/pic.png",
                  2,
                  {true, true, false},
                  {writingQuestion, imageQuestion, documentQuestion},
                  0},
             Case{"OK to every question",
                  false,
                  false,
                  "/p/pic.png",
                  3,
                  {true, true, true},
                  {writingQuestion, imageQuestion, documentQuestion},
                  1},
             Case{"saved pages, an image tab without a file, one document: no question", true, true, "", 1, {}, {}, 1},
             Case{"saved pages, two documents: only the documents' question",
                  true,
                  true,
                  "/p/pic.png",
                  2,
                  {true},
                  {documentQuestion},
                  1},
         }) {
        SCOPED_TRACE(c.what);
        manager().showAIWritingWindowControllerFromSideWindow();
        const ModelPtr draft = writing()->titleBarItemModels()[0];
        makeReady(pageView(draft), "write");
        writing()->window()->performClose();
        openImageTabs({c.imageFile});
        for (int i = 0; i < c.documentTabs; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
        for (const auto& tab : document()->titleBarItemModels()) makeReady(pageView(tab), "document");
        pageCalls(pageView(document()->titleBarItemModels()[0]), "OpenFileNotify",
                  kit::Dictionary{{"path", "/d/report.pdf"}});

        int exits = 0;
        auto app = countingExits(exits);
        app->terminate();
        std::vector<std::string> questions;
        for (int turn = 0; turn < 12 && exits == 0; ++turn) {
            if (writing() && wasAskedIfSaved(draft)) answerSaved(draft, c.writingSaved);
            if (image())
                for (const auto& tab : image()->titleBarItemModels())
                    if (wasAskedIfSaved(tab)) answerSaved(tab, c.imageSaved);
            for (const std::shared_ptr<kit::WindowController>& tool :
                 {manager().writingWindowController(), manager().imageWindowController(),
                  manager().documentWindowController()}) {
                if (!tool || !sheetOf(*tool->window())) continue;
                EXPECT_TRUE(tool->window()->isVisible());
                questions.push_back(sheetOf(*tool->window())->titleLabel()->stringValue());
                ASSERT_LT(questions.size(), c.answers.size() + 1) << questions.back();
                answerSheet(*tool->window(), c.answers[questions.size() - 1]);
            }
            env.advance(1);
        }
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(exits, c.exits);
        if (exits == 0) {
            // Cancel kept every piece of work the user had not let go.
            EXPECT_EQ(writing()->titleBarItemModels().size(), 1u);
            EXPECT_EQ(document()->titleBarItemModels().size(), static_cast<std::size_t>(c.documentTabs));
            if (c.answers.size() < 2) {
                EXPECT_EQ(titles(*image()), std::vector<std::string>{"pic"});
            }
        }
        manager().destoryAIImageWindowController();
        manager().destoryAIDocumentWindowController();
        env.runUntilIdle();
    }

    // A page whose content process has ended cannot answer: the quit does not wait for it, before
    // or while it is asked.
    for (const bool whileAsked : {false, true}) {
        SCOPED_TRACE(whileAsked ? "the process ends while the page is asked" : "the process had ended");
        auto window = openImageTabs({"/p/gone.png"});
        auto& page = pageView(window->titleBarItemModels()[0]);
        if (!whileAsked) pageOf(page).terminateWebContentProcess();
        int exits = 0;
        auto app = countingExits(exits);
        app->terminate();
        if (whileAsked) {
            // The writing page of the cases above says it is saved; then the image page is asked.
            answerSaved(writing()->titleBarItemModels()[0], true);
            EXPECT_TRUE(wasAskedIfSaved(window->titleBarItemModels()[0]));
            pageOf(page).terminateWebContentProcess();
        } else {
            answerSaved(writing()->titleBarItemModels()[0], true);
        }
        env.runUntilIdle();
        EXPECT_EQ(exits, 1);
        EXPECT_EQ(sheetOf(*window->window()), nullptr);
        manager().destoryAIImageWindowController();
        env.runUntilIdle();
    }
}

TEST_F(ToolWindowsTest, WithTheHostGoneTheTickAsksOnceAndQuitsWhenNothingUnsavedIsLeft) {
    // The host application is not installed, so every one-second tick quits. The user cancels the
    // first question; later ticks neither ask again nor bring a window forward, until the work is
    // saved or closed: then the next tick quits without a question.
    struct Case {
        const char* what;
        std::function<std::shared_ptr<KZAITabWindowController>()> open;
        std::function<void(KZAITabWindowController&)> letGo;  // the user saves or closes the work
    };
    bool saved = false;
    const std::vector<Case> cases{
        {"an image file, then saved in its page",
         [&] { return std::static_pointer_cast<KZAITabWindowController>(openImageTabs({"/p/pic.png"})); },
         [&](KZAITabWindowController&) { saved = true; }},
        {"two documents, then one closed",
         [&] {
             for (int i = 0; i < 2; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
             for (const auto& tab : document()->titleBarItemModels()) makeReady(pageView(tab), "document");
             pageCalls(pageView(document()->titleBarItemModels()[0]), "OpenFileNotify",
                       kit::Dictionary{{"path", "/d/report.pdf"}});
             return std::static_pointer_cast<KZAITabWindowController>(document());
         },
         [&](KZAITabWindowController& w) {
             ui.clickView(*w.titleBarItemModels().back()->associateTabBarItem()->closeButton());
         }},
        {"a writing draft, then saved in its page",
         [&] {
             manager().showAIWritingWindowControllerFromSideWindow();
             makeReady(pageView(writing()->titleBarItemModels()[0]), "write");
             return std::static_pointer_cast<KZAITabWindowController>(writing());
         },
         [&](KZAITabWindowController&) { saved = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        saved = false;
        const auto tool = c.open();
        const std::vector<ModelPtr> tabs = tool->titleBarItemModels();
        int exits = 0;
        auto app = countingExits(exits);
        KZGlobalTimer::shared().registerListener(app);
        std::size_t questions = 0;
        // A second passes; pages asked whether their work is saved answer; a question is counted.
        auto tick = [&] {
            env.advance(1);
            for (int round = 0; round < 3; ++round) {
                for (const auto& tab : tabs)
                    if (wasAskedIfSaved(tab)) answerSaved(tab, saved);
                env.runUntilIdle();
            }
            if (!tool->window()->isClosed() && sheetOf(*tool->window())) ++questions;
        };
        tick();
        ASSERT_EQ(questions, 1u);
        auto& peer = ui.peer(*tool->window());
        const std::size_t raised = peer.count(kit::WindowChange::Order);
        for (int i = 0; i < 3; ++i) tick();  // the question stays up, and its window where it is
        EXPECT_EQ(peer.count(kit::WindowChange::Order), raised);
        answerSheet(*tool->window(), false);
        questions = 0;
        for (int i = 0; i < 10; ++i) tick();
        EXPECT_EQ(questions, 0u);
        EXPECT_EQ(exits, 0);
        EXPECT_EQ(peer.count(kit::WindowChange::Order), raised);
        EXPECT_EQ(tool->titleBarItemModels().size(), tabs.size());
        c.letGo(*tool);
        tick();
        EXPECT_EQ(questions, 0u);
        EXPECT_EQ(exits, 1);
        KZGlobalTimer::resetShared();
        manager().destoryAIImageWindowController();
        manager().destoryAIDocumentWindowController();
        env.runUntilIdle();
    }
}

TEST_F(ToolWindowsTest, AQuitsQuestionStaysInFrontOfTheOtherToolWindows) {
    // The writing draft is unsaved and its question is up when a chat action opens an image tab:
    // the question stays in front, and the image window's close button brings it forward with a
    // tip instead of closing. Cancel ends that: the image window closes again.
    manager().showAIWritingWindowControllerFromSideWindow();
    const ModelPtr draft = writing()->titleBarItemModels()[0];
    makeReady(pageView(draft), "write");
    int exits = 0;
    auto app = countingExits(exits);
    app->terminate();
    answerSaved(draft, false);
    kit::Window& asking = *writing()->window();
    ASSERT_NE(sheetOf(asking), nullptr);
    manager().showAIImageWindowFromSideWindowWithActionInfo(
        kit::Dictionary{{"type", "picture"}, {"path", "/p/new.png"}});
    env.runUntilIdle();
    auto inFront = [&](const kit::Window& w) {
        // Front to back: the question's sheet and window come before the other window.
        auto order = kit::Application::shared().orderedWindows();
        auto at = [&](const kit::Window* x) {
            return std::ranges::find_if(order, [&](const auto& o) { return o.get() == x; });
        };
        return at(sheetOf(asking)->window().get()) < at(&w) && at(&asking) < at(&w);
    };
    auto other = image();
    EXPECT_TRUE(inFront(*other->window()));
    EXPECT_EQ(kit::Application::shared().keyWindow(), sheetOf(asking)->window());
    // The user brings it forward: it says that the question waits; its close button brings the
    // question forward and leaves the window open.
    other->tipView()->removeFromSuperview();
    other->window()->makeKeyAndOrderFront();
    env.advance(0.2);
    EXPECT_FALSE(inFront(*other->window()));
    EXPECT_EQ(other->tipView()->tipValue(), KZWindowControllerManager::kQuitQuestionWaitsTip);
    EXPECT_EQ(other->tipView()->superview(), other->window()->contentView().get());
    other->window()->performClose();
    env.runUntilIdle();
    EXPECT_TRUE(other->window()->isVisible());
    EXPECT_TRUE(inFront(*other->window()));
    answerSheet(asking, false);
    EXPECT_EQ(exits, 0);
    other->window()->performClose();
    env.runUntilIdle();
    EXPECT_EQ(image(), nullptr);
}

TEST_F(ToolWindowsTest, AQuitWaitsForASheetAlreadyUpOnTheWindowThatIsToAsk) {
    // The writing, image and document windows in turn have another sheet up when a quit comes;
    // the windows asked before have their work saved. The question follows when that sheet ends.
    int exits = 0;
    auto app = countingExits(exits);
    manager().showAIWritingWindowControllerFromSideWindow();
    makeReady(pageView(writing()->titleBarItemModels()[0]), "write");
    openImageTabs({"/p/pic.png"});
    for (int i = 0; i < 2; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    for (const auto& tab : document()->titleBarItemModels()) makeReady(pageView(tab), "document");
    pageCalls(pageView(document()->titleBarItemModels()[0]), "OpenFileNotify", kit::Dictionary{{"path", "/d/a.pdf"}});
    for (const std::shared_ptr<KZAITabWindowController>& tool :
         std::vector<std::shared_ptr<KZAITabWindowController>>{writing(), image(), document()}) {
        SCOPED_TRACE(tool == writing() ? "writing" : tool == image() ? "image" : "document");
        auto busy = kit::create<kit::Window>(kit::Rect{0, 0, 300, 100}, kit::WindowStyleTitled);
        tool->window()->beginSheet(busy);
        app->terminate();
        for (int turn = 0; turn < 3; ++turn) {
            for (const std::shared_ptr<KZAITabWindowController>& w :
                 std::vector<std::shared_ptr<KZAITabWindowController>>{writing(), image()})
                if (w)
                    for (const auto& tab : w->titleBarItemModels())
                        if (wasAskedIfSaved(tab)) answerSaved(tab, w != tool);
            env.runUntilIdle();
        }
        EXPECT_TRUE(manager().isQuitting());
        EXPECT_EQ(tool->window()->attachedSheet(), busy);
        EXPECT_EQ(sheetOf(*tool->window()), nullptr);
        tool->window()->endSheet(busy);
        env.runUntilIdle();
        ASSERT_NE(sheetOf(*tool->window()), nullptr);
        answerSheet(*tool->window(), false);
        EXPECT_FALSE(manager().isQuitting());
    }
    EXPECT_EQ(exits, 0);
}

TEST_F(ToolWindowsTest, ATabOpenedWhileItsWindowClosesStaysWithTheWindow) {
    // Image: b is let go with OK; in the pause before the next tab a chat action opens a tab with a
    // file. The close goes on with a only; the new tab, its file action and the window stay.
    auto window = openImageTabs({"/p/a.png", "/p/b.png"});
    const auto tabs = window->titleBarItemModels();
    window->window()->performClose();
    answerSaved(tabs[1], false);
    answerSheet(*window->window(), true);
    manager().showAIImageWindowFromSideWindowWithActionInfo(
        kit::Dictionary{{"type", "picture"}, {"path", "/p/new.png"}});
    const ModelPtr arrived = window->titleBarItemModels().back();
    env.advance(0.5);
    EXPECT_TRUE(wasAskedIfSaved(tabs[0]));
    answerSaved(tabs[0], true);
    env.advance(5);
    ASSERT_EQ(image(), window);
    EXPECT_EQ(window->titleBarItemModels(), std::vector<ModelPtr>{arrived});
    EXPECT_FALSE(window->window()->isClosed());
    EXPECT_FALSE(window->isClosingByClickWindowClose());
    auto& page = pageView(arrived);
    openPage(page);
    pageCalls(page, "WebIsReady", kit::Dictionary{{"from", "image"}});
    EXPECT_EQ(clickedFile(callsToPage(page)), "/p/new.png");

    // Document: a tab opened while "close all files?" is up is not among them; the window stays
    // and asks again the next time it is closed with two tabs.
    for (int i = 0; i < 2; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto documents = document();
    documents->window()->performClose();
    ASSERT_NE(sheetOf(*documents->window()), nullptr);
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    const ModelPtr later = documents->titleBarItemModels().back();
    answerSheet(*documents->window(), true);
    ASSERT_EQ(document(), documents);
    EXPECT_EQ(documents->titleBarItemModels(), std::vector<ModelPtr>{later});
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    documents->window()->performClose();
    EXPECT_NE(sheetOf(*documents->window()), nullptr);
    EXPECT_EQ(documents->titleBarItemModels().size(), 2u);
}

// ---- Document and writing windows -----------------------------------------------------------------

TEST_F(ToolWindowsTest, DocumentWindowAsksOnceForSeveralFilesAndNeverForOne) {
    // One tab: closes without a question.
    manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto one = document();
    HXReport::takeRecordedEvents();
    one->window()->performClose();
    EXPECT_EQ(sheetOf(*one->window()), nullptr);
    EXPECT_EQ(document(), nullptr);
    EXPECT_TRUE(one->window()->isClosed());
    EXPECT_EQ(reports(24051), std::vector<std::string>{"4"});
    EXPECT_EQ(reports(24053), std::vector<std::string>{"1"});

    // Three tabs: one sheet for all; Cancel keeps everything, OK removes all and the window.
    for (int i = 0; i < 3; ++i) manager().showAIDocumentWindowFromSideWindowWithActionInfo({});
    auto several = document();
    kit::Window& w = *several->window();
    HXReport::takeRecordedEvents();
    w.performClose();
    ASSERT_NE(sheetOf(w), nullptr);
    EXPECT_EQ(sheetOf(w)->titleLabel()->stringValue(), "关闭当前打开的所有文件？");
    answerSheet(w, false);
    EXPECT_EQ(several->titleBarItemModels().size(), 3u);
    EXPECT_FALSE(several->confirmCloseWindow());
    EXPECT_TRUE(w.isVisible());
    // A tab's close button never asks.
    several->titleBarItemModels()[0]->didRemove();
    EXPECT_EQ(sheetOf(w), nullptr);
    EXPECT_EQ(several->titleBarItemModels().size(), 2u);
    w.performClose();
    answerSheet(w, true);
    EXPECT_EQ(document(), nullptr);
    EXPECT_TRUE(w.isClosed());
    // 24053 carries the tabs there were when the user closed the window, not what was left.
    EXPECT_EQ(reports(24051), std::vector<std::string>{"4"});
    EXPECT_EQ(reports(24053), std::vector<std::string>{"2"});
}

TEST_F(ToolWindowsTest, WritingWindowOnlyHidesAndKeepsItsPage) {
    sideWindow().setFrame({1300, 50, 420, 800});
    manager().showAIWritingWindowControllerFromSideWindow();
    auto window = writing();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->window()->frame(), manager().__calulateFrameWithFunctionWindow(nullptr));
    EXPECT_FALSE(window->hasTabBar());
    EXPECT_EQ(window->titleTabBar()->superview(), nullptr);
    ASSERT_EQ(window->titleBarItemModels().size(), 1u);
    auto& page = pageView(window->titleBarItemModels()[0]);
    makeReady(page, "write");
    const auto loads = pageOf(page).loadedRequests().size();

    HXReport::takeRecordedEvents();
    window->window()->performClose();
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_EQ(writing(), window);
    const auto calls = callsToPage(page);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(text(calls[0]["handlerName"]), "WebShow");
    EXPECT_EQ(reports(24051), std::vector<std::string>{"2"});

    manager().showAIWritingWindowControllerFromSideWindow();
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(window->titleBarItemModels().size(), 1u);
    EXPECT_EQ(pageOf(page).loadedRequests().size(), loads);

    // Miniaturizing and full screen report the window's value; another window's do not count.
    HXReport::takeRecordedEvents();
    window->window()->miniaturize();
    window->windowWillEnterFullScreen(sideWindow());
    window->windowWillEnterFullScreen(*window->window());
    window->windowWillExitFullScreen(*window->window());
    EXPECT_EQ(reports(24050), std::vector<std::string>{"2"});
    EXPECT_EQ(reports(24052), (std::vector<std::string>{"2", "2"}));
}

TEST_F(ToolWindowsTest, ChatPageToolButtonsOpenTheirWindowsWithTheFile) {
    auto& chat = *side().singleWebView();
    makeReady(chat);
    pageCalls(chat, "FileAction", kit::Dictionary{{"type", "other"}});
    EXPECT_EQ(manager().writingWindowController(), nullptr);
    pageCalls(chat, "FileAction", kit::Dictionary{{"type", "write"}});
    pageCalls(chat, "FileAction", kit::Dictionary{{"type", "picture"}, {"path", "/tmp/a.png"}});
    pageCalls(chat, "FileAction", kit::Dictionary{{"type", "file"}, {"path", "/tmp/b.pdf"}});
    ASSERT_TRUE(writing() && image() && document());
    for (auto* w : {writing()->window().get(), image()->window().get(), document()->window().get()}) EXPECT_TRUE(w->isVisible());
    auto& picture = pageView(image()->titleBarItemModels()[0]);
    makeReady(picture, "image");
    auto& file = pageView(document()->titleBarItemModels()[0]);
    openPage(file);
    pageCalls(file, "WebIsReady", kit::Dictionary{{"from", "document"}});
    EXPECT_EQ(clickedFile(callsToPage(file)), "/tmp/b.pdf");
    // makeReady took the image page's calls: the action went with the ready signal.
    pageCalls(chat, "FileAction", kit::Dictionary{{"type", "picture"}, {"path", "/tmp/c.png"}});
    auto& second = pageView(image()->titleBarItemModels()[1]);
    openPage(second);
    pageCalls(second, "WebIsReady", kit::Dictionary{{"from", "image"}});
    EXPECT_EQ(clickedFile(callsToPage(second)), "/tmp/c.png");
    (void)picture;
}

// ---- Manager --------------------------------------------------------------------------------------

TEST_F(ToolWindowsTest, ManagerPlacesEveryToolWindowAndOpensOnlyAIPagesAsDocuments) {
    sideWindow().setFrame({1300, 50, 420, 800});
    const Rect placed = manager().__calulateFrameWithFunctionWindow(nullptr);
    manager().showAIDocumentWindowControllerAndCreateNewTab(std::string(apptest::kServiceBase) +
                                                            "thirdParty/dorvaka/file?openwith=mgr_document&id=7");
    ASSERT_NE(document(), nullptr);
    EXPECT_EQ(document()->window()->frame(), placed);
    EXPECT_EQ(document()->titleBarItemModels()[0]->webUrlString(),
              std::string(apptest::kServiceBase) + "thirdParty/dorvaka/file?openwith=mgr_document&id=7");
    manager().showAIImageWindowControllerAndCreateNewTab();
    EXPECT_EQ(image()->window()->frame(), placed);
    // A later request keeps the window where the user put it.
    image()->window()->setFrame({5, 6, 1000, 700});
    manager().showAIImageWindowFromSideWindowWithActionInfo({});
    EXPECT_EQ(image()->window()->frame(), (Rect{5, 6, 1000, 700}));
    EXPECT_EQ(image()->titleBarItemModels().size(), 2u);

    struct Case {
        std::string url;
        std::vector<std::string> opened;
    };
    for (const Case& c : {Case{"https://evil.test/thirdParty/dorvaka/file?openwith=mgr_document", {"https://evil.test/thirdParty/dorvaka/file?openwith=mgr_document"}},
                          Case{"http://ai.quarn.test/x?openwith=mgr_document", {"http://ai.quarn.test/x?openwith=mgr_document"}},
                          Case{"https://ai.quarn.test.evil.test/?openwith=mgr_document", {"https://ai.quarn.test.evil.test/?openwith=mgr_document"}},
                          Case{"file:///etc/passwd?openwith=mgr_document", {}},
                          Case{"javascript:alert(1)//openwith=mgr_document", {}}}) {
        SCOPED_TRACE(c.url);
        const auto before = env.workspace().openedURLs().size();
        manager().showAIDocumentWindowControllerAndCreateNewTab(c.url);
        const auto& opened = env.workspace().openedURLs();
        EXPECT_EQ(std::vector<std::string>(opened.begin() + static_cast<std::ptrdiff_t>(before), opened.end()), c.opened);
        EXPECT_EQ(document()->titleBarItemModels().size(), 1u);
    }
}

}  // namespace
