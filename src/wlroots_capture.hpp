// Reading one pixel of a wlroots compositor's screen: a capture of the whole
// output through wlr-screencopy, without the cursor, into a buffer of ours.
#pragma once

#include "captured_pixel.hpp"

#include <wayland-client.h>

#include <optional>
#include <string>

struct zwlr_screencopy_manager_v1;

// What the capture needs to know of the output besides the wl_output.
struct CapturedOutput {
    wl_output* output;
    int transform;
    double logical_width;
    double logical_height;
};

// The color of the physical pixel under the point (x, y) of the output, in
// logical pixels from its top left corner. Whole outputs are captured, not
// a region: wlroots 0.15 reads a region of a turned output from the wrong
// place. The capture's events are read from a queue of their own, so that
// input events wait in theirs meanwhile, as X keeps the pointer frozen.
// Nothing, with `why` set, when the capture fails or comes in a format that
// pixla does not read; nothing also when the connection fails meanwhile,
// which wl_display_get_error then tells.
std::optional<XColor> capture_pixel(wl_display* display, wl_shm* shm, zwlr_screencopy_manager_v1* screencopy,
                                    const CapturedOutput& output, double x, double y, std::string& why);
