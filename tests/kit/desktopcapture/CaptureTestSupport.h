#pragma once
// Fixture for the capture and drag tests on a real X server (see tests/support/DesktopLoop.h):
// the pointer out of the way, and windows of known pixels.

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "kit/desktop/Desktop.h"
#include "tests/support/DesktopLoop.h"

namespace kit::testing {

class CaptureDesktopTest : public DesktopBackendTest {
protected:
    void SetUp() override {
        DesktopBackendTest::SetUp();
        if (IsSkipped()) return;
        runTool("xdotool mousemove 1400 880");
        pump(0.05);
    }
};

// The colour (0xRRGGBB) that a pattern window shows at a point of its own.
inline std::uint32_t patternColor(int x, int y) { return (std::uint32_t(x & 0xFF) << 16) | (std::uint32_t(y & 0xFF) << 8) | 0x5A; }

// The colour of a pixel of the root window (what the display shows there).
inline std::uint32_t screenPixel(int x, int y) {
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, 1, 1);
    if (!pixbuf) return 0xFFFFFFFFu;
    const guchar* p = gdk_pixbuf_read_pixels(pixbuf);
    const std::uint32_t color = (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
    g_object_unref(pixbuf);
    return color;
}

// An undecorated window at a place of the display that shows patternColor() at every pixel.
class PatternWindow {
public:
    PatternWindow(int x, int y, int width, int height) : x_(x), y_(y) {
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        cairo_surface_flush(surface_);
        unsigned char* data = cairo_image_surface_get_data(surface_);
        const int stride = cairo_image_surface_get_stride(surface_);
        for (int row = 0; row < height; ++row) {
            auto* pixels = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(row) * stride);
            for (int column = 0; column < width; ++column) pixels[column] = patternColor(column, row);
        }
        cairo_surface_mark_dirty(surface_);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_widget_set_app_paintable(window_, TRUE);
        gtk_widget_set_size_request(window_, width, height);
        gtk_window_move(GTK_WINDOW(window_), x, y);
        g_signal_connect(window_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer self) -> gboolean {
            auto* window = static_cast<PatternWindow*>(self);
            cairo_set_source_surface(cr, window->surface_, 0, 0);
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_paint(cr);
            ++window->draws_;
            return TRUE;
        }), this);
        gtk_widget_show(window_);
    }
    ~PatternWindow() {
        gtk_widget_destroy(window_);
        cairo_surface_destroy(surface_);
        gdk_display_flush(gdk_display_get_default());
    }
    PatternWindow(const PatternWindow&) = delete;
    PatternWindow& operator=(const PatternWindow&) = delete;

    // Whether the display shows the window's pixels now.
    bool isOnScreen() const {
        return draws_ > 0 && screenPixel(x_ + 3, y_ + 5) == patternColor(3, 5) && screenPixel(x_ + 60, y_ + 70) == patternColor(60, 70);
    }

private:
    int x_;
    int y_;
    GtkWidget* window_ = nullptr;
    cairo_surface_t* surface_ = nullptr;
    int draws_ = 0;
};

}  // namespace kit::testing
