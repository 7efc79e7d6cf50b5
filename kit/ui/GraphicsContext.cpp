#include "kit/ui/GraphicsContext.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "kit/base/GRef.h"
#include "kit/ui/ImageData.h"
#include "kit/ui/PangoText.h"

namespace kit {

GraphicsContext::GraphicsContext(cairo_t* cairo, bool flipped) : cairo_(cairo), flipped_(flipped) {}

void GraphicsContext::save() { cairo_save(cairo_); }
void GraphicsContext::restore() { cairo_restore(cairo_); }
void GraphicsContext::translate(double dx, double dy) { cairo_translate(cairo_, dx, dy); }
void GraphicsContext::scale(double sx, double sy) { cairo_scale(cairo_, sx, sy); }
void GraphicsContext::rotate(double radians) { cairo_rotate(cairo_, radians); }

void GraphicsContext::setAlpha(double alpha) {
    // Applied to the colours set from here on.
    alpha_ = std::clamp(alpha, 0.0, 1.0);
}

void GraphicsContext::setFillColor(Color color) { fill_ = color; }
void GraphicsContext::setStrokeColor(Color color) { stroke_ = color; }
void GraphicsContext::setLineWidth(double width) { cairo_set_line_width(cairo_, width); }

void GraphicsContext::setCompositeOperation(CompositeOperation operation) {
    cairo_operator_t op = CAIRO_OPERATOR_OVER;
    switch (operation) {
        case CompositeOperation::SourceOver: op = CAIRO_OPERATOR_OVER; break;
        case CompositeOperation::Copy: op = CAIRO_OPERATOR_SOURCE; break;
        case CompositeOperation::SourceAtop: op = CAIRO_OPERATOR_ATOP; break;
        case CompositeOperation::DestinationIn: op = CAIRO_OPERATOR_DEST_IN; break;
        case CompositeOperation::DestinationOut: op = CAIRO_OPERATOR_DEST_OUT; break;
        case CompositeOperation::Clear: op = CAIRO_OPERATOR_CLEAR; break;
    }
    cairo_set_operator(cairo_, op);
}

void GraphicsContext::setSourceColor(Color color) {
    cairo_set_source_rgba(cairo_, color.red, color.green, color.blue, color.alpha * alpha_);
}

void GraphicsContext::fillRect(const Rect& rect) {
    beginPath();
    addRect(rect);
    fillPath();
}

void GraphicsContext::strokeRect(const Rect& rect) {
    beginPath();
    addRect(rect);
    strokePath();
}

void GraphicsContext::fillRoundedRect(const Rect& rect, double radius) {
    beginPath();
    addRoundedRect(rect, radius);
    fillPath();
}

void GraphicsContext::strokeRoundedRect(const Rect& rect, double radius) {
    beginPath();
    addRoundedRect(rect, radius);
    strokePath();
}

namespace {
void ellipsePath(cairo_t* cr, const Rect& rect) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    cairo_save(cr);
    cairo_translate(cr, rect.midX(), rect.midY());
    cairo_scale(cr, rect.width() / 2, rect.height() / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
}
}  // namespace

void GraphicsContext::fillEllipse(const Rect& rect) {
    beginPath();
    ellipsePath(cairo_, rect);
    fillPath();
}

void GraphicsContext::strokeEllipse(const Rect& rect) {
    beginPath();
    ellipsePath(cairo_, rect);
    strokePath();
}

void GraphicsContext::clearRect(const Rect& rect) {
    cairo_save(cairo_);
    cairo_set_operator(cairo_, CAIRO_OPERATOR_CLEAR);
    cairo_rectangle(cairo_, rect.minX(), rect.minY(), rect.width(), rect.height());
    cairo_fill(cairo_);
    cairo_restore(cairo_);
}

void GraphicsContext::beginPath() { cairo_new_path(cairo_); }
void GraphicsContext::moveTo(Point p) { cairo_move_to(cairo_, p.x, p.y); }
void GraphicsContext::lineTo(Point p) { cairo_line_to(cairo_, p.x, p.y); }
void GraphicsContext::curveTo(Point c1, Point c2, Point end) { cairo_curve_to(cairo_, c1.x, c1.y, c2.x, c2.y, end.x, end.y); }
void GraphicsContext::arc(Point center, double radius, double startAngle, double endAngle) {
    cairo_arc(cairo_, center.x, center.y, radius, startAngle, endAngle);
}
void GraphicsContext::closePath() { cairo_close_path(cairo_); }

void GraphicsContext::addRect(const Rect& rect) {
    const Rect r = rect.standardized();
    cairo_rectangle(cairo_, r.minX(), r.minY(), r.width(), r.height());
}

void GraphicsContext::addRoundedRect(const Rect& rect, double radius) {
    const Rect r = rect.standardized();
    const double radiusLimit = std::min(r.width(), r.height()) / 2;
    const double rr = std::clamp(radius, 0.0, radiusLimit);
    if (rr <= 0) {
        addRect(r);
        return;
    }
    cairo_new_sub_path(cairo_);
    cairo_arc(cairo_, r.maxX() - rr, r.minY() + rr, rr, -M_PI / 2, 0);
    cairo_arc(cairo_, r.maxX() - rr, r.maxY() - rr, rr, 0, M_PI / 2);
    cairo_arc(cairo_, r.minX() + rr, r.maxY() - rr, rr, M_PI / 2, M_PI);
    cairo_arc(cairo_, r.minX() + rr, r.minY() + rr, rr, M_PI, 3 * M_PI / 2);
    cairo_close_path(cairo_);
}

void GraphicsContext::fillPath() {
    setSourceColor(fill_);
    cairo_fill(cairo_);
}

void GraphicsContext::strokePath() {
    setSourceColor(stroke_);
    cairo_stroke(cairo_);
}

void GraphicsContext::clipToPath() { cairo_clip(cairo_); }

void GraphicsContext::clip(const Rect& rect) {
    beginPath();
    addRect(rect);
    cairo_clip(cairo_);
}

void GraphicsContext::clipRoundedRect(const Rect& rect, double radius) {
    beginPath();
    addRoundedRect(rect, radius);
    cairo_clip(cairo_);
}

void GraphicsContext::drawImage(const Image& image, const Rect& destination, double alpha, CompositeOperation operation) {
    if (!image || image.pixelWidth() <= 0 || image.pixelHeight() <= 0) return;
    const Rect d = destination.standardized();
    if (d.width() <= 0 || d.height() <= 0) return;
    cairo_save(cairo_);
    // Images are stored top row first: draw them upright whatever the direction of y.
    if (flipped_) {
        cairo_translate(cairo_, d.minX(), d.minY());
    } else {
        cairo_translate(cairo_, d.minX(), d.maxY());
        cairo_scale(cairo_, 1, -1);
    }
    cairo_rectangle(cairo_, 0, 0, d.width(), d.height());
    cairo_clip(cairo_);
    cairo_scale(cairo_, d.width() / image.pixelWidth(), d.height() / image.pixelHeight());
    cairo_set_source_surface(cairo_, image.data()->surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cairo_), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cairo_), CAIRO_EXTEND_PAD);
    setCompositeOperation(operation);
    cairo_paint_with_alpha(cairo_, std::clamp(alpha, 0.0, 1.0) * alpha_);
    cairo_restore(cairo_);
}

void GraphicsContext::drawImage(const Image& image, Point p) {
    const Size size = image.size();
    drawImage(image, Rect{p, size});
}

void GraphicsContext::drawText(std::string_view text, const Rect& rect, const Font& font, Color color,
                               TextLayoutOptions options) {
    const Rect r = rect.standardized();
    if (r.width() <= 0 || r.height() <= 0 || text.empty()) return;
    if (options.width <= 0) options.width = r.width();
    cairo_save(cairo_);
    if (flipped_) {
        cairo_translate(cairo_, r.minX(), r.minY());
    } else {
        cairo_translate(cairo_, r.minX(), r.maxY());
        cairo_scale(cairo_, 1, -1);
    }
    cairo_rectangle(cairo_, 0, 0, r.width(), r.height());
    cairo_clip(cairo_);
    auto ownedLayout = GRef<PangoLayout>::adopt(pango_cairo_create_layout(cairo_));
    PangoLayout* layout = ownedLayout.get();
    pangotext::prepareContext(pango_layout_get_context(layout));
    pango_layout_context_changed(layout);
    pangotext::configure(layout, text, font, options);
    // A clipped or unwrapped single line is aligned inside the rectangle by hand, since pango
    // aligns only within a set width.
    double dx = 0;
    if (pango_layout_get_width(layout) < 0) {
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        const double width = static_cast<double>(logical.width) / PANGO_SCALE;
        if (width < r.width()) {
            if (options.alignment == TextAlignment::Center) dx = (r.width() - width) / 2;
            if (options.alignment == TextAlignment::Right) dx = r.width() - width;
        }
    }
    cairo_move_to(cairo_, dx, 0);
    setSourceColor(color);
    pango_cairo_show_layout(cairo_, layout);
    cairo_restore(cairo_);
}

}  // namespace kit
