#include "color_output.hpp"

#include "color_db.hpp"
#include "color_names.hpp"

#include <err.h>

#include <cstdio>
#include <optional>

const char* rgb_file = nullptr;

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

int mode_for_state(unsigned int state)
{
    if (state & ControlMask)
        return MODE_DEC;
    if (state & ShiftMask)
        return MODE_NAME;
    return MODE_HEX;
}

std::string format_color(const XColor& color, int mode)
{
    const char* format = mode == MODE_HEX ? "#%02x%02x%02x" : "%u %u %u";
    char text[sizeof "255 255 255"];  // channel values are at most 255
    std::snprintf(text, sizeof text, format, channel_value(color.red), channel_value(color.green),
                  channel_value(color.blue));
    return text;
}

bool grab_color(Display* display, int x, int y, int mode, int show_xy)
{
    const auto color = read_pixel_color(display, x, y);
    if (!color)
        return false;
    if (show_xy)
        std::printf("%dx%d ", x, y);
    if (mode == MODE_NAME) {
        const auto name = rgb_file ? get_db_colname(*color, rgb_file) : get_def_colname(*color);
        if (name) {
            std::fputs(name->c_str(), stdout);
            return true;
        }
        // No name: the pixel is read afresh and printed in hex. Should that
        // read fail, the color already read stands in for it.
        const auto fresh = read_pixel_color(display, x, y);
        std::fputs(format_color(fresh.value_or(*color), MODE_HEX).c_str(), stdout);
        return true;
    }
    std::fputs(format_color(*color, mode).c_str(), stdout);
    return true;
}
