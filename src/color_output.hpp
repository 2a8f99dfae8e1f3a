// One color grab: reading the pixel under the pointer and printing its color.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <string>

// Output modes chosen by the click loop; any other value prints decimal.
constexpr int MODE_DEC = 0;
constexpr int MODE_NAME = 1;
constexpr int MODE_HEX = 8;

// The rgb.txt file given with -r, or null for the showrgb program.
extern const char* rgb_file;

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
// An image read from the root window, destroyed with its owner.
using RootImage = std::unique_ptr<XImage, ImageDestroyer>;

// Control gives decimal, Shift alone a name, anything else hex; Lock and the
// other modifiers do not count.
int mode_for_state(unsigned int state);

// "#rrggbb" for MODE_HEX, "r g b" in decimal for every other mode.
std::string format_color(const XColor& color, int mode);

// Prints the color of the root-window pixel at (x, y) in the given mode to
// standard output, after "XxY " when show_xy is non-zero, with no newline and
// no flush. Returns false, having printed nothing but a diagnostic, when the
// pixel cannot be read.
bool grab_color(Display* display, int x, int y, int mode, int show_xy);
