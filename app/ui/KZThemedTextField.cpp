#include "app/ui/KZThemedTextField.h"

void KZThemedTextField::setTextThemeColor(ColorProvider provider) {
    textThemeColor_ = std::move(provider);
    if (textThemeColor_) setTextColor(textThemeColor_());
}

void KZThemedTextField::viewDidChangeEffectiveAppearance() {
    kit::Label::viewDidChangeEffectiveAppearance();
    if (textThemeColor_) setTextColor(textThemeColor_());
}
