// The Wayland session's parts that need no compositor: pixels of every
// format a capture may come in, the pixel under a point of a scaled or
// turned output, the crosshair's clear centre, the claim on a display, the
// keymap's file.
#include <gtest/gtest.h>

#include "captured_pixel.hpp"
#include "color_output.hpp"
#include "crosshair.hpp"
#include "scratch.hpp"
#include "wayland_display.hpp"
#include "wayland_keyboard.hpp"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-protocol.h>

#include <set>
#include <utility>

namespace {

// The bytes of a little-endian word of `size` bytes.
std::vector<unsigned char> little_endian(std::uint32_t word, std::size_t size)
{
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<unsigned char>(word >> (8 * i)));
    return bytes;
}

TEST(DecodePixel, EveryFormatOfEightBitsGivesTheChannelsWhereverTheyLie)
{
    // Red 0x12, green 0x34, blue 0x56, and 0x9a where alpha or padding goes.
    const std::vector<std::pair<std::uint32_t, std::vector<unsigned char>>> pixels = {
        {WL_SHM_FORMAT_XRGB8888, {0x56, 0x34, 0x12, 0x9a}}, {WL_SHM_FORMAT_ARGB8888, {0x56, 0x34, 0x12, 0x9a}},
        {WL_SHM_FORMAT_XBGR8888, {0x12, 0x34, 0x56, 0x9a}}, {WL_SHM_FORMAT_ABGR8888, {0x12, 0x34, 0x56, 0x9a}},
        {WL_SHM_FORMAT_RGBX8888, {0x9a, 0x56, 0x34, 0x12}}, {WL_SHM_FORMAT_RGBA8888, {0x9a, 0x56, 0x34, 0x12}},
        {WL_SHM_FORMAT_BGRX8888, {0x9a, 0x12, 0x34, 0x56}}, {WL_SHM_FORMAT_BGRA8888, {0x9a, 0x12, 0x34, 0x56}},
        {WL_SHM_FORMAT_RGB888, {0x56, 0x34, 0x12}},         {WL_SHM_FORMAT_BGR888, {0x12, 0x34, 0x56}},
    };
    for (const auto& [format, bytes] : pixels) {
        const auto color = decode_pixel(format, bytes.data());
        ASSERT_TRUE(color) << std::hex << format;
        EXPECT_EQ(format_color(*color, MODE_HEX), "#123456") << std::hex << format;
        EXPECT_EQ(bytes_per_pixel(format), bytes.size());
    }
    // Full scale stays full, as X's 16-bit intensities are.
    const auto white = decode_pixel(WL_SHM_FORMAT_XRGB8888, little_endian(0xffffffff, 4).data());
    EXPECT_EQ(white->red, 0xffff);
}

TEST(DecodePixel, TenBitChannelsKeepTheirHighEightBits)
{
    // 10-bit red 0x203 (high 8 bits 0x80, rounding would give 0x81), green
    // 0x3ff, blue 0x007 (0x01, rounding 0x02), in each layout of the family.
    const std::uint32_t r = 0x203, g = 0x3ff, b = 0x007, a = 0x2;
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> words = {
        {WL_SHM_FORMAT_XRGB2101010, a << 30 | r << 20 | g << 10 | b},
        {WL_SHM_FORMAT_ARGB2101010, a << 30 | r << 20 | g << 10 | b},
        {WL_SHM_FORMAT_XBGR2101010, a << 30 | b << 20 | g << 10 | r},
        {WL_SHM_FORMAT_ABGR2101010, a << 30 | b << 20 | g << 10 | r},
        {WL_SHM_FORMAT_RGBX1010102, r << 22 | g << 12 | b << 2 | a},
        {WL_SHM_FORMAT_RGBA1010102, r << 22 | g << 12 | b << 2 | a},
        {WL_SHM_FORMAT_BGRX1010102, b << 22 | g << 12 | r << 2 | a},
        {WL_SHM_FORMAT_BGRA1010102, b << 22 | g << 12 | r << 2 | a},
    };
    for (const auto& [format, word] : words) {
        const auto color = decode_pixel(format, little_endian(word, 4).data());
        ASSERT_TRUE(color) << std::hex << format;
        EXPECT_EQ(format_color(*color, MODE_DEC), "128 255 1") << std::hex << format;
    }
}

TEST(DecodePixel, FormatsOfFewerBitsOrFloatsAreNotRead)
{
    const unsigned char bytes[8] = {};
    for (const std::uint32_t format : {WL_SHM_FORMAT_RGB565, WL_SHM_FORMAT_C8, WL_SHM_FORMAT_ARGB16161616F}) {
        EXPECT_FALSE(decode_pixel(format, bytes));
        EXPECT_EQ(bytes_per_pixel(format), 0u);
    }
}

TEST(PixelUnder, ScaledOutputsGiveThePhysicalPixelAndEdgesStayInside)
{
    // 1920x1080 at scale 2: 960x540 logical pixels, each 2x2 physical ones.
    const OutputCapture scaled{1920, 1080, false, WL_OUTPUT_TRANSFORM_NORMAL, 960, 540};
    EXPECT_EQ(pixel_under(scaled, 10.25, 20.25).value().column, 20);
    EXPECT_EQ(pixel_under(scaled, 10.75, 20.75).value().row, 41);
    // Pointers may report the far edge itself.
    EXPECT_EQ(pixel_under(scaled, 960, 540).value().column, 1919);
    EXPECT_EQ(pixel_under(scaled, 960, 540).value().row, 1079);
    // A fractional scale: 1.5.
    const OutputCapture fractional{1920, 1080, false, WL_OUTPUT_TRANSFORM_NORMAL, 1280, 720};
    EXPECT_EQ(pixel_under(fractional, 101, 0).value().column, 151);
    // y_invert: the buffer's rows run bottom up.
    const OutputCapture inverted{1280, 720, true, WL_OUTPUT_TRANSFORM_NORMAL, 1280, 720};
    EXPECT_EQ(pixel_under(inverted, 5, 0).value().row, 719);
    EXPECT_EQ(pixel_under(inverted, 5, 719).value().row, 0);
    // A compositor that gives the capture or the output no size, or a
    // transform that Wayland does not have: no pixel, rather than one
    // outside the buffer.
    EXPECT_FALSE(pixel_under({0, 720, false, WL_OUTPUT_TRANSFORM_NORMAL, 1280, 720}, 5, 5));
    EXPECT_FALSE(pixel_under({1280, 720, false, WL_OUTPUT_TRANSFORM_90, 1280, 0}, 5, 5));
    EXPECT_FALSE(pixel_under({720, 1280, false, 9, 1280, 720}, 1000, 5));
}

TEST(PixelUnder, EveryTransformReachesEveryBufferPixelOnce)
{
    // A small buffer of 6x4; turned outputs show it as 4x6.
    for (int transform = 0; transform < 8; ++transform) {
        const bool turned = transform % 2 == 1;
        const OutputCapture capture{6, 4, false, transform, turned ? 4.0 : 6.0, turned ? 6.0 : 4.0};
        std::set<std::pair<int, int>> reached;
        for (int y = 0; y < (turned ? 6 : 4); ++y)
            for (int x = 0; x < (turned ? 4 : 6); ++x) {
                const auto pixel = pixel_under(capture, x + 0.5, y + 0.5);
                ASSERT_TRUE(pixel && pixel->column >= 0 && pixel->column < 6 && pixel->row >= 0 && pixel->row < 4)
                    << transform;
                reached.emplace(pixel->column, pixel->row);
            }
        EXPECT_EQ(reached.size(), 24u) << "transform " << transform;
    }
}

TEST(Crosshair, ItsCentreIsClearAndItsArmsAreNot)
{
    const auto image = crosshair_image();
    ASSERT_EQ(image.size(), static_cast<std::size_t>(crosshair_size * crosshair_size));
    const auto at = [&](int x, int y) { return image[y * crosshair_size + x]; };
    for (int y = crosshair_hotspot - crosshair_gap; y <= crosshair_hotspot + crosshair_gap; ++y)
        for (int x = crosshair_hotspot - crosshair_gap; x <= crosshair_hotspot + crosshair_gap; ++x)
            EXPECT_EQ(at(x, y), 0u) << x << "," << y;
    for (int out = crosshair_gap + 1; out < crosshair_hotspot; ++out) {
        EXPECT_EQ(at(crosshair_hotspot + out, crosshair_hotspot), 0xffffffffu);
        EXPECT_EQ(at(crosshair_hotspot, crosshair_hotspot - out), 0xffffffffu);
        EXPECT_EQ(at(crosshair_hotspot - out, crosshair_hotspot + 1), 0xff000000u);
    }
}

TEST(WaylandDisplay, TheSocketIsFoundAsLibwaylandFindsItAndClaimedOnce)
{
    const ScratchDir dir;
    EXPECT_EQ(wayland_socket_path("/some/where/wayland-3"), "/some/where/wayland-3");
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    const std::string socket = (dir.path() / "wayland-1").string();
    EXPECT_EQ(wayland_socket_path("wayland-1"), socket);

    auto first = claim_wayland_display(socket);
    ASSERT_TRUE(first && *first);
    EXPECT_FALSE(claim_wayland_display(socket)) << "a second claim was granted";
    first.reset();
    EXPECT_TRUE(claim_wayland_display(socket)) << "the claim outlived its descriptor";
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_FALSE(wayland_socket_path("wayland-1"));
}

TEST(WaylandKeyboard, AKeymapIsReadNoFurtherThanItsFile)
{
    // A compositor that claims more than the file holds, whose text has no
    // end before the file's: reading on past the file would raise SIGBUS.
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    UniqueFd file{memfd_create("keymap", MFD_CLOEXEC)};
    const std::string text(page, 'x');
    ASSERT_EQ(write(file.get(), text.data(), text.size()), static_cast<ssize_t>(page));
    KeyboardState keyboard;
    keyboard.set_keymap(std::move(file), 3 * page);
    EXPECT_FALSE(keyboard.is_escape(1));
}

}  // namespace
