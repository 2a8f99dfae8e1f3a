// The whole program on a private X server: known colors painted on the root
// window, buttons and keys pressed through XTEST, output read from a pipe.
// GoogleTest comes before Xlib, whose None and Bool macros break its headers.
#include <gtest/gtest.h>

#include "color_output.hpp"
#include "x11_pixel.hpp"
#include "pixla_binary.hpp"
#include "pixla_session.hpp"
#include "scratch.hpp"

#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

namespace {

// Where the test paints its colors on the 640x480 root window.
constexpr Spot corner{0, 0};        // rgb:0a/0b/0c
constexpr Spot deep_sea{120, 120};  // rgb:12/34/56, "deep sea" in the test's rgb.txt
constexpr Spot black{220, 120};
constexpr Spot white{320, 120};
constexpr Spot pure_red{420, 120};  // rgb:ff/00/00, "red" for showrgb

class ClickLoop : public SharedServer<ClickLoop> {
public:
    static constexpr const char* screen = "640x480x24";
    static void paint(Display* d)
    {
        paint_root(d, "rgb:80/80/80");
        fill_root(d, corner.x, corner.y, 40, 40, alloc_pixel(d, "rgb:0a/0b/0c"));
        fill_root(d, deep_sea.x - 20, deep_sea.y - 20, 40, 40, alloc_pixel(d, "rgb:12/34/56"));
        fill_root(d, black.x - 20, black.y - 20, 40, 40, alloc_pixel(d, "rgb:00/00/00"));
        fill_root(d, white.x - 20, white.y - 20, 40, 40, alloc_pixel(d, "rgb:ff/ff/ff"));
        fill_root(d, pure_red.x - 20, pure_red.y - 20, 40, 40, alloc_pixel(d, "rgb:ff/00/00"));
    }

protected:
    std::unique_ptr<Process> start(std::vector<std::string> args, ProcessOptions options = {})
    {
        return start_pixla(*server, std::move(args), std::move(options));
    }
    void pick(Process& pixla, Spot spot, std::initializer_list<KeySym> keys = {})
    {
        ::pick(display(), pixla, spot, keys);
    }
    void end_with_button3(Process& pixla) { ::end_with_button3(display(), pixla); }
    // Puts a showrgb running the shell script first on pixla's search path.
    ProcessOptions with_showrgb(const std::string& script) const
    {
        dir.write("showrgb", "#!/bin/sh\n" + script, true);
        return with_env({{"PATH", dir.path().string() + ":" + std::getenv("PATH")}});
    }
    Spot pointer() const
    {
        Window root, child;
        Spot at{}, in_child{};
        unsigned mask;
        XQueryPointer(display(), DefaultRootWindow(display()), &root, &child, &at.x, &at.y, &in_child.x, &in_child.y,
                      &mask);
        return at;
    }

    ScratchDir dir;
};

TEST_F(ClickLoop, APlainClickUnderTheCrosshairPrintsHexAndEnds)
{
    // Xlib makes font cursors through libXcursor, which names them after
    // their shape when the cursor theme has an image for it.
    auto pixla = start({}, with_env({{"XCURSOR_THEME", "whiteglass"}}));
    XFixesCursorImage* cursor = XFixesGetCursorImage(display());
    ASSERT_TRUE(cursor);
    EXPECT_STREQ(cursor->name, "crosshair");
    XFree(cursor);
    click(display(), deep_sea.x, deep_sea.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#123456\n");
    EXPECT_EQ(pixla->err(), "");
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(ClickLoop, ModifierKeysChooseTheForm)
{
    const std::string rgb = dir.write("rgb.txt", "! test colors\n18 52 86\t\tdeep sea\n");
    auto pixla = start({"-E", "-r", rgb});
    pick(*pixla, deep_sea, {XK_Control_L});
    pick(*pixla, deep_sea, {XK_Shift_L});
    pick(*pixla, deep_sea, {XK_Control_L, XK_Shift_L});
    pick(*pixla, deep_sea, {XK_Alt_L});
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "18 52 86\ndeep sea\n18 52 86\n#123456\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(ClickLoop, CapsLockAndNumLockDoNotChangeTheForm)
{
    auto pixla = start({"-E"});
    for (KeySym lock : {XK_Caps_Lock, XK_Num_Lock}) {
        tap_key(display(), lock);
        pick(*pixla, deep_sea);
        pick(*pixla, deep_sea, {XK_Control_L});
        tap_key(display(), lock);
    }
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "#123456\n18 52 86\n#123456\n18 52 86\n");
}

TEST_F(ClickLoop, ShiftAsksShowrgbForTheName)
{
    auto pixla = start({"-E"});
    pick(*pixla, pure_red, {XK_Shift_L});
    pick(*pixla, deep_sea, {XK_Shift_L});
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "red\n#123456\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(ClickLoop, WithoutShowrgbOnlyTheShellComplainsAndHexIsPrinted)
{
    auto pixla = start({}, with_env({{"PATH", dir.path().string()}}));
    const HeldKeys shift{display(), {XK_Shift_L}};
    click(display(), pure_red.x, pure_red.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#ff0000\n");
    EXPECT_NE(pixla->err().find("showrgb: not found"), std::string::npos) << pixla->err();
    EXPECT_EQ(pixla->err().find("cant open a process"), std::string::npos) << pixla->err();
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(ClickLoop, ThePointerStaysFrozenWhileALookupRuns)
{
    // A showrgb that says it has started, then waits to be let go.
    const auto started = dir.path() / "started", go = dir.path() / "go";
    auto pixla = start({}, with_showrgb(": > '" + started.string() + "'\n"
                                        "for i in $(seq 1000); do [ -e '" + go.string() + "' ] && break; sleep 0.01; done\n"
                                        "echo '255 0 0 red'\n"));
    {
        const HeldKeys shift{display(), {XK_Shift_L}};
        click(display(), pure_red.x, pure_red.y);
        for (int waited = 0; !std::filesystem::exists(started) && waited < 3000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds{10});
        ASSERT_TRUE(std::filesystem::exists(started)) << pixla->err();
        XTestFakeMotionEvent(display(), -1, white.x, white.y, CurrentTime);
        XSync(display(), False);
        EXPECT_EQ(pointer().x, pure_red.x) << "the pointer moved during the lookup";
        dir.write("go", "");
        ASSERT_TRUE(pixla->finish());
    }
    EXPECT_EQ(pixla->out(), "red\n");
    // The motion was held back, not lost: it happens once pixla has let go.
    EXPECT_EQ(pointer().x, white.x);
}

TEST_F(ClickLoop, EveryShiftClickReadsTheFileAfresh)
{
    const std::string rgb = dir.write("rgb.txt", "\n18 52 86 deep sea\n");
    auto pixla = start({"-E", "-r", rgb});
    pick(*pixla, deep_sea, {XK_Shift_L});
    dir.write("rgb.txt", "\n18 52 86 abyss\n");
    pick(*pixla, deep_sea, {XK_Shift_L});
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "deep sea\nabyss\n");
    EXPECT_EQ(pixla->err(), "pixla: syntax error: " + rgb + ":1\npixla: syntax error: " + rgb + ":1\n");
}

TEST_F(ClickLoop, ShowrgbThatCannotBeStartedIsReportedAndHexPrinted)
{
    // The X connection takes descriptor 3, the last one allowed: no pipe is left for showrgb.
    auto pixla = start_pixla(*server, {}, {}, {"prlimit", "--nofile=4", "--"});
    const HeldKeys shift{display(), {XK_Shift_L}};
    click(display(), pure_red.x, pure_red.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#ff0000\n");
    EXPECT_EQ(pixla->err(), "pixla: cant open a process 'showrgb': Too many open files\n");
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(ClickLoop, AnUnnamedColorIsPrintedInHexAfterTheCoordinates)
{
    const std::string rgb = dir.write("rgb.txt", "1 2 3 other\n\n");
    auto pixla = start({"-v", "-r", rgb});
    const HeldKeys shift{display(), {XK_Shift_L}};
    click(display(), deep_sea.x, deep_sea.y);
    ASSERT_TRUE(pixla->finish());
    // The coordinates are printed once, before the hex form.
    EXPECT_EQ(pixla->out(), "120x120 #123456\n");
    EXPECT_EQ(pixla->err(), "pixla: syntax error: " + rgb + ":2\n");
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(ClickLoop, CoordinatesComeBeforeTheColor)
{
    auto pixla = start({"-v"});
    click(display(), corner.x, corner.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "0x0 #0a0b0c\n");
}

TEST_F(ClickLoop, KeepsPickingUntilButton3AndEachLineArrivesAtOnce)
{
    auto pixla = start({"-E"});
    // pick() waits for each line before the next click: a line held back in
    // the pipe's buffer would fail here.
    pick(*pixla, deep_sea);
    pick(*pixla, black);
    pick(*pixla, white, {XK_Control_L});
    pick(*pixla, black, {XK_Control_L});
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "#123456\n#000000\n255 255 255\n0 0 0\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(ClickLoop, LookupsLeaveNoFileOrProcessBehind)
{
    const std::string rgb = dir.write("rgb.txt", "18 52 86 deep sea\n");
    const auto open_files = [](pid_t pid) {
        const auto folder = std::filesystem::path{"/proc"} / std::to_string(pid) / "fd";
        return std::distance(std::filesystem::directory_iterator{folder}, std::filesystem::directory_iterator{});
    };
    for (const auto& args : {std::vector<std::string>{"-E", "-r", rgb}, {"-E"}}) {
        auto pixla = start(args);
        pick(*pixla, deep_sea);
        const auto before = open_files(pixla->pid());
        for (int i = 0; i < 10; ++i)
            pick(*pixla, deep_sea, {XK_Shift_L});
        EXPECT_EQ(open_files(pixla->pid()), before);
        // showrgb has been waited for: pixla has no child left, not even a zombie.
        std::ifstream children{"/proc/" + std::to_string(pixla->pid()) + "/task/" + std::to_string(pixla->pid()) +
                               "/children"};
        ASSERT_TRUE(children.is_open()) << "cannot see pixla's children";
        const std::string child_list{std::istreambuf_iterator<char>{children}, {}};
        EXPECT_EQ(child_list, "");
        end_with_button3(*pixla);
        EXPECT_EQ(lines_in(pixla->out()), 11u);
    }
}

TEST_F(ClickLoop, GroupedFlagsWithNoNewline)
{
    auto pixla = start({"-vEN"});
    click(display(), deep_sea.x, deep_sea.y);
    EXPECT_TRUE(pixla->wait_for_stdout([](const std::string& out) { return out == "120x120 #123456"; }));
    click(display(), white.x, white.y);
    EXPECT_TRUE(pixla->wait_for_stdout([](const std::string& out) { return out.size() >= 30; }));
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "120x120 #123456320x120 #ffffff");
}

TEST_F(ClickLoop, Button3FirstEndsWithNoOutput)
{
    auto pixla = start({});
    end_with_button3(*pixla);
    EXPECT_EQ(pixla->out(), "");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(ClickLoop, OtherButtonsAndReleasesAreIgnored)
{
    auto pixla = start({});
    for (unsigned button : {2u, 4u, 5u, 6u, 7u, 8u})
        click(display(), black.x, black.y, button);
    click(display(), white.x, white.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#ffffff\n");
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(ClickLoop, TheDisplayOptionWinsOverTheEnvironment)
{
    auto pixla = start({"-d", server->name()}, with_env({{"DISPLAY", ":98765"}}));
    click(display(), black.x, black.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#000000\n");
    EXPECT_EQ(pixla->status(), 0);
}

TEST_F(ClickLoop, AReaderThatGoesAwayEndsPixlaThroughSigpipe)
{
    // pixla -E | head -c1
    int reader[2];
    ASSERT_EQ(pipe(reader), 0);
    ProcessOptions into_head;
    into_head.descriptors = {{1, reader[1]}};
    auto pixla = start({"-E"}, into_head);
    close(reader[1]);
    click(display(), deep_sea.x, deep_sea.y);
    char first;
    ASSERT_EQ(read(reader[0], &first, 1), 1);
    close(reader[0]);
    click(display(), deep_sea.x, deep_sea.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->status(), 128 + SIGPIPE) << pixla->err();
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(ClickLoop, AFailedWriteEndsWithStatus1)
{
    auto pixla = start({}, with_stdout_to("/dev/full"));
    click(display(), deep_sea.x, deep_sea.y);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->err(), "pixla: can't write to standard output: No space left on device\n");
    EXPECT_EQ(pixla->status(), 1);
}

// grab_color alone, not the program: pixla keeps Xlib's default error
// handler, so in pixla a server error on the pixel read ends the program.
// Here the test's own handler lets the read fail and grab_color go on.
TEST_F(ClickLoop, GrabColorAloneReportsAPixelItCannotReadAndPrintsNothing)
{
    const auto old_handler = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    bool printed = true;
    std::string out;
    const std::string err = stderr_of([&] { out = output_of(1, [&] { printed = grab_color(display(), 5000, 7, MODE_HEX, 1); }); });
    XSetErrorHandler(old_handler);
    EXPECT_FALSE(printed);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, std::string{program_invocation_short_name} + ": can't read the pixel at 5000x7\n");
}

}  // namespace
