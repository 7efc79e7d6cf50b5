#pragma once
// A label whose text colour is a theme colour: asked for at once and again on every appearance
// change, so an open window never keeps the text colour of the appearance it was made in.

#include <functional>
#include <string>

#include "kit/base/Color.h"
#include "kit/ui/Label.h"

class KZThemedTextField : public kit::Label {
public:
    using ColorProvider = std::function<kit::Color()>;

    using kit::Label::Label;
    std::string className() const override { return "KZThemedTextField"; }

    // Applies the colour now and on every appearance change (a null provider stops following;
    // the colour stays).
    void setTextThemeColor(ColorProvider provider);
    void viewDidChangeEffectiveAppearance() override;

private:
    ColorProvider textThemeColor_;
};
