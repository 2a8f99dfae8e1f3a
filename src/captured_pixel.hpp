// A pixel of a compositor's screen capture: where the point under the
// pointer lies in the captured buffer, and the color its bytes hold. No
// Wayland calls here, so that both can be tested on their own.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>

// What the capture of a whole output is: its buffer's size in pixels, the
// output's transform (a wl_output transform, 0-7) and its size in logical
// pixels as the layout places it (turned, when the transform turns it).
struct OutputCapture {
    int buffer_width;
    int buffer_height;
    bool y_invert;
    int transform;
    double logical_width;
    double logical_height;
};

struct BufferPixel {
    int column;
    int row;
};

// The buffer pixel that shows the point (x, y) of the output, in logical
// pixels from its top left corner as the layout places it: the physical
// pixel under the point, whatever the output's scale and transform. Points
// on or past an edge count as the last pixel before it. Always inside the
// buffer: none where the compositor gave the buffer or the output no size,
// or a transform that Wayland does not have.
std::optional<BufferPixel> pixel_under(const OutputCapture& capture, double x, double y);

// The bytes a pixel of this wl_shm format takes, or 0 for a format that
// pixla does not read.
std::size_t bytes_per_pixel(std::uint32_t shm_format);

// The color of the pixel at `bytes` in a buffer of this wl_shm format, as
// 16-bit intensities whose high byte is the channel value: of a 10-bit
// channel its high 8 bits, as on X. Nothing for a format that pixla does not
// read (fewer than 8 bits a channel, floating point).
std::optional<XColor> decode_pixel(std::uint32_t shm_format, const unsigned char* bytes);
