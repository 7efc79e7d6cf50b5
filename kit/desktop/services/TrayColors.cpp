#include "kit/desktop/services/TrayColors.h"

#include <algorithm>
#include <array>
#include <string>

namespace kit::desktop {

namespace {

// The position of a visual's channel mask and its width in bits.
struct Channel {
    int shift = 0;
    unsigned long max = 0;
    explicit Channel(unsigned long mask) {
        if (!mask) return;
        while (!(mask & 1UL)) {
            mask >>= 1;
            ++shift;
        }
        max = mask;
    }
    double of(unsigned long pixel) const {
        return max ? static_cast<double>((pixel >> shift) & max) / static_cast<double>(max) : 0;
    }
};

}  // namespace

std::optional<std::vector<::Window>> windowsHolding(Display* display, ::Window window) {
    std::vector<::Window> holders;
    for (::Window current = window; holders.size() < 64;) {
        ::Window root = None;
        ::Window parent = None;
        ::Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, current, &root, &parent, &children, &count)) return std::nullopt;
        if (children) XFree(children);
        if (parent == None) return std::nullopt;
        if (parent == root) break;
        holders.push_back(parent);
        current = parent;
    }
    return holders;
}

::Window trayWindowHolding(Display* display, ::Window icon) {
    const auto holders = windowsHolding(display, icon);
    return holders ? trayWindowAmong(display, icon, *holders) : None;
}

::Window trayWindowAmong(Display* display, ::Window icon, const std::vector<::Window>& holders) {
    // The first window above the icon that a program named (WM_CLASS) is the tray's own; a window
    // manager's frame around it has none, and may be of another depth, whose image shows nothing
    // of the tray. Without such a window, the child of the root window that holds the icon.
    for (::Window holder : holders) {
        XClassHint hint{};
        if (XGetClassHint(display, holder, &hint)) {
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            return holder;
        }
    }
    return holders.empty() ? icon : holders.back();
}

std::optional<Color> publishedTrayForeground(Display* display, int screen) {
    const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    const ::Window tray = XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False));
    if (tray == None) return std::nullopt;
    GdkDisplay* gdk = gdk_x11_lookup_xdisplay(display);
    if (gdk) gdk_x11_display_error_trap_push(gdk);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, tray, XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False), 0, 12,
                                          False, XA_CARDINAL, &type, &format, &count, &remaining, &data);
    if (gdk) gdk_x11_display_error_trap_pop_ignored(gdk);
    std::optional<Color> foreground;
    if (status == Success && data && type == XA_CARDINAL && format == 32 && count >= 3) {
        // Format 32 properties arrive as longs; each colour component is 0...65535.
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        foreground =
            Color{static_cast<double>(values[0] & 0xFFFF) / 65535.0, static_cast<double>(values[1] & 0xFFFF) / 65535.0,
                  static_cast<double>(values[2] & 0xFFFF) / 65535.0, 1};
    }
    if (data) XFree(data);
    return foreground;
}

std::optional<Color> trayBackgroundBehind(Display* display, ::Window icon) {
    GdkDisplay* gdk = gdk_x11_lookup_xdisplay(display);
    if (!gdk || icon == None) return std::nullopt;
    gdk_x11_display_error_trap_push(gdk);
    std::optional<Color> background;
    const ::Window top = trayWindowHolding(display, icon);
    XWindowAttributes topAttributes{};
    XWindowAttributes iconAttributes{};
    int iconX = 0;
    int iconY = 0;
    ::Window child = None;
    if (top != None && XGetWindowAttributes(display, top, &topAttributes) &&
        XGetWindowAttributes(display, icon, &iconAttributes) && topAttributes.map_state == IsViewable &&
        topAttributes.visual && XTranslateCoordinates(display, icon, top, 0, 0, &iconX, &iconY, &child)) {
        if (XImage* image = XGetImage(display, top, 0, 0, static_cast<unsigned>(topAttributes.width),
                                      static_cast<unsigned>(topAttributes.height), AllPlanes, ZPixmap)) {
            const Channel red(topAttributes.visual->red_mask);
            const Channel green(topAttributes.visual->green_mask);
            const Channel blue(topAttributes.visual->blue_mask);
            // Pixels by brightness: the commonest brightness is the background's; its colour is
            // the mean of those pixels. A large panel is read every few pixels.
            constexpr int kBuckets = 64;
            std::array<long, kBuckets> counts{};
            std::array<std::array<double, 3>, kBuckets> sums{};
            const long area = static_cast<long>(topAttributes.width) * topAttributes.height;
            const int step = area > 200'000 ? 4 : 1;
            for (int y = 0; y < topAttributes.height; y += step) {
                for (int x = 0; x < topAttributes.width; x += step) {
                    if (x >= iconX && x < iconX + iconAttributes.width && y >= iconY &&
                        y < iconY + iconAttributes.height)
                        continue;
                    const unsigned long pixel = XGetPixel(image, x, y);
                    const Color c{red.of(pixel), green.of(pixel), blue.of(pixel), 1};
                    const int bucket = std::min(kBuckets - 1, static_cast<int>(c.luminance() * kBuckets));
                    ++counts[static_cast<std::size_t>(bucket)];
                    auto& sum = sums[static_cast<std::size_t>(bucket)];
                    sum[0] += c.red;
                    sum[1] += c.green;
                    sum[2] += c.blue;
                }
            }
            std::size_t best = 0;
            for (std::size_t i = 1; i < counts.size(); ++i)
                if (counts[i] > counts[best]) best = i;
            if (counts[best] > 0) {
                const auto n = static_cast<double>(counts[best]);
                background = Color{sums[best][0] / n, sums[best][1] / n, sums[best][2] / n, 1};
            }
            XDestroyImage(image);
        }
    }
    gdk_x11_display_error_trap_pop_ignored(gdk);
    return background;
}

std::optional<Color> trayTemplateTint(Display* display, int screen, ::Window icon) {
    if (auto published = publishedTrayForeground(display, screen)) return published;
    if (auto background = trayBackgroundBehind(display, icon)) return Color::readableOn(*background);
    return std::nullopt;
}

}  // namespace kit::desktop
