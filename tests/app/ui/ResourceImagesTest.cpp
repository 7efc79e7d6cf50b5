// The images the code asks for by name are in resources/images and decode; the drawn artwork
// (resources/images/src/NAME.svg) is rendered at 1x and 2x at the size its source declares.
// The code is read from the source tree, so a name added anywhere in app/, frameworks/ or kit/
// without its image fails here.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Image.h"

namespace {

namespace fs = std::filesystem;

fs::path sourceDir() {
    const char* dir = std::getenv("QUARN_SOURCE_DIR");
    // tests/app/ui/ResourceImagesTest.cpp lies three folders below the root.
    return dir ? fs::path(dir) : fs::absolute(__FILE__).parent_path().parent_path().parent_path().parent_path();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Image names in code: the argument of the calls and assignments that take an image name, and
// any string literal spelled like the product's image names (tables of names included).
std::map<std::string, std::string> imageNamesInCode() {
    static const std::regex call(
        R"re((?:Image::named|ImageName|setImageName|imageNamed)\s*\(\s*"([^"]+)")re");
    static const std::regex assignment(R"re((?:imageName|iconName|ImageName|IconName)\w*\s*=\s*"([^"]+)")re");
    static const std::regex spelled(R"re("((?:kz_|title_bar_|tips_|vx_)[A-Za-z0-9_]+)")re");
    std::map<std::string, std::string> names;  // name -> first file that names it
    for (const char* area : {"app", "frameworks", "kit"}) {
        for (const auto& entry : fs::recursive_directory_iterator(sourceDir() / area)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            const std::string text = readFile(entry.path());
            for (const auto* pattern : {&call, &assignment, &spelled}) {
                for (std::sregex_iterator it(text.begin(), text.end(), *pattern), end; it != end; ++it)
                    names.emplace((*it)[1].str(), fs::relative(entry.path(), sourceDir()).string());
            }
        }
    }
    return names;
}

// Width and height from a PNG's header; {0, 0} when it is not a PNG.
std::pair<std::uint32_t, std::uint32_t> pngSize(const fs::path& path) {
    const std::string bytes = readFile(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

TEST(ResourceImagesTest, EveryImageNamedInCodeIsThereAndDecodes) {
    kit::TestEnvironment env;
    const auto names = imageNamesInCode();
    // The reader finds names in each of its forms (else it would pass by finding nothing).
    for (const char* known : {"kz_ai_status_logo", "kz_login_window_top", "tips_no_net_placeholder", "kz_app_icon"})
        EXPECT_TRUE(names.count(known)) << known << " was not found in the code";
    const fs::path images = sourceDir() / "resources" / "images";
    for (const auto& [name, file] : names) {
        SCOPED_TRACE(name + " (named in " + file + ")");
        const bool present = fs::exists(images / (name + ".png")) || fs::exists(images / (name + "@2x.png"));
        EXPECT_TRUE(present) << "resources/images has no " << name << ".png or " << name << "@2x.png";
        if (!present) continue;
        kit::Image::clearNamedCache();
        const auto image = kit::Image::named(name);
        EXPECT_TRUE(image) << "does not decode";
        EXPECT_GT(image.size().width, 0);
    }
}

TEST(ResourceImagesTest, DrawnArtworkIsRenderedAtOneAndTwoTimes) {
    static const std::regex declared(R"re(<svg[^>]*\swidth="([0-9.]+)"[^>]*\sheight="([0-9.]+)")re");
    const fs::path images = sourceDir() / "resources" / "images";
    int sources = 0;
    for (const auto& entry : fs::directory_iterator(images / "src")) {
        if (entry.path().extension() != ".svg") continue;
        ++sources;
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        std::smatch m;
        const std::string svg = readFile(entry.path());
        ASSERT_TRUE(std::regex_search(svg, m, declared)) << "no width and height on <svg>";
        const auto width = static_cast<std::uint32_t>(std::lround(std::stod(m[1].str())));
        const auto height = static_cast<std::uint32_t>(std::lround(std::stod(m[2].str())));
        EXPECT_EQ(pngSize(images / (name + ".png")), std::make_pair(width, height))
            << "render it again: bash scripts/render-images.sh " << name;
        EXPECT_EQ(pngSize(images / (name + "@2x.png")), std::make_pair(2 * width, 2 * height))
            << "render it again: bash scripts/render-images.sh " << name;
    }
    EXPECT_GE(sources, 10);
}

}  // namespace
