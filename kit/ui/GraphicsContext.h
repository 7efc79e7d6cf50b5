#pragma once
// The drawing context views draw with. It wraps a cairo context set up in the coordinates of the
// view being drawn (origin at the bottom left and y up, unless the view is flipped); text and
// images are drawn upright either way. Drawing code above the platform layer draws only through
// this class.

#include <string_view>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/ui/Font.h"
#include "kit/ui/Image.h"
#include "kit/ui/Text.h"

typedef struct _cairo cairo_t;  // NOLINT(bugprone-reserved-identifier): cairo's own tag, declared ahead

namespace kit {

enum class CompositeOperation { SourceOver, Copy, SourceAtop, DestinationIn, DestinationOut, Clear };

class GraphicsContext {
public:
    // `flipped` tells whether the context's y axis points down.
    GraphicsContext(cairo_t* cairo, bool flipped);
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    cairo_t* cairo() const { return cairo_; }
    bool isFlipped() const { return flipped_; }
    // Changes the meaning of y for the code drawing from here on (the view renderer does this).
    void setFlipped(bool flipped) { flipped_ = flipped; }

    void save();
    void restore();
    void translate(double dx, double dy);
    void scale(double sx, double sy);
    void rotate(double radians);
    // Opacity applied to what is drawn from here on (not saved by save()).
    void setAlpha(double alpha);
    double alpha() const { return alpha_; }

    void setFillColor(Color color);
    void setStrokeColor(Color color);
    void setLineWidth(double width);
    void setCompositeOperation(CompositeOperation operation);

    void fillRect(const Rect& rect);
    void strokeRect(const Rect& rect);
    void fillRoundedRect(const Rect& rect, double radius);
    void strokeRoundedRect(const Rect& rect, double radius);
    void fillEllipse(const Rect& rect);
    void strokeEllipse(const Rect& rect);
    void clearRect(const Rect& rect);

    // Paths: built with these, then filled or stroked (which clears the path).
    void beginPath();
    void moveTo(Point p);
    void lineTo(Point p);
    void curveTo(Point c1, Point c2, Point end);
    void arc(Point center, double radius, double startAngle, double endAngle);
    void closePath();
    void addRect(const Rect& rect);
    void addRoundedRect(const Rect& rect, double radius);
    void fillPath();
    void strokePath();
    // Intersects the clip with the current path.
    void clipToPath();

    void clip(const Rect& rect);
    void clipRoundedRect(const Rect& rect, double radius);

    // Draws the whole image scaled into `destination`.
    void drawImage(const Image& image, const Rect& destination, double alpha = 1.0,
                   CompositeOperation operation = CompositeOperation::SourceOver);
    // Draws the whole image at its size with its bottom-left (top-left when flipped) corner at p.
    void drawImage(const Image& image, Point p);

    // Lays the text out in `rect` (wrapping at its width under the options, alignment and
    // truncation applied) from its top edge.
    void drawText(std::string_view text, const Rect& rect, const Font& font, Color color,
                  TextLayoutOptions options = {});

private:
    void setSourceColor(Color color);
    cairo_t* cairo_;
    bool flipped_;
    Color fill_ = Color::black();
    Color stroke_ = Color::black();
    double alpha_ = 1;
};

}  // namespace kit
