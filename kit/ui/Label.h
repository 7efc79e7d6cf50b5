#pragma once
// A text field used as a label (or an uneditable field): text in a font and colour, aligned,
// wrapped or truncated, measured with pango. Editing is not modelled; `editable` is stored.

#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/ui/Font.h"
#include "kit/ui/Text.h"
#include "kit/ui/View.h"

namespace kit {

class Label : public View {
public:
    explicit Label(Rect frame = {});
    void init() override;
    std::string className() const override { return "Label"; }

    // A one-line label sized to its text.
    static std::shared_ptr<Label> withString(std::string text);
    // A wrapping label.
    static std::shared_ptr<Label> wrappingWithString(std::string text);

    const std::string& stringValue() const { return text_; }
    void setStringValue(std::string text);
    Font font() const { return font_; }
    void setFont(Font font);
    Color textColor() const { return textColor_; }
    void setTextColor(Color color);
    TextAlignment alignment() const { return alignment_; }
    void setAlignment(TextAlignment alignment);
    LineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(LineBreakMode mode);
    // Zero: unlimited.
    int maximumNumberOfLines() const { return maximumLines_; }
    void setMaximumNumberOfLines(int lines);
    // One line, truncating or clipping as the line break mode says (the platform's
    // "uses single line mode").
    bool usesSingleLineMode() const { return singleLine_; }
    void setUsesSingleLineMode(bool single);
    // Width at which the intrinsic size wraps; zero: the label's own width when wrapping.
    double preferredMaxLayoutWidth() const { return preferredMaxWidth_; }
    void setPreferredMaxLayoutWidth(double width);

    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered);
    bool isBezeled() const { return bezeled_; }
    void setBezeled(bool bezeled);
    bool drawsBackground() const { return drawsBackground_; }
    void setDrawsBackground(bool draws);
    Color backgroundColor() const { return backgroundColor_; }
    void setTextBackgroundColor(Color color);
    bool refusesFirstResponder() const { return refusesFirstResponder_; }
    void setRefusesFirstResponder(bool refuses) { refusesFirstResponder_ = refuses; }
    bool acceptsFirstResponder() const override { return !refusesFirstResponder_ && (editable_ || selectable_); }

    // The text's size when laid out no wider than `width` (zero or less: unlimited).
    Size sizeThatFits(double width) const;
    void sizeToFit();
    // Whether the text does not fit the current bounds (it is truncated or clipped).
    bool isTruncated() const;
    TextLayoutOptions layoutOptions(double width) const;

    Size intrinsicContentSize() const override;
    // A wrapping label without a preferred wrapping width wraps at the width it is given.
    double intrinsicHeightForWidth(double width) const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    std::string accessibilityLabel() const override;

    // Padding between the bounds and the text, as the platform's text field cell (2 points on
    // each side, none vertically).
    static constexpr double kHorizontalPadding = 2;

private:
    void textChanged();
    bool pangotextSingleLine() const;

    std::string text_;
    Font font_ = Font::systemFont(13);
    Color textColor_ = Color::black();
    TextAlignment alignment_ = TextAlignment::Natural;
    LineBreakMode lineBreakMode_ = LineBreakMode::Clipping;
    int maximumLines_ = 0;
    bool singleLine_ = false;
    double preferredMaxWidth_ = 0;
    bool editable_ = false;
    bool selectable_ = false;
    bool bordered_ = false;
    bool bezeled_ = false;
    bool drawsBackground_ = false;
    Color backgroundColor_ = Color::white();
    bool refusesFirstResponder_ = false;
};

}  // namespace kit
