// The four-page onboarding window: stepping through it with the buttons and the keys, what its
// status-item and text-tool pages change, closing it on any page, and its texts fitting their
// places in both languages.

#include <fstream>
#include <functional>

#include "AppWindowsTestSupport.h"
#include "app/capture/KZAIPermissionTipsWindowController.h"
#include "app/capture/KZAISplashWindowController.h"
#include "app/capture/KZStatusGuideTipWindowController.h"
#include "app/tools/KZAIDocumentWindowController.h"
#include "app/tools/KZAIImageWindowController.h"
#include "app/tools/KZTabWndConfirmCloseWindowController.h"
#include "app/ui/KZAcceptsFirstMouseViews.h"
#include "app/ui/KZCustomViewButton.h"
#include "frameworks/COSwitch.h"
#include "frameworks/KZShortcutConfig.h"
#include "kit/base/PropertyList.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Label.h"

namespace {

using apptest::AppWindowsTest;
using Splash = KZAISplashWindowController;

// Whether UTF-8 text holds characters of the CJK blocks (U+3000 to U+9FFF, lead bytes E3 to E9).
bool containsChinese(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0xE3 && c <= 0xE9) return true;
    return false;
}

class OnboardingTest : public AppWindowsTest {
protected:
    // The splash as the launch shows it to a new user.
    Splash& showSplash() {
        manager().__showAISpliashWindowController();
        env.runUntilIdle();
        return *manager().splashWindowController();
    }
    void press(KZCustomViewButton& button) {
        ASSERT_FALSE(button.isHiddenOrHasHiddenAncestor()) << "pressing a hidden button";
        button.accessibilityPerformPress();
        env.runUntilIdle();
    }
    void key(Splash& splash, unsigned short code) {
        ui.keyDown(*splash.window(), code, code == kit::kVK_Return ? "\r" : code == kit::kVK_Space ? " " : "\x1b");
        env.runUntilIdle();
    }
    bool lastPostData(const char* name) {
        const auto* post = env.distributedBus().lastPost(name);
        if (!post) return false;
        const bool* data = post->userInfo["data"].asBool();
        return data && *data;
    }
    void saveSideHotKey() {
        const KZShortcutConfig config(KZShortcutHotKeyIdSideWindow, KZModifierFlag::Control | KZModifierFlag::Option,
                                      kit::kVK_ANSI_K);
        std::filesystem::create_directories(KZShortcutConfig::folder());
        ASSERT_TRUE(kit::writePropertyListFile(KZShortcutConfig::fileForHotKeyId(1), config.archive()).ok());
    }
};

TEST_F(OnboardingTest, StepsThroughFourPagesWithButtonsAndKeys) {
    bool closedBlockRan = false;
    auto& splash = showSplash();
    splash.setWindowWillCloseBlock([&] { closedBlockRan = true; });
    auto& window = *splash.window();
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.title(), "欢迎使用Quarn AI助手");
    EXPECT_EQ(window.firstResponder() != nullptr, true) << "Return and Escape need the key focus";

    struct Step {
        const char* what;
        std::function<void()> act;
        int page;
    };
    const std::vector<Step> steps = {
        {"first page", [] {}, Splash::PageWelcome},
        {"Return", [&] { key(splash, kit::kVK_Return); }, Splash::PageStatusItem},
        {"next", [&] { press(*splash.nextButton()); }, Splash::PageTextTool},
        {"back", [&] { press(*splash.backButton()); }, Splash::PageStatusItem},
        {"another key", [&] { ui.keyDown(window, kit::kVK_ANSI_A, "a"); }, Splash::PageStatusItem},
        {"next", [&] { press(*splash.nextButton()); }, Splash::PageTextTool},
        {"Return", [&] { key(splash, kit::kVK_Return); }, Splash::PageDone},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(splash.currentPage(), step.page);
        for (int page = 0; page < Splash::kPageCount; ++page)
            EXPECT_EQ(splash.pageView(page)->isHidden(), page != step.page) << "page " << page;
        EXPECT_EQ(splash.backButton()->isHidden(), step.page == Splash::PageWelcome);
        EXPECT_EQ(splash.nextButton()->title(), step.page == Splash::PageDone ? "开始使用" : "下一步");
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_FALSE(KZSharedPlistManager::sharedManager().db_hasShowGuideWindow());

    // Return on the last page is its start button: the window closes and the guide is done.
    key(splash, kit::kVK_Return);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(closedBlockRan);
    EXPECT_TRUE(KZSharedPlistManager::sharedManager().db_hasShowGuideWindow());
    // Nothing was switched on the way.
    EXPECT_EQ(env.distributedBus().postCount("kA2M_KZAIIPCShowAIStatusItemChangedNotification"), 0u);
    EXPECT_EQ(env.distributedBus().postCount("MA2Other_KZAIIPCUseGetTextChangedNotification"), 0u);
}

TEST_F(OnboardingTest, ClosingOnAnyPageMarksTheGuideShownOnce) {
    struct Case {
        int page;
        bool byEscape;
    };
    for (const Case c : {Case{0, true}, Case{1, false}, Case{2, true}, Case{3, false}}) {
        SCOPED_TRACE(testing::Message() << "page " << c.page << (c.byEscape ? " Escape" : " close button"));
        KZWindowControllerManager::resetManager();
        KZSharedPlistManager::sharedManager().db_setHasShowGuideWindow(false);
        auto& splash = showSplash();
        int blockRuns = 0;
        splash.setWindowWillCloseBlock([&] { ++blockRuns; });
        for (int i = 0; i < c.page; ++i) press(*splash.nextButton());
        ASSERT_EQ(splash.currentPage(), c.page);
        const auto writesBefore = env.log().count("[DB] setHasShowGuideWindow: 1");
        if (c.byEscape) {
            key(splash, kit::kVK_Escape);
        } else {
            splash.window()->performClose();
            env.runUntilIdle();
        }
        EXPECT_FALSE(splash.window()->isVisible());
        EXPECT_EQ(blockRuns, 1);
        EXPECT_TRUE(KZSharedPlistManager::sharedManager().db_hasShowGuideWindow());
        EXPECT_EQ(env.log().count("[DB] setHasShowGuideWindow: 1"), writesBefore + 1);
    }
    // Shown already: the next launch completes the tip task without a window.
    KZWindowControllerManager::resetManager();
    manager().showAISpliashWindowController();
    env.runUntilIdle();
    EXPECT_FALSE(manager().hasSplashWindowController());
}

TEST_F(OnboardingTest, StatusItemPageSwitchesTheStatusItemThroughTheManager) {
    auto delegate = std::make_shared<AppDelegate>();
    AppDelegate::setCurrent(delegate);
    auto& splash = showSplash();
    press(*splash.nextButton());
    ASSERT_EQ(splash.currentPage(), Splash::PageStatusItem);
    auto& toggle = *splash.statusItemSwitch();
    EXPECT_FALSE(toggle.isOn()) << "the switch starts from the manager's flag (off for a new user)";

    struct Case {
        bool on;
        std::int64_t choice;
        std::size_t tips;
    };
    std::size_t posts = 0;
    const kit::Rect placedAt{1200, 875, 24, 25};
    int round = 0;
    for (const Case c : {Case{true, 1, 1}, Case{false, 2, 0}, Case{true, 1, 1}}) {
        SCOPED_TRACE(c.on ? "on" : "off");
        // A click on the switch, or Space.
        if (round++ == 1) {
            key(splash, kit::kVK_Space);
        } else {
            toggle.accessibilityPerformPress();
            env.runUntilIdle();
        }
        EXPECT_EQ(toggle.isOn(), c.on);
        EXPECT_EQ(manager().showAIStatusBarItem(), c.on);
        EXPECT_EQ(KZSharedPlistManager::sharedManager().db_showAIStatusBarItem(), c.on);
        EXPECT_EQ(delegate->statusItem() != nullptr, c.on);
        if (auto item = delegate->statusItem()) {
            // The product's logo, and its name for the tray.
            EXPECT_TRUE(kit::Image::named(item->button().imageName));
            EXPECT_EQ(item->button().toolTip, "Quarn AI助手");
        }
        EXPECT_EQ(KZSharedPlistManager::sharedManager().db_guideWindowChoosedAIShowIndex(), c.choice);
        EXPECT_EQ(env.distributedBus().postCount("kA2M_KZAIIPCShowAIStatusItemChangedNotification"), ++posts);
        EXPECT_EQ(lastPostData("kA2M_KZAIIPCShowAIStatusItemChangedNotification"), c.on);
        // Turning it on points at it with the guide tip for 5 s, once the desktop has placed it.
        EXPECT_TRUE(manager().viewControllers().empty());
        if (auto item = delegate->statusItem()) {
            item->setWindowState(true, 0, {});  // shown, not yet placed
            EXPECT_TRUE(manager().viewControllers().empty());
            item->setWindowState(true, kit::kWindowOcclusionStateVisible, placedAt);
            item->setWindowState(true, kit::kWindowOcclusionStateVisible, {1100, 875, 24, 25});  // moved later: one tip
        }
        ASSERT_EQ(manager().viewControllers().size(), c.tips);
        if (c.tips) {
            EXPECT_EQ(manager().viewControllers()[0]->window()->frame().origin.y, 875 - 6 - 42);
            EXPECT_FALSE(manager().viewControllers()[0]->window()->isKeyWindow()) << "the tip took the keyboard";
        }
        env.advance(KZWindowControllerManager::kGuideTipDuration + 0.1);
        EXPECT_TRUE(manager().viewControllers().empty());
    }

    // The last page tells how to open the side window with what is on now.
    press(*splash.nextButton());
    press(*splash.nextButton());
    ASSERT_EQ(splash.currentPage(), Splash::PageDone);
    EXPECT_EQ(splash.labelsOfPage(Splash::PageDone)[1]->stringValue(),
              "点击状态栏中的AI助手图标，即可随时打开AI助手。");
    // Coming back shows the switch as the manager has it, whoever changed it meanwhile.
    manager().setShowAIStatusBarItem(false);
    press(*splash.backButton());
    press(*splash.backButton());
    EXPECT_FALSE(splash.statusItemSwitch()->isOn());
}

TEST_F(OnboardingTest, TextToolPageTurnsTheToolOnThroughSettingsAndTheTool) {
    struct Case {
        const char* what;
        bool accessibility;
        bool on;
        bool permissionTip;
    };
    const Case cases[] = {
        {"on without the permission", false, true, true},
        {"off", false, false, false},
        {"on with the permission", true, true, false},
    };
    auto& splash = showSplash();
    press(*splash.nextButton());
    press(*splash.nextButton());
    ASSERT_EQ(splash.currentPage(), Splash::PageTextTool);
    auto& toggle = *splash.textToolSwitch();
    EXPECT_FALSE(toggle.isOn());
    std::size_t posts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KZSharedPlistManager::sharedManager().db_setAccessibilityEnabled(c.accessibility);
        manager().permissionWndController()->endWindow();
        toggle.accessibilityPerformPress();
        env.advance(KZAIPermissionTipsWindowController::kShowDelay + 0.05);
        EXPECT_EQ(toggle.isOn(), c.on);
        EXPECT_EQ(KZSharedPlistManager::sharedManager().db_getUseGetTextTool(), c.on);
        EXPECT_EQ(env.distributedBus().postCount("MA2Other_KZAIIPCUseGetTextChangedNotification"), ++posts);
        EXPECT_EQ(lastPostData("MA2Other_KZAIIPCUseGetTextChangedNotification"), c.on);
        EXPECT_EQ(manager().permissionWndController()->window()->isVisible(), c.permissionTip);
        EXPECT_EQ(manager().permissionWndController()->tipsType(), KZPermissionTipsTypeAccessibility);
        EXPECT_FALSE(manager().permissionWndControllerForSheet()->window()->isVisible());
    }
    EXPECT_TRUE(splash.window()->isVisible()) << "the switches leave the onboarding open";
}

// On the text tool's page the keyboard alone gets through the permission tip: Space brings it up
// and it takes the keyboard; Escape closes it, Return confirms it; either way the keyboard is back
// on the onboarding, whose keys work again.
TEST_F(OnboardingTest, KeyboardGetsThroughThePermissionTip) {
    auto& splash = showSplash();
    splash.window()->makeKeyAndOrderFront();
    key(splash, kit::kVK_Return);
    key(splash, kit::kVK_Return);
    ASSERT_EQ(splash.currentPage(), Splash::PageTextTool);
    auto& app = kit::Application::shared();
    const struct {
        const char* key;
        unsigned short code;
        const char* characters;
        std::size_t prompts;
    } cases[] = {{"Escape", kit::kVK_Escape, "\x1b", 0}, {"Return", kit::kVK_Return, "\r", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_FALSE(splash.textToolSwitch()->isOn());
        key(splash, kit::kVK_Space);
        env.advance(KZAIPermissionTipsWindowController::kShowDelay + 0.05);
        auto tip = manager().permissionWndController()->window();
        ASSERT_TRUE(tip->isVisible());
        ASSERT_EQ(app.keyWindow(), tip) << "the tip has the keyboard";
        ui.keyDown(*tip, c.code, c.characters);
        env.runUntilIdle();
        EXPECT_FALSE(tip->isVisible());
        EXPECT_EQ(env.distributedBus().postCount(KZAIIPCNotificationName::kShowAccessibilityPrompt), c.prompts);
        EXPECT_EQ(app.keyWindow(), splash.window()) << "the keyboard is back on the onboarding";
        key(splash, kit::kVK_Space);
        EXPECT_FALSE(splash.textToolSwitch()->isOn()) << "Space works on the onboarding again";
    }
    key(splash, kit::kVK_Return);
    EXPECT_EQ(splash.currentPage(), Splash::PageDone);
}

// Every text of every page lies inside the window, uncut, in Chinese and in English, with each
// of the last page's hints; the pictures are the product's own. Pictures of the pages go to
// test-output/app_onboarding for a look.
TEST_F(OnboardingTest, TextsFitTheirPlacesInBothLanguages) {
    const auto pictures = outputDirectory("app_onboarding");
    struct Hint {
        const char* what;
        bool hotKey;
        bool statusItem;
        const char* chinese;
    };
    const Hint hints[] = {
        {"nothing", false, false,
         "还没有打开AI助手的方式：请返回上一步在状态栏显示图标，或在Quarn的设置中设置快捷键。"},
        {"status item", false, true, "点击状态栏中的AI助手图标，即可随时打开AI助手。"},
        {"hot key and status item", true, true, "按 Ctrl+Alt+K 或点击状态栏图标，即可打开AI助手。"},
        {"hot key", true, false, "按 Ctrl+Alt+K 即可随时打开AI助手。"},
    };
    for (const char* language : {"zh-Hans", "en"}) {
        BundleLanguage::setLanguage(language);
        const bool english = std::string(language) == "en";
        for (const auto& hint : hints) {
            SCOPED_TRACE(testing::Message() << language << ", " << hint.what);
            KZWindowControllerManager::resetManager();
            std::filesystem::remove(KZShortcutConfig::fileForHotKeyId(1));
            if (hint.hotKey) saveSideHotKey();
            KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(hint.statusItem);
            auto& splash = showSplash();
            const auto content = splash.window()->contentView()->bounds();
            for (int page = 0; page < Splash::kPageCount; ++page) {
                splash.showPage(page);
                splash.window()->layoutIfNeeded();
                kit::Rect above;  // the frame of the label above, in the content view
                for (const auto& label : splash.labelsOfPage(page)) {
                    const auto frame = label->convertRectToView(label->bounds(), splash.window()->contentView().get());
                    SCOPED_TRACE(label->stringValue());
                    EXPECT_FALSE(label->stringValue().empty());
                    EXPECT_FALSE(label->isTruncated());
                    EXPECT_TRUE(content.contains(frame)) << kit::stringFromRect(frame);
                    if (!above.isEmpty()) {
                        EXPECT_LE(frame.maxY(), above.minY()) << "overlaps the text above";
                    }
                    above = frame;
                    // A Chinese source text shows in English from the table.
                    EXPECT_EQ(containsChinese(label->stringValue()), !english);
                }
                // Above the buttons.
                EXPECT_GE(above.minY(), splash.nextButton()->frame().maxY());
                if (page == Splash::PageStatusItem || page == Splash::PageTextTool) {
                    // The switch row is centred: its label on the left, the switch on the right.
                    const auto& control =
                        page == Splash::PageStatusItem ? splash.statusItemSwitch() : splash.textToolSwitch();
                    const auto knob =
                        control->convertRectToView(control->bounds(), splash.window()->contentView().get());
                    EXPECT_NEAR((above.minX() + knob.maxX()) / 2, content.midX(), 1.5);
                    EXPECT_GT(knob.minX(), above.maxX());
                }
                if (std::string(hint.what) == "hot key and status item") {
                    const auto file = pictures / ("page" + std::to_string(page + 1) + "-" + language + ".png");
                    EXPECT_TRUE(ui.writePng(*splash.window(), file).ok());
                }
            }
            if (!english) {
                EXPECT_EQ(splash.labelsOfPage(Splash::PageDone)[1]->stringValue(), hint.chinese);
            }
            for (auto* button : {splash.nextButton().get(), splash.backButton().get()})
                EXPECT_FALSE(button->titleLabel()->isTruncated()) << button->title();
        }
        // The guide tip the status-item page brings, as wide as the system language makes it.
        ::setenv("LC_ALL", english ? "en_US.UTF-8" : "zh_CN.UTF-8", 1);
        manager().showGuideEnableWindowController();
        ::unsetenv("LC_ALL");
        ASSERT_FALSE(manager().viewControllers().empty());
        auto& tip = static_cast<KZStatusGuideTipWindowController&>(*manager().viewControllers().back());
        tip.window()->layoutIfNeeded();
        EXPECT_FALSE(tip.tipLabel()->isTruncated()) << tip.tipLabel()->stringValue();
        EXPECT_EQ(containsChinese(tip.tipLabel()->stringValue()), !english);
    }
    BundleLanguage::resetForTesting();
}

// Every shown text of a window: uncut, inside the window. Returns how many texts were seen.
int expectTextsFit(kit::Window& window) {
    window.layoutIfNeeded();
    auto content = window.contentView();
    const kit::Rect bounds = content->bounds();
    int seen = 0;
    std::function<void(const std::shared_ptr<kit::View>&)> visit = [&](const std::shared_ptr<kit::View>& view) {
        if (view->isHidden()) return;
        if (auto label = std::dynamic_pointer_cast<kit::Label>(view); label && !label->stringValue().empty()) {
            ++seen;
            SCOPED_TRACE(label->stringValue());
            const auto frame = label->convertRectToView(label->bounds(), content.get());
            EXPECT_FALSE(label->isTruncated()) << kit::stringFromRect(frame);
            EXPECT_TRUE(bounds.contains(frame)) << kit::stringFromRect(frame) << " in " << kit::stringFromRect(bounds);
        }
        for (const auto& child : view->subviews()) visit(child);
    };
    visit(content);
    return seen;
}

// The tips and dialogs with wrapped text, in both languages, laid out once as they first show.
TEST_F(OnboardingTest, EveryTipAndDialogFitsItsTextInBothLanguages) {
    for (const char* language : {"zh-Hans", "en"}) {
        BundleLanguage::setLanguage(language);
        SCOPED_TRACE(language);
        for (int type : {KZPermissionTipsTypeAccessibility, KZPermissionTipsTypeScreenRecording}) {
            SCOPED_TRACE(type);
            auto tip = kit::create<KZAIPermissionTipsWindowController>(
                true,
                kit::Size{KZAIPermissionTipsWindowController::kWidth, KZAIPermissionTipsWindowController::kHeight});
            tip->setTipsType(type);
            tip->showOnWindow(nullptr);
            env.advance(KZAIPermissionTipsWindowController::kShowDelay + 0.05);
            ASSERT_TRUE(tip->window()->isVisible());
            EXPECT_GE(expectTextsFit(*tip->window()), 2);
            EXPECT_EQ(containsChinese(tip->detailLabel()->stringValue()), std::string(language) != "en");
            tip->endWindow();
        }
        for (const std::string& text : {KZLocalizedString(KZAIDocumentWindowController::kConfirmText),
                                        KZAIImageWindowController::confirmTextFor(
                                            "Quarterly report with a rather long name, final version 3.png")}) {
            SCOPED_TRACE(text);
            auto dialog =
                kit::create<KZTabWndConfirmCloseWindowController>(false, KZTabWndConfirmCloseWindowController::kSize);
            dialog->titleLabel()->setString(text);
            dialog->window()->makeKeyAndOrderFront();
            EXPECT_GE(expectTextsFit(*dialog->window()), 1);
            dialog->window()->close();
        }
        manager().showGuideEnableWindowController();
        ASSERT_FALSE(manager().viewControllers().empty());
        EXPECT_EQ(expectTextsFit(*manager().viewControllers().back()->window()), 1);
        KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
        ASSERT_TRUE(KZAIUserManager::shared().loginWindowController());
        expectTextsFit(*KZAIUserManager::shared().loginWindowController()->window());
        KZAIUserManager::shared().loginWindowController()->close();
        KZWindowControllerManager::resetManager();
    }
    BundleLanguage::resetForTesting();
}

}  // namespace
