// The crosshair cursor that pixla shows in Wayland sessions, drawn by pixla
// itself: compositors such as sway put the cursor into screen captures, so
// its centre, around the hot spot, is left transparent.
#pragma once

#include <cstdint>
#include <vector>

inline constexpr int crosshair_size = 25;
// The hot spot, in the middle of the image.
inline constexpr int crosshair_hotspot = crosshair_size / 2;
// How far from the hot spot the image stays transparent, in each direction.
inline constexpr int crosshair_gap = 3;

// The image, row by row, as premultiplied ARGB8888 words: a white line with
// a black edge along each arm, so that it shows on any background.
std::vector<std::uint32_t> crosshair_image();
