#include "kit/ui/ViewRenderer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

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

    if (layer.shadow.opacity > 0 && layer.backgroundColor && layer.backgroundColor->alpha > 0) {
        // A hard-edged shadow: enough to see where it falls.
        cairo_save(cr);
        const Rect shadowRect = bounds.offsetBy(layer.shadow.offset.width, view.isFlipped() ? -layer.shadow.offset.height : layer.shadow.offset.height);
        cornerPath(cr, shadowRect, layer.cornerRadius, layer.maskedCorners);
        setColor(cr, layer.shadow.color.withAlpha(layer.shadow.color.alpha * layer.shadow.opacity));
        cairo_fill(cr);
        cairo_restore(cr);
    }
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
