#include "color_output.hpp"

#include "color_db.hpp"
#include "color_names.hpp"

#include <cstdio>

const char* rgb_file = nullptr;

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

void print_color(const XColor& color, int x, int y, int mode, int show_xy, const std::function<XColor()>& unnamed)
{
    if (show_xy)
        std::printf("%dx%d ", x, y);
    if (mode != MODE_NAME) {
        std::fputs(format_color(color, mode).c_str(), stdout);
        return;
    }
    if (const auto name = rgb_file ? get_db_colname(color, rgb_file) : get_def_colname(color)) {
        std::fputs(name->c_str(), stdout);
        return;
    }
    std::fputs(format_color(unnamed ? unnamed() : color, MODE_HEX).c_str(), stdout);
}

// On a line-buffered stream a write fails inside printf or putchar, which
// only set the error flag, and fflush then has nothing to do.
bool output_written() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

bool end_color_line(bool add_newline)
{
    if (add_newline)
        std::putchar('\n');
    return output_written();
}
