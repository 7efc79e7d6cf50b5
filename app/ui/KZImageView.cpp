#include "app/ui/KZImageView.h"

#include "app/ui/KZThemedImage.h"
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

void KZImageView::setThemedImageName(std::string name) {
    themedImageName_ = std::move(name);
    setImage(imageNamedForAppearance(themedImageName_, KZView::isDarkMode()));
}

void KZImageView::viewDidChangeEffectiveAppearance() {
    kit::ImageView::viewDidChangeEffectiveAppearance();
    const bool dark = KZView::isDarkMode();
    if (isImageNamedForAppearance(image(), themedImageName_)) setImage(imageNamedForAppearance(themedImageName_, dark));
    setupSubviewsColorWithDark(dark);
}
