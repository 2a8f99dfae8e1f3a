// The X session as a module that pixla loads only for an X display, so that
// Xlib never slows a Wayland session's start.
#include "color_output.hpp"
#include "pick_request.hpp"
#include "x11_session.hpp"

#include <cstdio>

extern "C" [[gnu::visibility("default")]] void pixla_pick(const PickRequest* request, char* why_not, std::size_t size)
{
    rgb_file = request->rgb_file;
    pick_on_x11(*request);
    std::snprintf(why_not, size, "its X server lets no client read the screen");
}
