// The side window's page actions, drag-to-AI with the drop window, and auto-hide.

#include <fstream>

#include "app/capture/KZDropWindController.h"
#include "app/windows/KZAILoginWindowController.h"
#include "app/windows/KZBaseWindowController.h"
#include "app/windows/KZCanNotBeKeyWnd.h"
#include "app/windows/KZCustomWindow.h"
#include "kit/base/Json.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace {

using apptest::kAfterSlide;
using kit::Dictionary;
using kit::Rect;
using kit::Value;

// A tool window as the manager keeps it: a base window controller (its window counts for the
// auto-hide rules).
class ToolWindowController : public KZBaseWindowController {
public:
    ToolWindowController() : KZBaseWindowController(true, kit::Size{1000, 700}) {}
};

class SidePageActionsTest : public apptest::AppWindowsTest {
protected:
    SidePageActionsTest() {
        KZAIUserManager::shared().onLoginStateChanged(Dictionary{{"state", 0}, {"userName", "ann"}});
        KZDragManager::shared().setEnable(true);
        makeReady(chat());
        HXReport::takeRecordedEvents();
    }

    KZAIWebView& chat() { return *side().singleWebView(); }

    void showSide() {
        side().showWithCompletionHandler();
        env.advance(kAfterSlide);
        callsToPage(chat());
        HXReport::takeRecordedEvents();
        env.log().clear();
    }

    static std::shared_ptr<ToolWindowController> makeToolWindow() {
        auto tool = kit::create<ToolWindowController>();
        return tool;
    }

    // Where the web view is: "side" or "drop".
    std::string webViewHome() {
        auto drop = manager().dropWindowController();
        if (drop && chat().superview() == drop->dropView().get()) return "drop";
        if (chat().superview() == sideWindow().contentView().get()) return "side";
        return "elsewhere";
    }
};

// ---- Page actions ----------------------------------------------------------------------------------

TEST_F(SidePageActionsTest, FileActionsOpenTheirToolWindows) {
    struct Case {
        Value action;
        std::string logged;  // the manager's line, up to the action it was given; "" for nothing
    };
    const Case cases[] = {
        {Dictionary{{"type", "file"}, {"path", "/tmp/a.pdf"}},
         "[WndCtrl] Show AI Document Window With Action Info: " + kit::describe(Dictionary{{"type", "file"}, {"path", "/tmp/a.pdf"}})},
        {Dictionary{{"type", "picture"}, {"path", "/tmp/a.png"}}, "[WndCtrl] Show AI Image Window"},
        {Dictionary{{"type", "write"}, {"text", "draft"}}, "[WndCtrl] Show AI Writing Window"},
        {Dictionary{{"type", "video"}}, ""},
        {Dictionary{{"type", 1}}, ""},
        {Dictionary{{"path", "/tmp/a.pdf"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kit::toJson(c.action));
        env.log().clear();
        pageCalls(chat(), "FileAction", c.action);
        std::vector<std::string> managerLines;
        for (const auto& line : env.log().lines())
            if (line.starts_with("[WndCtrl] Show AI")) managerLines.push_back(line);
        EXPECT_EQ(managerLines, c.logged.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.logged});
    }
}

TEST_F(SidePageActionsTest, LoginRequestAndFullScreenExit) {
    pageCalls(chat(), "RequestLogin");
    EXPECT_EQ(reports(24022), std::vector<std::string>{"4"});

    // A window of the page leaving full screen brings the hidden side window back; one of the
    // application's base windows does not, nor anything while the side window shows.
    auto tool = makeToolWindow();
    auto login = tool->window();
    auto pageWindow = kit::create<kit::Window>(Rect{0, 0, 300, 200}, kit::WindowStyleTitled);
    struct Case {
        const kit::Window* object;
        bool visibleBefore;
        bool slidesIn;
    };
    const Case cases[] = {{login.get(), false, false}, {pageWindow.get(), false, true}, {pageWindow.get(), true, true}};
    for (const auto& c : cases) {
        if (c.visibleBefore) showSide();
        env.log().clear();
        kit::NotificationCenter::defaultCenter().post(kit::kWindowDidExitFullScreenNotification, c.object);
        env.advance(kAfterSlide);
        EXPECT_EQ(sideWindow().isVisible(), c.slidesIn);
        EXPECT_EQ(env.log().count("[SD] Side Window Show"), (c.slidesIn && !c.visibleBefore) ? 1u : 0u);
        EXPECT_TRUE(env.log().contains("side -- exit --- <Window: "));
    }
}

TEST_F(SidePageActionsTest, CaptureForThePageSendsOnlyAnImage) {
    // Cancelled: nothing reaches the page, the window stays hidden.
    pageCalls(chat(), "StartCapture");
    EXPECT_EQ(reports(24060), std::vector<std::string>{"1"});
    ASSERT_TRUE(capture.isSelecting());
    capture.cancelSelection();
    env.advance(1);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_EQ(callNamesToPage(chat()), std::vector<std::string>{});

    // An image goes to the page, then the window slides in.
    pageCalls(chat(), "StartCapture");
    ASSERT_TRUE(capture.finishSelection(kit::Image::filled(30, 20, kit::Color::fromHex(0x334455))));
    env.advance(kAfterSlide + 0.05);
    EXPECT_TRUE(sideWindow().isVisible());
    const auto calls = callsToPage(chat());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["handlerName"], Value("OnFileForAnalyze"));
    EXPECT_EQ(calls[0]["data"]["filePurpose"], Value(14));
}

// ---- Drag to the AI --------------------------------------------------------------------------------

TEST_F(SidePageActionsTest, DragFlowAlwaysGivesTheWebViewBack) {
    struct Case {
        const char* name;
        bool visibleAtStart;
        bool shownDuringDrag;  // the hot key during the drag
        bool inside;
        bool dropWindow;      // opened at the start
        bool visibleAfter;
        bool dropReports;     // 24023, 24020, 21123
        std::vector<std::string> pageCalls;
        bool pageReady = true;          // when the drop comes; else the page says so afterwards
        bool pageTakesDropToo = false;  // the engine reports the drop window's drop as well
    };
    const std::vector<std::string> dragOnOff{"SystemDragFile", "SystemDragFile"};
    const std::vector<std::string> handedOver{"OnFileForAnalyze"};
    const Case cases[] = {
        {"hidden, inside", false, false, true, true, true, true, handedOver},
        {"hidden, inside, the page's drop too", false, false, true, true, true, true, handedOver, true, true},
        {"hidden, inside, the page not ready yet", false, false, true, true, true, true, handedOver, false},
        {"hidden, outside", false, false, false, true, false, false, {}},
        {"visible, inside", true, false, true, false, true, false, dragOnOff},
        {"visible, outside", true, false, false, false, true, false, dragOnOff},
        {"shown during the drag, inside", false, true, true, true, true, true, {"SystemDragFile", "OnFileForAnalyze"}},
        {"shown during the drag, outside", false, true, false, true, true, false, {"SystemDragFile"}},
    };
    const std::string dragged = (env.root() / "Budget.XLSX").string();
    std::ofstream(dragged) << "PK budget";
    const kit::Point inside{1100, 800};  // in the drop window at the top right
    const kit::Point outside{300, 300};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.visibleAtStart) showSide();
        if (!c.pageReady) chat().setIsAIWebReady(false);
        drags.beginFileDrag({dragged}, {200, 200});
        EXPECT_EQ(manager().dropWindowController() != nullptr, c.dropWindow);
        EXPECT_EQ(webViewHome(), c.dropWindow ? "drop" : "side");
        EXPECT_EQ(side().isDropWindowOpenForDrag(), c.dropWindow);
        EXPECT_TRUE(side().isDraggingFile());
        if (c.shownDuringDrag) {
            manager().hotkeyShowSideMainWindowController();
            env.advance(kAfterSlide);
            callsToPage(chat());
        }
        HXReport::takeRecordedEvents();
        drags.dragTo(c.inside ? inside : outside);
        if (c.pageTakesDropToo) pageOf(chat()).dropFiles({dragged});
        drags.release(c.inside ? inside : outside);
        env.advance(0.1 + kAfterSlide);
        if (!c.pageReady) {
            EXPECT_EQ(callNamesToPage(chat()), std::vector<std::string>{});
            pageCalls(chat(), "WebIsReady", kit::Dictionary{{"from", "main"}});
        }
        EXPECT_EQ(manager().dropWindowController(), nullptr);
        EXPECT_EQ(webViewHome(), "side");
        EXPECT_EQ(sideWindow().contentView()->subviews().front().get(), &chat());
        EXPECT_EQ(sideWindow().isVisible(), c.visibleAfter);
        EXPECT_EQ(reports(21123), c.dropReports ? std::vector<std::string>{"XLSX"} : std::vector<std::string>{});
        EXPECT_EQ(reports(24020), c.dropReports ? std::vector<std::string>{"34"} : std::vector<std::string>{});
        EXPECT_FALSE(side().draggedFileExtension().has_value());
        EXPECT_FALSE(side().isDropWindowOpenForDrag());
        EXPECT_FALSE(side().isDraggingFile());
        EXPECT_EQ(callNamesToPage(chat()), c.pageCalls);
        // Back to hidden for the next case.
        if (sideWindow().isVisible()) {
            side().hideWithCompletionHandler();
            env.advance(kAfterSlide);
        }
        callsToPage(chat());
    }
}

// ---- Auto-hide ---------------------------------------------------------------------------------------

TEST_F(SidePageActionsTest, AutoHideRules) {
    enum class Event {
        OtherWindowKey,
        ToolWindowCloses,
        ToolWindowClosesSideTakesKey,
        DropWindowCloses,
        ToolWindowMiniaturizes,
        // A popover of the side window has the keyboard; the user clicks another application.
        PressElsewhereFromPopover,
    };
    enum class Hold { None, Pinned, PanelOpen, Dragging, ToolWindowVisible, SideHidden };
    struct Case {
        const char* name;
        Event event;
        Hold hold;
        bool hides;
    };
    const Case cases[] = {
        {"another window takes the key", Event::OtherWindowKey, Hold::None, true},
        {"while pinned", Event::OtherWindowKey, Hold::Pinned, false},
        {"while the page's panel is open", Event::OtherWindowKey, Hold::PanelOpen, false},
        {"while a file is dragged", Event::OtherWindowKey, Hold::Dragging, false},
        {"while a tool window shows", Event::OtherWindowKey, Hold::ToolWindowVisible, false},
        {"a tool window closes", Event::ToolWindowCloses, Hold::None, true},
        {"a tool window closes and the side window takes the key", Event::ToolWindowClosesSideTakesKey, Hold::None,
         false},
        {"the drop window closes", Event::DropWindowCloses, Hold::None, false},
        {"a tool window miniaturises", Event::ToolWindowMiniaturizes, Hold::None, true},
        {"the side window is hidden", Event::OtherWindowKey, Hold::SideHidden, false},
        {"a tool window closes, the side window hidden", Event::ToolWindowCloses, Hold::SideHidden, false},
        {"a click in another application after a popover", Event::PressElsewhereFromPopover, Hold::None, true},
        {"the same while pinned", Event::PressElsewhereFromPopover, Hold::Pinned, false},
        {"the same while a tool window shows", Event::PressElsewhereFromPopover, Hold::ToolWindowVisible, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto tool = makeToolWindow();
        manager().setWritingWindowController(tool);
        auto other = kit::create<kit::Window>(Rect{0, 0, 200, 200}, kit::WindowStyleTitled);
        std::shared_ptr<KZDropWindController> drop;
        if (c.event == Event::DropWindowCloses) {
            drop = kit::create<KZDropWindController>(false, kit::Size{420, 110});
            drop->showWindow();
        }
        showSide();
        switch (c.hold) {
            case Hold::Pinned: side().rightView()->setIsPinned(true); break;
            case Hold::PanelOpen: chat().setIsShowPanel(true); break;
            case Hold::Dragging: KZDragManager::shared().setEnable(false), drags.beginFileDrag({"/tmp/a.pdf"}, {5, 5}); break;
            case Hold::ToolWindowVisible: tool->showWindow(); break;
            case Hold::SideHidden:
                side().hideWithCompletionHandler();
                env.advance(kAfterSlide);
                break;
            case Hold::None: break;
        }
        auto popover = kit::create<KZCustomWindow>(Rect{300, 300, 200, 84}, kit::WindowStyleResizable);
        if (c.event == Event::PressElsewhereFromPopover) {
            popover->makeKeyAndOrderFront();
            env.advance(1);
        }
        if (c.event != Event::OtherWindowKey && c.event != Event::DropWindowCloses &&
            c.event != Event::PressElsewhereFromPopover) {
            tool->showWindow();
            if (c.hold != Hold::SideHidden) sideWindow().makeKeyAndOrderFront();
            env.advance(1);
        }
        callsToPage(chat());
        HXReport::takeRecordedEvents();
        env.log().clear();

        switch (c.event) {
            case Event::OtherWindowKey: other->makeKeyAndOrderFront(); break;
            case Event::ToolWindowCloses: tool->window()->close(); break;
            case Event::ToolWindowClosesSideTakesKey:
                tool->window()->makeKeyAndOrderFront();
                tool->window()->close();
                env.advance(0.05);
                sideWindow().makeKeyAndOrderFront();
                break;
            case Event::DropWindowCloses: drop->close(); break;
            case Event::ToolWindowMiniaturizes: tool->window()->miniaturize(); break;
            case Event::PressElsewhereFromPopover:
                // The application resigns with the press; the popover resigns the keyboard.
                ui.outsideMouseDown({5, 5});
                popover->orderOut();
                break;
        }
        env.advance(0.5 + 0.1 + kAfterSlide);
        const bool visibleBefore = c.hold != Hold::SideHidden;
        EXPECT_EQ(sideWindow().isVisible(), visibleBefore && !c.hides);
        const auto calls = callNamesToPage(chat());
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "WindowHide"), c.hides ? 1 : 0);
        EXPECT_EQ(reports(24024).size(), c.hides ? 1u : 0u);

        // Undo the hold.
        if (c.hold == Hold::Dragging) drags.release({5, 5}), KZDragManager::shared().setEnable(true);
        side().rightView()->setIsPinned(false);
        chat().setIsShowPanel(false);
        manager().setWritingWindowController(nullptr);
        tool->close();
        if (sideWindow().isVisible()) {
            side().hideWithCompletionHandler();
            env.advance(kAfterSlide);
        }
        env.advance(1);
    }
}

TEST_F(SidePageActionsTest, ASlideOutStartsNothingAndThePageFlushComesADayLater) {
    showSide();
    auto other = kit::create<kit::Window>(Rect{0, 0, 200, 200}, kit::WindowStyleTitled);
    side().hideWithCompletionHandler();
    other->makeKeyAndOrderFront();
    EXPECT_TRUE(env.log().contains("[SD] -- window resign key ??"));
    EXPECT_EQ(kit::RunLoop::main().pendingPerforms(&side(), KZSideMainWindowController::kAutoDisappearSelector), 0u);
    env.advance(1);
    EXPECT_FALSE(sideWindow().isVisible());

    // The unreferenced page flush: a day after the last mark the page counts as not ready and is
    // to be reloaded on a later show.
    side().__delayMarkWebviewNeedReflush();
    env.advance(3600);
    side().__delayMarkWebviewNeedReflush();
    env.advance(86399);
    EXPECT_TRUE(chat().isAIWebReady());
    env.advance(1);
    EXPECT_FALSE(chat().isAIWebReady());
    EXPECT_TRUE(KZAIUserManager::shared().needReflushWebviewWhenShowWindowAfter15min());
    EXPECT_EQ(env.log().count("[SD] Webviews When Side Window Hidden"), 1u);
}

}  // namespace
