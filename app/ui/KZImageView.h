#pragma once
// An image view with the colour block and appearance hook of KZView (no creation hooks): users
// set the image and the block after making it, typically a block that picks a tinted image for
// the theme.

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

private:
    ColorBlock colorBlock_;
};
