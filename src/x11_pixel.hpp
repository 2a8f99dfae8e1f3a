// One color grab on X: reading the pixel under the pointer from the root
// window and printing its color.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
// An image read from the root window, destroyed with its owner.
using RootImage = std::unique_ptr<XImage, ImageDestroyer>;

// Prints the color of the root-window pixel at (x, y) in the given mode to
// standard output, after "XxY " when show_xy is non-zero, with no newline and
// no flush. Returns false, having printed nothing but a diagnostic, when the
// pixel cannot be read.
bool grab_color(Display* display, int x, int y, int mode, int show_xy);
