#include <array>
#include <cmath>

#include "AppUiTestSupport.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZView.h"
#include "frameworks/ColorHelpers.h"
#include "kit/headless/OffscreenRenderer.h"

namespace {

using quarn::testing::AppUiTest;
using quarn::testing::near;

// A window of one button of each style, 100 x 32 each, in two columns, on a content view that
// follows the theme.
class ButtonRenderingTest : public AppUiTest {
protected:
    static constexpr kit::Color kLightPage = kit::Color::fromHex(0xF0F0F0);
    static constexpr kit::Color kDarkPage = kit::Color::fromHex(0x202020);

    static kit::Rect frameOf(int style) {
        const int row = style / 2;  // two styles a row
        return {20.0 + (style % 2) * 140, 20.0 + row * 50, 100, 32};
    }

    void build() {
        window = makeWindow({280, 220});
        page = kit::create<KZView>(kit::Rect{0, 0, 280, 220});
        page->setSetupSubviewsColorBlock([](KZView& view, bool dark) { view.setBackgroundColor(dark ? kDarkPage : kLightPage); });
        window->contentView()->addSubview(page);
        for (int style = 0; style < 8; ++style) {
            auto button = KZCustomViewButton::buttonWithStyle(static_cast<std::uint64_t>(style));
            button->setFrame(frameOf(style));
            button->setButtonTitle("Style " + std::to_string(style));
            page->addSubview(button);
            buttons[static_cast<std::size_t>(style)] = button;
        }
    }

    kit::Image renderTo(const char* name) {
        const auto path = outputDirectory() / name;
        EXPECT_TRUE(ui.writePng(*window, path).ok());
        EXPECT_TRUE(std::filesystem::exists(path));
        auto reread = kit::Image::fromFile(path);
        EXPECT_TRUE(reread.ok()) << reread.error();
        return reread ? reread.value() : kit::Image{};
    }

    // A point of a button, from its bottom-left corner.
    static kit::Point at(int style, double dx, double dy) {
        const kit::Rect f = frameOf(style);
        return {f.minX() + dx, f.minY() + dy};
    }

    static kit::Color over(kit::Color top, kit::Color bottom) {
        auto mix = [&](double t, double b) { return t * top.alpha + b * (1 - top.alpha); };
        return {mix(top.red, bottom.red), mix(top.green, bottom.green), mix(top.blue, bottom.blue), 1};
    }

    static double distance(kit::Color a, kit::Color b) {
        return std::fabs(a.red - b.red) + std::fabs(a.green - b.green) + std::fabs(a.blue - b.blue);
    }

    void checkPage(const kit::Image& image, kit::Color pageColor) {
        // Between the buttons.
        EXPECT_TRUE(near(kit::colorAtPoint(image, {10, 10}), pageColor));
        EXPECT_TRUE(near(kit::colorAtPoint(image, {140, 120}), pageColor));
        // Style 0, 3, 4, 6 have a clear face at rest.
        for (int style : {0, 3, 4, 6}) {
            SCOPED_TRACE(style);
            EXPECT_TRUE(near(kit::colorAtPoint(image, at(style, 6.5, 4.5)), pageColor));
        }
    }

    void checkPrimary(const kit::Image& image, kit::Color pageColor) {
        const kit::Color fill = colorWithHex(0x58CE9B);
        EXPECT_TRUE(near(kit::colorAtPoint(image, at(1, 6.5, 4.5)), fill));
        // On the straight bottom edge the fill reaches the edge ...
        EXPECT_TRUE(near(kit::colorAtPoint(image, at(1, 50.5, 0.5)), fill));
        // ... at the rounded corner (radius 2) the corner pixel is mostly the page.
        const kit::Color corner = kit::colorAtPoint(image, at(1, 0.5, 0.5));
        EXPECT_LT(distance(corner, pageColor), distance(corner, fill));
        EXPECT_GT(distance(corner, pageColor), 0.01) << "antialiased, not square";
        // Just outside the button.
        EXPECT_TRUE(near(kit::colorAtPoint(image, at(1, -0.5, 10.5)), pageColor));
    }

    void checkSecondaryBorder(const kit::Image& image, kit::Color pageColor, kit::Color border) {
        const kit::Color expected = over(border, pageColor);
        EXPECT_TRUE(near(kit::colorAtPoint(image, at(2, 50.5, 0.5)), expected, 3.0 / 255));
        EXPECT_TRUE(near(kit::colorAtPoint(image, at(2, 0.5, 16.5)), expected, 3.0 / 255));
        EXPECT_TRUE(near(kit::colorAtPoint(image, at(2, 6.5, 4.5)), pageColor)) << "inside the border";
        const kit::Color corner = kit::colorAtPoint(image, at(2, 0.5, 0.5));
        EXPECT_LT(distance(corner, pageColor), distance(corner, expected) + 1e-9);
    }

    std::shared_ptr<kit::Window> window;
    std::shared_ptr<KZView> page;
    std::array<std::shared_ptr<KZCustomViewButton>, 8> buttons;
};

TEST_F(ButtonRenderingTest, EveryStyleInLightAndDarkAppearance) {
    build();
    const kit::Image light = renderTo("buttons-light.png");
    ASSERT_FALSE(light.isNull());
    EXPECT_EQ(light.pixelWidth(), 280);
    checkPage(light, kLightPage);
    checkPrimary(light, kLightPage);
    checkSecondaryBorder(light, kLightPage, colorWithHex(0x9A9A9A, 0.2));
    // IconWhite's border is clear at rest.
    EXPECT_TRUE(near(kit::colorAtPoint(light, at(7, 50.5, 0.5)), kLightPage));

    setDark(true);
    const kit::Image dark = renderTo("buttons-dark.png");
    ASSERT_FALSE(dark.isNull());
    checkPage(dark, kDarkPage);
    checkPrimary(dark, kDarkPage);
    checkSecondaryBorder(dark, kDarkPage, colorWithHex(0xFFFFFF, 0.9));
}

TEST_F(ButtonRenderingTest, HoveredAndPressedFacesAreDrawnAtOnce) {
    build();
    ui.moveMouse(window->convertPointToScreen(at(7, 6.5, 4.5)));
    kit::Image hovered = renderTo("buttons-hovered.png");
    // IconWhite hovered in light appearance: a white face.
    EXPECT_TRUE(near(kit::colorAtPoint(hovered, at(7, 6.5, 4.5)), kit::Color::white()));
    ui.mouseDown(*window, at(7, 6.5, 4.5));
    kit::Image pressed = renderTo("buttons-pressed.png");
    EXPECT_TRUE(near(kit::colorAtPoint(pressed, at(7, 6.5, 4.5)), colorWithHex(0xFAF9F7)));
    ui.mouseUp(*window, at(7, 6.5, 4.5));

    setDark(true);
    ui.moveMouse(window->convertPointToScreen(at(1, 6.5, 4.5)));
    kit::Image primary = renderTo("buttons-dark-hovered.png");
    EXPECT_TRUE(near(kit::colorAtPoint(primary, at(1, 6.5, 4.5)), colorWithHex(0x5FDEA6)));
    EXPECT_TRUE(near(kit::colorAtPoint(primary, at(7, 6.5, 4.5)), kDarkPage)) << "no longer hovered";
}

}  // namespace
