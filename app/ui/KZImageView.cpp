#include "app/ui/KZImageView.h"

#include "app/ui/KZView.h"

void KZImageView::setSetupSubviewsColorBlock(ColorBlock block) {
    colorBlock_ = std::move(block);
    if (colorBlock_) {
        auto run = colorBlock_;
        run(*this, KZView::isDarkMode());
    }
}

void KZImageView::setupSubviewsColorWithDark(bool dark) {
    if (colorBlock_) {
        auto run = colorBlock_;
        run(*this, dark);
    }
}

void KZImageView::viewDidChangeEffectiveAppearance() {
    kit::ImageView::viewDidChangeEffectiveAppearance();
    setupSubviewsColorWithDark(KZView::isDarkMode());
}
