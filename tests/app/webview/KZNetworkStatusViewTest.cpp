#include <gtest/gtest.h>

#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZNetworkStatusView.h"
#include "kit/headless/OffscreenRenderer.h"
#include "kit/ui/Create.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/StackView.h"
#include "kit/ui/Window.h"
#include "tests/app/webview/WebViewTestSupport.h"

namespace {

using webtest::near;

// Records the mouse-downs that reach it.
class ClickRecorder : public kit::View {
public:
    using kit::View::View;
    void mouseDown(const kit::Event&) override { ++clicks; }
    int clicks = 0;
};

class KZNetworkStatusViewTest : public webtest::WebViewTest {
protected:
    // A window of 500 x 400 whose content holds a click recorder and, above it, the status view
    // filling the content.
    std::shared_ptr<KZNetworkStatusView> showInWindow(std::uint64_t style) {
        window = kit::create<kit::Window>(kit::Rect{100, 100, 500, 400}, kit::WindowStyleBorderless);
        behind = kit::create<ClickRecorder>(kit::Rect{0, 0, 500, 400});
        window->contentView()->addSubview(behind);
        auto view = KZNetworkStatusView::initWithStyle(style);
        view->setFrame({0, 0, 500, 400});
        window->contentView()->addSubview(view);
        view->setImageName("tips_no_net_placeholder");
        view->setDescText("当前网络不佳，请稍后再试(-1009)");
        view->setButtonTitle("刷新");
        window->makeKeyAndOrderFront();
        window->contentView()->layoutSubtreeIfNeeded();
        return view;
    }

    kit::Rect inWindow(const std::shared_ptr<kit::View>& view) { return view->convertRectToView(view->bounds(), nullptr); }

    std::shared_ptr<kit::Window> window;
    std::shared_ptr<ClickRecorder> behind;
};

TEST_F(KZNetworkStatusViewTest, StyleZeroArrangesPictureAndTextOnly) {
    auto view = showInWindow(KZNetworkStatusViewStyleImageText);
    EXPECT_EQ(view->style(), 0u);
    EXPECT_FALSE(view->hasButton());
    EXPECT_EQ(view->button(), nullptr);
    ASSERT_EQ(view->stackView()->arrangedSubviews().size(), 2u);
    EXPECT_EQ(view->stackView()->arrangedSubviews()[0], view->imageView());
    EXPECT_EQ(view->stackView()->arrangedSubviews()[1], view->descTF());

    const kit::Rect picture = inWindow(view->imageView());
    const kit::Rect text = inWindow(view->descTF());
    EXPECT_EQ(picture.size, (kit::Size{188, 140}));
    // Picture above the text with 10 points between them; the stack centred in the view.
    EXPECT_DOUBLE_EQ(picture.minY() - text.maxY(), 10);
    EXPECT_NEAR((picture.maxY() + text.minY()) / 2, 200, 0.5);
    EXPECT_NEAR(picture.midX(), 250, 0.5);

    // A button title has nowhere to go.
    view->setButtonTitle("刷新");
    EXPECT_EQ(view->button(), nullptr);
    EXPECT_EQ(view->buttonTitle(), "刷新");
}

TEST_F(KZNetworkStatusViewTest, StyleOneAddsTheButtonBelowTheText) {
    auto view = showInWindow(KZNetworkStatusViewStyleImageTextButton);
    ASSERT_TRUE(view->hasButton());
    ASSERT_EQ(view->stackView()->arrangedSubviews().size(), 3u);
    EXPECT_EQ(view->button()->buttonStyle(), KZCustomViewButtonStylePrimary);
    EXPECT_EQ(view->button()->title(), "刷新");

    const kit::Rect picture = inWindow(view->imageView());
    const kit::Rect text = inWindow(view->descTF());
    const kit::Rect button = inWindow(view->button());
    EXPECT_EQ(picture.size, (kit::Size{250, 188}));
    EXPECT_EQ(button.size, (kit::Size{92, 36}));
    EXPECT_DOUBLE_EQ(picture.minY() - text.maxY(), 10);
    EXPECT_DOUBLE_EQ(text.minY() - button.maxY(), 51);
    EXPECT_NEAR((picture.maxY() + button.minY()) / 2, 200, 0.5);
    EXPECT_NEAR(button.midX(), 250, 0.5);
}

TEST_F(KZNetworkStatusViewTest, TextLineIsAStaticCentredLabel) {
    auto view = showInWindow(KZNetworkStatusViewStyleImageTextButton);
    auto& label = *view->descTF();
    EXPECT_FALSE(label.isEditable());
    EXPECT_FALSE(label.isBordered());
    EXPECT_TRUE(label.refusesFirstResponder());
    EXPECT_TRUE(label.usesSingleLineMode());
    EXPECT_FALSE(label.drawsBackground());
    EXPECT_EQ(label.font(), kit::Font::systemFont(12));
    EXPECT_EQ(label.alignment(), kit::TextAlignment::Center);
    EXPECT_EQ(label.textColor().hex(), 0x4D4D4Du);
    EXPECT_EQ(label.stringValue(), "当前网络不佳，请稍后再试(-1009)");
    EXPECT_EQ(view->imageView()->imageScaling(), kit::ImageScaling::ProportionallyUpOrDown);
}

TEST_F(KZNetworkStatusViewTest, MissingTextAndUnknownPictureShowNothing) {
    auto view = showInWindow(KZNetworkStatusViewStyleImageText);
    ASSERT_FALSE(view->imageView()->image().isNull());
    view->setImageName("no_such_picture");
    EXPECT_TRUE(view->imageView()->image().isNull());
    view->setImageName("");
    EXPECT_TRUE(view->imageView()->image().isNull());
    view->setDescText("");
    EXPECT_EQ(view->descTF()->stringValue(), "");
}

TEST_F(KZNetworkStatusViewTest, ButtonRunsTheClickEventAndEmptyAreaSwallowsClicks) {
    auto view = showInWindow(KZNetworkStatusViewStyleImageTextButton);
    // Without a click event the button does nothing (and nothing reaches the page).
    ui.clickView(*view->button());
    env.runUntilIdle();
    EXPECT_EQ(behind->clicks, 0);

    int clicks = 0;
    KZNetworkStatusView* clicked = nullptr;
    view->setClickEvent([&](KZNetworkStatusView& sender) {
        ++clicks;
        clicked = &sender;
    });
    ui.clickView(*view->button());
    env.runUntilIdle();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(clicked, view.get());

    // Empty area, the picture and the text: none of it reaches the view behind.
    ui.click(*window, {10, 10});
    ui.clickView(*view->imageView());
    ui.clickView(*view->descTF());
    env.runUntilIdle();
    EXPECT_EQ(behind->clicks, 0);
    EXPECT_EQ(clicks, 1);

    // The recorder does get clicks once the status view is gone.
    view->removeFromSuperview();
    ui.click(*window, {10, 10});
    EXPECT_EQ(behind->clicks, 1);
}

TEST_F(KZNetworkStatusViewTest, BothStylesRenderPictureTextAndButton) {
    for (std::uint64_t style : {0u, 1u}) {
        SCOPED_TRACE(style);
        auto view = showInWindow(style);
        const kit::Image image = ui.render(*window);
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(ui.writePng(*window, outputDirectory() / ("network_status_style" + std::to_string(style) + ".png")).ok());

        // White background away from the parts.
        EXPECT_TRUE(near(kit::colorAtPoint(image, {5, 5}), kit::Color::white()));
        EXPECT_TRUE(near(kit::colorAtPoint(image, {495, 395}), kit::Color::white()));
        // The picture's pale disc: just inside its left edge at mid height the artwork is light
        // grey-blue, not white.
        const kit::Rect picture = inWindow(view->imageView());
        const kit::Color disc = kit::colorAtPoint(image, {picture.midX() - picture.width() * 0.27, picture.midY() - picture.height() * 0.1});
        EXPECT_TRUE(near(disc, kit::Color::fromHex(0xEEF1F6), 6.0 / 255));
        // Some pixel of the text line is dark.
        const kit::Rect text = inWindow(view->descTF());
        double darkest = 1;
        for (double x = text.minX(); x < text.maxX(); x += 1)
            for (double y = text.minY(); y < text.maxY(); y += 1) darkest = std::min(darkest, kit::colorAtPoint(image, {x, y}).red);
        EXPECT_LT(darkest, 0.6);

        if (style == 1) {
            // The primary button's green fill, beside its title.
            const kit::Rect button = inWindow(view->button());
            EXPECT_TRUE(near(kit::colorAtPoint(image, {button.minX() + 4, button.midY()}), kit::Color::fromHex(0x58CE9B)));
        }
        view->removeFromSuperview();
        window->close();
    }
}

TEST_F(KZNetworkStatusViewTest, UnknownStyleStaysWhiteAndEmpty) {
    auto view = showInWindow(7);
    EXPECT_TRUE(view->stackView()->arrangedSubviews().empty());
    EXPECT_FALSE(view->hasButton());
    const kit::Image image = ui.render(*window);
    for (kit::Point p : {kit::Point{250, 200}, kit::Point{250, 250}, kit::Point{100, 150}})
        EXPECT_TRUE(near(kit::colorAtPoint(image, p), kit::Color::white()));
}

}  // namespace
