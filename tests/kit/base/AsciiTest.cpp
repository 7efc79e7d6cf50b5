// ASCII case folding: only A-Z change; every other byte (UTF-8 included) compares as it is.

#include "kit/base/Ascii.h"

#include <gtest/gtest.h>

namespace kit {
namespace {

TEST(Ascii, OnlyAsciiLettersFoldCase) {
    struct Case {
        std::string_view a, b;
        bool equal;
    };
    for (const Case& c : {Case{"HTTPS", "https", true}, Case{"Data:", "dATA:", true}, Case{";BASE64", ";base64", true},
                          Case{"", "", true}, Case{"http", "https", false}, Case{"@[`{", "`{@[", false},
                          Case{"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\xA9", false}, Case{"I", "\xC4\xB1", false}}) {
        SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
        EXPECT_EQ(asciiEqualsIgnoringCase(c.a, c.b), c.equal);
        EXPECT_EQ(asciiEqualsIgnoringCase(c.b, c.a), c.equal);
        EXPECT_EQ(asciiLowercase(c.a) == asciiLowercase(c.b), c.equal);
    }
    EXPECT_EQ(asciiLowercase("PNG.Zip \xC3\x89Z@[`{"), "png.zip \xC3\x89z@[`{");
}

}  // namespace
}  // namespace kit
