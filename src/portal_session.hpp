// Picking through the desktop portal, where the compositor offers no screen
// capture of its own (GNOME, KDE): org.freedesktop.portal.Screenshot's
// PickColor shows the desktop's own color picker and answers with the color
// alone, neither the position nor the modifier keys.
#pragma once

#include "pick_request.hpp"

#include <optional>
#include <string>

// Asks the desktop for colors, one or (with -E) until the user cancels, and
// returns the exit status. Returns nothing when the session has no portal
// with a color picker, with `why_not` saying what is missing.
std::optional<int> pick_through_portal(const PickRequest& request, std::string& why_not);
