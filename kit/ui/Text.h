#pragma once
// Measuring text laid out with pango, as labels and views that draw text need it.

#include <string>
#include <string_view>

#include "kit/base/Geometry.h"
#include "kit/ui/Font.h"

namespace kit {

struct TextLayoutOptions {
    // Width at which lines wrap (or are truncated or clipped); zero or less: unlimited.
    double width = 0;
    // Most lines shown; zero: unlimited. The last line is truncated by lineBreakMode.
    int maximumNumberOfLines = 0;
    LineBreakMode lineBreakMode = LineBreakMode::WordWrapping;
    TextAlignment alignment = TextAlignment::Natural;
};

struct TextMetrics {
    // Size of the laid-out text, rounded up to whole points.
    Size size;
    int lineCount = 0;
    // Some text was cut off (truncated, clipped or beyond the line limit).
    bool truncated = false;
};

TextMetrics measureText(std::string_view text, const Font& font, const TextLayoutOptions& options = {});

// Outside text (a file name, a page's title) made safe to stand in a line or a sentence of ours:
// the whole is one first-strong isolate (U+2068 ... U+2069), so that bidirectional controls in it
// cannot reorder the text around it; isolates it leaves open are closed and stray closers
// dropped; line and paragraph breaks, tabs and other control characters become spaces; bytes
// that are not UTF-8 become U+FFFD.
std::string isolatedText(std::string_view text);

}  // namespace kit
