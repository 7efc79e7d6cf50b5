#include "kit/ui/ViewRenderer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "kit/ui/GraphicsContext.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace kit {

namespace {

void cornerPath(cairo_t* cr, const Rect& r, double radius, unsigned corners) {
    const double rr = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    auto radiusFor = [&](unsigned corner) { return (corners & corner) ? rr : 0.0; };
    const double bl = radiusFor(LayerMinXMinYCorner), br = radiusFor(LayerMaxXMinYCorner);
    const double tl = radiusFor(LayerMinXMaxYCorner), tr = radiusFor(LayerMaxXMaxYCorner);
    cairo_new_sub_path(cr);
    cairo_move_to(cr, r.minX() + bl, r.minY());
    cairo_line_to(cr, r.maxX() - br, r.minY());
    if (br > 0) cairo_arc(cr, r.maxX() - br, r.minY() + br, br, -M_PI / 2, 0);
    cairo_line_to(cr, r.maxX(), r.maxY() - tr);
    if (tr > 0) cairo_arc(cr, r.maxX() - tr, r.maxY() - tr, tr, 0, M_PI / 2);
    cairo_line_to(cr, r.minX() + tl, r.maxY());
    if (tl > 0) cairo_arc(cr, r.minX() + tl, r.maxY() - tl, tl, M_PI / 2, M_PI);
    cairo_line_to(cr, r.minX(), r.minY() + bl);
    if (bl > 0) cairo_arc(cr, r.minX() + bl, r.minY() + bl, bl, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void setColor(cairo_t* cr, Color c) { cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha); }

// Blurs an alpha-only image nearly as a Gaussian of deviation `sigma` (pixels) does: three box
// passes across and three down.
void blurAlpha(cairo_surface_t* surface, double sigma) {
    const auto boxWidth = static_cast<std::size_t>(std::lround(std::sqrt(4 * sigma * sigma + 1)));
    const std::size_t reach = boxWidth / 2;
    if (reach < 1) return;
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const auto width = static_cast<std::size_t>(cairo_image_surface_get_width(surface));
    const auto height = static_cast<std::size_t>(cairo_image_surface_get_height(surface));
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    std::vector<unsigned> line(std::max(width, height));
    const auto span = static_cast<unsigned>(2 * reach + 1);
    auto pass = [&](unsigned char* start, std::size_t count, std::size_t step) {
        for (std::size_t i = 0; i < count; ++i) line[i] = start[i * step];
        unsigned sum = 0;
        for (std::size_t i = 0; i <= reach && i < count; ++i) sum += line[i];
        for (std::size_t i = 0; i < count; ++i) {
            start[i * step] = static_cast<unsigned char>((sum + span / 2) / span);
            if (i + reach + 1 < count) sum += line[i + reach + 1];
            if (i >= reach) sum -= line[i - reach];
        }
    };
    for (int round = 0; round < 3; ++round) {
        for (std::size_t y = 0; y < height; ++y) pass(data + y * stride, width, 1);
        for (std::size_t x = 0; x < width; ++x) pass(data + x, height, stride);
    }
    cairo_surface_mark_dirty(surface);
}

// Draws the shadow of what a layer shows (`shown`, the layer's content popped from a group, in
// the current user space) under it: the content's alpha, blurred by the shadow's radius, moved
// by its offset (y up; `ySign` -1 for a flipped view) and filled with its colour. Worked out in
// device pixels, so that the blur is as soft at every scale.
void drawShadow(cairo_t* cr, cairo_pattern_t* shown, const LayerShadow& shadow, double ySign, const Rect& bounds) {
    cairo_matrix_t userToDevice;
    cairo_get_matrix(cr, &userToDevice);
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (Point corner : {Point{bounds.minX(), bounds.minY()}, Point{bounds.maxX(), bounds.minY()},
                         Point{bounds.minX(), bounds.maxY()}, Point{bounds.maxX(), bounds.maxY()}}) {
        cairo_user_to_device(cr, &corner.x, &corner.y);
        minX = std::min(minX, corner.x);
        minY = std::min(minY, corner.y);
        maxX = std::max(maxX, corner.x);
        maxY = std::max(maxY, corner.y);
    }
    double unitX = 1, unitY = 0;
    cairo_user_to_device_distance(cr, &unitX, &unitY);
    const double sigma = shadow.radius / 2 * std::hypot(unitX, unitY);
    double offsetX = shadow.offset.width, offsetY = ySign * shadow.offset.height;
    cairo_user_to_device_distance(cr, &offsetX, &offsetY);
    const int margin = static_cast<int>(std::ceil(3 * std::max(0.0, sigma))) + 1;
    const int left = static_cast<int>(std::floor(minX)) - margin;
    const int top = static_cast<int>(std::floor(minY)) - margin;
    const int width = static_cast<int>(std::ceil(maxX)) + margin - left;
    const int height = static_cast<int>(std::ceil(maxY)) + margin - top;
    constexpr int kLargest = 8192;
    if (width <= 0 || height <= 0 || width > kLargest || height > kLargest) return;

    cairo_surface_t* alpha = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
    cairo_t* painter = cairo_create(alpha);
    cairo_translate(painter, -left, -top);
    cairo_transform(painter, &userToDevice);
    cairo_set_source(painter, shown);
    cairo_paint(painter);
    cairo_destroy(painter);
    blurAlpha(alpha, sigma);

    cairo_save(cr);
    cairo_identity_matrix(cr);
    setColor(cr, shadow.color.withAlpha(shadow.color.alpha * shadow.opacity));
    cairo_mask_surface(cr, alpha, left + offsetX, top + offsetY);
    cairo_restore(cr);
    cairo_surface_destroy(alpha);
}

}  // namespace

void drawViewTree(View& view, GraphicsContext& context) {
    if (view.isHidden() || view.alphaValue() <= 0) return;
    cairo_t* cr = context.cairo();
    const Rect frame = view.frame();
    const Rect bounds = view.bounds();
    const bool outerFlipped = context.isFlipped();
    const LayerStyle& layer = view.layer();

    cairo_save(cr);
    cairo_translate(cr, frame.minX(), frame.minY());
    if (view.isFlipped() != outerFlipped) {
        cairo_translate(cr, 0, frame.height());
        cairo_scale(cr, 1, -1);
    }
    cairo_translate(cr, -bounds.minX(), -bounds.minY());
    context.setFlipped(view.isFlipped());

    const bool group = view.alphaValue() < 1 || layer.mask.has_value();
    if (group) cairo_push_group(cr);
    // A shadow falls from what the layer shows: drawn first into a group of its own.
    const bool castsShadow = layer.shadow.opacity > 0 && layer.shadow.color.alpha > 0;
    if (castsShadow) cairo_push_group(cr);

    if (layer.backgroundColor && layer.backgroundColor->alpha > 0) {
        cornerPath(cr, bounds, layer.cornerRadius, layer.maskedCorners);
        setColor(cr, *layer.backgroundColor);
        cairo_fill(cr);
    }
    cairo_save(cr);
    if (layer.masksToBounds) {
        cornerPath(cr, bounds, layer.cornerRadius, layer.maskedCorners);
        cairo_clip(cr);
    }
    context.save();
    view.draw(context, bounds);
    context.restore();
    context.setFlipped(view.isFlipped());
    const auto children = view.subviews();
    for (const auto& child : children) {
        drawViewTree(*child, context);
        context.setFlipped(view.isFlipped());
    }
    cairo_restore(cr);
    if (layer.borderWidth > 0 && layer.borderColor.alpha > 0) {
        // The border lies inside the bounds, above the content.
        const double w = layer.borderWidth;
        cornerPath(cr, bounds.insetBy(w / 2, w / 2), std::max(0.0, layer.cornerRadius - w / 2), layer.maskedCorners);
        setColor(cr, layer.borderColor);
        cairo_set_line_width(cr, w);
        cairo_stroke(cr);
    }
    if (castsShadow) {
        cairo_pattern_t* shown = cairo_pop_group(cr);
        drawShadow(cr, shown, layer.shadow, view.isFlipped() ? -1 : 1, bounds);
        cairo_set_source(cr, shown);
        cairo_paint(cr);
        cairo_pattern_destroy(shown);
    }

    if (group) {
        cairo_pop_group_to_source(cr);
        const double alpha = view.alphaValue();
        if (layer.mask && layer.mask->colors.size() >= 2) {
            const auto& mask = *layer.mask;
            cairo_pattern_t* pattern = cairo_pattern_create_linear(
                bounds.minX() + mask.startPoint.x * bounds.width(), bounds.minY() + mask.startPoint.y * bounds.height(),
                bounds.minX() + mask.endPoint.x * bounds.width(), bounds.minY() + mask.endPoint.y * bounds.height());
            for (std::size_t i = 0; i < mask.colors.size(); ++i) {
                const double location = i < mask.locations.size()
                                            ? mask.locations[i]
                                            : static_cast<double>(i) / static_cast<double>(mask.colors.size() - 1);
                cairo_pattern_add_color_stop_rgba(pattern, location, 0, 0, 0, mask.colors[i].alpha * alpha);
            }
            cairo_mask(cr, pattern);
            cairo_pattern_destroy(pattern);
        } else {
            cairo_paint_with_alpha(cr, alpha);
        }
    }
    cairo_restore(cr);
    context.setFlipped(outerFlipped);
    view.setNeedsDisplay(false);
}

void drawWindow(Window& window, GraphicsContext& context) {
    window.layoutIfNeeded();
    cairo_t* cr = context.cairo();
    const Rect frame = window.frame();
    cairo_save(cr);
    const Color background = window.backgroundColor();
    if (background.alpha > 0) {
        cairo_rectangle(cr, 0, 0, frame.width(), frame.height());
        setColor(cr, background);
        cairo_fill(cr);
    }
    cairo_restore(cr);
    context.setFlipped(false);
    if (auto root = window.frameView()) drawViewTree(*root, context);
}

}  // namespace kit
