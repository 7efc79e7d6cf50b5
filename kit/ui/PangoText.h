#pragma once
// Internal to kit/ui and the backends: pango layouts configured the same way for measuring and
// for drawing, so measured sizes match what is drawn.

#include <pango/pangocairo.h>

#include <string_view>

#include "kit/ui/Font.h"
#include "kit/ui/Text.h"

namespace kit::pangotext {

// A layout for measuring (on a shared context with fixed font options).
PangoLayout* createMeasuringLayout();
// Applies font options to a drawing context's pango context.
void prepareContext(PangoContext* context);
// Text, font, width, wrapping, truncation and alignment.
void configure(PangoLayout* layout, std::string_view text, const Font& font, const TextLayoutOptions& options);
// Whether the options lay the text out on one line.
bool isSingleLine(const TextLayoutOptions& options);

}  // namespace kit::pangotext
