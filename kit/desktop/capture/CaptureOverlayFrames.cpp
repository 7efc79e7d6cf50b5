#include "kit/desktop/capture/CaptureOverlayFrames.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <memory>
#include <string>

#include "kit/base/GRef.h"
#include "kit/ui/ImageData.h"

namespace kit::desktop {

namespace {

bool overlaps(const DisplayRect& a, const DisplayRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

std::shared_ptr<Image::Data> newData(int width, int height, double scale) {
    auto data = std::make_shared<Image::Data>();
    data->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    data->scale = scale;
    return data;
}

}  // namespace

Result<CaptureOverlayFrames> CaptureOverlayFrames::grab(GdkDisplay* display) {
    GdkWindow* root = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
    const int count = gdk_display_get_n_monitors(display);
    if (count <= 0) return Error{"the display has no monitor"};
    std::vector<CaptureFrame> frames;
    for (int i = 0; i < count; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        GdkRectangle geometry;
        gdk_monitor_get_geometry(monitor, &geometry);
        if (geometry.width <= 0 || geometry.height <= 0) continue;
        // Device pixels of the root window, at its scale.
        auto ownedPixbuf = GRef<GdkPixbuf>::adopt(gdk_pixbuf_get_from_window(root, geometry.x, geometry.y, geometry.width, geometry.height));
        GdkPixbuf* pixbuf = ownedPixbuf.get();
        if (!pixbuf) return Error{"cannot read the pixels of monitor " + std::to_string(i)};
        const int width = gdk_pixbuf_get_width(pixbuf);
        const int height = gdk_pixbuf_get_height(pixbuf);
        auto data = newData(width, height, std::max(1.0, static_cast<double>(width) / geometry.width));
        cairo_t* cr = cairo_create(data->surface);
        gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(data->surface);
        frames.push_back({{geometry.x, geometry.y, geometry.width, geometry.height}, Image::fromDataObject(std::move(data)), i});
    }
    if (frames.empty()) return Error{"the display has no monitor with an area"};
    return CaptureOverlayFrames(std::move(frames));
}

DisplayRect CaptureOverlayFrames::bounds() const {
    if (frames_.empty()) return {};
    int left = frames_[0].monitor.x;
    int top = frames_[0].monitor.y;
    int right = left + frames_[0].monitor.width;
    int bottom = top + frames_[0].monitor.height;
    for (const auto& frame : frames_) {
        left = std::min(left, frame.monitor.x);
        top = std::min(top, frame.monitor.y);
        right = std::max(right, frame.monitor.x + frame.monitor.width);
        bottom = std::max(bottom, frame.monitor.y + frame.monitor.height);
    }
    return {left, top, right - left, bottom - top};
}

Image CaptureOverlayFrames::cutOut(const DisplayRect& rect) const {
    if (rect.width <= 0 || rect.height <= 0) return {};
    double scale = 0;
    for (const auto& frame : frames_) {
        if (overlaps(frame.monitor, rect) && frame.pixels) scale = std::max(scale, frame.pixels.scale());
    }
    if (scale <= 0) return {};
    auto data = newData(static_cast<int>(rect.width * scale), static_cast<int>(rect.height * scale), scale);
    cairo_t* cr = cairo_create(data->surface);
    for (const auto& frame : frames_) {
        if (!overlaps(frame.monitor, rect) || !frame.pixels) continue;
        cairo_save(cr);
        // Logical pixels from here on; the frame's own pixels are drawn at its scale.
        cairo_scale(cr, scale, scale);
        cairo_translate(cr, frame.monitor.x - rect.x, frame.monitor.y - rect.y);
        cairo_rectangle(cr, 0, 0, frame.monitor.width, frame.monitor.height);
        cairo_clip(cr);
        const double frameScale = frame.pixels.scale();
        cairo_scale(cr, 1 / frameScale, 1 / frameScale);
        cairo_set_source_surface(cr, frame.pixels.data()->surface, 0, 0);
        // Same scale: whole-pixel offsets copy the pixels exactly; else scale smoothly.
        cairo_pattern_set_filter(cairo_get_source(cr), frameScale == scale ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(data->surface);
    return Image::fromDataObject(std::move(data));
}

}  // namespace kit::desktop
