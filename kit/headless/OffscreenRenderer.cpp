#include "kit/headless/OffscreenRenderer.h"

#include <cairo.h>

#include <cmath>

#include "kit/ui/GraphicsContext.h"
#include "kit/ui/ImageData.h"
#include "kit/ui/View.h"
#include "kit/ui/ViewRenderer.h"
#include "kit/ui/Window.h"

namespace kit {

namespace {
// Runs `draw` on a context of `size` points with y up, then returns the pixels.
template <class Draw>
Image renderInto(Size size, double scale, double alpha, Draw draw) {
    const int width = static_cast<int>(std::lround(size.width * scale));
    const int height = static_cast<int>(std::lround(size.height * scale));
    if (width <= 0 || height <= 0) return {};
    Image image = Image::blank(width, height, scale);
    cairo_t* cr = cairo_create(image.data()->surface);
    // Points with y up: flip the surface's y axis.
    cairo_translate(cr, 0, height);
    cairo_scale(cr, scale, -scale);
    if (alpha < 1) cairo_push_group(cr);
    GraphicsContext context(cr, false);
    draw(context);
    if (alpha < 1) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, alpha);
    }
    cairo_destroy(cr);
    cairo_surface_mark_dirty(image.data()->surface);
    return image;
}
}  // namespace

Image renderWindow(Window& window, double scale) {
    window.layoutIfNeeded();
    return renderInto(window.frame().size, scale, window.alphaValue(), [&](GraphicsContext& context) { drawWindow(window, context); });
}

Image renderView(View& view, double scale) {
    view.layoutSubtreeIfNeeded();
    const Rect frame = view.frame();
    return renderInto(frame.size, scale, 1.0, [&](GraphicsContext& context) {
        // Draw the view as if it were a top view at the origin.
        context.translate(-frame.minX(), -frame.minY());
        drawViewTree(view, context);
    });
}

Status writeWindowPng(Window& window, const std::filesystem::path& path, double scale) {
    Image image = renderWindow(window, scale);
    if (!image) return Error{"the window has no area to draw"};
    return image.writeToFile(path, ImageFormat::Png);
}

Color colorAtPoint(const Image& rendering, Point point) {
    const double scale = rendering.scale();
    const int x = static_cast<int>(std::floor(point.x * scale));
    const int y = rendering.pixelHeight() - 1 - static_cast<int>(std::floor(point.y * scale));
    return rendering.pixelAt(x, y);
}

}  // namespace kit
