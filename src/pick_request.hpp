// What the command line asks of a picking session, whichever kind of desktop
// serves it, and the one function through which pixla calls a session that
// it loads only when the desktop needs it.
#pragma once

#include "connect_watch.hpp"

#include <cstddef>

struct PickRequest {
    // The display as named for messages: the X display, or the Wayland
    // display's socket name; null when none was named.
    const char* display_name;
    bool exit_after_grab;  // -E clears it
    bool show_xy;          // -v
    bool add_newline;      // -N clears it
    const char* rgb_file;  // -r, or null for showrgb
    // Whether another kind of session may be tried where this one cannot
    // pick; when not, the session refuses with its own message.
    bool may_decline;
    ConnectWatch* connects;  // the program's
};

// The function that a session module exports under this name. It picks
// until the user is done and ends the process; it returns only when its kind
// of session cannot pick here, having written why (a C string of at most
// `size` bytes) into `why_not`.
inline constexpr char pick_function_name[] = "pixla_pick";
using PickFunction = void(const PickRequest* request, char* why_not, std::size_t size);
