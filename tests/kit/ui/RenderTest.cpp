#include <gtest/gtest.h>

#include "kit/headless/OffscreenRenderer.h"
#include "kit/ui/Control.h"
#include "kit/ui/GraphicsContext.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "tests/kit/ui/UiTestSupport.h"

namespace kit::testing {
namespace {

class RenderTest : public UiTest {
protected:
    // A window as the application's base windows look: clear, with a white rounded content area.
    std::shared_ptr<Window> window = makeWindow({100, 100, 200, 120}, WindowStyleTitled | WindowStyleClosable |
                                                                          WindowStyleFullSizeContentView);
    void SetUp() override {
        window->setOpaque(false);
        window->setTitlebarAppearsTransparent(true);
        window->setTitleVisibility(TitleVisibility::Hidden);
        window->setBackgroundColor(Color::clear());
        window->contentView()->updateLayer([](LayerStyle& layer) {
            layer.backgroundColor = Color::white();
            layer.cornerRadius = 8;
            layer.masksToBounds = true;
        });
        for (auto b : {WindowButton::Close, WindowButton::Miniaturize, WindowButton::Zoom}) {
            window->standardWindowButton(b)->setHidden(true);
        }
    }
};

bool near(Color a, Color b, double tolerance = 0.02) {
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
           std::abs(a.blue - b.blue) <= tolerance && std::abs(a.alpha - b.alpha) <= tolerance;
}

TEST_F(RenderTest, BackgroundBorderAndRoundedCorners) {
    auto box = create<View>(Rect{20, 20, 60, 40});
    box->updateLayer([](LayerStyle& layer) {
        layer.backgroundColor = Color::fromHex(0xFF0000);
        layer.borderWidth = 4;
        layer.borderColor = Color::fromHex(0x0000FF);
    });
    window->contentView()->addSubview(box);
    const Image image = ui.render(*window);
    ASSERT_EQ(image.size(), (Size{200, 120}));
    EXPECT_TRUE(near(colorAtPoint(image, {0.5, 0.5}), Color::clear())) << "outside the rounded corner";
    EXPECT_TRUE(near(colorAtPoint(image, {199.5, 119.5}), Color::clear()));
    EXPECT_TRUE(near(colorAtPoint(image, {8, 8}), Color::white())) << "inside the corner's arc";
    EXPECT_TRUE(near(colorAtPoint(image, {150, 100}), Color::white()));
    EXPECT_TRUE(near(colorAtPoint(image, {50, 40}), Color::fromHex(0xFF0000)));
    EXPECT_TRUE(near(colorAtPoint(image, {21, 40}), Color::fromHex(0x0000FF))) << "border on the left edge";
    EXPECT_TRUE(near(colorAtPoint(image, {50, 58.5}), Color::fromHex(0x0000FF))) << "border on the top edge";
    EXPECT_TRUE(near(colorAtPoint(image, {19, 40}), Color::white()));
}

TEST_F(RenderTest, ViewsDrawInTheirOwnCoordinatesAndAlphaAndClippingApply) {
    struct Corner : View {
        using View::View;
        void draw(GraphicsContext& context, const Rect&) override {
            context.setFillColor(Color::fromHex(0x00FF00));
            context.fillRect({0, 0, 10, 10});  // bottom left, y up
        }
    };
    struct FlippedCorner : Corner {
        using Corner::Corner;
        bool isFlipped() const override { return true; }
    };
    auto plain = create<Corner>(Rect{100, 10, 40, 40});
    auto flipped = create<FlippedCorner>(Rect{150, 10, 40, 40});
    auto faded = create<View>(Rect{100, 60, 40, 40});
    faded->setBackgroundColor(Color::black());
    faded->setAlphaValue(0.5);
    auto clipper = create<View>(Rect{20, 70, 20, 20});
    clipper->setMasksToBounds(true);
    auto overflowing = create<View>(Rect{10, 10, 30, 30});
    overflowing->setBackgroundColor(Color::fromHex(0x0000FF));
    clipper->addSubview(overflowing);
    for (auto& v : {std::shared_ptr<View>(plain), std::shared_ptr<View>(flipped), faded, clipper}) window->contentView()->addSubview(v);
    const Image image = ui.render(*window);
    EXPECT_TRUE(near(colorAtPoint(image, {105, 15}), Color::fromHex(0x00FF00)));
    EXPECT_TRUE(near(colorAtPoint(image, {105, 45}), Color::white()));
    EXPECT_TRUE(near(colorAtPoint(image, {155, 45}), Color::fromHex(0x00FF00))) << "a flipped view's origin is its top left";
    EXPECT_TRUE(near(colorAtPoint(image, {120, 80}), {0.5, 0.5, 0.5, 1}, 0.03));
    EXPECT_TRUE(near(colorAtPoint(image, {35, 85}), Color::fromHex(0x0000FF)));
    EXPECT_TRUE(near(colorAtPoint(image, {45, 95}), Color::white())) << "clipped by the masking superview";
}

TEST_F(RenderTest, TextImagesAndWindowAlphaAreDrawn) {
    auto label = Label::withString("Hi");
    label->setFont(Font::systemFont(30, FontWeight::Bold));
    label->sizeToFit();
    label->setFrameOrigin({10, 10});
    window->contentView()->addSubview(label);
    auto picture = ImageView::withImage(Image::filled(10, 10, Color::fromHex(0xFF8800)));
    picture->setFrameOrigin({150, 80});
    window->contentView()->addSubview(picture);
    const Image image = ui.render(*window);
    int dark = 0;
    const Rect f = label->frame();
    for (double x = f.minX(); x < f.maxX(); x += 1) {
        for (double y = f.minY(); y < f.maxY(); y += 1) {
            if (colorAtPoint(image, {x + 0.5, y + 0.5}).red < 0.3) ++dark;
        }
    }
    EXPECT_GT(dark, 30) << "the glyphs are drawn";
    EXPECT_TRUE(near(colorAtPoint(image, {155, 85}), Color::fromHex(0xFF8800)));

    window->setAlphaValue(0.5);
    EXPECT_NEAR(colorAtPoint(ui.render(*window), {155, 85}).alpha, 0.5, 0.02);
}

TEST_F(RenderTest, AShadowFallsFromWhatTheLayerShows) {
    struct Flipped : View {
        using View::View;
        bool isFlipped() const override { return true; }
    };
    struct Case {
        const char* what;
        bool flipped, ownBackground;
        double scale;
    };
    for (const Case& c :
         {Case{"a clear layer showing a rounded white view", false, false, 1},
          Case{"the same, flipped", true, false, 1}, Case{"the same at twice the scale", false, false, 2},
          Case{"a white layer of its own", false, true, 1}}) {
        SCOPED_TRACE(c.what);
        auto box = c.flipped ? std::static_pointer_cast<View>(create<Flipped>(Rect{60, 40, 80, 40}))
                             : create<View>(Rect{60, 40, 80, 40});
        box->updateLayer([&](LayerStyle& layer) {
            layer.backgroundColor = c.ownBackground ? Color::white() : Color::clear();
            layer.cornerRadius = c.ownBackground ? 5 : 0;
            layer.shadow.opacity = 0.4;
            layer.shadow.offset = {-4, -4};
            layer.shadow.radius = 5;
        });
        if (!c.ownBackground) {
            auto face = create<View>(box->bounds());
            face->setBackgroundColor(Color::white());
            face->setCornerRadius(5);
            face->setMasksToBounds(true);
            box->addSubview(face);
        }
        window->contentView()->addSubview(box);
        const Image image = ui.render(*window, c.scale);
        auto darkness = [&](double x, double y) { return 1 - colorAtPoint(image, {x, y}).red; };
        // Left of and under the box (y up), soft; nothing right of it, above it or far away.
        EXPECT_GT(darkness(59.5, 60), 0.08);
        EXPECT_GT(darkness(100, 39.5), 0.08);
        EXPECT_GT(darkness(59.5, 60), darkness(55.5, 60));
        EXPECT_GT(darkness(55.5, 60), 0.005);
        EXPECT_LT(darkness(100, 60), 0.01) << "the box itself";
        for (const Point p : {Point{144, 60}, Point{100, 84}, Point{45, 60}, Point{100, 25}})
            EXPECT_LT(darkness(p.x, p.y), 0.01) << p.x << "," << p.y;
        box->removeFromSuperview();
    }
}

TEST_F(RenderTest, WritesAPngThatReadsBack) {
    const auto path = env.root() / "window.png";
    ASSERT_TRUE(ui.writePng(*window, path));
    auto back = Image::fromFile(path);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->size(), (Size{200, 120}));
    EXPECT_TRUE(near(colorAtPoint(*back, {100, 60}), Color::white()));
    window->setFrame({0, 0, 0, 120});
    EXPECT_FALSE(ui.writePng(*window, env.root() / "empty.png")) << "nothing to draw in a zero-width window";
    EXPECT_FALSE(std::filesystem::exists(env.root() / "empty.png"));
}

}  // namespace
}  // namespace kit::testing
