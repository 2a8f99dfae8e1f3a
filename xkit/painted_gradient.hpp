// The colors that the Wayland helper paints on each output, pixel by
// physical pixel, so that a test knows the exact color under any point.
#pragma once

#include <cstdint>

// 0xRRGGBB of the physical pixel (column, row) of the output the helper
// painted as number `output`, counted as the output shows it (turned, when
// its transform turns it). Within an output no two pixels of the first
// 4096 x 4096 share a color; the same pixel of another output has another.
constexpr std::uint32_t painted_color(int output, int column, int row)
{
    const auto c = static_cast<std::uint32_t>(column), r = static_cast<std::uint32_t>(row);
    const std::uint32_t red = (c & 0xff) ^ (static_cast<std::uint32_t>(output) * 0x55 & 0xff);
    const std::uint32_t green = r & 0xff;
    const std::uint32_t blue = (c >> 8 & 0xf) | (r >> 8 & 0xf) << 4;
    return red << 16 | green << 8 | blue;
}
