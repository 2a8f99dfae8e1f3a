#include "captured_pixel.hpp"

#include <wayland-client-protocol.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Where a pixel's channels lie in its little-endian word.
struct PixelLayout {
    std::uint32_t format;
    std::size_t bytes;
    unsigned bits;
    unsigned red_shift;
    unsigned green_shift;
    unsigned blue_shift;
};

constexpr PixelLayout layouts[] = {
    {WL_SHM_FORMAT_ARGB8888, 4, 8, 16, 8, 0},      {WL_SHM_FORMAT_XRGB8888, 4, 8, 16, 8, 0},
    {WL_SHM_FORMAT_ABGR8888, 4, 8, 0, 8, 16},      {WL_SHM_FORMAT_XBGR8888, 4, 8, 0, 8, 16},
    {WL_SHM_FORMAT_RGBA8888, 4, 8, 24, 16, 8},     {WL_SHM_FORMAT_RGBX8888, 4, 8, 24, 16, 8},
    {WL_SHM_FORMAT_BGRA8888, 4, 8, 8, 16, 24},     {WL_SHM_FORMAT_BGRX8888, 4, 8, 8, 16, 24},
    {WL_SHM_FORMAT_RGB888, 3, 8, 16, 8, 0},        {WL_SHM_FORMAT_BGR888, 3, 8, 0, 8, 16},
    {WL_SHM_FORMAT_ARGB2101010, 4, 10, 20, 10, 0}, {WL_SHM_FORMAT_XRGB2101010, 4, 10, 20, 10, 0},
    {WL_SHM_FORMAT_ABGR2101010, 4, 10, 0, 10, 20}, {WL_SHM_FORMAT_XBGR2101010, 4, 10, 0, 10, 20},
    {WL_SHM_FORMAT_RGBA1010102, 4, 10, 22, 12, 2}, {WL_SHM_FORMAT_RGBX1010102, 4, 10, 22, 12, 2},
    {WL_SHM_FORMAT_BGRA1010102, 4, 10, 2, 12, 22}, {WL_SHM_FORMAT_BGRX1010102, 4, 10, 2, 12, 22},
};

const PixelLayout* layout_of(std::uint32_t format)
{
    const auto found = std::find_if(std::begin(layouts), std::end(layouts),
                                    [&](const PixelLayout& layout) { return layout.format == format; });
    return found == std::end(layouts) ? nullptr : found;
}

// A channel of `bits` bits as a 16-bit intensity: its bits repeated, so that
// its high byte is the channel's high 8 bits and full scale stays full.
unsigned short intensity(std::uint32_t value, unsigned bits)
{
    return static_cast<unsigned short>(value << (16 - bits) | value >> (2 * bits - 16));
}

bool turns(int transform) { return transform % 2 == 1; }

}  // namespace

std::optional<BufferPixel> pixel_under(const OutputCapture& capture, double x, double y)
{
    if (capture.buffer_width <= 0 || capture.buffer_height <= 0 || !(capture.logical_width > 0) ||
        !(capture.logical_height > 0) || capture.transform < WL_OUTPUT_TRANSFORM_NORMAL ||
        capture.transform > WL_OUTPUT_TRANSFORM_FLIPPED_270)
        return std::nullopt;
    // The physical pixel under the point, counted in the output as the
    // layout shows it, which is the buffer turned by the transform.
    const int width = turns(capture.transform) ? capture.buffer_height : capture.buffer_width;
    const int height = turns(capture.transform) ? capture.buffer_width : capture.buffer_height;
    const int px = std::clamp(static_cast<int>(std::floor(x * width / capture.logical_width)), 0, width - 1);
    const int py = std::clamp(static_cast<int>(std::floor(y * height / capture.logical_height)), 0, height - 1);
    // Back to the buffer, by the transform's inverse.
    BufferPixel pixel{px, py};
    switch (capture.transform) {
    case WL_OUTPUT_TRANSFORM_90: pixel = {py, width - 1 - px}; break;
    case WL_OUTPUT_TRANSFORM_180: pixel = {width - 1 - px, height - 1 - py}; break;
    case WL_OUTPUT_TRANSFORM_270: pixel = {height - 1 - py, px}; break;
    case WL_OUTPUT_TRANSFORM_FLIPPED: pixel = {width - 1 - px, py}; break;
    case WL_OUTPUT_TRANSFORM_FLIPPED_90: pixel = {py, px}; break;
    case WL_OUTPUT_TRANSFORM_FLIPPED_180: pixel = {px, height - 1 - py}; break;
    case WL_OUTPUT_TRANSFORM_FLIPPED_270: pixel = {height - 1 - py, width - 1 - px}; break;
    default: break;
    }
    if (capture.y_invert)
        pixel.row = capture.buffer_height - 1 - pixel.row;
    return pixel;
}

std::size_t bytes_per_pixel(std::uint32_t shm_format)
{
    const PixelLayout* layout = layout_of(shm_format);
    return layout ? layout->bytes : 0;
}

std::optional<XColor> decode_pixel(std::uint32_t shm_format, const unsigned char* bytes)
{
    const PixelLayout* layout = layout_of(shm_format);
    if (!layout)
        return std::nullopt;
    std::uint32_t word = 0;
    for (std::size_t i = layout->bytes; i-- > 0;)
        word = word << 8 | bytes[i];
    const std::uint32_t mask = (1u << layout->bits) - 1;
    XColor color{};
    color.red = intensity(word >> layout->red_shift & mask, layout->bits);
    color.green = intensity(word >> layout->green_shift & mask, layout->bits);
    color.blue = intensity(word >> layout->blue_shift & mask, layout->bits);
    color.flags = DoRed | DoGreen | DoBlue;
    return color;
}
