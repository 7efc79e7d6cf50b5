#include "app/ui/KZBackgroundView.h"

#include "frameworks/ColorHelpers.h"

void KZBackgroundView::setupSubviewsColorWithDark(bool dark) {
    setBackgroundColor(dark ? colorWithHex(0x272835) : colorWithHex(0xF9F9F9));
}

void KZWindowLoginBackgroundView::setupSubviewsColorWithDark(bool dark) {
    setBackgroundColor(dark ? colorWithHex(0x272835) : colorWithHex(0xFFFFFF));
}
