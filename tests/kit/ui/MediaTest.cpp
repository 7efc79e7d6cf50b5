#include <gtest/gtest.h>

#include <fstream>

#include "kit/base/GRef.h"
#include "kit/base/Paths.h"
#include "kit/ui/Image.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Panels.h"
#include "kit/ui/PangoText.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/Text.h"
#include "tests/kit/ui/UiTestSupport.h"

namespace kit::testing {
namespace {

class MediaTest : public UiTest {};

void expectColor(Color actual, Color expected, double tolerance = 0.02) {
    EXPECT_NEAR(actual.red, expected.red, tolerance);
    EXPECT_NEAR(actual.green, expected.green, tolerance);
    EXPECT_NEAR(actual.blue, expected.blue, tolerance);
    EXPECT_NEAR(actual.alpha, expected.alpha, tolerance);
}

TEST_F(MediaTest, DecodesEveryFormatTheApplicationTakes) {
    const Color teal = Color::fromHex(0x008080);
    const Image source = Image::filled(6, 4, teal);
    for (auto format : {ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::Bmp, ImageFormat::Ico, ImageFormat::WebP}) {
        SCOPED_TRACE(static_cast<int>(format));
        auto bytes = source.encode(format);
        ASSERT_TRUE(bytes) << bytes.error();
        auto decoded = Image::fromData(*bytes);
        ASSERT_TRUE(decoded) << decoded.error();
        EXPECT_EQ(decoded->pixelWidth(), 6);
        EXPECT_EQ(decoded->pixelHeight(), 4);
        expectColor(decoded->pixelAt(2, 2), teal, 0.05);
    }
    auto gif = Image::fromFile(paths::resourcesDirectory() / "images/test/tiny.gif");
    ASSERT_TRUE(gif) << gif.error();
    EXPECT_EQ(gif->size(), (Size{3, 2}));
    expectColor(gif->pixelAt(1, 1), Color::fromHex(0xFF0000));
}

TEST_F(MediaTest, RejectsDataThatIsNoImage) {
    EXPECT_FALSE(Image::fromData(std::string_view{}));
    EXPECT_FALSE(Image::fromData(std::string_view{"not an image at all"}));
    auto png = Image::filled(8, 8, Color::white()).encode();
    ASSERT_TRUE(png);
    std::vector<std::uint8_t> truncated(png->begin(), png->begin() + static_cast<std::ptrdiff_t>(png->size() / 2));
    EXPECT_FALSE(Image::fromData(truncated));
    EXPECT_FALSE(Image::fromFile("/nonexistent/picture.png"));
}

TEST_F(MediaTest, NamedImagesComeFromTheResourcesWithTheirScale) {
    Image swatch = Image::named("test/swatch");
    ASSERT_TRUE(swatch);
    EXPECT_EQ(swatch.size(), (Size{4, 4}));
    EXPECT_EQ(swatch.name(), "test/swatch");
    expectColor(swatch.pixelAt(0, 0), Color::fromHex(0x00FF00));
    EXPECT_TRUE(swatch.sharesPixelsWith(Image::named("test/swatch"))) << "cached";
    Image retina = Image::named("test/retina");
    ASSERT_TRUE(retina);
    EXPECT_EQ(retina.pixelWidth(), 8);
    EXPECT_EQ(retina.size(), (Size{4, 4}));
    EXPECT_FALSE(Image::named("no such picture"));
    EXPECT_FALSE(Image::named(""));
}

TEST_F(MediaTest, NamedImagesTakeTheTwoTimesPictureOnAScreenThatHasTwoPixelsAPoint) {
    struct Case {
        double screenScale;
        int pixelWidth;
        std::uint32_t colour;
    };
    for (const Case c : {Case{1, 4, 0xFF0000}, Case{2, 8, 0x0000FF}, Case{1, 4, 0xFF0000}}) {
        SCOPED_TRACE(c.screenScale);
        auto screen = HeadlessUi::makeScreen("main", {0, 0, 1440, 900});
        screen.backingScaleFactor = c.screenScale;
        ui.setScreens({screen});
        const Image pair = Image::named("test/pair");
        ASSERT_TRUE(pair);
        EXPECT_EQ(pair.pixelWidth(), c.pixelWidth);
        EXPECT_EQ(pair.size(), (Size{4, 4}));
        expectColor(pair.pixelAt(0, 0), Color::fromHex(c.colour));
    }
}

TEST_F(MediaTest, TintKeepsEachPixelsOpacity) {
    const Image transparent = Image::blank(3, 3);
    const Image tintedClear = transparent.tinted(Color::fromHex(0xFF0000));
    EXPECT_EQ(tintedClear.size(), transparent.size());
    expectColor(tintedClear.pixelAt(1, 1), Color::clear());

    const Image icon = Image::filled(3, 3, Color::fromHex(0x0000FF));
    const Image red = icon.tinted(Color::fromHex(0xFF0000));
    expectColor(red.pixelAt(1, 1), Color::fromHex(0xFF0000));
    const Image half = icon.tinted(Color::fromHex(0xFF0000, 0.5));
    expectColor(half.pixelAt(1, 1), {0.5, 0, 0.5, 1});
    expectColor(icon.pixelAt(1, 1), Color::fromHex(0x0000FF));  // the receiver is unchanged

    const Image faint = Image::filled(2, 2, Color::fromHex(0x00FF00, 0.4));
    const Image tintedFaint = faint.tinted(Color::white());
    EXPECT_NEAR(tintedFaint.pixelAt(0, 0).alpha, 0.4, 0.01);
    expectColor(tintedFaint.pixelAt(0, 0), Color::white().withAlpha(0.4));
}

TEST_F(MediaTest, ResizeKeepsScaleAndColour) {
    const Image image = Image::filled(10, 10, Color::fromHex(0x336699));
    const Image smaller = image.resized({4, 2});
    EXPECT_EQ(smaller.size(), (Size{4, 2}));
    expectColor(smaller.pixelAt(1, 1), Color::fromHex(0x336699));
    EXPECT_FALSE(Image().resized({4, 4}));
}

TEST_F(MediaTest, TextMeasurementWrapsLimitsAndTruncates) {
    const Font font = Font::systemFont(12);
    const std::string text = "The quick brown fox jumps over the lazy dog again and again";
    const auto oneLine = measureText(text, font);
    EXPECT_EQ(oneLine.lineCount, 1);
    EXPECT_GT(oneLine.size.width, 200);
    EXPECT_FALSE(oneLine.truncated);

    TextLayoutOptions wrap;
    wrap.width = 120;
    const auto wrapped = measureText(text, font, wrap);
    EXPECT_GT(wrapped.lineCount, 2);
    EXPECT_LE(wrapped.size.width, 120);
    EXPECT_NEAR(wrapped.size.height, oneLine.size.height * wrapped.lineCount, wrapped.lineCount);

    wrap.maximumNumberOfLines = 2;
    const auto limited = measureText(text, font, wrap);
    EXPECT_EQ(limited.lineCount, 2);
    EXPECT_TRUE(limited.truncated);

    TextLayoutOptions tail;
    tail.width = 80;
    tail.lineBreakMode = LineBreakMode::TruncatingTail;
    const auto truncated = measureText(text, font, tail);
    EXPECT_EQ(truncated.lineCount, 1);
    EXPECT_TRUE(truncated.truncated);
    EXPECT_LE(truncated.size.width, 80);

    TextLayoutOptions clip = tail;
    clip.lineBreakMode = LineBreakMode::Clipping;
    const auto clipped = measureText(text, font, clip);
    EXPECT_EQ(clipped.size.width, 80);
    EXPECT_TRUE(clipped.truncated);
    EXPECT_FALSE(measureText("short", font, clip).truncated);

    EXPECT_GT(measureText(text, Font::systemFont(24)).size.height, oneLine.size.height);
    EXPECT_EQ(measureText("", font).size.width, 0);
}

TEST_F(MediaTest, OutsideTextIsIsolatedFromTheSentenceAroundIt) {
    const std::string fsi = "\u2068", pdi = "\u2069", rlo = "\u202E", rli = "\u2067";
    struct Case {
        const char* what;
        std::string in, out;
    };
    for (const Case& c :
         {Case{"plain", "cat", fsi + "cat" + pdi},
          Case{"an override stays inside", "a" + rlo + "gnp.exe", fsi + "a" + rlo + "gnp.exe" + pdi},
          Case{"a stray closer cannot end the isolate", "x" + pdi + rlo + "y", fsi + "x" + rlo + "y" + pdi},
          Case{"an isolate left open is closed", rli + "abc", fsi + rli + "abc" + pdi + pdi},
          Case{"breaks and controls become spaces", "1\n2\r\t3\u2029\u0085\x7F", fsi + "1 2  3   " + pdi},
          Case{"bytes that are not UTF-8",
               "a\xFF"
               "b",
               fsi + "a\uFFFDb" + pdi},
          Case{"empty", "", fsi + pdi}}) {
        EXPECT_EQ(isolatedText(c.in), c.out) << c.what;
    }

    // Laid out, the sentence around a name holding an override and a line break reads left to
    // right; without the isolate, the override turns it around.
    const std::string name = "b" + rlo + "cd\n" + pdi + "e";
    const std::string head = "是否关闭 ", tail = " 文件？关闭后将无法继续操作。";
    auto readsInOrder = [&](const std::string& middle) {
        const std::string sentence = head + middle + tail;
        auto layout = GRef<PangoLayout>::adopt(pangotext::createMeasuringLayout());
        TextLayoutOptions single;
        single.lineBreakMode = LineBreakMode::Clipping;
        single.maximumNumberOfLines = 1;
        pangotext::configure(layout.get(), sentence, Font::systemFont(12), single);
        std::vector<int> indices;
        for (std::size_t i = 0; i < head.size();
             i = static_cast<std::size_t>(g_utf8_next_char(head.data() + i) - head.data()))
            indices.push_back(static_cast<int>(i));
        const std::size_t tailStart = head.size() + middle.size();
        for (std::size_t i = 0; i < tail.size();
             i = static_cast<std::size_t>(g_utf8_next_char(tail.data() + i) - tail.data()))
            indices.push_back(static_cast<int>(tailStart + i));
        int previous = -1;
        for (int index : indices) {
            PangoRectangle position;
            pango_layout_index_to_pos(layout.get(), index, &position);
            if (position.width < 0 || position.x <= previous) return false;
            previous = position.x;
        }
        return true;
    };
    EXPECT_TRUE(readsInOrder(isolatedText(name)));
    EXPECT_FALSE(readsInOrder("b" + rlo + "cd"));
}

TEST_F(MediaTest, LabelsSizeThemselvesToTheirText) {
    auto label = Label::withString("Hello");
    const Size natural = label->frame().size;
    EXPECT_GT(natural.width, 2 * Label::kHorizontalPadding);
    EXPECT_EQ(label->intrinsicContentSize(), natural);
    EXPECT_FALSE(label->isTruncated());
    label->setStringValue("Hello, a much longer greeting");
    EXPECT_GT(label->intrinsicContentSize().width, natural.width);
    EXPECT_TRUE(label->isTruncated()) << "the frame did not grow";
    EXPECT_EQ(label->accessibilityLabel(), "Hello, a much longer greeting");

    auto wrapping = Label::wrappingWithString("one two three four five six seven eight nine ten");
    wrapping->setPreferredMaxLayoutWidth(60);
    const Size tall = wrapping->intrinsicContentSize();
    EXPECT_LE(tall.width, 60);
    EXPECT_GT(tall.height, natural.height * 2);
}

TEST_F(MediaTest, ImageViewScalesByItsMode) {
    auto view = ImageView::withImage(Image::filled(40, 20, Color::black()));
    view->setFrame({0, 0, 100, 100});
    view->setImageScaling(ImageScaling::ProportionallyDown);
    EXPECT_EQ(view->imageRect(), (Rect{30, 40, 40, 20}));
    view->setImageScaling(ImageScaling::ProportionallyUpOrDown);
    EXPECT_EQ(view->imageRect(), (Rect{0, 25, 100, 50}));
    view->setImageScaling(ImageScaling::AxesIndependently);
    EXPECT_EQ(view->imageRect(), (Rect{0, 0, 100, 100}));
    view->setFrame({0, 0, 20, 20});
    view->setImageScaling(ImageScaling::ProportionallyDown);
    EXPECT_EQ(view->imageRect(), (Rect{0, 5, 20, 10}));
    view->setImage({});
    EXPECT_TRUE(view->imageRect().isEmpty());
}

TEST_F(MediaTest, PasteboardHoldsStringsAndImages) {
    auto& pasteboard = Pasteboard::general();
    const long before = pasteboard.changeCount();
    EXPECT_GT(pasteboard.clearContents(), before);
    EXPECT_TRUE(pasteboard.setString("hello"));
    EXPECT_EQ(pasteboard.stringForType().value_or(""), "hello");
    EXPECT_TRUE(pasteboard.writeImage(Image::filled(3, 3, Color::fromHex(0xFF0000))));
    Image back = pasteboard.readImage();
    ASSERT_TRUE(back);
    expectColor(back.pixelAt(1, 1), Color::fromHex(0xFF0000));
    EXPECT_EQ(pasteboard.types(), (std::vector<std::string>{kPasteboardTypeString, kPasteboardTypePNG}));
    pasteboard.clearContents();
    EXPECT_FALSE(pasteboard.stringForType());
    EXPECT_FALSE(pasteboard.readImage());
    EXPECT_GE(ui.backend().pasteboardChanges, 4u);
}

TEST_F(MediaTest, PanelsAnswerWhatTheTestScripted) {
    auto open = OpenPanel::make();
    open->allowsMultipleSelection = false;
    EXPECT_EQ(open->runModal(), ModalResponses::Cancel) << "nothing scripted";
    ui.scriptOpenPanel(ModalResponses::OK, {"/tmp/a.pdf", "/tmp/b.pdf"});
    EXPECT_EQ(open->runModal(), ModalResponses::OK);
    EXPECT_EQ(open->urls(), (std::vector<std::filesystem::path>{"/tmp/a.pdf"})) << "one file when multiple is off";

    auto save = SavePanel::make();
    ui.scriptSavePanel(ModalResponses::OK, "/tmp/out.png");
    std::vector<ModalResponse> responses;
    save->begin([&](ModalResponse r) { responses.push_back(r); });
    EXPECT_TRUE(responses.empty()) << "answers on a later turn";
    EXPECT_TRUE(save->isRunning());
    env.runUntilIdle();
    EXPECT_EQ(responses, (std::vector<ModalResponse>{ModalResponses::OK}));
    EXPECT_EQ(save->url(), "/tmp/out.png");
    ui.scriptSavePanel(ModalResponses::OK);
    EXPECT_EQ(save->runModal(), ModalResponses::Cancel) << "OK without a file is no choice";
    EXPECT_EQ(ui.backend().openPanelsRun, 2u);
}

TEST_F(MediaTest, ATerminationRequestEndsOpenAndWaitingPanelsThenProceedsOnTheMainLoop) {
    // Panels stay up as a person deciding; a quit request comes while one is up and two wait,
    // and once more while a modal window runs.
    ui.backend().panelsStayUpFor = 60;
    std::vector<std::string> log;
    auto& app = Application::shared();
    const auto record = [&](const std::string& name) {
        return
            [&log, name](ModalResponse r) { log.push_back(name + (r == ModalResponses::OK ? " OK" : " cancelled")); };
    };
    auto window = makeWindow({0, 0, 300, 200});
    RunLoop::main().postAfter(1, [&] {
        log.push_back("quit asked, " + std::to_string(app.modalDialogCount()) + " dialog up");
        app.requestTermination(
            [&] { log.push_back("proceed, " + std::to_string(app.modalDialogCount()) + " dialogs up"); });
        app.requestTermination([&] { log.push_back("a second request"); });
    });
    // The open panel shows at once and stays up; the two begun meanwhile wait for it.
    auto open = OpenPanel::make();
    auto save = SavePanel::make();
    auto third = SavePanel::make();
    RunLoop::main().post([&] {
        save->begin(record("save"));
        third->begin(record("third"));
        log.push_back(std::to_string(SavePanel::waitingPanelCount()) + " waiting");
    });
    ui.scriptOpenPanel(ModalResponses::OK, {"/tmp/never.txt"});
    open->beginSheetModal(window, record("open"));
    env.runUntilIdle();
    env.advance(1);
    EXPECT_EQ(log, (std::vector<std::string>{"2 waiting", "quit asked, 1 dialog up", "save cancelled",
                                             "third cancelled", "open cancelled", "proceed, 0 dialogs up"}));
    EXPECT_TRUE(open->urls().empty());
    EXPECT_EQ(ui.backend().openPanelsRun + ui.backend().savePanelsRun, 1u);
    EXPECT_FALSE(app.isTerminationRequestPending());

    // Terminating inside a modal window's loop: the window ends with Abort, then the
    // application terminates on the main loop.
    bool terminated = false;
    app.setTerminationHandler([&] { terminated = true; });
    RunLoop::main().postAfter(1, [&] { app.terminate(); });
    EXPECT_EQ(app.runModal(window), ModalResponses::Abort);
    EXPECT_FALSE(terminated);
    env.runUntilIdle();
    EXPECT_TRUE(terminated);
    // Panels begun afterwards show as usual.
    ui.scriptSavePanel(ModalResponses::OK, "/tmp/later.png");
    save->begin(record("later"));
    env.advance(61);
    EXPECT_EQ(log.back(), "later OK");
}

}  // namespace
}  // namespace kit::testing
