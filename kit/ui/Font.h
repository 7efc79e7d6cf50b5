#pragma once
// Fonts and text attributes. The system font is the desktop's sans-serif face.

#include <string>

namespace kit {

enum class FontWeight { Light = 300, Regular = 400, Medium = 500, Semibold = 600, Bold = 700 };

struct Font {
    // Empty family: the system font.
    std::string family;
    double pointSize = 13;
    FontWeight weight = FontWeight::Regular;
    bool italic = false;

    static Font systemFont(double size, FontWeight weight = FontWeight::Regular) {
        return {{}, size, weight, false};
    }
    static Font boldSystemFont(double size) { return systemFont(size, FontWeight::Bold); }
    friend bool operator==(const Font&, const Font&) = default;
};

// The platform's values.
enum class TextAlignment { Left = 0, Center = 1, Right = 2, Justified = 3, Natural = 4 };

enum class LineBreakMode {
    WordWrapping = 0,
    CharWrapping = 1,
    Clipping = 2,
    TruncatingHead = 3,
    TruncatingMiddle = 5,
    TruncatingTail = 4,
};

}  // namespace kit
