#include <optional>
#include <tuple>

#include "AppUiTestSupport.h"
#include "app/ui/KZAcceptsFirstMouseViews.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZHoverView.h"
#include "frameworks/ColorHelpers.h"

namespace {

using quarn::testing::AppUiTest;

kit::Color theme(int index) { return JWAppThemeHelper::getColor(index); }

// What a style shows at rest, hovered and pressed. Title colours without a value stay black;
// border colours without a value are not checked (styles without a border).
struct StyleLook {
    kit::Color background[3];
    std::optional<kit::Color> title[3];
    std::optional<kit::Color> border[3];
    double borderWidth;
    double cornerRadius;
};

StyleLook expectedLook(std::uint64_t style, bool dark) {
    const kit::Color clear = kit::Color::clear();
    const kit::Color green = colorWithHex(0x07A36F);
    switch (style) {
        case 1:
            return {{colorWithHex(0x58CE9B), colorWithHex(0x5FDEA6), green},
                    {kit::Color::white(), kit::Color::white(), kit::Color::white()},
                    {clear, clear, clear},
                    0,
                    2};
        case 2: {
            const kit::Color rest = dark ? colorWithHex(0xFFFFFF, 0.9) : colorWithHex(0x9A9A9A, 0.2);
            return {{clear, clear, clear}, {theme(11), theme(3), green}, {rest, theme(3), green}, 1, 2};
        }
        case 3: return {{clear, clear, clear}, {theme(11), theme(3), green}, {}, 0, 0};
        case 4: return {{clear, theme(18), theme(19)}, {}, {}, 0, 0};
        case 5: return {{clear, theme(18), theme(19)}, {theme(10), theme(10), theme(10)}, {}, 0, 0};
        case 6: return {{clear, colorWithHex(0xFFFFFF, 0.8), clear}, {}, {}, 0, 0};
        case 7:
            return {{clear, dark ? colorWithHex(0xFFFFFF, 0.1) : kit::Color::white(),
                     dark ? colorWithHex(0xFFFFFF, 0.2) : colorWithHex(0xFAF9F7)},
                    {},
                    {clear, clear, clear},
                    1,
                    4};
        default: return {{clear, clear, clear}, {}, {}, 0, 0};
    }
}

class ButtonTest : public AppUiTest {
protected:
    std::shared_ptr<KZCustomViewButton> addButton(std::uint64_t style, kit::Rect frame = {20, 20, 120, 36}) {
        if (!window) {
            window = makeWindow({300, 200});
        }
        auto button = KZCustomViewButton::buttonWithStyle(style);
        button->setFrame(frame);
        window->contentView()->addSubview(button);
        button->setActionBlock([this](KZCustomViewButton&) { ++actions; });
        window->layoutIfNeeded();
        return button;
    }
    kit::Point screen(kit::Point p) { return window->convertPointToScreen(p); }
    static kit::Color hoverBackground(KZCustomViewButton& b) {
        // No layer colour draws as clear.
        return b.hoverView()->layer().backgroundColor.value_or(kit::Color::clear());
    }

    std::shared_ptr<kit::Window> window;
    int actions = 0;
};

class ButtonStyleTest : public ButtonTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(ButtonStyleTest, RestHoverPressAndClickColours) {
    const auto style = static_cast<std::uint64_t>(std::get<0>(GetParam()));
    const bool dark = std::get<1>(GetParam());
    setDark(dark);
    auto button = addButton(style);
    button->setButtonTitle("OK");
    const StyleLook look = expectedLook(style, dark);
    EXPECT_EQ(button->buttonStyle(), style);
    EXPECT_EQ(button->layer().borderWidth, look.borderWidth);
    EXPECT_EQ(button->layer().cornerRadius, look.cornerRadius);
    EXPECT_EQ(button->layer().backgroundColor, kit::Color::clear());
    EXPECT_TRUE(button->layer().masksToBounds);

    auto check = [&](int state, const char* name) {
        SCOPED_TRACE(name);
        EXPECT_EQ(hoverBackground(*button), look.background[state]);
        EXPECT_EQ(button->titleLabel()->textColor(), look.title[state].value_or(kit::Color::black()));
        if (look.border[state]) {
            EXPECT_EQ(button->layer().borderColor, *look.border[state]);
        }
    };
    check(0, "at rest");
    // Below the title, on the hover view.
    const kit::Point inside{30, 24};
    ui.moveMouse(screen(inside));
    EXPECT_TRUE(button->hover());
    check(1, "hovered");
    ui.mouseDown(*window, inside);
    EXPECT_TRUE(button->down());
    check(2, "pressed");
    ui.mouseUp(*window, inside);
    EXPECT_EQ(actions, 1);
    EXPECT_FALSE(button->down());
    // After a click the title and border are at rest although the mouse is still over it; the
    // hover view still shows the hover colour.
    EXPECT_FALSE(button->hover());
    EXPECT_EQ(button->titleLabel()->textColor(), look.title[0].value_or(kit::Color::black()));
    if (look.border[0]) {
        EXPECT_EQ(button->layer().borderColor, *look.border[0]);
    }
    EXPECT_EQ(hoverBackground(*button), look.background[1]);
}

INSTANTIATE_TEST_SUITE_P(AllStylesBothAppearances, ButtonStyleTest,
                         ::testing::Combine(::testing::Range(0, 8), ::testing::Bool()),
                         [](const auto& info) {
                             return "Style" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "Dark" : "Light");
                         });

TEST_F(ButtonTest, APressReleasedOutsideSendsNothingAndReturnsToRest) {
    auto button = addButton(KZCustomViewButtonStyleSecondary);
    button->setButtonTitle("Cancel");
    ui.drag(*window, {30, 24}, {250, 150});
    EXPECT_EQ(actions, 0);
    EXPECT_FALSE(button->down());
    EXPECT_FALSE(button->hover());
    EXPECT_EQ(button->titleLabel()->textColor(), theme(11));
    EXPECT_EQ(button->layer().borderColor, colorWithHex(0x9A9A9A, 0.2));
    EXPECT_EQ(hoverBackground(*button), kit::Color::clear());

    // Out and back in before the release still counts as a click.
    ui.drag(*window, {30, 24}, {40, 30});
    EXPECT_EQ(actions, 1);
}

TEST_F(ButtonTest, ADisabledButtonSendsNothingAndKeepsItsColoursWhileItsBackgroundStillLights) {
    auto secondary = addButton(KZCustomViewButtonStyleSecondary);
    secondary->setButtonTitle("Save");
    secondary->setEnabled(false);
    ui.moveMouse(screen({30, 24}));
    ui.mouseDown(*window, {30, 24});
    EXPECT_EQ(secondary->titleLabel()->textColor(), theme(11));
    EXPECT_EQ(secondary->layer().borderColor, colorWithHex(0x9A9A9A, 0.2));
    ui.mouseUp(*window, {30, 24});
    EXPECT_EQ(actions, 0);
    EXPECT_FALSE(secondary->accessibilityPerformPress());
    EXPECT_EQ(actions, 0);

    auto primary = addButton(KZCustomViewButtonStylePrimary, {20, 100, 120, 36});
    primary->setEnabled(false);
    ui.moveMouse(screen({30, 104}));
    EXPECT_EQ(hoverBackground(*primary), colorWithHex(0x5FDEA6));
    ui.click(*window, {30, 104});
    EXPECT_EQ(actions, 0);

    primary->setEnabled(true);
    ui.click(*window, {30, 104});
    EXPECT_EQ(actions, 1);
}

TEST_F(ButtonTest, ImageIsLaidOutFromTheInsetsWithItsAspectRatio) {
    auto button = addButton(KZCustomViewButtonStyleIconText, {20, 20, 100, 40});
    button->setButtonTitle("Files");
    // 20 x 10 points: aspect 2. The right inset is not used.
    button->setButtonImage(kit::Image::filled(20, 10, kit::Color::black()), {4, 6, 8, 100});
    window->layoutIfNeeded();
    // Top 4 below the top, left 6, height 40 - 4 - 8 = 28, width 56.
    EXPECT_EQ(button->imageView()->frame(), (kit::Rect{6, 8, 56, 28}));
    EXPECT_EQ(button->contentInset(), (kit::EdgeInsets{4, 6, 8, 100}));
    // The icon-and-text title starts 5 points after the image, centred on it.
    const kit::Rect title = button->titleLabel()->frame();
    EXPECT_EQ(title.minX(), 67);
    EXPECT_DOUBLE_EQ(title.midY(), 22);
    EXPECT_GT(title.width(), 0);

    // Follows size changes.
    button->setFrameSize({100, 60});
    window->layoutIfNeeded();
    EXPECT_EQ(button->imageView()->frame(), (kit::Rect{6, 8, 96, 48}));

    // No image, or one of zero height, is laid out square.
    auto plain = addButton(KZCustomViewButtonStyleIcon, {150, 20, 60, 30});
    plain->setButtonImage(kit::Image{}, {5, 5, 5, 5});
    window->layoutIfNeeded();
    EXPECT_EQ(plain->imageView()->frame(), (kit::Rect{5, 5, 20, 20}));
    EXPECT_EQ(plain->imageView()->imageScaling(), kit::ImageScaling::ProportionallyUpOrDown);
}

TEST_F(ButtonTest, PlainButtonHasAClearFaceAndABlackCentredTitleAcrossItsWidth) {
    auto button = addButton(KZCustomViewButtonStyleNone, {20, 20, 120, 36});
    button->setButtonTitle("Plain");
    window->layoutIfNeeded();
    EXPECT_EQ(hoverBackground(*button), kit::Color::clear());
    EXPECT_EQ(button->layer().borderWidth, 0);
    EXPECT_EQ(button->titleLabel()->textColor(), kit::Color::black());
    EXPECT_EQ(button->titleLabel()->font(), kit::Font::systemFont(14));
    EXPECT_EQ(button->titleLabel()->alignment(), kit::TextAlignment::Center);
    const kit::Rect title = button->titleLabel()->frame();
    EXPECT_EQ(title.minX(), 0);
    EXPECT_EQ(title.width(), 120);
    EXPECT_DOUBLE_EQ(title.midY(), 18);
    EXPECT_EQ(button->hoverView()->frame(), (kit::Rect{0, 0, 120, 36}));
    EXPECT_EQ(button->hoverView()->layer().cornerRadius, 2);
}

TEST_F(ButtonTest, StylesApplyOnceAndKeepWhatALaterStyleDoesNotSet) {
    auto button = addButton(KZCustomViewButtonStylePrimary);
    button->setDefaultTitleColor(colorWithHex(0xFF0000));
    button->setButtonStyle(KZCustomViewButtonStylePrimary);
    EXPECT_EQ(button->defaultTitleColor(), colorWithHex(0xFF0000)) << "the same style is not set up again";

    // Avatar sets neither title colours nor a border colour: Primary's stay.
    button->setButtonStyle(KZCustomViewButtonStyleAvatar);
    EXPECT_EQ(button->defaultTitleColor(), colorWithHex(0xFF0000));
    EXPECT_EQ(button->defaultBorderColor(), kit::Color::clear());
    EXPECT_EQ(button->borderCornerRadius(), 0);
    EXPECT_FALSE(button->hoverView()->getDefaultColor()) << "Avatar removes the colour at rest";

    // Values above 7 set nothing up.
    button->setButtonStyle(9);
    EXPECT_EQ(button->buttonStyle(), 9u);
    EXPECT_TRUE(button->hoverView()->getHoverColor());
}

TEST_F(ButtonTest, TheTitleAccessorAloneLeavesTheLabel) {
    auto button = addButton(KZCustomViewButtonStyleText);
    button->setTitle("Hidden");
    EXPECT_EQ(button->title(), "Hidden");
    EXPECT_EQ(button->titleLabel()->stringValue(), "");
    button->setButtonTitle("Shown");
    EXPECT_EQ(button->titleLabel()->stringValue(), "Shown");
}

TEST_F(ButtonTest, SecondaryBorderFollowsTheAppearancePrimaryBackgroundDoesNot) {
    auto secondary = addButton(KZCustomViewButtonStyleSecondary);
    auto primary = addButton(KZCustomViewButtonStylePrimary, {20, 100, 120, 36});
    EXPECT_EQ(secondary->layer().borderColor, colorWithHex(0x9A9A9A, 0.2));
    EXPECT_EQ(hoverBackground(*primary), colorWithHex(0x58CE9B));
    setDark(true);
    EXPECT_EQ(secondary->layer().borderColor, colorWithHex(0xFFFFFF, 0.9));
    EXPECT_EQ(hoverBackground(*primary), colorWithHex(0x58CE9B));
    setDark(false);
    EXPECT_EQ(secondary->layer().borderColor, colorWithHex(0x9A9A9A, 0.2));
}

TEST_F(ButtonTest, ThemeTitleColoursFollowTheAppearanceUnlessTheCallerSetOwnColours) {
    auto secondary = addButton(KZCustomViewButtonStyleSecondary);
    secondary->setButtonTitle("Cancel");
    auto text = addButton(KZCustomViewButtonStyleText, {20, 60, 120, 36});
    text->setButtonTitle("More");
    text->setDefaultTitleColor(colorWithHex(0x123456));
    const kit::Color lightText = theme(11);
    setDark(true);
    ASSERT_NE(theme(11), lightText);
    EXPECT_EQ(secondary->titleLabel()->textColor(), theme(11)) << "readable on the dark background";
    EXPECT_EQ(secondary->hoverTitleColor(), theme(3));
    EXPECT_EQ(secondary->hoverBorderColor(), theme(3));
    EXPECT_EQ(text->titleLabel()->textColor(), colorWithHex(0x123456));
    EXPECT_EQ(text->hoverTitleColor(), theme(3));

    // A hovered button keeps its hover colour through the change.
    ui.moveMouse(window->convertPointToScreen({30, 24}));
    setDark(false);
    EXPECT_EQ(secondary->titleLabel()->textColor(), theme(3));
    EXPECT_EQ(secondary->layer().borderColor, theme(3));
}

TEST_F(ButtonTest, IsOneAccessibilityButtonNamedByItsTitle) {
    auto button = addButton(KZCustomViewButtonStyleIcon);
    button->setAccessibilityLabel("settings");
    EXPECT_EQ(button->accessibilityLabel(), "settings");
    button->setButtonTitle("Settings");
    EXPECT_EQ(button->accessibilityLabel(), "Settings");
    EXPECT_EQ(button->accessibilityRole(), "AXButton");
    EXPECT_TRUE(button->isAccessibilityElement());
    EXPECT_TRUE(button->accessibilityChildren().empty());
    EXPECT_TRUE(button->accessibilityPerformPress());
    EXPECT_EQ(actions, 1);
}

struct Target {
    void onClick(KZCustomViewButton& sender) {
        ++clicks;
        last = &sender;
    }
    int clicks = 0;
    KZCustomViewButton* last = nullptr;
};

TEST_F(ButtonTest, TheTargetIsHeldWeakly) {
    auto button = addButton(KZCustomViewButtonStylePrimary);
    auto target = std::make_shared<Target>();
    button->addTarget(target, &Target::onClick);
    ui.click(*window, {30, 24});
    EXPECT_EQ(target->clicks, 1);
    EXPECT_EQ(target->last, button.get());
    std::weak_ptr<Target> weak = target;
    target.reset();
    EXPECT_TRUE(weak.expired());
    ui.click(*window, {30, 24});
    EXPECT_TRUE(button->accessibilityPerformPress());
}

TEST_F(ButtonTest, AButtonThatRemovesItsTabStaysAliveUntilTheEventIsOver) {
    window = makeWindow({300, 200});
    std::weak_ptr<KZCustomViewButton> weakButton;
    std::weak_ptr<kit::View> weakTab;
    {
        auto tab = kit::create<KZView>(kit::Rect{0, 0, 200, 60});
        window->contentView()->addSubview(tab);
        auto close = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
        close->setFrame({10, 10, 20, 20});
        tab->addSubview(close);
        close->setActionBlock([this, weakTab = std::weak_ptr<kit::View>(tab)](KZCustomViewButton& sender) {
            ++actions;
            if (auto t = weakTab.lock()) t->removeFromSuperview();
            // The button is still usable here and after the action returns.
            EXPECT_FALSE(sender.down());
        });
        weakButton = close;
        weakTab = tab;
    }
    window->layoutIfNeeded();
    ui.click(*window, {20, 20});
    EXPECT_EQ(actions, 1);
    EXPECT_FALSE(weakButton.expired());
    env.runUntilIdle();
    EXPECT_TRUE(weakButton.expired());
    EXPECT_TRUE(weakTab.expired());
}

TEST_F(ButtonTest, AnAccessibilityPressThatRemovesTheButtonKeepsItAliveUntilTheLoopTurns) {
    std::weak_ptr<KZCustomViewButton> weakButton;
    auto tab = kit::create<KZView>(kit::Rect{0, 0, 200, 60});
    {
        auto close = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
        tab->addSubview(close);
        close->setActionBlock([this](KZCustomViewButton& sender) {
            ++actions;
            sender.removeFromSuperview();  // the tab held the only reference
            EXPECT_TRUE(sender.isEnabled());
        });
        weakButton = close;
    }
    // Only the tab holds the button while it is pressed.
    KZCustomViewButton* button = weakButton.lock().get();
    EXPECT_TRUE(button->accessibilityPerformPress());
    EXPECT_EQ(actions, 1);
    EXPECT_TRUE(tab->subviews().empty());
    EXPECT_FALSE(weakButton.expired());
    env.runUntilIdle();
    EXPECT_TRUE(weakButton.expired());
}

TEST_F(ButtonTest, AButtonThatClosesItsWindowStaysAliveUntilTheEventIsOver) {
    std::weak_ptr<KZCustomViewButton> weakButton;
    std::weak_ptr<kit::Window> weakWindow;
    {
        auto own = kit::create<kit::Window>(kit::Rect{100, 100, 200, 100}, kit::WindowStyleTitled | kit::WindowStyleClosable);
        own->makeKeyAndOrderFront();
        auto close = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
        close->setFrame({10, 10, 80, 30});
        own->contentView()->addSubview(close);
        close->setActionBlock([this, &own](KZCustomViewButton&) {
            ++actions;
            own->performClose();
            own.reset();  // the owner lets it go
        });
        weakButton = close;
        weakWindow = own;
        own->layoutIfNeeded();
        ui.click(*own, {20, 20});
    }
    EXPECT_EQ(actions, 1);
    EXPECT_FALSE(weakButton.expired());
    env.runUntilIdle();
    EXPECT_TRUE(weakButton.expired());
    EXPECT_TRUE(weakWindow.expired());
}

}  // namespace
