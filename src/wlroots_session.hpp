// Picking on a wlroots compositor (sway, Hyprland, river, labwc, wayfire,
// niri): a transparent overlay with a crosshair cursor on every output takes
// the pointer and the keyboard, and each click reads the pixel beneath it
// through a screen capture.
#pragma once

#include "pick_request.hpp"

#include <optional>
#include <string>

// Picks on the Wayland display that the request names until the user is
// done, and returns the process's exit status. Returns nothing when the
// compositor lacks what pixla needs, with `missing` naming it.
std::optional<int> pick_on_wlroots(const PickRequest& request, std::string& missing);
