// pixla on a headless sway against the floor of a Wayland client: start-up
// until its overlay is up, the time from a press to the printed color, and
// peak memory.
#include "sway.hpp"
#include "table.hpp"

#include <cstdio>

namespace {

using namespace std::chrono_literals;

const std::string wayland_floor = WAYLAND_FLOOR;
constexpr double click_x = 100.5, click_y = 100.5;  // on HEADLESS-1

// From pixla's start until its overlay is up: committed, and mapped with the
// keyboard's focus, which the helper's watcher loses that moment.
double pixla_startup(Sway& sway, const std::string& pixla)
{
    const auto begin = Clock::now();
    Process process{{pixla}, with_env(sway.client_env())};
    if (!sway.helper_says("keyboard left", 30s))
        fail("pixla's overlay never took the keyboard: " + process.err());
    const double elapsed = milliseconds_since(begin);
    process.finish(0ms);  // killed
    if (!sway.helper_says("keyboard entered", 30s))
        fail("the keyboard never came back to the helper");
    return elapsed;
}

// From the floor client's start until it has ended, which closes its output.
double floor_startup(Sway& sway)
{
    const auto begin = Clock::now();
    Process process{{wayland_floor}, with_env(sway.client_env())};
    process.wait_for_stdout([](const std::string&) { return false; }, 30s);
    const double elapsed = milliseconds_since(begin);
    if (!process.finish(30s) || process.status() != 0)
        fail("the Wayland floor client failed");
    return elapsed;
}

// From the press sent to the compositor until the color's line is read.
double press_to_print(Sway& sway, Process& pixla)
{
    const std::size_t lines = lines_in(pixla.out());
    const auto begin = Clock::now();
    sway.click(1);
    if (!pixla.wait_for_stdout([&](const std::string& out) { return lines_in(out) > lines; }, 30s))
        fail("no color for a press: " + pixla.err());
    return milliseconds_since(begin);
}

}  // namespace

void print_wayland_rows(const std::string& pixla)
{
    Sway sway;
    // A refresh rate of its own, which sway then reports: sway 1.10 reports
    // none for a headless output's default mode.
    sway.command("output HEADLESS-1 mode 1280x720@60Hz");
    // A keyboard, as every session has: its keymap comes to pixla with it,
    // and the helper watches its focus.
    Process keyboard{{"wtype", "-s", "600000"}, with_env(sway.client_env())};
    sway.start_helper({"HEADLESS-1"}, {"--watch-keyboard"});
    if (!sway.helper_says("keyboard entered", 30s))
        fail("the helper never had the keyboard");

    print_row("Wayland start-up until the overlay",
              measure(41, [&] { return pixla_startup(sway, pixla); }, [&] { return floor_startup(sway); }), "ms",
              "<= 1.5");

    sway.hand_pointer_to_helper(click_x, click_y, "HEADLESS-1");
    Process picking{{pixla, "-E"}, with_env(sway.client_env())};
    if (!sway.overlay_took_pointer("HEADLESS-1", 30s))
        fail("pixla's overlay never took the pointer: " + picking.err());
    std::vector<double> presses;
    for (int press = 0; press < 101; ++press)
        presses.push_back(press_to_print(sway, picking));
    const double pixla_memory = static_cast<double>(picking.memory_peak_kb());
    sway.click(3);
    if (!picking.finish(30s) || picking.status() != 0)
        fail("pixla did not end cleanly: " + picking.err());
    const double frame = sway.frame_ms("HEADLESS-1");
    std::printf("| %-34s | %10.3f ms | frame %6.3f ms | %5.2f | <= frame + 5 ms |\n", "press to printed color, 101",
                median(presses), frame, median(presses) / frame);

    Process floor_run{{wayland_floor, "--stay"}, with_env(sway.client_env())};
    if (!floor_run.wait_for_stdout([](const std::string& out) { return out == "done\n"; }, 30s))
        fail("the Wayland floor client did not get its globals");
    print_row("peak memory, Wayland, 101 picks", {pixla_memory, static_cast<double>(floor_run.memory_peak_kb())},
              "KB", "<= 1.5");
}
