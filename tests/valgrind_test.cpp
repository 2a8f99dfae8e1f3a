// pixla under valgrind: no memory errors and no lost blocks on the main
// paths, the name lookups included.
#include <gtest/gtest.h>

#include "pixla_session.hpp"
#include "scratch.hpp"

#include <X11/keysym.h>

#include <fstream>
#include <iterator>

namespace {

using namespace std::chrono_literals;

constexpr Spot deep_sea{100, 100};  // rgb:12/34/56
constexpr Spot pure_red{200, 100};  // rgb:ff/00/00, "red" for showrgb
constexpr auto slow = 20s;          // valgrind starts and runs slowly

class UnderValgrind : public SharedServer<UnderValgrind> {
public:
    static constexpr const char* screen = "320x200x24";
    static void paint(Display* d)
    {
        paint_root(d, "rgb:12/34/56");
        fill_root(d, 180, 80, 40, 40, alloc_pixel(d, "rgb:ff/00/00"));
    }

protected:
    std::unique_ptr<Process> start(std::vector<std::string> args)
    {
        return start_pixla(*server, std::move(args), {}, valgrind(), slow);
    }
    std::vector<std::string> valgrind() const
    {
        return {"valgrind", "--quiet", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
                "--error-exitcode=99", "--log-file=" + log_file};
    }
    std::string log() const
    {
        std::ifstream in{log_file};
        return {std::istreambuf_iterator<char>{in}, {}};
    }

    ScratchDir dir;
    std::string log_file = (dir.path() / "valgrind.log").string();
};

TEST_F(UnderValgrind, PlainControlAndShowrgbClicks)
{
    auto pixla = start({"-E", "-v"});
    Display* d = display();
    pick(d, *pixla, deep_sea, {}, slow);
    pick(d, *pixla, deep_sea, {XK_Control_L}, slow);
    pick(d, *pixla, pure_red, {XK_Shift_L}, slow);
    pick(d, *pixla, deep_sea, {XK_Shift_L}, slow);
    end_with_button3(d, *pixla, slow);
    EXPECT_EQ(pixla->out(), "100x100 #123456\n100x100 18 52 86\n200x100 red\n100x100 #123456\n");
    EXPECT_EQ(pixla->err(), "");
    EXPECT_EQ(log(), "");
}

TEST_F(UnderValgrind, RgbFileClicksUntilTheFirstGrabEnds)
{
    const std::string rgb = dir.write("rgb.txt", "! colors\n\n300 0 0 bad\n18 52 86 deep sea\n");
    auto pixla = start({"-r", rgb});
    {
        const HeldKeys shift{display(), {XK_Shift_L}};
        click(display(), deep_sea.x, deep_sea.y);
        ASSERT_TRUE(pixla->finish(slow));
    }
    EXPECT_EQ(pixla->status(), 0) << log();
    EXPECT_EQ(pixla->out(), "deep sea\n");
    EXPECT_EQ(pixla->err(), "pixla: syntax error: " + rgb + ":2\npixla: value for 'bad' is out of range: " + rgb + ":3\n");
    EXPECT_EQ(log(), "");
}

}  // namespace
