// pixla in a real GNOME: headless gnome-shell with xdg-desktop-portal and
// its GNOME backend, the desktop's own color picker, clicks and keys through
// mutter's RemoteDesktop.
#include <gtest/gtest.h>

#include "gnome.hpp"
#include "painted_gradient.hpp"
#include "pixla_binary.hpp"

#include <cstdio>

namespace {

using namespace std::chrono_literals;

constexpr unsigned escape = 0xff1b;

// The painted color at (x, y), as pixla prints it.
std::string painted(int x, int y)
{
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%06x", painted_color(0, x, y));
    return hex;
}

class GnomePortal : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gnome = std::make_unique<Gnome>();
        gnome->paint_screen();
    }
    static void TearDownTestSuite() { gnome.reset(); }

    static std::unique_ptr<Process> start(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), pixla);
        return std::make_unique<Process>(args, with_env(gnome->client_env()));
    }

    static inline std::unique_ptr<Gnome> gnome;
};

TEST_F(GnomePortal, ThePickerGivesTheExactColorInHex)
{
    for (const auto& [x, y] : {std::pair{500, 400}, {0, 0}, {1023, 767}, {301, 702}}) {
        auto pixla_run = start();
        ASSERT_TRUE(gnome->picker_shown()) << pixla_run->err();
        gnome->click(x, y);
        ASSERT_TRUE(pixla_run->finish(10s));
        EXPECT_EQ(pixla_run->out(), painted(x, y) + "\n");
        EXPECT_EQ(pixla_run->err(), "");
        EXPECT_EQ(pixla_run->status(), 0);
    }
}

TEST_F(GnomePortal, EscapeEndsPickingOrCancelsThePick)
{
    auto picking = start({"-E", "-N"});
    ASSERT_TRUE(gnome->picker_shown()) << picking->err();
    gnome->click(200, 300);
    ASSERT_TRUE(gnome->picker_shown()) << "no second pick was asked for";
    gnome->press_key(escape);
    ASSERT_TRUE(picking->finish(10s));
    EXPECT_EQ(picking->out(), painted(200, 300));
    EXPECT_EQ(picking->status(), 0);

    auto cancelled = start();
    ASSERT_TRUE(gnome->picker_shown()) << cancelled->err();
    gnome->press_key(escape);
    ASSERT_TRUE(cancelled->finish(10s));
    EXPECT_EQ(cancelled->out(), "");
    EXPECT_EQ(cancelled->err(), "");
    EXPECT_EQ(cancelled->status(), 0);
}

TEST_F(GnomePortal, CoordinatesAreRefused)
{
    const auto refused = run_process({pixla, "-v"}, with_env(gnome->client_env()), 5s);
    EXPECT_EQ(refused.err, std::string{"pixla: can't print coordinates on "} + Gnome::display_name +
                               ": this session's color picker gives none\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.status, 1);
}

}  // namespace
