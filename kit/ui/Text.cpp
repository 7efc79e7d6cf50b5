#include "kit/ui/Text.h"

#include <algorithm>
#include <cmath>

#include "kit/base/GRef.h"
#include "kit/base/Utf8.h"
#include "kit/ui/PangoText.h"

// Font lookups leave fontconfig's pattern caches allocated for the life of the process, which the
// leak checker of sanitizer builds would report at exit in every program that measures text.
#if defined(__SANITIZE_ADDRESS__)
#define KIT_UI_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIT_UI_ASAN 1
#endif
#endif
#ifdef KIT_UI_ASAN
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the sanitizer runtime looks up.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace kit {
namespace pangotext {

namespace {
PangoContext* sharedContext() {
    static PangoContext* context = [] {
        PangoFontMap* map = pango_cairo_font_map_get_default();
        PangoContext* created = pango_font_map_create_context(map);
        prepareContext(created);
        return created;
    }();
    return context;
}
}  // namespace

void prepareContext(PangoContext* context) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    pango_cairo_context_set_resolution(context, 72.0);
    cairo_font_options_destroy(options);
}

PangoLayout* createMeasuringLayout() { return pango_layout_new(sharedContext()); }

bool isSingleLine(const TextLayoutOptions& options) {
    const bool wraps = options.lineBreakMode == LineBreakMode::WordWrapping ||
                       options.lineBreakMode == LineBreakMode::CharWrapping;
    return !wraps && options.maximumNumberOfLines <= 1;
}

namespace {

// The product's texts are Chinese: runs of CJK characters (U+3000 to U+9FFF and the full-width
// forms, U+FF00 to U+FFEF) are tagged Simplified Chinese, so fontconfig picks the Simplified
// forms whatever the locale (it would pick the Japanese ones in an English session); other
// text keeps the locale's fonts.
void tagChineseRuns(PangoLayout* layout, std::string_view text) {
    PangoAttrList* attributes = nullptr;
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        const bool cjk = (lead >= 0xE3 && lead <= 0xE9) ||
                         (lead == 0xEF && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xFC) == 0xBC);
        if (!cjk) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size()) {
            lead = static_cast<unsigned char>(text[i]);
            const bool more = (lead >= 0xE3 && lead <= 0xE9) ||
                              (lead == 0xEF && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xFC) == 0xBC);
            if (!more) break;
            i += 3;
        }
        i = std::min(i, text.size());
        if (!attributes) attributes = pango_attr_list_new();
        PangoAttribute* language = pango_attr_language_new(pango_language_from_string("zh-cn"));
        language->start_index = static_cast<guint>(start);
        language->end_index = static_cast<guint>(i);
        pango_attr_list_insert(attributes, language);
    }
    pango_layout_set_attributes(layout, attributes);
    if (attributes) pango_attr_list_unref(attributes);
}

}  // namespace

void configure(PangoLayout* layout, std::string_view text, const Font& font, const TextLayoutOptions& options) {
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    tagChineseRuns(layout, text);
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, font.family.empty() ? "Sans" : font.family.c_str());
    pango_font_description_set_absolute_size(description, font.pointSize * PANGO_SCALE);
    pango_font_description_set_weight(description, static_cast<PangoWeight>(static_cast<int>(font.weight)));
    pango_font_description_set_style(description, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);

    const bool hasWidth = options.width > 0;
    const bool single = isSingleLine(options);
    PangoEllipsizeMode ellipsize = PANGO_ELLIPSIZE_NONE;
    switch (options.lineBreakMode) {
        case LineBreakMode::TruncatingHead: ellipsize = PANGO_ELLIPSIZE_START; break;
        case LineBreakMode::TruncatingMiddle: ellipsize = PANGO_ELLIPSIZE_MIDDLE; break;
        case LineBreakMode::TruncatingTail: ellipsize = PANGO_ELLIPSIZE_END; break;
        default: break;
    }
    // A line limit truncates the last line even in the wrapping modes.
    if (!single && options.maximumNumberOfLines > 0 && ellipsize == PANGO_ELLIPSIZE_NONE) ellipsize = PANGO_ELLIPSIZE_END;
    pango_layout_set_single_paragraph_mode(layout, single);
    pango_layout_set_wrap(layout, options.lineBreakMode == LineBreakMode::CharWrapping ? PANGO_WRAP_CHAR : PANGO_WRAP_WORD_CHAR);
    if (hasWidth && !(single && ellipsize == PANGO_ELLIPSIZE_NONE)) {
        pango_layout_set_width(layout, static_cast<int>(options.width * PANGO_SCALE));
    } else {
        pango_layout_set_width(layout, -1);
    }
    pango_layout_set_ellipsize(layout, hasWidth ? ellipsize : PANGO_ELLIPSIZE_NONE);
    pango_layout_set_height(layout, single ? -1 : (options.maximumNumberOfLines > 0 ? -options.maximumNumberOfLines : -1));
    PangoAlignment alignment = PANGO_ALIGN_LEFT;
    if (options.alignment == TextAlignment::Center) alignment = PANGO_ALIGN_CENTER;
    if (options.alignment == TextAlignment::Right) alignment = PANGO_ALIGN_RIGHT;
    pango_layout_set_alignment(layout, alignment);
    pango_layout_set_justify(layout, options.alignment == TextAlignment::Justified);
}

}  // namespace pangotext

TextMetrics measureText(std::string_view text, const Font& font, const TextLayoutOptions& options) {
    auto ownedLayout = GRef<PangoLayout>::adopt(pangotext::createMeasuringLayout());
    PangoLayout* layout = ownedLayout.get();
    pangotext::configure(layout, text, font, options);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    TextMetrics metrics;
    double width = static_cast<double>(logical.width) / PANGO_SCALE;
    const double height = static_cast<double>(logical.height) / PANGO_SCALE;
    metrics.lineCount = pango_layout_get_line_count(layout);
    metrics.truncated = pango_layout_is_ellipsized(layout);
    if (options.width > 0 && width > options.width + 0.01) {
        // Clipped single line, or a word too long to wrap.
        metrics.truncated = true;
        width = options.width;
    }
    if (!pangotext::isSingleLine(options) && options.maximumNumberOfLines > 0) {
        // Did the limit cut text off? Measure again without it.
        TextLayoutOptions unlimited = options;
        unlimited.maximumNumberOfLines = 0;
        pangotext::configure(layout, text, font, unlimited);
        if (pango_layout_get_line_count(layout) > options.maximumNumberOfLines) metrics.truncated = true;
    }
    metrics.size = {std::ceil(width - 0.001), std::ceil(height - 0.001)};
    return metrics;
}

std::string isolatedText(std::string_view text) {
    constexpr char32_t kFirstStrongIsolate = 0x2068;
    constexpr char32_t kPopDirectionalIsolate = 0x2069;
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out;
    out.reserve(text.size() + 8);
    appendUtf8(out, kFirstStrongIsolate);
    int open = 0;
    for (const gchar* p = valid; *p != 0; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029) {
            out += ' ';
            continue;
        }
        if (c >= 0x2066 && c <= 0x2068) ++open;
        if (c == kPopDirectionalIsolate) {
            if (open == 0) continue;
            --open;
        }
        appendUtf8(out, c);
    }
    g_free(valid);
    for (; open > 0; --open) appendUtf8(out, kPopDirectionalIsolate);
    appendUtf8(out, kPopDirectionalIsolate);
    return out;
}

}  // namespace kit
