#include <cairo.h>
#include <glib.h>

#include <chrono>
#include <thread>

#include "app/capture/KZAIPermissionTipsWindowController.h"
#include "app/capture/KZStatusGuideTipWindowController.h"
#include "app/ui/KZAIPermissionDisableTipView.h"
#include "app/ui/KZAcceptsFirstMouseViews.h"
#include "app/ui/KZAppearanceFollower.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZImageView.h"
#include "app/ui/KZLineView.h"
#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "app/windows/KZLoginStateWindowController.h"
#include "app/windows/KZSideSettingsWindowController.h"
#include "frameworks/KZImageLoader.h"
#include "kit/headless/HeadlessWorkspace.h"
#include "kit/ui/ImageData.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "tests/app/windowmanager/AppWindowsTestSupport.h"

namespace {

using apptest::kAfterSlide;
using kit::Point;
using kit::Rect;

const kit::Dictionary kLoggedIn{{"state", 0}, {"avatar", ""}, {"userName", "Ann Example"}};
const kit::Dictionary kLoggedOut{{"state", 1}, {"avatar", ""}, {"userName", ""}};

std::string redPngAddress() {
    auto bytes = kit::Image::filled(4, 4, kit::Color::fromHex(0xFF0000)).encode(kit::ImageFormat::Png);
    gchar* encoded = g_base64_encode(bytes->data(), bytes->size());
    std::string address = std::string("data:image/png;base64,") + encoded;
    g_free(encoded);
    return address;
}

class TitleBarTest : public apptest::AppWindowsTest {
protected:
    KZSideWindowRightView& bar() { return *side().rightView(); }

    void showSide() {
        side().showWithCompletionHandler();
        env.advance(kAfterSlide);
        sideWindow().layoutIfNeeded();
    }
    // A login report within 2 s of a logout is ignored by the login-state manager.
    void login(kit::Dictionary info = kLoggedIn) {
        if (info["state"] == kit::Value(0) && !KZAIUserManager::shared().isLogin()) env.advance(2.5);
        KZAIUserManager::shared().onLoginStateChanged(info);
    }

    std::vector<std::string> reportLog() {
        std::vector<std::string> lines;
        for (const auto& e : HXReport::recordedEvents())
            lines.push_back(std::to_string(e.key) + (e.value.empty() ? "" : "=" + e.value));
        return lines;
    }
    // Runs the main loop until the image loader's worker has handed back every result. The bound
    // only keeps a broken build from hanging.
    void settleImages() {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (KZImageLoader::shared().pendingCount() > 0 && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            env.runUntilIdle();
        }
        env.runUntilIdle();
    }
    static std::string imageName(const std::shared_ptr<KZCustomViewButton>& button) {
        return button->imageView()->image().name();
    }
    static bool visible(const std::shared_ptr<kit::WindowController>& controller) {
        return controller && controller->window()->isVisible();
    }
};

// ---- Layout ---------------------------------------------------------------------------------------

TEST_F(TitleBarTest, FourButtonsInARowWithTheirPicturesLabelsAndStyles) {
    showSide();
    struct Row {
        std::shared_ptr<KZCustomViewButton> button;
        Rect frame;
        std::uint64_t style;
        const char* image;
        const char* label;
    };
    const Row rows[] = {
        {bar().avatarButton(), {0, 8, 24, 24}, KZCustomViewButtonStyleAvatar, "title_bar_user_avatar_default", "头像"},
        {bar().settingsButton(), {44.5, 8, 24, 24}, KZCustomViewButtonStyleIcon, "title_bar_settings", "设置"},
        {bar().flushButton(), {78.5, 8, 24, 24}, KZCustomViewButtonStyleIcon, "title_bar_webview_flush", "刷新"},
        {bar().pinButton(), {112.5, 8, 24, 24}, KZCustomViewButtonStyleIcon, "title_bar_pin_normal", "固定窗口"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.button->frame(), row.frame);
        EXPECT_EQ(row.button->buttonStyle(), row.style);
        EXPECT_EQ(imageName(row.button), row.image);
        EXPECT_FALSE(row.button->imageView()->image().isNull()) << "no picture: the button would be blank";
        EXPECT_EQ(row.button->accessibilityLabel(), row.label);
        EXPECT_FALSE(row.button->isHidden());
    }
    EXPECT_EQ(bar().splitView()->frame(), (Rect{34, 14, 0.5, 12}));
    EXPECT_EQ(bar().splitView()->className(), "KZTabWindowLineView");
    // The avatar is a circle: 22 x 22 inside a 1-point inset, radius 11.
    EXPECT_EQ(bar().avatarButton()->imageView()->frame(), (Rect{1, 1, 22, 22}));
    EXPECT_EQ(bar().avatarButton()->imageView()->layer().cornerRadius, 11);
    EXPECT_EQ(bar().avatarButton()->layer().cornerRadius, 12);
    // Made hidden, never added to a view hierarchy.
    EXPECT_TRUE(bar().loginInfoTipView()->isHidden());
    EXPECT_EQ(bar().loginInfoTipView()->superview(), nullptr);
}

// ---- Avatar, login-state card and its anchors ----------------------------------------------------

TEST_F(TitleBarTest, AvatarClicksLoggedOutOpenTheLoginWindowLoggedInReplaceTheCardAtTheSamePlace) {
    showSide();
    HXReport::takeRecordedEvents();
    ui.clickView(*bar().avatarButton());
    EXPECT_EQ(reportLog(), (std::vector<std::string>{"24022=3", "21076"}));
    EXPECT_EQ(bar().loginStateWindowController(), nullptr);
    ASSERT_NE(KZAIUserManager::shared().loginWindowController(), nullptr);
    EXPECT_TRUE(visible(KZAIUserManager::shared().loginWindowController()));
    KZAIUserManager::shared().closeLoginWindow();

    login();
    HXReport::takeRecordedEvents();
    ui.clickView(*bar().avatarButton());
    auto first = bar().loginStateWindowController();
    ASSERT_TRUE(visible(first));
    ui.clickView(*bar().avatarButton());
    auto second = bar().loginStateWindowController();
    ASSERT_TRUE(visible(second));
    EXPECT_NE(first, second);
    EXPECT_FALSE(visible(first));
    EXPECT_EQ(reportLog(), (std::vector<std::string>{"21075", "21075"}));
    EXPECT_EQ(env.log().count("[Tab] Click Login Arrow"), 2u);
    // Side window at (1030, 20), 390 x 835; the avatar's bottom-right corner is at (249, 803) in
    // it, so on screen (1279, 823); the 200 x 98 card hangs 9 points below it.
    EXPECT_EQ(first->window()->frame(), (Rect{1079, 716, 200, 98}));
    EXPECT_EQ(second->window()->frame(), first->window()->frame());
    EXPECT_EQ(second->window()->level(), 25);
    EXPECT_EQ(second->window()->minSize(), (kit::Size{200, 98}));
    EXPECT_EQ(second->window()->maxSize(), (kit::Size{200, 98}));
    EXPECT_EQ(second->nameLabel()->stringValue(), "Ann Example");
    EXPECT_TRUE(second->loginButton()->isHidden());
    EXPECT_FALSE(second->logoutButton()->isHidden());
}

TEST_F(TitleBarTest, PopoversHangNinePointsBelowTheBottomRightCornerOfTheirButton) {
    struct Case {
        std::vector<kit::Rect> screens;
        Point mouse;
        Point avatarAnchor;
        Point settingsAnchor;
    };
    const Case cases[] = {
        // One 1440 x 900 screen (visible frame 1440 x 875): the window at (1030, 20).
        {{{0, 0, 1440, 900}}, {700, 400}, {1279, 823}, {1323.5, 823}},
        // A second screen left of the main one: the window at (-410, 20), 390 x 1015.
        {{{0, 0, 1440, 900}, {-1920, 0, 1920, 1080}}, {-1000, 500}, {-161, 1003}, {-116.5, 1003}},
    };
    login();
    for (const auto& c : cases) {
        SCOPED_TRACE(kit::stringFromPoint(c.mouse));
        std::vector<kit::ScreenDescription> screens;
        for (std::size_t i = 0; i < c.screens.size(); ++i)
            screens.push_back(kit::HeadlessUi::makeScreen("s" + std::to_string(i), c.screens[i]));
        ui.setScreens(screens);
        ui.setMouseLocation(c.mouse);
        env.advance(1);
        showSide();
        EXPECT_EQ(bar().anchorPointOfButton(*bar().avatarButton()), c.avatarAnchor);
        EXPECT_EQ(bar().anchorPointOfButton(*bar().settingsButton()), c.settingsAnchor);
        bar().onClickAvatarButtonAction(nullptr);
        bar().onClickSettingsButtonAction(nullptr);
        EXPECT_EQ(bar().loginStateWindowController()->window()->frame().origin,
                  (Point{c.avatarAnchor.x - 200, c.avatarAnchor.y - 98 - 9}));
        EXPECT_EQ(bar().settingsWindowController()->window()->frame().origin,
                  (Point{c.settingsAnchor.x - 200, c.settingsAnchor.y - 84 - 9}));
        side().hideWithCompletionHandler();
        env.advance(kAfterSlide);
    }
    // Not clamped: a point near the screen's left edge leaves the card partly off screen.
    auto card = kit::create<KZLoginStateWindowController>(kit::Size{200, 98}, kit::EdgeInsets{});
    card->showWindowTopRightPoint({50, 300});
    EXPECT_EQ(card->window()->frame().origin, (Point{-150, 193}));
}

TEST_F(TitleBarTest, TheCardShowsTheLoginStateOfTheMomentItIsShown) {
    struct Case {
        const char* what;
        kit::Dictionary info;
        const char* name;
        bool loginButton;
        bool loaded;  // the red data-address picture instead of the default one
    };
    const std::string red = redPngAddress();
    const Case cases[] = {
        {"logged in, no avatar", kLoggedIn, "Ann Example", false, false},
        {"logged in, no name", {{"state", 0}, {"avatar", ""}, {"userName", ""}}, "未登录", false, false},
        {"logged in, data avatar", {{"state", 0}, {"avatar", red}, {"userName", "Bo"}}, "Bo", false, true},
        {"logged in, file avatar", {{"state", 0}, {"avatar", "file:///etc/passwd"}, {"userName", "Cy"}}, "Cy", false, false},
        {"logged out, stale avatar and name", {{"state", 1}, {"avatar", red}, {"userName", "Old"}}, "未登录", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        login(c.info);
        auto card = kit::create<KZLoginStateWindowController>(kit::Size{200, 98}, kit::EdgeInsets{});
        card->showWindowTopRightPoint({1000, 800});
        settleImages();
        EXPECT_EQ(card->nameLabel()->stringValue(), c.name);
        EXPECT_EQ(card->loginButton()->isHidden(), !c.loginButton);
        EXPECT_EQ(card->logoutButton()->isHidden(), c.loginButton);
        EXPECT_EQ(card->avatarView()->accessibilityLabel(), "头像");
        card->window()->layoutIfNeeded();
        // Picture 20 in and 10 down; the name beside it, 2 points lower; 11 points left under the button.
        EXPECT_EQ(card->avatarView()->frame(), (Rect{20, 56, 32, 32}));
        EXPECT_EQ(card->nameLabel()->frame(), (Rect{57, 59, 138, 22}));
        EXPECT_EQ(card->lineView()->frame(), (Rect{20, 45, 160, 1}));
        EXPECT_EQ(card->logoutButton()->frame(), (Rect{20, 11, 160, 24}));
        EXPECT_EQ(card->loginButton()->frame(), card->logoutButton()->frame());
        const kit::Image& picture = card->avatarView()->image();
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.name() == "title_bar_user_avatar_default", !c.loaded);
        if (c.loaded) {
            EXPECT_EQ(picture.pixelAt(0, 0), kit::Color::fromHex(0xFF0000));
        }
        card->close();
    }
}

TEST_F(TitleBarTest, CardButtonsReportCloseThenRunTheirBlocks) {
    login();
    showSide();
    bar().onClickAvatarButtonAction(nullptr);
    auto card = bar().loginStateWindowController();
    HXReport::takeRecordedEvents();
    std::vector<std::string> order;
    card->setOnClickLogout([&] {
        order.push_back(std::string("block, visible ") + (card->window()->isVisible() ? "yes" : "no") + ", reports " +
                        std::to_string(HXReport::recordedEvents().size()));
    });
    ui.clickView(*card->logoutButton());
    EXPECT_EQ(order, std::vector<std::string>{"block, visible no, reports 1"});
    EXPECT_EQ(reportLog(), std::vector<std::string>{"21077"});

    // The log-in button reports nothing itself; the title bar's block sends the side window's
    // onClickLogin, which opens the login window and reports 24022 "3".
    login(kLoggedOut);
    bar().clickLoginArrowAction(nullptr);
    card = bar().loginStateWindowController();
    ASSERT_FALSE(card->loginButton()->isHidden());
    HXReport::takeRecordedEvents();
    ui.clickView(*card->loginButton());
    EXPECT_FALSE(card->window()->isVisible());
    EXPECT_EQ(reportLog(), std::vector<std::string>{"24022=3"});
    EXPECT_TRUE(visible(KZAIUserManager::shared().loginWindowController()));
}

TEST_F(TitleBarTest, ALogoutClosesAVisibleCardALoginLeavesItAndClosingTheSideWindowHidesBothPopovers) {
    login();
    showSide();
    bar().onClickAvatarButtonAction(nullptr);
    auto card = bar().loginStateWindowController();
    login({{"state", 0}, {"avatar", ""}, {"userName", "Someone Else"}});
    EXPECT_EQ(bar().loginStateWindowController(), card);
    EXPECT_TRUE(visible(card));
    EXPECT_EQ(card->nameLabel()->stringValue(), "Ann Example");  // not refreshed
    login(kLoggedOut);
    EXPECT_EQ(bar().loginStateWindowController(), nullptr);
    EXPECT_FALSE(visible(card));

    // A card already hidden by an outside click stays in its property through a logout.
    login();
    bar().onClickAvatarButtonAction(nullptr);
    card = bar().loginStateWindowController();
    card->window()->orderOut();
    login(kLoggedOut);
    EXPECT_EQ(bar().loginStateWindowController(), card);

    // The side window's closing orders both popovers out; they stay, their blocks do not run.
    login();
    bar().onClickAvatarButtonAction(nullptr);
    bar().onClickSettingsButtonAction(nullptr);
    card = bar().loginStateWindowController();
    auto settings = bar().settingsWindowController();
    int disappeared = 0;
    card->setPopoverDidDisappearBlock([&](KZBasePopoverWindowController&) { ++disappeared; });
    settings->setPopoverDidDisappearBlock([&](KZBasePopoverWindowController&) { ++disappeared; });
    ASSERT_TRUE(visible(card) && visible(settings));
    // Another window closing changes nothing.
    auto other = kit::create<kit::Window>(Rect{0, 0, 100, 100}, kit::WindowStyleTitled);
    other->makeKeyAndOrderFront();
    other->close();
    // (The side window resigning key armed its auto-hide; this part is about closing.)
    side().__cancelDelayWindowAutoDisappear();
    EXPECT_TRUE(visible(card) && visible(settings));
    sideWindow().performClose();
    env.advance(kAfterSlide);
    EXPECT_FALSE(sideWindow().isVisible());
    EXPECT_FALSE(visible(card));
    EXPECT_FALSE(visible(settings));
    EXPECT_EQ(bar().loginStateWindowController(), card);
    EXPECT_EQ(bar().settingsWindowController(), settings);
    EXPECT_EQ(disappeared, 0);
}

TEST_F(TitleBarTest, AvatarPictureLoadsOnlyFromWebAndDataAddresses) {
    bar();
    const std::string red = redPngAddress();
    struct Case {
        std::string avatar;
        bool loads;
        const char* tip;
    };
    const Case cases[] = {
        {"https://127.0.0.1:1/a.png", true, "Ann Example"},
        {"HTTP://127.0.0.1:1/a.png", true, "Ann Example"},  // the scheme in capitals
        {red, true, "Ann Example"},
        {"file:///home/ann/a.png", false, "点击登录"},
        {"httpx://127.0.0.1:1/a.png", false, "点击登录"},
        {"javascript:alert(1)", false, "点击登录"},
        {"", false, "点击登录"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.avatar.substr(0, 40));
        const auto started = KZImageLoader::shared().startedCount();
        login({{"state", 0}, {"avatar", c.avatar}, {"userName", "Ann Example"}});
        EXPECT_EQ(KZImageLoader::shared().startedCount() - started, c.loads ? 1u : 0u);
        EXPECT_EQ(bar().loginInfoTipView()->titleLabel()->stringValue(), c.tip);
        EXPECT_TRUE(env.log().contains("[Tab] Set User Avatar: " + (c.avatar.empty() ? "(null)" : c.avatar)));
        // The default picture shows at once, and stays unless a picture arrives.
        EXPECT_EQ(bar().avatarButton()->imageView()->image().name(), "title_bar_user_avatar_default");
    }
    // A data picture replaces the default one; a later logout brings the default back even while
    // a load is still running.
    login({{"state", 0}, {"avatar", red}, {"userName", "Ann Example"}});
    settleImages();
    EXPECT_EQ(bar().avatarButton()->imageView()->image().pixelAt(0, 0), kit::Color::fromHex(0xFF0000));
    login(kLoggedOut);
    auto blue = kit::Image::filled(4, 4, kit::Color::fromHex(0x0000FF)).encode(kit::ImageFormat::Png);
    gchar* encoded = g_base64_encode(blue->data(), blue->size());
    const std::string blueAddress = std::string("data:image/png;base64,") + encoded;
    g_free(encoded);
    login({{"state", 0}, {"avatar", blueAddress}, {"userName", "Ann Example"}});
    login(kLoggedOut);  // before the picture is back
    settleImages();
    EXPECT_EQ(bar().avatarButton()->imageView()->image().name(), "title_bar_user_avatar_default");
}

// ---- Settings popover -----------------------------------------------------------------------------

TEST_F(TitleBarTest, SettingsPopoverEntriesPreferencesReachTheHostQuitWaitsForTheEventToEnd) {
    int quits = 0;
    auto application = std::make_shared<AppDelegate>(AppDelegate::Options{-1, [&] { ++quits; }, {}});
    AppDelegate::setCurrent(application);
    showSide();
    HXReport::takeRecordedEvents();
    ui.clickView(*bar().settingsButton());
    auto popover = bar().settingsWindowController();
    ASSERT_TRUE(visible(popover));
    EXPECT_EQ(popover->window()->level(), 25);
    EXPECT_EQ(popover->window()->frame(), (Rect{1123.5, 730, 200, 84}));
    sideWindow().layoutIfNeeded();
    popover->window()->layoutIfNeeded();
    // Entries 160 wide, 20 from the sides; 10 from the top, 8 around the line.
    EXPECT_EQ(popover->settingsButton()->frame(), (Rect{20, 50, 160, 24}));
    EXPECT_EQ(popover->lineView()->frame(), (Rect{20, 41, 160, 1}));
    EXPECT_EQ(popover->quitButton()->frame(), (Rect{20, 9, 160, 24}));
    EXPECT_EQ(popover->settingsButton()->title(), "偏好设置");
    EXPECT_EQ(popover->quitButton()->title(), "退出AI助手");

    // Preferences: closes, reports, and asks the host (here not running, so it is launched).
    ui.clickView(*popover->settingsButton());
    EXPECT_FALSE(visible(popover));
    ASSERT_EQ(env.workspace().launches().size(), 1u);
    EXPECT_EQ(env.workspace().launches()[0].arguments, (std::vector<std::string>{"2", "ai"}));

    // A second click replaces the popover.
    ui.clickView(*bar().settingsButton());
    auto second = bar().settingsWindowController();
    EXPECT_NE(second, popover);
    ASSERT_TRUE(visible(second));
    ui.clickView(*second->quitButton());
    EXPECT_FALSE(visible(second));
    EXPECT_EQ(quits, 0) << "the quit waits until the current event is over";
    EXPECT_EQ(reportLog(), (std::vector<std::string>{"21071", "21078", "21071", "21079"}));
    EXPECT_TRUE(env.log().contains("[Tab] Click Quit Menu Item"));
    env.runUntilIdle();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(env.log().contains("[AppDelegate] applicationWillTerminate"));

    // The quit runs even when the title bar has gone meanwhile.
    auto third = kit::create<KZSideSettingsWindowController>(kit::Size{200, 84}, kit::EdgeInsets{});
    bar().onClickSettingsButtonAction(nullptr);
    auto block = bar().settingsWindowController()->onClickQuit();
    KZWindowControllerManager::resetManager();
    application = std::make_shared<AppDelegate>(AppDelegate::Options{-1, [&] { ++quits; }, {}});
    AppDelegate::setCurrent(application);
    block();
    env.runUntilIdle();
    EXPECT_EQ(quits, 2);
    // An entry without a block only closes.
    third->showWindowTopRightPoint({500, 500});
    ui.clickView(*third->quitButton());
    EXPECT_FALSE(visible(third));
}

// ---- Pin ------------------------------------------------------------------------------------------

class RecordingDelegate : public KZSideWindowRightViewDelegate {
public:
    void onClickLogin() override {}
    void onClickLogout() override {}
    void onClickFlushWeb() override { events.push_back("flush"); }
    void onPinStatusChangedFromRightView(KZSideWindowRightView& view) override {
        events.push_back(std::string("pin ") + (view.isPinned() ? "on" : "off") + ", stored " +
                         (KZSharedPlistManager::sharedManager().db_qaWindowPinState() ? "on" : "off") + ", level " +
                         std::to_string(view.window()->level()));
    }
    std::shared_ptr<kit::Window> getWindow() override { return window; }
    std::vector<std::string> events;
    std::shared_ptr<kit::Window> window;
};

TEST_F(TitleBarTest, PinStoresTheStateBeforeTheDelegateHearsAndOnlyPinningIsReported) {
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->window = kit::create<kit::Window>(Rect{0, 0, 200, 40}, kit::WindowStyleBorderless);
    auto view = kit::create<KZSideWindowRightView>(std::weak_ptr<KZSideWindowRightViewDelegate>(delegate));
    delegate->window->contentView()->addSubview(view);
    HXReport::takeRecordedEvents();
    view->onClickPinButtonAction(nullptr);
    EXPECT_EQ(imageName(view->pinButton()), "title_bar_pin_select");
    EXPECT_EQ(view->pinButton()->accessibilityLabel(), "取消固定窗口");
    view->onClickPinButtonAction(nullptr);
    EXPECT_EQ(imageName(view->pinButton()), "title_bar_pin_normal");
    EXPECT_EQ(view->pinButton()->accessibilityLabel(), "固定窗口");
    view->onClickFlushButtonAction(nullptr);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"pin on, stored on, level 20", "pin off, stored off, level 0",
                                                          "flush"}));
    EXPECT_EQ(reportLog(), (std::vector<std::string>{"21070", "21074"}));
    EXPECT_EQ(env.log().count("[Tab] Click PIN Button"), 2u);

    // With the delegate gone, clicks still log, report and store.
    delegate.reset();
    view->onClickPinButtonAction(nullptr);
    EXPECT_TRUE(KZSharedPlistManager::sharedManager().db_qaWindowPinState());
    EXPECT_EQ(clicks(21070), 2u);

    // In the side window the pin keeps the window above others, and a new side window starts pinned.
    showSide();
    ui.clickView(*bar().pinButton());
    EXPECT_FALSE(bar().isPinned());  // it was stored as pinned above
    ui.clickView(*bar().pinButton());
    EXPECT_EQ(sideWindow().level(), 20);
    EXPECT_EQ(sideWindow().collectionBehavior(), 385u);
    KZWindowControllerManager::resetManager();
    EXPECT_TRUE(bar().isPinned());
    EXPECT_EQ(imageName(bar().pinButton()), "title_bar_pin_select");
}

TEST_F(TitleBarTest, TheDefaultAvatarFollowsTheAppearanceWhateverBecameOfTheAvatarLoad) {
    KZAppearanceFollower::start();
    showSide();
    struct Case {
        const char* what;
        std::string avatar;
        bool loaded;
    };
    const Case cases[] = {
        {"no avatar", "", false},
        {"undecodable avatar", "data:image/png;base64,AAAA", false},
        {"unreachable avatar", "http://127.0.0.1:1/avatar.png", false},
        {"loaded avatar", redPngAddress(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light);
        login({{"state", 0}, {"avatar", c.avatar}, {"userName", "Ann"}});
        settleImages();
        for (bool dark : {true, false, true}) {
            JWAppThemeHelper::setApplicationAppearance(dark ? kit::AppearancePreference::Dark
                                                            : kit::AppearancePreference::Light);
            const kit::Image& shown = bar().avatarButton()->imageView()->image();
            if (c.loaded) {
                EXPECT_EQ(shown.pixelAt(0, 0), kit::Color::fromHex(0xFF0000));
            } else {
                EXPECT_EQ(shown.name(), dark ? "title_bar_user_avatar_default_dark" : "title_bar_user_avatar_default");
            }
        }
    }
    KZAppearanceFollower::stop();
}

// ---- Tips -----------------------------------------------------------------------------------------

TEST_F(TitleBarTest, TipsSizeToTheirTextAndRepaintTheirBubbleAndText) {
    KZAppearanceFollower::start();
    struct Case {
        const char* language;
        std::string text;
        int lines;
    };
    const std::string longText(200, 'w');
    const Case cases[] = {{"zh_CN.UTF-8", "", 1}, {"en_US.UTF-8", "", 2}, {"zh_CN.UTF-8", longText, 1},
                          {"en_US.UTF-8", longText, 2}};
    const char* previous = std::getenv("LANG");
    const std::string saved = previous ? previous : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.language) + " " + std::to_string(c.text.size()));
        ::setenv("LANG", c.language, 1);
        auto tip = kit::create<KZAIPermissionDisableTipView>();
        EXPECT_EQ(tip->titleLabel()->stringValue(), "划词功能异常，请检查是否开启授权");
        EXPECT_EQ(tip->titleLabel()->maximumNumberOfLines(), c.lines);
        if (!c.text.empty()) tip->titleLabel()->setStringValue(c.text);
        const kit::Size size = tip->intrinsicContentSize();
        const kit::Size text = tip->titleLabel()->intrinsicContentSize();
        EXPECT_LE(size.width, 300 + 24);
        EXPECT_GT(size.width, 24);
        EXPECT_DOUBLE_EQ(size.height, text.height + 20);
        if (!c.text.empty()) {
            EXPECT_DOUBLE_EQ(size.width, 324);
        }
    }
    if (previous) ::setenv("LANG", saved.c_str(), 1); else ::unsetenv("LANG");

    // The login tip starts with the permission text; the title bar gives it the name or a prompt.
    auto loginTip = kit::create<KZAIUserLoginInfoTipView>();
    auto holder = kit::create<kit::Window>(Rect{0, 0, 400, 100}, kit::WindowStyleBorderless);
    holder->contentView()->addSubview(loginTip);
    EXPECT_EQ(loginTip->titleLabel()->stringValue(), "划词功能异常，请检查是否开启授权");
    EXPECT_FALSE(loginTip->hasArrow());
    EXPECT_EQ(loginTip->__arrowHalfHeight(), 0);

    EXPECT_EQ(loginTip->titleLabel()->textColor(), kit::Color::fromHex(0x666666));
    EXPECT_EQ(loginTip->bgView()->layer().backgroundColor, kit::Color::white());
    JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Dark);
    EXPECT_EQ(loginTip->bgView()->layer().backgroundColor, kit::Color::fromHex(0x5B5E71));
    EXPECT_EQ(loginTip->titleLabel()->textColor(), kit::Color::fromHex(0xA6A6A6));
    EXPECT_EQ(loginTip->arrowImageView()->image().pixelAt(13, 25), kit::Color::fromHex(0x5B5E71));
    KZAppearanceFollower::stop();
}

// ---- Rendering ------------------------------------------------------------------------------------

TEST_F(TitleBarTest, RendersTheTitleBarInBothAppearances) {
    KZAppearanceFollower::start();
    login();
    showSide();
    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        JWAppThemeHelper::setApplicationAppearance(dark ? kit::AppearancePreference::Dark : kit::AppearancePreference::Light);
        bar().onClickPinButtonAction(nullptr);  // the second picture shows the pinned state
        sideWindow().layoutIfNeeded();
        const kit::Image picture = ui.render(sideWindow(), 2.0);
        ASSERT_EQ(picture.pixelWidth(), 780);
        // The title bar: the top 40 points of the window, at twice the size.
        cairo_surface_t* strip = cairo_surface_create_for_rectangle(picture.data()->surface, 0, 0, 780, 80);
        const auto file = outputDirectory("app_side") / (std::string("title-bar-") + (dark ? "dark" : "light") + ".png");
        ASSERT_EQ(cairo_surface_write_to_png(strip, file.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(strip);

        const kit::Color background = dark ? kit::Color::fromHex(0x272835) : kit::Color::fromHex(0xFFF1D7);
        auto near = [](kit::Color a, kit::Color b) {
            return std::abs(a.red - b.red) < 0.02 && std::abs(a.green - b.green) < 0.02 && std::abs(a.blue - b.blue) < 0.02;
        };
        EXPECT_TRUE(near(picture.pixelAt(200, 40), background));
        // Every button shows a picture: some pixel in its square differs from the background.
        for (double left : {225.0, 269.5, 303.5, 337.5}) {
            int drawn = 0;
            for (int y = 16; y < 64; y += 2)
                for (int x = int(left * 2); x < int(left * 2) + 48; x += 2)
                    if (!near(picture.pixelAt(x, y), background)) ++drawn;
            EXPECT_GT(drawn, 20) << "button at " << left;
        }
        // The settings glyph is dark on the light bar and light on the dark one.
        double darkest = 1, lightest = 0;
        for (int y = 16; y < 64; ++y)
            for (int x = 539; x < 587; ++x) {
                const kit::Color c = picture.pixelAt(x, y);
                const double luma = 0.3 * c.red + 0.59 * c.green + 0.11 * c.blue;
                darkest = std::min(darkest, luma);
                lightest = std::max(lightest, luma);
            }
        if (dark) {
            EXPECT_GT(lightest, 0.6);
        } else {
            EXPECT_LT(darkest, 0.45);
        }

        // The two popovers, on the menu colour of the appearance.
        bar().onClickAvatarButtonAction(nullptr);
        bar().onClickSettingsButtonAction(nullptr);
        const kit::Color menu = dark ? kit::Color::fromHex(0x272835) : kit::Color::white();
        for (const auto& [name, popover] :
             {std::pair<std::string, std::shared_ptr<KZBasePopoverWindowController>>{"card", bar().loginStateWindowController()},
              {"settings", bar().settingsWindowController()}}) {
            popover->window()->layoutIfNeeded();
            const kit::Image shot = ui.render(*popover->window(), 2.0);
            ASSERT_TRUE(shot.writeToFile(outputDirectory("app_side") / (name + "-" + (dark ? "dark" : "light") + ".png")));
            EXPECT_TRUE(near(shot.pixelAt(390, 10), menu)) << name;
        }
    }
    KZAppearanceFollower::stop();
}

TEST_F(TitleBarTest, OpenWindowsAndPopoversFollowEverySwitchOfTheHostOrTheDesktop) {
    JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::System);
    KZAppearanceFollower::start();
    // Opened while light; they stay open through every switch. A card shown while logged out,
    // and the title bar's card of a user whose avatar failed to load: both show the default
    // picture.
    auto loggedOutCard = kit::create<KZLoginStateWindowController>(kit::Size{200, 98}, kit::EdgeInsets{});
    loggedOutCard->showWindowTopRightPoint({1000, 800});
    login({{"state", 0}, {"avatar", "data:image/png;base64,AAAA"}, {"userName", "Ann Example"}});
    showSide();
    bar().onClickAvatarButtonAction(nullptr);
    bar().onClickSettingsButtonAction(nullptr);
    settleImages();
    const std::vector<std::pair<std::string, std::shared_ptr<KZBasePopoverWindowController>>> popovers{
        {"card", bar().loginStateWindowController()},
        {"settings", bar().settingsWindowController()},
        {"logged-out card", loggedOutCard}};
    const std::vector<std::pair<std::string, std::shared_ptr<KZLoginStateWindowController>>> cards{
        {"card", bar().loginStateWindowController()}, {"logged-out card", loggedOutCard}};
    ASSERT_FALSE(cards[0].second->logoutButton()->isHidden());
    ASSERT_TRUE(cards[1].second->logoutButton()->isHidden());
    auto host = [](kit::AppearancePreference preference) {
        return [preference] { JWAppThemeHelper::setApplicationAppearance(preference); };
    };
    auto desktop = [this](kit::Appearance appearance) {
        return [this, appearance] { ui.backend().setSystemAppearance(appearance); };
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        bool dark;
    };
    const Step steps[] = {
        {"the desktop turns dark", desktop(kit::Appearance::Dark), true},
        {"the desktop turns light", desktop(kit::Appearance::Light), false},
        {"the host picks dark", host(kit::AppearancePreference::Dark), true},
        {"the desktop turns dark and light under the host's dark",
         [&] {
             desktop(kit::Appearance::Dark)();
             desktop(kit::Appearance::Light)();
         },
         true},
        {"the host follows the desktop again", host(kit::AppearancePreference::System), false},
        {"the desktop turns dark once more", desktop(kit::Appearance::Dark), true},
        {"the host picks light", host(kit::AppearancePreference::Light), false},
    };
    auto near = [](kit::Color a, kit::Color b) {
        return std::abs(a.red - b.red) < 0.02 && std::abs(a.green - b.green) < 0.02 && std::abs(a.blue - b.blue) < 0.02;
    };
    std::vector<std::shared_ptr<kit::WindowController>> lightSurfaceTips;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        EXPECT_EQ(JWAppThemeHelper::isDarkMode(), step.dark);
        sideWindow().layoutIfNeeded();
        const kit::Color strip = ui.render(sideWindow(), 1.0).pixelAt(200, 20);
        EXPECT_TRUE(near(strip, step.dark ? kit::Color::fromHex(0x272835) : kit::Color::fromHex(0xFFF1D7)));
        for (const auto& [name, popover] : popovers) {
            popover->window()->layoutIfNeeded();
            const kit::Color menu = ui.render(*popover->window(), 1.0).pixelAt(195, 5);
            EXPECT_TRUE(near(menu, step.dark ? kit::Color::fromHex(0x272835) : kit::Color::white())) << name;
        }
        // The menu's entries are written in the text colour of the appearance now, not of the
        // one the menu was made in.
        EXPECT_EQ(bar().settingsWindowController()->settingsButton()->titleLabel()->textColor(),
                  step.dark ? kit::Color::fromHex(0xF2F2F2) : kit::Color::fromHex(0x1F1F1F));
        EXPECT_EQ(bar().loginStateWindowController()->logoutButton()->titleLabel()->textColor(),
                  step.dark ? kit::Color::fromHex(0xF2F2F2) : kit::Color::fromHex(0x1F1F1F));
        // The guide tip and the permission tips lie on a white surface in either appearance:
        // their text is dark whenever they are made and however the appearance moves on.
        lightSurfaceTips.push_back(
            kit::create<KZStatusGuideTipWindowController>(kit::Size{328, 42}, kit::EdgeInsets{0, 10, 0, 10}));
        lightSurfaceTips.push_back(kit::create<KZAIPermissionTipsWindowController>(false, kit::Size{380, 441}));
        for (const auto& tip : lightSurfaceTips) {
            std::vector<std::shared_ptr<kit::Label>> labels;
            if (auto guide = std::dynamic_pointer_cast<KZStatusGuideTipWindowController>(tip)) {
                labels = {guide->tipLabel()};
            } else if (auto permission = std::dynamic_pointer_cast<KZAIPermissionTipsWindowController>(tip)) {
                labels = {permission->titleLabel(), permission->detailLabel()};
            }
            ASSERT_FALSE(labels.empty());
            for (const auto& label : labels) EXPECT_EQ(label->textColor(), kit::Color::fromHex(0x1F1F1F));
        }
        // The cards' name, default picture and log-out icon are those of the appearance now.
        const std::string suffix = step.dark ? "_dark" : "";
        for (const auto& [name, card] : cards) {
            EXPECT_EQ(card->nameLabel()->textColor(),
                      step.dark ? kit::Color::fromHex(0xF2F2F2) : kit::Color::fromHex(0x1F1F1F))
                << name;
            EXPECT_EQ(card->avatarView()->image().name(), "title_bar_user_avatar_default" + suffix) << name;
            EXPECT_FALSE(card->avatarView()->image().isNull()) << name;
        }
        EXPECT_EQ(imageName(bar().loginStateWindowController()->logoutButton()), "title_bar_user_logout" + suffix);
        EXPECT_EQ(imageName(bar().avatarButton()), "title_bar_user_avatar_default" + suffix);
        // What the cards draw: the light icon's stroke is dark grey, the dark one's near white;
        // the light default picture is pale, the dark one deep grey.
        for (const auto& [name, card] : cards) {
            card->window()->layoutIfNeeded();
            const kit::Image shot = ui.render(*card->window(), 1.0);
            auto lumas = [&](const kit::View& view, double inset) {
                const kit::Rect r = view.convertRectToView(view.bounds(), nullptr);
                double lowest = 1, highest = 0, sum = 0;
                int count = 0;
                for (int y = int(r.origin.y + inset); y < int(r.maxY() - inset); ++y)
                    for (int x = int(r.origin.x + inset); x < int(r.maxX() - inset); ++x) {
                        const kit::Color c = shot.pixelAt(x, 98 - 1 - y);
                        const double luma = 0.3 * c.red + 0.59 * c.green + 0.11 * c.blue;
                        lowest = std::min(lowest, luma);
                        highest = std::max(highest, luma);
                        sum += luma;
                        ++count;
                    }
                return std::tuple{lowest, highest, count ? sum / count : 0.0};
            };
            const auto [avatarLow, avatarHigh, avatarMean] = lumas(*card->avatarView(), 8);
            EXPECT_TRUE(step.dark ? avatarMean < 0.5 : avatarMean > 0.6) << name << " avatar " << avatarMean;
            if (card->logoutButton()->isHidden()) continue;
            const auto [iconLow, iconHigh, iconMean] = lumas(*card->logoutButton()->imageView(), 0);
            EXPECT_TRUE(step.dark ? iconHigh > 0.7 : iconLow < 0.35) << name << " icon " << iconLow << "-" << iconHigh;
        }
    }
    KZAppearanceFollower::stop();
}

}  // namespace
