#pragma once
// An image view with the colour block and appearance hook of KZView (no creation hooks): users
// set the image and the block after making it, typically a block that picks a tinted image for
// the theme. It can also show a themed image by name: the variant of the current appearance,
// picked again on every appearance change for as long as the view still shows that image.

#include <functional>
#include <string>

#include "kit/ui/ImageView.h"

class KZImageView : public kit::ImageView {
public:
    using ColorBlock = std::function<void(KZImageView& view, bool dark)>;

    using kit::ImageView::ImageView;
    std::string className() const override { return "KZImageView"; }

    const ColorBlock& setupSubviewsColorBlock() const { return colorBlock_; }
    // Stores the block and runs it at once with the current theme (a null block only clears).
    void setSetupSubviewsColorBlock(ColorBlock block);
    virtual void setupSubviewsColorWithDark(bool dark);
    void viewDidChangeEffectiveAppearance() override;

    // Shows imageNamedForAppearance(name) now. Another picture put in the view later (a loaded
    // avatar, say) is left alone by appearance changes; the themed one, shown again (as a
    // loader's placeholder or after a failed load), follows them once more.
    void setThemedImageName(std::string name);
    const std::string& themedImageName() const { return themedImageName_; }

private:
    ColorBlock colorBlock_;
    std::string themedImageName_;
};
