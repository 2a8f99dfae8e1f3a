// pixla started as key bindings, window managers and panels start it: while
// the launcher still holds the pointer, with standard descriptors closed, on
// a terminal that has hung up, with the button still down.
#include <gtest/gtest.h>

#include "pixla_binary.hpp"
#include "pixla_session.hpp"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <thread>

namespace {

constexpr Spot deep_sea{100, 100};  // rgb:12/34/56, the whole screen but one spot
constexpr Spot white{200, 100};

class FromALauncher : public SharedServer<FromALauncher> {
public:
    static constexpr const char* screen = "320x200x24";
    static void paint(Display* d)
    {
        paint_root(d, "rgb:12/34/56");
        fill_root(d, white.x - 20, white.y - 20, 40, 40, alloc_pixel(d, "rgb:ff/ff/ff"));
    }

protected:
    // The two ways a launcher keeps pixla from the pointer, each with the
    // reason pixla gives when it lasts.
    struct Holder {
        std::function<int()> hold;
        std::string reason;
    };
    std::vector<Holder> holders() const
    {
        Display* d = display();
        const Window root = DefaultRootWindow(d);
        return {
            {[=] { return XGrabPointer(d, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                                       CurrentTime); },
             "another client has grabbed the pointer"},
            // A keyboard grab that freezes the pointer.
            {[=] { return XGrabKeyboard(d, root, False, GrabModeSync, GrabModeAsync, CurrentTime); },
             "the pointer is frozen by another client's grab"},
        };
    }
    void let_go() const
    {
        XUngrabPointer(display(), CurrentTime);
        XUngrabKeyboard(display(), CurrentTime);
        XSync(display(), False);
    }
};

TEST_F(FromALauncher, TakesTheGrabWhenTheLauncherLetsGo)
{
    for (const auto& holder : holders()) {
        ASSERT_EQ(holder.hold(), GrabSuccess);
        XSync(display(), False);
        Process pixla{{::pixla}, with_env({{"DISPLAY", server->name()}})};
        std::this_thread::sleep_for(std::chrono::milliseconds{400});
        let_go();
        // The probe comes from the holder's own connection, so it sees pixla's grab only.
        ASSERT_TRUE(wait_for_grab(display(), pixla)) << holder.reason << ": " << pixla.err();
        click(display(), white.x, white.y);
        ASSERT_TRUE(pixla.finish());
        EXPECT_EQ(pixla.out(), "#ffffff\n");
        EXPECT_EQ(pixla.err(), "");
        EXPECT_EQ(pixla.status(), 0);
    }
}

TEST_F(FromALauncher, AGrabHeldForGoodIsRefusedWithItsReasonAfterASecond)
{
    for (const auto& holder : holders()) {
        ASSERT_EQ(holder.hold(), GrabSuccess);
        XSync(display(), False);
        const auto result = run_process({::pixla, "-d", server->name()}, {}, std::chrono::seconds{5});
        let_go();
        EXPECT_EQ(result.err, "pixla: can't grab on " + server->name() + " the mouse: " + holder.reason + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, 1) << "-1 means pixla was still running after 5 s";
    }
}

TEST_F(FromALauncher, ClosedStandardDescriptorsNeverCarryTheXConnection)
{
    // With standard output closed, the color cannot be written: an error, not a hang.
    ProcessOptions no_stdout;
    no_stdout.descriptors = {{1, -1}};
    auto pixla = start_pixla(*server, {}, no_stdout);
    click(display(), white.x, white.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->err(), "pixla: can't write to standard output: Bad file descriptor\n");
    EXPECT_EQ(pixla->status(), 1);

    // With standard error closed, only the diagnostics are lost.
    ProcessOptions no_stderr;
    no_stderr.descriptors = {{2, -1}};
    pixla = start_pixla(*server, {"-r", "/nonexistent/rgb.txt"}, no_stderr);
    {
        const HeldKeys shift{display(), {XK_Shift_L}};
        click(display(), deep_sea.x, deep_sea.y);
        ASSERT_TRUE(pixla->finish());
    }
    EXPECT_EQ(pixla->out(), "#123456\n");
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(FromALauncher, AHungUpTerminalIsAWriteError)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    close(master);
    ProcessOptions hung_up;
    hung_up.descriptors = {{1, terminal}};

    const auto help = run_process({::pixla, "-h"}, hung_up);
    EXPECT_EQ(help.err, "pixla: can't write to standard output: Input/output error\n");
    EXPECT_EQ(help.status, 1);

    auto pixla = start_pixla(*server, {}, hung_up);
    click(display(), white.x, white.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->err(), "pixla: can't write to standard output: Input/output error\n");
    EXPECT_EQ(pixla->status(), 1);
    close(terminal);
}

TEST_F(FromALauncher, AButtonDownAtStartPicksNothingOnItsRelease)
{
    // A panel starts pixla on the press of button 1; its release reaches pixla.
    XTestFakeMotionEvent(display(), -1, deep_sea.x, deep_sea.y, CurrentTime);
    XTestFakeButtonEvent(display(), 1, True, CurrentTime);
    XSync(display(), False);
    auto pixla = start_pixla(*server, {});
    XTestFakeButtonEvent(display(), 1, False, CurrentTime);
    XSync(display(), False);
    click(display(), white.x, white.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#ffffff\n");
    EXPECT_EQ(pixla->status(), 0);
}

}  // namespace
