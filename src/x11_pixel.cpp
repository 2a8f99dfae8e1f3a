#include "x11_pixel.hpp"

#include "color_output.hpp"

#include <err.h>

#include <optional>

// The record every grab fills through XQueryColor.
XColor picked_color;

namespace {

// Reads one pixel of the root window and resolves it through the default colormap.
std::optional<XColor> read_pixel_color(Display* display, int x, int y)
{
    const int screen = DefaultScreen(display);
    const RootImage image{XGetImage(display, RootWindow(display, screen), x, y, 1, 1, AllPlanes, ZPixmap)};
    if (!image) {
        warnx("can't read the pixel at %dx%d", x, y);
        return std::nullopt;
    }
    picked_color.pixel = XGetPixel(image.get(), 0, 0);
    picked_color.flags = DoRed | DoGreen | DoBlue;
    XQueryColor(display, DefaultColormap(display, screen), &picked_color);
    return picked_color;
}

}  // namespace

bool grab_color(Display* display, int x, int y, int mode, int show_xy)
{
    const auto color = read_pixel_color(display, x, y);
    if (!color)
        return false;
    // A color with no name is read afresh for its hex form. Should that read
    // fail, the color already read stands in for it.
    print_color(*color, x, y, mode, show_xy,
                [&] { return read_pixel_color(display, x, y).value_or(*color); });
    return true;
}
