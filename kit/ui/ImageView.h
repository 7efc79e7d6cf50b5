#pragma once
// Shows an image scaled into its bounds by one of the platform's scaling modes. Template images
// are tinted with the content tint colour (black when none).

#include <optional>

#include "kit/base/Color.h"
#include "kit/ui/Image.h"
#include "kit/ui/View.h"

namespace kit {

// The platform's values.
enum class ImageScaling {
    ProportionallyDown = 0,
    AxesIndependently = 1,
    None = 2,
    ProportionallyUpOrDown = 3,
};

class ImageView : public View {
public:
    explicit ImageView(Rect frame = {});
    std::string className() const override { return "ImageView"; }

    static std::shared_ptr<ImageView> withImage(Image image);

    const Image& image() const { return image_; }
    void setImage(Image image);
    ImageScaling imageScaling() const { return scaling_; }
    void setImageScaling(ImageScaling scaling);
    std::optional<Color> contentTintColor() const { return tint_; }
    void setContentTintColor(std::optional<Color> color);

    // Where the image is drawn in the bounds (centred).
    Rect imageRect() const;
    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    Image image_;
    ImageScaling scaling_ = ImageScaling::ProportionallyDown;
    std::optional<Color> tint_;
};

}  // namespace kit
