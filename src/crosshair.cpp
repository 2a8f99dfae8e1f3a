#include "crosshair.hpp"

#include <cstdlib>
#include <utility>

std::vector<std::uint32_t> crosshair_image()
{
    constexpr std::uint32_t white = 0xffffffff, black = 0xff000000, clear = 0;
    std::vector<std::uint32_t> image(crosshair_size * crosshair_size, clear);
    for (int row = 0; row < crosshair_size; ++row) {
        for (int column = 0; column < crosshair_size; ++column) {
            const int across = std::abs(column - crosshair_hotspot);
            const int along = std::abs(row - crosshair_hotspot);
            // The vertical arm, then the horizontal one.
            for (const auto& [off_arm, on_arm] : {std::pair{across, along}, std::pair{along, across}}) {
                if (on_arm <= crosshair_gap || off_arm > 1)
                    continue;
                std::uint32_t& pixel = image[row * crosshair_size + column];
                if (off_arm == 0 && on_arm < crosshair_hotspot)
                    pixel = white;
                else if (pixel == clear)
                    pixel = black;
            }
        }
    }
    return image;
}
