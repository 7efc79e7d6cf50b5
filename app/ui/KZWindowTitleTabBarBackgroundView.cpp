#include "app/ui/KZWindowTitleTabBarBackgroundView.h"

#include "frameworks/ColorHelpers.h"

void KZWindowTitleTabBarBackgroundView::setupSubviewsColorWithDark(bool dark) {
    setBackgroundColor(dark ? colorWithHex(0x272835) : colorWithHex(0xFFF1D7));
}
