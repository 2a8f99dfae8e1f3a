// The Wayland display that WAYLAND_DISPLAY names, as pixla claims it: one
// pixla picks on a display at a time.
#pragma once

#include "unique_fd.hpp"

#include <optional>
#include <string>

// The path of the display's socket, as libwayland finds it: the name itself
// when it is absolute, else in XDG_RUNTIME_DIR. Nothing when neither says.
std::optional<std::string> wayland_socket_path(const char* display_name);

// Claims the display whose socket is at the path: a lock on the file
// pixla-<socket name>.lock beside the socket, which the kernel lets go when
// the process ends, however it ends. Nothing when another pixla holds it; a
// closed descriptor when no lock can be taken there at all (a folder that is
// not ours to write), and pixla then picks without one.
std::optional<UniqueFd> claim_wayland_display(const std::string& socket_path);
