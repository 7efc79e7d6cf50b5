#include "app/ui/KZLineView.h"

#include "frameworks/ColorHelpers.h"
#include "frameworks/JWAppThemeHelper.h"

void KZLineView::setupSubviewsColorWithDark(bool dark) {
    KZView::setupSubviewsColorWithDark(dark);
    // setDivideLineColorFor: paints the view in the theme's divider colour.
    setBackgroundColor(JWAppThemeHelper::divideLineColor());
}

void KZTabWindowLineView::setupSubviewsColorWithDark(bool dark) {
    constexpr double grey = 144.0 / 255.0;
    setBackgroundColor(dark ? colorWithHex(0xFFFFFF, 0.05) : kit::Color{grey, grey, grey, 0.3});
}
