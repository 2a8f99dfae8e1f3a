// pixla on a real wlroots compositor: a headless sway with four outputs, one
// scaled by 2 and two turned each way, each painted by the test kit's
// helper with colors known pixel by pixel; clicks and modifier keys sent
// through sway and wtype; pixla run as a user would run it.
#include <gtest/gtest.h>

#include "painted_gradient.hpp"
#include "pixla_binary.hpp"
#include "pixla_session.hpp"
#include "scratch.hpp"
#include "sway.hpp"
#include "xvfb.hpp"

#include <signal.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A point of the layout on one of the outputs, where the test clicks.
struct Point {
    std::string output;
    double x;  // in the layout, logical pixels
    double y;
};

class WlrootsSession : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sway = std::make_unique<Sway>();
        for (int created = 0; created < 3; ++created)
            sway->command("create_output");
        sway->command("output HEADLESS-2 scale 2");
        // sway turns clockwise, Wayland's transforms count the other way: these
        // are WL_OUTPUT_TRANSFORM_270 and WL_OUTPUT_TRANSFORM_90.
        sway->command("output HEADLESS-3 transform 90");
        sway->command("output HEADLESS-4 transform 270");
        // Side by side, in order.
        int x = 0;
        for (const char* output : outputs) {
            sway->command("output " + std::string{output} + " pos " + std::to_string(x) + " 0");
            x += sway->output_rect(output).width;
        }
        sway->start_helper({outputs, outputs + 4});
    }
    static void TearDownTestSuite() { sway.reset(); }

    // pixla with the options, started once the pointer is at the point and
    // the helper has it, and ready once its overlay has taken it there.
    std::unique_ptr<Process> start(std::vector<std::string> args, const Point& at, ProcessOptions options = {})
    {
        sway->hand_pointer_to_helper(at.x, at.y, at.output);
        args.insert(args.begin(), pixla);
        options.env.merge(Environment{sway->client_env()});
        auto process = std::make_unique<Process>(args, options);
        if (!sway->overlay_took_pointer(at.output))
            ADD_FAILURE() << "pixla's overlay did not take the pointer; it wrote: " << process->err();
        return process;
    }
    // Clicks button 1 at the point and waits for the color's line.
    void pick(Process& pixla, const Point& at)
    {
        const auto lines = lines_in(pixla.out());
        sway->move_pointer(at.x, at.y);
        sway->click(1);
        if (!pixla.wait_for_stdout([&](const std::string& out) { return lines_in(out) > lines; }))
            throw std::runtime_error("no line for a click at " + std::to_string(at.x) + "x" + std::to_string(at.y) +
                                     "; so far: " + pixla.out() + pixla.err());
    }
    static void end_with(Process& pixla, unsigned button)
    {
        sway->click(button);
        ASSERT_TRUE(pixla.finish()) << "pixla did not end after button " << button;
        EXPECT_EQ(pixla.status(), 0) << pixla.err();
    }

    // The painted color under a point, as pixla prints it with -v: the
    // layout's logical pixel, then the physical pixel's color.
    static std::string expected_line(const Point& at)
    {
        const auto rect = sway->output_rect(at.output);
        const double scale = at.output == "HEADLESS-2" ? 2 : 1;
        const double local_x = at.x - rect.x, local_y = at.y - rect.y;
        char line[64];
        std::snprintf(line, sizeof line, "%dx%d #%06x\n", static_cast<int>(std::floor(at.x)),
                      static_cast<int>(std::floor(at.y)),
                      painted_color(at.output.back() - '0', static_cast<int>(std::floor(local_x * scale)),
                                    static_cast<int>(std::floor(local_y * scale))));
        return line;
    }
    // The centre of the physical pixel at (column, row) of the output.
    static Point physical(const std::string& output, int column, int row)
    {
        const auto rect = sway->output_rect(output);
        const double scale = output == "HEADLESS-2" ? 2 : 1;
        return {output, rect.x + (column + 0.5) / scale, rect.y + (row + 0.5) / scale};
    }

    static constexpr const char* outputs[] = {"HEADLESS-1", "HEADLESS-2", "HEADLESS-3", "HEADLESS-4"};
    static inline std::unique_ptr<Sway> sway;
    ScratchDir dir;
};

TEST_F(WlrootsSession, EveryOutputGivesTheExactColorUnderThePointerAndItsCoordinates)
{
    std::vector<Point> points;
    for (const char* output : outputs) {
        const auto rect = sway->output_rect(output);
        const int scale = std::string{output} == "HEADLESS-2" ? 2 : 1;
        const int columns = rect.width * scale, rows = rect.height * scale;
        // The corners, next to every edge, and pixels inside; on the scaled
        // output both physical pixels of a logical one.
        for (const auto& [column, row] : {std::pair{0, 0}, {columns - 1, 0}, {0, rows - 1}, {columns - 1, rows - 1},
                                          {columns / 3, rows / 5}, {columns / 3 + 1, rows / 5 + 1},
                                          {columns / 2 + 7, rows - 2}, {1, rows / 2}})
            points.push_back(physical(output, column, row));
    }
    auto pixla = start({"-E", "-v"}, points.front());
    std::string expected;
    for (const Point& at : points) {
        pick(*pixla, at);
        expected += expected_line(at);
    }
    end_with(*pixla, 3);
    EXPECT_EQ(pixla->out(), expected);
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(WlrootsSession, ModifierKeysChooseTheFormAndEscapeEnds)
{
    const Point named = physical("HEADLESS-1", 100, 200), unnamed = physical("HEADLESS-1", 300, 40);
    const std::uint32_t color = painted_color(1, 100, 200);
    const unsigned red = color >> 16, green = color >> 8 & 0xff, blue = color & 0xff;
    const std::string rgb =
        dir.write("rgb.txt", std::to_string(red) + " " + std::to_string(green) + " " + std::to_string(blue) +
                                 " painted spot\n");
    auto pixla = start({"-E", "-r", rgb}, named);
    {
        const HeldModifier control{*sway, "ctrl"};
        pick(*pixla, named);
    }
    {
        const HeldModifier shift{*sway, "shift"};
        pick(*pixla, named);
        pick(*pixla, unnamed);
    }
    pick(*pixla, named);
    tap_key(*sway, "Escape");
    ASSERT_TRUE(pixla->finish()) << "pixla did not end on Escape";
    EXPECT_EQ(pixla->status(), 0);
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%06x", color);
    char unnamed_hex[8];
    std::snprintf(unnamed_hex, sizeof unnamed_hex, "#%06x", painted_color(1, 300, 40));
    EXPECT_EQ(pixla->out(), std::to_string(red) + " " + std::to_string(green) + " " + std::to_string(blue) +
                                "\npainted spot\n" + unnamed_hex + "\n" + hex + "\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(WlrootsSession, OneColorWithoutNewlineOrAnother)
{
    const Point at = physical("HEADLESS-3", 500, 1000);
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%06x", painted_color(3, 500, 1000));
    // -N: nothing after the color; without -E the first color ends pixla.
    auto pixla = start({"-N"}, at);
    sway->click(1);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), hex);
    EXPECT_EQ(pixla->status(), 0);

    // A color that cannot be written is an error, as on X.
    pixla = start({}, at, with_stdout_to("/dev/full"));
    sway->click(1);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->err(), "pixla: can't write to standard output: No space left on device\n");
    EXPECT_EQ(pixla->status(), 1);
}

TEST_F(WlrootsSession, TheCrosshairShowsAndThePickIsTheColorBeneathIt)
{
    const Point at = physical("HEADLESS-1", 640, 360);
    auto pixla = start({"-E"}, at);
    sway->move_pointer(at.x, at.y);
    // The screen as a screenshot shows it, cursor included (grim -c): the
    // crosshair's arms around the pointer, the painting at its centre.
    const std::string shot = (dir.path() / "shot.ppm").string();
    const auto grim = run_process({"grim", "-c", "-t", "ppm", "-g", "630,350 21x21", shot},
                                  with_env(sway->client_env()));
    ASSERT_EQ(grim.status, 0) << grim.err;
    std::ifstream in{shot, std::ios::binary};
    std::string magic;
    int width, height, maximum;
    in >> magic >> width >> height >> maximum;
    in.get();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    ASSERT_TRUE(in) << "grim wrote no 21x21 image";
    const auto shown = [&](int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
        return static_cast<std::uint32_t>(pixels[at] << 16 | pixels[at + 1] << 8 | pixels[at + 2]);
    };
    EXPECT_EQ(shown(10, 10), painted_color(1, 640, 360)) << "the centre is not clear";
    for (const auto& [x, y] : {std::pair{10, 2}, {10, 18}, {2, 10}, {18, 10}})
        EXPECT_EQ(shown(x, y), 0xffffffu) << "no white arm at " << x << "," << y;
    pick(*pixla, at);
    end_with(*pixla, 3);
    char hex[9];
    std::snprintf(hex, sizeof hex, "#%06x\n", painted_color(1, 640, 360));
    EXPECT_EQ(pixla->out(), hex);
}

TEST_F(WlrootsSession, OutputsAddedOrRemovedWhilePicking)
{
    const Point first = physical("HEADLESS-1", 10, 10);
    auto pixla = start({"-E"}, first);
    sway->command("create_output");
    const auto last = sway->output_rect("HEADLESS-4");
    sway->command("output HEADLESS-5 pos " + std::to_string(last.x + last.width) + " 0");
    ASSERT_TRUE(sway->helper_says("painted HEADLESS-5", 10s));
    // Picks on the new output, and still after another went away.
    const Point added = physical("HEADLESS-5", 20, 30);
    pick(*pixla, added);
    sway->command("output HEADLESS-5 disable");
    pick(*pixla, first);
    end_with(*pixla, 3);
    char expected[32];
    std::snprintf(expected, sizeof expected, "#%06x\n#%06x\n", painted_color(5, 20, 30), painted_color(1, 10, 10));
    EXPECT_EQ(pixla->out(), expected);
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(WlrootsSession, OnePixlaADisplayAndAKilledOneFreesIt)
{
    const Point at = physical("HEADLESS-2", 200, 100);
    auto first = start({}, at);
    ProcessOptions options = with_env(sway->client_env());
    const auto second = run_process({pixla}, options, 500ms);
    EXPECT_EQ(second.err, "pixla: can't grab on " + sway->socket() + " the mouse: another pixla is already picking\n");
    EXPECT_EQ(second.status, 1) << "-1 means it was still running after 0.5 s";
    kill(first->pid(), SIGKILL);
    ASSERT_TRUE(first->finish());
    auto next = start({}, at);
    pick(*next, at);
    ASSERT_TRUE(next->finish());
    EXPECT_EQ(next->status(), 0);
}

TEST(WaylandSessionsXwayland, DisplayLeadsToTheCompositorAndTheOptionToXOnly)
{
    Sway sway{Sway::Xwayland::on};
    sway.start_helper({"HEADLESS-1"});
    const std::string x_display = sway.x_display();
    // As a Wayland session's clients are started: both variables set.
    Environment env = sway.client_env();
    env["DISPLAY"] = x_display;
    sway.hand_pointer_to_helper(10.5, 20.5, "HEADLESS-1");
    Process through_display{{pixla}, with_env(env)};
    ASSERT_TRUE(sway.overlay_took_pointer("HEADLESS-1")) << through_display.err();
    sway.click(1);
    ASSERT_TRUE(through_display.finish());
    char expected[16];
    std::snprintf(expected, sizeof expected, "#%06x\n", painted_color(1, 10, 20));
    EXPECT_EQ(through_display.out(), expected);
    EXPECT_EQ(through_display.status(), 0) << through_display.err();

    const auto x_only = run_process({pixla, "-d", x_display}, with_env(env));
    EXPECT_EQ(x_only.err, unreadable_screen_line(x_display));
    EXPECT_EQ(x_only.status, 1);
}

// Each failure: one line on standard error, status 1, at once. (A compositor
// without the protocols is the portal's test.)
TEST(WaylandFailures, NoCompositorOrACompositorThatGoes)
{
    const auto nothing = run_process({pixla}, with_env({{"WAYLAND_DISPLAY", "/nonexistent/wayland-9"}, {"DISPLAY", std::nullopt}}));
    EXPECT_EQ(nothing.err, "pixla: unable to open display /nonexistent/wayland-9: No such file or directory\n");
    EXPECT_EQ(nothing.status, 1);

    Sway sway;
    sway.start_helper({"HEADLESS-1"});
    sway.hand_pointer_to_helper(100, 100, "HEADLESS-1");
    Process pixla_run{{pixla}, with_env(sway.client_env())};
    ASSERT_TRUE(sway.overlay_took_pointer("HEADLESS-1"));
    sway.kill_compositor();
    ASSERT_TRUE(pixla_run.finish(2s)) << "pixla outlived its compositor";
    EXPECT_TRUE(pixla_run.err().starts_with("pixla: connection to " + sway.socket() + " broken: ")) << pixla_run.err();
    EXPECT_EQ(lines_in(pixla_run.err()), 1u) << pixla_run.err();
    EXPECT_EQ(pixla_run.status(), 1);
}

}  // namespace
