// Every Chinese text of the product has glyphs in the fonts of this machine: the strings of the
// code (app/, frameworks/) and of the string tables are laid out with pango as the windows draw
// them, in the regular and the bold system font, and none may show as a box. Fails on a machine
// without a Chinese font (scripts/install-deps.sh installs one).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "kit/ui/PangoText.h"

namespace {

namespace fs = std::filesystem;

fs::path sourceDir() {
    const char* dir = std::getenv("QUARN_SOURCE_DIR");
    // tests/kit/desktop/ChineseGlyphTest.cpp lies three folders below the root.
    return dir ? fs::path(dir) : fs::absolute(__FILE__).parent_path().parent_path().parent_path().parent_path();
}

bool hasChinese(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0xE3 && c <= 0xE9) return true;  // lead bytes of U+3000 to U+9FFF
    return false;
}

// String literals with Chinese characters in the code, and the values of the string tables.
std::set<std::string> productChineseStrings() {
    static const std::regex literal(R"re("((?:[^"\\\n]|\\.)*)")re");
    std::set<std::string> found;
    auto scan = [&](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string content = text.str();
        for (std::sregex_iterator it(content.begin(), content.end(), literal), end; it != end; ++it) {
            const std::string value = (*it)[1].str();
            if (hasChinese(value)) found.insert(value);
        }
    };
    for (const char* area : {"app", "frameworks"}) {
        for (const auto& entry : fs::recursive_directory_iterator(sourceDir() / area)) {
            const auto ext = entry.path().extension();
            if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h")) scan(entry.path());
        }
    }
    if (fs::exists(sourceDir() / "resources" / "strings"))
        for (const auto& entry : fs::directory_iterator(sourceDir() / "resources" / "strings")) scan(entry.path());
    return found;
}

int unknownGlyphs(const std::string& text, const kit::Font& font) {
    PangoLayout* layout = kit::pangotext::createMeasuringLayout();
    kit::pangotext::configure(layout, text, font, kit::TextLayoutOptions{});
    const int unknown = pango_layout_get_unknown_glyphs_count(layout);
    g_object_unref(layout);
    return unknown;
}

// The family of the font pango picked for the first run of a text.
std::string familyOfFirstRun(const std::string& text) {
    PangoLayout* layout = kit::pangotext::createMeasuringLayout();
    kit::pangotext::configure(layout, text, kit::Font::systemFont(14), kit::TextLayoutOptions{});
    std::string family;
    if (PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0); line && line->runs) {
        auto* run = static_cast<PangoGlyphItem*>(line->runs->data);
        PangoFontDescription* description = pango_font_describe(run->item->analysis.font);
        family = pango_font_description_get_family(description);
        pango_font_description_free(description);
    }
    g_object_unref(layout);
    return family;
}

// Whatever the session's language (an English one would give the Japanese forms).
TEST(ChineseGlyphTest, ChineseTakesTheSimplifiedForms) {
    for (const char* text : {"欢迎使用", "（开始使用）", "，"}) EXPECT_EQ(familyOfFirstRun(text), "Noto Sans CJK SC") << text;
    EXPECT_NE(familyOfFirstRun("Quarn").find("Sans"), std::string::npos);
}

TEST(ChineseGlyphTest, EveryChineseTextOfTheProductHasGlyphs) {
    const auto strings = productChineseStrings();
    // The reader finds the product's texts (else it would pass by finding none).
    ASSERT_GT(strings.size(), 25u);
    EXPECT_TRUE(strings.count("欢迎使用Quarn AI助手"));
    // The check can fail: a character no font has.
    EXPECT_GT(unknownGlyphs("\xEE\x80\x80", kit::Font::systemFont(14)), 0) << "U+E000 should have no glyph";

    int checked = 0;
    for (const auto& text : strings) {
        for (const auto& font : {kit::Font::systemFont(14), kit::Font::boldSystemFont(24)}) {
            EXPECT_EQ(unknownGlyphs(text, font), 0) << "boxes in \"" << text << "\"";
            ++checked;
        }
    }
    std::printf("%d Chinese texts laid out in two fonts\n", checked / 2);
}

}  // namespace
