// Picking on an X display: the connection, the checks before the grab, the
// pointer grab with the crosshair, and the click loop.
#pragma once

#include "pick_request.hpp"

// Picks on the X display that the request names until the user is done, and
// ends the process. Returns only when the server lets no client read its
// screen, as rootless Xwayland in a Wayland session does, and the request
// may decline: the display is closed by then, and the Wayland session may
// be tried instead.
void pick_on_x11(const PickRequest& request);
