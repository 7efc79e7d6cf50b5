#include <string>
#include <vector>

#include "WindowsTestSupport.h"
#include "app/windows/KZBasePopoverWindowController.h"
#include "app/windows/KZBaseWindowController.h"
#include "app/windows/KZCustomWindow.h"
#include "frameworks/JWAppThemeHelper.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/View.h"

namespace {

using quarn::testing::WindowsTest;

class RecordingPopover : public KZBasePopoverWindowController {
public:
    RecordingPopover(kit::Size size, kit::EdgeInsets insets) : KZBasePopoverWindowController(size, insets) {}
    void setupSubviews() override {
        KZBasePopoverWindowController::setupSubviews();
        calls.push_back("setupSubviews");
    }
    void setupSubViewsLayout() override {
        KZBasePopoverWindowController::setupSubViewsLayout();
        calls.push_back("setupSubViewsLayout");
        monitorsBeforeListening = kit::EventMonitor::liveLocalCount() + kit::EventMonitor::liveGlobalCount();
    }
    int customWindowLevel() override { return level; }
    std::vector<std::string> calls;
    std::size_t monitorsBeforeListening = 0;
    int level = 0;
};

class SettingsPopover : public RecordingPopover {
public:
    SettingsPopover() : RecordingPopover({200, 120}, {}) { level = 25; }
};

class OtherTypePopover : public KZBasePopoverWindowController {
public:
    OtherTypePopover() : KZBasePopoverWindowController({100, 100}, {}) {}
    int customWindowType() override { return 5; }
};

class PopoverTest : public WindowsTest {
protected:
    void SetUp() override {
        popover = kit::create<RecordingPopover>(kit::Size{240, 160}, kit::EdgeInsets{10, 12, 14, 16});
        popover->setPopoverDidDisappearBlock([this](KZBasePopoverWindowController& c) {
            EXPECT_EQ(&c, popover.get());
            EXPECT_FALSE(c.window()->isVisible()) << "ordered out first";
            ++disappeared;
        });
        popover->window()->setFrameOrigin({400, 400});
        base = kit::create<KZBaseWindowController>(true, kit::Size{300, 200});
        base->window()->setFrameOrigin({0, 0});
        base->window()->makeKeyAndOrderFront();
    }

    // Shown without taking the key status from the base window.
    void show() {
        popover->window()->orderFront();
        ASSERT_TRUE(popover->window()->isVisible());
        ASSERT_FALSE(popover->window()->isKeyWindow());
    }
    kit::Window& popoverWindow() { return *popover->window(); }

    std::shared_ptr<RecordingPopover> popover;
    std::shared_ptr<KZBaseWindowController> base;
    int disappeared = 0;
};

TEST_F(PopoverTest, BuildsABorderlessTaggedWindowWithAnInsetRoundedContentView) {
    EXPECT_EQ(popover->calls, (std::vector<std::string>{"setupSubviews", "setupSubViewsLayout"}));
    auto* window = dynamic_cast<KZCustomWindow*>(popover->window().get());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->customWndType(), 1);
    EXPECT_EQ(window->styleMask(), 14u);
    EXPECT_FALSE(window->hasTitleBar());
    EXPECT_FALSE(window->isMovable());
    EXPECT_EQ(window->backgroundColor(), kit::Color::clear());
    EXPECT_EQ(window->level(), 0);
    EXPECT_EQ(window->frame().size, (kit::Size{240, 160}));
    EXPECT_EQ(kit::create<SettingsPopover>()->window()->level(), 25);
    EXPECT_EQ(customWndTypeOf(kit::create<OtherTypePopover>()->window().get()), 5);

    EXPECT_EQ(popover->size(), (kit::Size{240, 160}));
    EXPECT_EQ(popover->contentInset(), (kit::EdgeInsets{10, 12, 14, 16}));
    EXPECT_EQ(popover->contentFrame(), (kit::Rect{12, 14, 212, 136}));
    auto content = popover->contentView();
    EXPECT_EQ(content->superview(), window->contentView().get());
    EXPECT_EQ(content->layer().backgroundColor, kit::Color::white());
    EXPECT_EQ(content->layer().cornerRadius, 4.0);
    EXPECT_TRUE(content->layer().masksToBounds);
    // A 1-point edge in the divider colour only where no compositor draws the window's shadow.
    EXPECT_EQ(content->layer().borderWidth, 0);
    ui.setDrawsWindowShadows(false);
    EXPECT_EQ(content->layer().borderWidth, 1);
    EXPECT_EQ(content->layer().borderColor, JWAppThemeHelper::divideLineColor());
    ui.setDrawsWindowShadows(true);
    EXPECT_EQ(content->layer().borderWidth, 0);
    EXPECT_EQ(content->contentHuggingPriority(kit::View::Axis::Horizontal), 999);
    window->layoutIfNeeded();
    EXPECT_EQ(content->frame(), popover->contentFrame());
    EXPECT_EQ(kit::EventMonitor::liveLocalCount() + kit::EventMonitor::liveGlobalCount(),
              popover->monitorsBeforeListening + 6)
        << "six monitors, installed after the layout hook; the other two popovers took theirs along";
}

TEST_F(PopoverTest, AClickInAnotherApplicationClosesAVisiblePopoverThatIsNotKey) {
    show();
    ui.outsideMouseDown({1000, 800});
    EXPECT_FALSE(popoverWindow().isVisible());
    EXPECT_EQ(disappeared, 1);
    // Hidden: nothing more.
    ui.outsideMouseDown({1000, 800});
    ui.outsideScroll({1000, 800}, 0, 3);
    EXPECT_EQ(disappeared, 1);

    ui.setApplicationActive(true);
    show();
    ui.outsideScroll({1000, 800}, 0, 3);
    EXPECT_FALSE(popoverWindow().isVisible());
    EXPECT_EQ(disappeared, 2);

    // The key popover stays.
    popover->window()->makeKeyAndOrderFront();
    ASSERT_TRUE(popoverWindow().isKeyWindow());
    ui.outsideMouseDown({1000, 800}, true);
    ui.outsideScroll({1000, 800}, 0, 3);
    EXPECT_TRUE(popoverWindow().isVisible());
    EXPECT_EQ(disappeared, 2);
}

TEST_F(PopoverTest, MouseUpsAndDragsCloseItOutsidePopoverStyleWindowsOnly) {
    auto sibling = kit::create<RecordingPopover>(kit::Size{100, 100}, kit::EdgeInsets{});
    sibling->window()->setFrameOrigin({800, 100});
    sibling->window()->orderFront();
    auto drop = kit::create<OtherTypePopover>();
    drop->window()->setFrameOrigin({800, 500});
    drop->window()->orderFront();
    show();

    ui.click(*sibling->window(), {50, 50});
    ui.click(*drop->window(), {50, 50});
    ui.click(popoverWindow(), {50, 50});
    ui.drag(*sibling->window(), {10, 10}, {60, 60});
    EXPECT_TRUE(popoverWindow().isVisible()) << "a KZCustomWindow of any type keeps it open";
    EXPECT_EQ(disappeared, 0);

    ui.click(*base->window(), {150, 100});
    EXPECT_FALSE(popoverWindow().isVisible()) << "a click in an ordinary window closes it";
    EXPECT_EQ(disappeared, 1);

    show();
    ui.drag(*base->window(), {150, 100}, {160, 110}, 1);
    EXPECT_EQ(disappeared, 2) << "closed by the drag, not again by the mouse-up";

    show();
    kit::Event windowless;
    windowless.type = kit::EventType::LeftMouseUp;
    ui.send(windowless);
    EXPECT_EQ(disappeared, 3);
}

TEST_F(PopoverTest, KeysAndScrollsCloseItOutsideOtherPopoversOnly) {
    auto statusItem = kit::StatusBar::system().statusItemWithLength(kit::kStatusItemSquareLength);
    auto sibling = kit::create<RecordingPopover>(kit::Size{100, 100}, kit::EdgeInsets{});
    sibling->window()->setFrameOrigin({800, 100});
    sibling->window()->orderFront();
    auto drop = kit::create<OtherTypePopover>();
    drop->window()->setFrameOrigin({800, 500});
    drop->window()->orderFront();
    show();

    ui.keyDown(*sibling->window(), 0, "a");
    ui.scroll(*sibling->window(), {50, 50}, 0, 2);
    ui.keyDown(popoverWindow(), 0, "a");
    EXPECT_TRUE(popoverWindow().isVisible()) << "popovers of type 1 keep it open";

    struct Case {
        const char* what;
        std::function<void()> send;
    };
    std::vector<Case> closing = {
        {"key in a type-5 custom window", [&] { ui.keyDown(*drop->window(), 0, "a"); }},
        {"scroll in a type-5 custom window", [&] { ui.scroll(*drop->window(), {50, 50}, 0, 2); }},
        {"key in an ordinary window", [&] { ui.keyDown(*base->window(), 0, "a"); }},
        {"scroll in an ordinary window", [&] { ui.scroll(*base->window(), {150, 100}, 0, 2); }},
        {"key without a window", [&] {
             kit::Event e;
             e.type = kit::EventType::KeyDown;
             ui.send(e);
         }},
    };
    closing.push_back({"Escape in the popover itself", [&] { ui.keyDown(popoverWindow(), 53, "\x1b"); }});
    closing.push_back({"a click on the status item", [&] { statusItem->performClick(); }});
    int expected = 0;
    for (const auto& c : closing) {
        SCOPED_TRACE(c.what);
        show();
        c.send();
        EXPECT_FALSE(popoverWindow().isVisible());
        EXPECT_EQ(disappeared, ++expected);
    }
    kit::StatusBar::system().removeStatusItem(statusItem);
}

TEST_F(PopoverTest, TheMonitorsHandEveryEventOnUnchanged) {
    auto view = kit::create<kit::View>(kit::Rect{0, 0, 300, 200});
    struct Catcher : kit::View {
        using kit::View::View;
        void mouseDown(const kit::Event&) override { ++downs; }
        void mouseUp(const kit::Event& e) override {
            ++ups;
            location = e.locationInWindow;
        }
        bool acceptsFirstMouse(const kit::Event*) override { return true; }
        int downs = 0;
        int ups = 0;
        kit::Point location;
    };
    auto catcher = kit::create<Catcher>(kit::Rect{0, 0, 300, 200});
    base->window()->contentView()->addSubview(catcher);
    show();
    ui.click(*base->window(), {42, 24});
    EXPECT_FALSE(popoverWindow().isVisible());
    EXPECT_EQ(catcher->downs, 1);
    EXPECT_EQ(catcher->ups, 1);
    EXPECT_EQ(catcher->location, (kit::Point{42, 24}));
}

TEST_F(PopoverTest, TheDisappearBlockMayReleaseTheController) {
    std::weak_ptr<KZBasePopoverWindowController> weak = popover;
    popover->setPopoverDidDisappearBlock([this](KZBasePopoverWindowController&) {
        ++disappeared;
        popover.reset();
    });
    show();
    ui.outsideMouseDown({1000, 800});
    EXPECT_EQ(disappeared, 1);
    env.runUntilIdle();
    EXPECT_TRUE(weak.expired());
    ui.setApplicationActive(true);
    ui.outsideMouseDown({1000, 800});
    EXPECT_EQ(disappeared, 1);
}

TEST_F(PopoverTest, AThousandPopoversComeAndGoWithoutLeavingAMonitor) {
    popover.reset();
    env.runUntilIdle();
    const auto local = kit::EventMonitor::liveLocalCount();
    const auto global = kit::EventMonitor::liveGlobalCount();
    for (int i = 0; i < 1000; ++i) {
        auto p = kit::create<RecordingPopover>(kit::Size{200, 100}, kit::EdgeInsets{});
        ASSERT_EQ(kit::EventMonitor::liveLocalCount(), local + 4);
        ASSERT_EQ(kit::EventMonitor::liveGlobalCount(), global + 2);
        if (i % 100 == 0) {
            p->window()->orderFront();
            ui.outsideMouseDown({1000, 800}, true);
        }
    }
    env.runUntilIdle();
    EXPECT_EQ(kit::EventMonitor::liveLocalCount(), local);
    EXPECT_EQ(kit::EventMonitor::liveGlobalCount(), global);
}

}  // namespace
