// The "text/uri-list" that drag sources offer for dragged files.

#include <gtest/gtest.h>

#include <glib.h>

#include "kit/desktop/dnd/XdndUriList.h"

namespace kit::desktop {
namespace {

TEST(XdndUriListTest, ListsAreSplitIntoAddressesWithoutCommentsOrBlankLines) {
    EXPECT_EQ(parseUriList("# from a file manager\r\nfile:///tmp/a.pdf\r\n\r\nfile:///tmp/b%20c.txt\r\n"),
              (std::vector<std::string>{"file:///tmp/a.pdf", "file:///tmp/b%20c.txt"}));
    // Bare line feeds, no final line end, a trailing NUL.
    EXPECT_EQ(parseUriList("file:///a\nhttps://example.com/x"), (std::vector<std::string>{"file:///a", "https://example.com/x"}));
    EXPECT_EQ(parseUriList(std::string_view("file:///a\r\n\0", 12)), (std::vector<std::string>{"file:///a"}));
    EXPECT_TRUE(parseUriList("").empty());
    EXPECT_TRUE(parseUriList("\r\n#only a comment\r\n").empty());
}

TEST(XdndUriListTest, OnlyLocalFileAddressesHavePaths) {
    EXPECT_EQ(localPathFromFileUri("file:///tmp/b%20c.txt"), "/tmp/b c.txt");
    EXPECT_EQ(localPathFromFileUri("file://localhost/tmp/report.pdf"), "/tmp/report.pdf");
    EXPECT_EQ(localPathFromFileUri(std::string("file://") + g_get_host_name() + "/tmp/x"), "/tmp/x");
    EXPECT_EQ(localPathFromFileUri("file:///tmp/%E6%96%87.txt"), "/tmp/\xE6\x96\x87.txt");
    EXPECT_FALSE(localPathFromFileUri("file://fileserver.example/share/a.pdf"));
    EXPECT_FALSE(localPathFromFileUri("https://example.com/a.pdf"));
    EXPECT_FALSE(localPathFromFileUri("/tmp/a.pdf"));
    EXPECT_FALSE(localPathFromFileUri("file:relative/a.pdf"));
    EXPECT_FALSE(localPathFromFileUri(""));
}

}  // namespace
}  // namespace kit::desktop
