#include <string>
#include <vector>

#include "WindowsTestSupport.h"
#include "app/windows/KZBaseGuideWindowController.h"
#include "app/windows/KZBaseWindowController.h"
#include "app/windows/KZCanNotBeKeyWnd.h"
#include "app/windows/KZCustomWindow.h"
#include "kit/ui/Control.h"
#include "kit/ui/View.h"

namespace {

using quarn::testing::WindowsTest;

// Records every hook; the frame change in setupViews must not reach onWindowFrameChanged.
class RecordingController : public KZBaseWindowController {
public:
    using KZBaseWindowController::KZBaseWindowController;
    void customInit() override { calls.push_back("customInit"); }
    int customWindowType() override {
        calls.push_back("customWindowType");
        return type;
    }
    unsigned customWindowCollectionBehavior() override {
        calls.push_back("customWindowCollectionBehavior");
        return KZBaseWindowController::customWindowCollectionBehavior();
    }
    void setupViews() override {
        calls.push_back(window() ? "setupViews" : "setupViews without window");
        window()->setFrame({0, 0, 500, 400});
    }
    void setupViewsLayout() override { calls.push_back("setupViewsLayout"); }
    bool canMovableByWindowBackground() override {
        calls.push_back("canMovableByWindowBackground");
        return movable;
    }
    kit::Size windowButtonOffsetSize() override {
        calls.push_back("windowButtonOffsetSize");
        return KZBaseWindowController::windowButtonOffsetSize();
    }
    void onWindowFrameChanged() override { ++frameChanges; }

    std::vector<std::string> calls;
    int frameChanges = 0;
    int type = 0;
    bool movable = true;
};

class ImageToolController : public RecordingController {
public:
    ImageToolController() : RecordingController(true, kit::Size{300, 200}) { type = 4; }
};

class FixedController : public RecordingController {
public:
    FixedController() : RecordingController(false, false, kit::Size{300, 200}) { movable = false; }
};

class KZBaseWindowControllerTest : public WindowsTest {
protected:
    // Where a plain window of the same style puts its buttons.
    static kit::Rect defaultButtonFrame(unsigned style, kit::WindowButton which) {
        auto plain = kit::create<kit::Window>(kit::Rect{0, 0, 300, 200}, style);
        return plain->standardWindowButton(which)->frame();
    }
};

TEST_F(KZBaseWindowControllerTest, BuildsTheWindowThenRunsTheHooksInOrder) {
    auto controller = kit::create<RecordingController>(true, kit::Size{400, 300});
    EXPECT_EQ(controller->calls,
              (std::vector<std::string>{"customWindowType", "canMovableByWindowBackground", "customWindowCollectionBehavior",
                                        "windowButtonOffsetSize", "customInit", "setupViews", "setupViewsLayout"}));
    EXPECT_EQ(controller->frameChanges, 0) << "the resize observer is registered after the hooks";
    ASSERT_NE(controller->window(), nullptr);
    EXPECT_EQ(controller->window()->frame().size, (kit::Size{500, 400}));
    EXPECT_EQ(controller->windowSize(), (kit::Size{400, 300}));
    EXPECT_TRUE(controller->hasTitleBar());

    controller->window()->setFrame({0, 0, 600, 400});
    EXPECT_EQ(controller->frameChanges, 1);
    // Resizes of other windows are not this controller's.
    auto other = kit::create<kit::Window>(kit::Rect{0, 0, 100, 100}, kit::WindowStyleTitled);
    other->setFrame({0, 0, 200, 200});
    EXPECT_EQ(controller->frameChanges, 1);
    // A move is not a resize.
    controller->window()->setFrameOrigin({50, 50});
    EXPECT_EQ(controller->frameChanges, 1);
}

TEST_F(KZBaseWindowControllerTest, StyleMasksFollowTitleBarAndResizable) {
    using namespace kit;
    struct Case {
        bool titleBar;
        bool resizable;
        unsigned style;
    } cases[] = {
        {true, true, WindowStyleTitled | WindowStyleClosable | WindowStyleMiniaturizable | WindowStyleResizable},
        {true, false, WindowStyleTitled | WindowStyleClosable | WindowStyleMiniaturizable},
        {false, true, 1u + 2 + 4 + 8 + 32768},
        {false, false, 1u + 2 + 4 + 32768},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.titleBar) + std::to_string(c.resizable));
        auto controller = kit::create<KZBaseWindowController>(c.titleBar, c.resizable, kit::Size{300, 200});
        auto window = controller->window();
        EXPECT_EQ(window->styleMask(), c.style);
        EXPECT_EQ(window->isOpaque(), c.titleBar);
        EXPECT_EQ(window->titlebarAppearsTransparent(), !c.titleBar);
        EXPECT_EQ(window->titleVisibility(), c.titleBar ? TitleVisibility::Visible : TitleVisibility::Hidden);
        // The content rectangle is the given size either way.
        EXPECT_EQ(window->contentView()->frame().size, (kit::Size{300, 200}));
    }
    auto twoArguments = kit::create<KZBaseWindowController>(false, kit::Size{300, 200});
    EXPECT_TRUE(twoArguments->resizable());
    EXPECT_TRUE(twoArguments->window()->styleMask() & WindowStyleResizable);
}

TEST_F(KZBaseWindowControllerTest, TheWindowIsAKeyableTaggedClearWindowWithAWhiteRoundedContent) {
    auto plain = kit::create<KZBaseWindowController>(true, kit::Size{300, 200});
    auto* window = dynamic_cast<KZCanNotBeKeyWnd*>(plain->window().get());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->customWndType(), 0);
    EXPECT_EQ(customWndTypeOf(window), 0);
    EXPECT_TRUE(window->canBecomeKeyWindow());
    EXPECT_TRUE(window->isMovableByWindowBackground());
    EXPECT_EQ(window->backgroundColor(), kit::Color::clear());
    EXPECT_EQ(window->collectionBehavior(), kit::CollectionFullScreenPrimary);
    const auto& layer = window->contentView()->layer();
    EXPECT_TRUE(window->contentView()->wantsLayer());
    EXPECT_EQ(layer.backgroundColor, kit::Color::white());
    EXPECT_EQ(layer.cornerRadius, 8.0);
    EXPECT_TRUE(layer.masksToBounds);

    auto image = kit::create<ImageToolController>();
    EXPECT_EQ(customWndTypeOf(image->window().get()), 4);
    auto fixed = kit::create<FixedController>();
    EXPECT_FALSE(fixed->window()->isMovableByWindowBackground());

    // Key even when shown beside another key window and clicked.
    auto other = kit::create<kit::Window>(kit::Rect{600, 600, 100, 100}, kit::WindowStyleTitled);
    other->makeKeyAndOrderFront();
    plain->window()->orderFront();
    ui.click(*plain->window(), {150, 100});
    EXPECT_TRUE(plain->window()->isKeyWindow());
}

TEST_F(KZBaseWindowControllerTest, TitleBarButtonsSitRightAndLowerThanTheDefaultAlsoAfterResizes) {
    const unsigned style = kit::WindowStyleTitled | kit::WindowStyleClosable | kit::WindowStyleMiniaturizable |
                           kit::WindowStyleResizable | kit::WindowStyleFullSizeContentView;
    auto controller = kit::create<KZBaseWindowController>(false, kit::Size{300, 200});
    auto window = controller->window();
    const kit::WindowButton kinds[] = {kit::WindowButton::Close, kit::WindowButton::Miniaturize, kit::WindowButton::Zoom};
    auto expectShifted = [&](const char* when) {
        SCOPED_TRACE(when);
        for (auto kind : kinds) {
            auto button = window->standardWindowButton(kind);
            ASSERT_NE(button, nullptr) << "a window without a title bar still has its buttons";
            const kit::Rect base = defaultButtonFrame(style, kind);
            EXPECT_EQ(button->frame(), base.offsetBy(10, -6));
        }
    };
    expectShifted("at creation");
    for (int i = 0; i < 5; ++i) window->setFrame({0, 0, 300.0 + 10 * i, 250});
    env.runUntilIdle();
    window->layoutIfNeeded();
    expectShifted("after five resizes");
    // Shifting again without the window placing the buttons anew does not move them further.
    controller->__windowButtonOffset();
    controller->__windowButtonOffset();
    expectShifted("after repeated shifts");
    ui.userResize(*window, {0, 0, 280, 180});
    expectShifted("after a user resize");
    window->toggleFullScreen();
    expectShifted("in full screen");
    window->toggleFullScreen();
    expectShifted("after full screen and back");
}

TEST_F(KZBaseWindowControllerTest, AControllerGoneLeavesItsWindowsResizesAlone) {
    std::shared_ptr<kit::Window> window;
    {
        auto controller = kit::create<RecordingController>(true, kit::Size{300, 200});
        window = controller->window();
    }
    window->setFrame({0, 0, 800, 600});
    EXPECT_EQ(window->frame().size, (kit::Size{800, 600}));
}

class GuideController : public KZBaseGuideWindowController {
public:
    GuideController() : KZBaseGuideWindowController(false, kit::Size{320, 240}) {}
    void customInit() override { calls.push_back("customInit"); }
    void setupViews() override { calls.push_back("setupViews"); }
    void setupViewsLayout() override { calls.push_back("setupViewsLayout"); }
    bool canMovableByWindowBackground() override { return false; }
    std::vector<std::string> calls;
};

TEST_F(KZBaseWindowControllerTest, GuideWindowIsPlainFixedSizeAndSkipsCustomInit) {
    auto controller = kit::create<GuideController>();
    EXPECT_EQ(controller->calls, (std::vector<std::string>{"setupViews", "setupViewsLayout"}));
    auto window = controller->window();
    EXPECT_NE(dynamic_cast<__KZBaseGuideWindow*>(window.get()), nullptr);
    EXPECT_EQ(customWndTypeOf(window.get()), std::nullopt);
    EXPECT_TRUE(window->canBecomeKeyWindow());
    EXPECT_EQ(window->styleMask(), 1u + 2 + 4 + 32768) << "never resizable";
    EXPECT_EQ(window->collectionBehavior(), kit::CollectionDefault);
    EXPECT_TRUE(window->isMovableByWindowBackground());
    EXPECT_FALSE(window->isOpaque());
    EXPECT_EQ(window->backgroundColor(), kit::Color::clear());
    EXPECT_EQ(window->contentView()->layer().cornerRadius, 8.0);
    const unsigned style = 1u + 2 + 4 + 32768;
    EXPECT_EQ(window->standardWindowButton(kit::WindowButton::Close)->frame(),
              defaultButtonFrame(style, kit::WindowButton::Close))
        << "the guide window leaves its buttons where they are";
    controller->window()->setDelegate(controller->weakWindowDelegate());
    EXPECT_NE(window->delegate(), nullptr);
}

}  // namespace
