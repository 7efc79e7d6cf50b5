#include "kit/ui/ImageView.h"

#include <algorithm>

#include "kit/ui/Create.h"
#include "kit/ui/GraphicsContext.h"

namespace kit {

ImageView::ImageView(Rect frame) : View(frame) {}

std::shared_ptr<ImageView> ImageView::withImage(Image image) {
    auto view = create<ImageView>();
    view->setFrameSize(image.size());
    view->setImage(std::move(image));
    return view;
}

void ImageView::setImage(Image image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void ImageView::setImageScaling(ImageScaling scaling) {
    scaling_ = scaling;
    setNeedsDisplay();
}

void ImageView::setContentTintColor(std::optional<Color> color) {
    tint_ = color;
    setNeedsDisplay();
}

Rect ImageView::imageRect() const {
    const Rect b = bounds();
    if (!image_) return {};
    const Size s = image_.size();
    if (s.width <= 0 || s.height <= 0) return {};
    Size drawn = s;
    switch (scaling_) {
        case ImageScaling::AxesIndependently:
            return b;
        case ImageScaling::None:
            break;
        case ImageScaling::ProportionallyDown:
            if (s.width <= b.width() && s.height <= b.height()) break;
            [[fallthrough]];
        case ImageScaling::ProportionallyUpOrDown: {
            const double factor = std::min(b.width() / s.width, b.height() / s.height);
            drawn = {s.width * factor, s.height * factor};
            break;
        }
    }
    return {b.midX() - drawn.width / 2, b.midY() - drawn.height / 2, drawn.width, drawn.height};
}

Size ImageView::intrinsicContentSize() const {
    if (!image_) return {kNoIntrinsicMetric, kNoIntrinsicMetric};
    return image_.size();
}

void ImageView::draw(GraphicsContext& context, const Rect&) {
    if (!image_) return;
    const Rect rect = imageRect();
    if (rect.isEmpty()) return;
    context.save();
    context.clip(bounds());
    if (image_.isTemplate() || tint_) {
        context.drawImage(image_.tinted(tint_.value_or(Color::black())), rect);
    } else {
        context.drawImage(image_, rect);
    }
    context.restore();
}

}  // namespace kit
