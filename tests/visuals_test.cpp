// Exact colors on every kind of screen: each depth and visual that Xvfb
// offers, with colors painted on the root window and read back by pixla;
// servers with two screens, servers that refuse pixla or go away.
#include <gtest/gtest.h>

#include "pixla_binary.hpp"
#include "pixla_session.hpp"
#include "scratch.hpp"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace {

using namespace std::chrono_literals;

struct Screen {
    const char* name;
    std::string geometry;
    int width;
    int height;
};

// The screen's truth: the high byte of each intensity that the default
// colormap holds for the pixel, read off its four hex digits.
struct Expected {
    std::string hex = "#";
    std::string decimal;
};

Expected expected_for(Display* display, unsigned long pixel)
{
    XColor color{};
    color.pixel = pixel;
    XQueryColor(display, DefaultColormap(display, DefaultScreen(display)), &color);
    Expected expected;
    for (unsigned short intensity : {color.red, color.green, color.blue}) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04x", intensity);
        const std::string high_byte{digits, 2};
        expected.hex += high_byte;
        expected.decimal += (expected.decimal.empty() ? "" : " ") + std::to_string(std::stoi(high_byte, nullptr, 16));
    }
    return expected;
}

void PrintTo(const Screen& screen, std::ostream* out) { *out << screen.geometry; }

class Visuals : public testing::TestWithParam<Screen> {};

TEST_P(Visuals, PrintsWhatTheColormapHoldsInHexAndDecimal)
{
    const Screen& screen = GetParam();
    const Xvfb server{screen.geometry};
    Display* d = server.display();
    paint_root(d, "rgb:80/80/80");

    // Painted spots and the colors they hold, the screen's corners among them.
    std::vector<std::pair<Spot, unsigned long>> spots;
    const char* specs[] = {"rgb:12/34/56", "rgb:00/00/00", "rgb:ff/ff/ff", "rgb:0a/ff/05", "rgb:80ff/7f01/01ff"};
    for (int i = 0; i < 5; ++i) {
        const Spot spot{30 + 40 * i, 60};
        spots.emplace_back(spot, alloc_pixel(d, specs[i]));
        fill_root(d, spot.x - 10, spot.y - 10, 20, 20, spots.back().second);
    }
    const Spot top_left{0, 0}, bottom_right{screen.width - 1, screen.height - 1};
    spots.emplace_back(top_left, alloc_pixel(d, "rgb:ff/00/ff"));
    spots.emplace_back(bottom_right, alloc_pixel(d, "rgb:00/c0/ff"));
    fill_root(d, 0, 0, 1, 1, spots[5].second);
    fill_root(d, bottom_right.x, bottom_right.y, 1, 1, spots[6].second);

    auto pixla = start_pixla(server, {"-E", "-v"});
    std::string expected_output;
    for (const auto& [spot, pixel] : spots) {
        pick(d, *pixla, spot);
        pick(d, *pixla, spot, {XK_Control_L});
        const Expected expected = expected_for(d, pixel);
        const std::string where = std::to_string(spot.x) + "x" + std::to_string(spot.y) + " ";
        expected_output += where + expected.hex + "\n" + where + expected.decimal + "\n";
    }
    end_with_button3(d, *pixla);
    EXPECT_EQ(pixla->out(), expected_output);
    EXPECT_EQ(pixla->err(), "");

    const int depth = DefaultDepth(d, DefaultScreen(d));
    if (depth == 24) {
        // Every 8-bit color is stored exactly.
        EXPECT_NE(pixla->out().find("30x60 #123456\n30x60 18 52 86\n"), std::string::npos);
        EXPECT_NE(pixla->out().find("150x60 #0aff05\n"), std::string::npos);
    }
    if (depth == 30) {
        // 10 bits a channel: 0x80ff reads back as 0x80df, whose low byte would round up.
        EXPECT_NE(pixla->out().find("190x60 #807f01\n190x60 128 127 1\n"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, Visuals,
                         testing::Values(Screen{"Depth8PseudoColor", "320x200x8", 320, 200},
                                         Screen{"Depth15", "320x200x15", 320, 200},
                                         Screen{"Depth16", "321x201x16", 321, 201},
                                         Screen{"Depth24", "320x200x24", 320, 200},
                                         Screen{"Depth30", "320x200x30", 320, 200}),
                         [](const testing::TestParamInfo<Screen>& info) { return std::string{info.param.name}; });

TEST(ServerLoss, PixlaEndsWithXlibsMessageWhenTheServerGoesAway)
{
    Xvfb server;
    auto pixla = start_pixla(server, {"-E"});
    const std::string name = server.name();
    server.stop();
    ASSERT_TRUE(pixla->finish(5s)) << "pixla hung after the server went away";
    EXPECT_EQ(pixla->err(), "X connection to " + name + " broken (explicit kill or server shutdown).\r\n");
    EXPECT_EQ(pixla->status(), 1);
    EXPECT_EQ(pixla->out(), "");
}

TEST(TwoScreens, PixlaPicksOnItsOwnScreenKeepsThePointerThereAndIsAloneOnTheServer)
{
    const Xvfb server{"320x240x24", {"-screen", "1", "320x240x24"}};
    Display* d = server.display();
    paint_root(d, "rgb:12/34/56");
    fill_root(d, 180, 180, 40, 40, alloc_pixel(d, "rgb:0a/0b/0c"));
    Display* screen1 = XOpenDisplay((server.name() + ".1").c_str());
    ASSERT_TRUE(screen1);
    paint_root(screen1, "rgb:ff/00/00");
    XCloseDisplay(screen1);

    // The grab confines the pointer to screen 0 and brings it there from
    // screen 1; were it left on screen 1, the click would come at 0x0.
    XWarpPointer(d, None, RootWindow(d, 1), 0, 0, 0, 0, 200, 200);
    XSync(d, False);
    auto pixla = start_pixla(server, {"-v"});
    Window root, child;
    int x, y, child_x, child_y;
    unsigned mask;
    EXPECT_TRUE(XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &child_x, &child_y, &mask))
        << "the pointer left screen 0";
    send_click(d);
    XSync(d, False);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "200x200 #0a0b0c\n");

    pixla = start_pixla(server, {"-d", server.name() + ".1"});
    XWarpPointer(d, None, RootWindow(d, 1), 0, 0, 0, 0, 100, 100);
    send_click(d);
    XSync(d, False);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#ff0000\n");
    EXPECT_EQ(pixla->status(), 0);
    // The pointer grab is the server's, not a screen's: one pixla per server,
    // whichever screen each is started on.
    for (const auto& [first, second] : {std::pair{".0", ".1"}, {".1", ".0"}}) {
        auto picking = start_pixla(server, {"-d", server.name() + first});
        const auto refused = run_process({::pixla, "-d", server.name() + second}, {}, 500ms);
        EXPECT_EQ(refused.err,
                  "pixla: can't grab on " + server.name() + second + " the mouse: another pixla is already picking\n");
        EXPECT_EQ(refused.status, 1) << "-1 means it was still running after 0.5 s";
        end_with_button3(d, *picking);
    }
}

// An X authority file with one cookie for any display.
std::string authority_for_any_display()
{
    const auto field = [](std::string_view text) {
        return std::string{static_cast<char>(text.size() >> 8), static_cast<char>(text.size() & 0xff)} +
               std::string{text};
    };
    return std::string{"\xff\xff", 2} + field("") + field("") + field("MIT-MAGIC-COOKIE-1") +
           field("0123456789abcdef");
}

// A server that takes only clients with the cookie.
class RefusedConnections : public testing::Test {
protected:
    RefusedConnections()
    {
        const char* saved = std::getenv("XAUTHORITY");
        setenv("XAUTHORITY", cookie.c_str(), 1);
        server = std::make_unique<Xvfb>("320x240x24", std::vector<std::string>{"-auth", cookie});
        saved ? setenv("XAUTHORITY", saved, 1) : unsetenv("XAUTHORITY");
    }

    const ScratchDir dir;
    const std::string cookie = dir.write("cookie", authority_for_any_display());
    std::unique_ptr<Xvfb> server;
};

TEST_F(RefusedConnections, AReasonIsGivenOnlyWhenTheServerCouldNotBeReached)
{
    const auto refused = run_process({pixla, "-d", ":98765"});
    EXPECT_TRUE(refused.err == "pixla: unable to open display :98765: " + std::string{std::strerror(ECONNREFUSED)} + "\n" ||
                refused.err == "pixla: unable to open display :98765: " + std::string{std::strerror(ENOENT)} + "\n")
        << refused.err;
    EXPECT_EQ(refused.status, 1);

    // Reached, then refused: errno says nothing about why.
    const auto no_such_screen = run_process({pixla, "-d", server->name() + ".5"}, with_env({{"XAUTHORITY", cookie}}));
    EXPECT_EQ(no_such_screen.err, "pixla: unable to open display " + server->name() + ".5\n");
    EXPECT_EQ(no_such_screen.status, 1);

    // In a network namespace of its own, as in a sandbox that shares
    // /tmp/.X11-unix alone, the abstract socket is refused and leaves
    // ECONNREFUSED behind, though the path socket then reaches the server.
    // Root needs no user namespace for it, and may make none in a chroot.
    std::vector<std::string> in_own_network{"unshare", "--net", pixla, "-d", server->name()};
    if (geteuid() != 0)
        in_own_network.insert(in_own_network.begin() + 1, "--map-root-user");
    for (int run = 0; run < 5; ++run) {
        const auto no_cookie = run_process(in_own_network, with_env({{"XAUTHORITY", "/dev/null"}}));
        EXPECT_TRUE(no_cookie.err.ends_with("\npixla: unable to open display " + server->name() + "\n"))
            << no_cookie.err;
        EXPECT_EQ(no_cookie.status, 1);
    }
}

TEST_F(RefusedConnections, AnUntrustedClientIsRefusedAtOnceWithoutAGrab)
{
    // What ssh -X gives where ForwardX11Trusted is off.
    const std::string untrusted = (dir.path() / "untrusted").string();
    run_process({"xauth", "-f", untrusted, "generate", server->name(), ".", "untrusted"},
                with_env({{"XAUTHORITY", cookie}}));
    const auto result = run_pixla_without_grab(*server, with_env({{"XAUTHORITY", untrusted}}));
    EXPECT_EQ(result.err, "pixla: can't read the screen of " + server->name() +
                              ": the X server refuses this client access to it, as it does to untrusted ssh -X "
                              "connections; connect with ssh -Y, or set ForwardX11Trusted yes\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 1) << "-1 means it was still running after a second";
}

}  // namespace
