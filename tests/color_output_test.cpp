// GoogleTest comes before Xlib, whose None and Bool macros break its headers.
#include <gtest/gtest.h>

#include "color_output.hpp"


namespace {

XColor intensities(unsigned short red, unsigned short green, unsigned short blue)
{
    XColor color{};
    color.red = red;
    color.green = green;
    color.blue = blue;
    return color;
}

TEST(FormatColor, HexIsLowerCaseWithLeadingZeros)
{
    EXPECT_EQ(format_color(intensities(0x0a0a, 0xabab, 0x0000), MODE_HEX), "#0aab00");
    EXPECT_EQ(format_color(intensities(0, 0, 0), MODE_HEX), "#000000");
    EXPECT_EQ(format_color(intensities(0xffff, 0xffff, 0xffff), MODE_HEX), "#ffffff");
}

TEST(FormatColor, DecimalForEveryModeButHexAndName)
{
    EXPECT_EQ(format_color(intensities(0, 0, 0), MODE_DEC), "0 0 0");
    EXPECT_EQ(format_color(intensities(0xffff, 0xffff, 0xffff), MODE_DEC), "255 255 255");
    EXPECT_EQ(format_color(intensities(0x0a00, 0x1000, 0x6400), 42), "10 16 100");
}

TEST(FormatColor, IntensitiesAreTruncatedNeverRounded)
{
    // Rounding would give 129 128 2 here.
    const XColor color = intensities(0x80ff, 0x7fff, 0x01c0);
    EXPECT_EQ(format_color(color, MODE_DEC), "128 127 1");
    EXPECT_EQ(format_color(color, MODE_HEX), "#807f01");
    for (unsigned low = 0; low <= 0xff; ++low)
        EXPECT_EQ(format_color(intensities(static_cast<unsigned short>(0x8000 | low), 0, 0), MODE_DEC), "128 0 0");
}

TEST(ModeForState, ControlWinsOverShiftAndLocksDoNotCount)
{
    EXPECT_EQ(mode_for_state(0), MODE_HEX);
    EXPECT_EQ(mode_for_state(ShiftMask), MODE_NAME);
    EXPECT_EQ(mode_for_state(ControlMask), MODE_DEC);
    EXPECT_EQ(mode_for_state(ControlMask | ShiftMask), MODE_DEC);
    EXPECT_EQ(mode_for_state(LockMask | Mod2Mask | Mod1Mask | Mod4Mask | Button1Mask), MODE_HEX);
    EXPECT_EQ(mode_for_state(LockMask | Mod2Mask | ShiftMask), MODE_NAME);
    EXPECT_EQ(mode_for_state(LockMask | Mod2Mask | ControlMask), MODE_DEC);
}

}  // namespace
