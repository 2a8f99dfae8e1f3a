// How a picked color is printed, whichever session picked it: the output
// modes, the hex and decimal forms, the name lookup with its hex fallback,
// and the end of each color's line.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <string>

// Output modes chosen by the click loop; any other value prints decimal.
constexpr int MODE_DEC = 0;
constexpr int MODE_NAME = 1;
constexpr int MODE_HEX = 8;

// The rgb.txt file given with -r, or null for the showrgb program.
extern const char* rgb_file;

// Control gives decimal, Shift alone a name, anything else hex; Lock and the
// other modifiers do not count. The state is X's modifier mask.
int mode_for_state(unsigned int state);

// "#rrggbb" for MODE_HEX, "r g b" in decimal for every other mode.
std::string format_color(const XColor& color, int mode);

// Prints the color in the mode to standard output, after "XxY " when show_xy
// is non-zero, with no newline and no flush. In MODE_NAME it prints the name
// that the -r file or showrgb gives for it, or when there is none the hex
// form of the color that `unnamed` gives (by default the same color).
void print_color(const XColor& color, int x, int y, int mode, int show_xy,
                 const std::function<XColor()>& unnamed = {});

// Ends a printed color: the newline unless -N, and the flush, so that
// readers of lines get each color at once. False when what was printed did
// not reach standard output (a full disk, a closed descriptor, a hung-up
// terminal), with errno set for the message.
bool end_color_line(bool add_newline);

// Whether all that was printed has reached standard output, as above.
bool output_written();
