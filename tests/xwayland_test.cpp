// pixla in a Wayland session: on the rootless Xwayland that a headless
// weston runs for X clients, and on a rootful Xwayland inside it.
#include <gtest/gtest.h>

#include "pixla_binary.hpp"
#include "pixla_session.hpp"
#include "x11_startup.hpp"

namespace {

using namespace std::chrono_literals;

class WaylandSession : public testing::Test {
protected:
    static void SetUpTestSuite() { weston = std::make_unique<Weston>(); }
    static void TearDownTestSuite() { weston.reset(); }

    static inline std::unique_ptr<Weston> weston;
};

TEST_F(WaylandSession, RootlessXwaylandIsRefusedAtOnceWithoutAGrab)
{
    const auto result = run_pixla_without_grab(*weston, {}, 2s);
    EXPECT_EQ(result.err, unreadable_screen_line(weston->name()));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 1) << "-1 means it was still running after 2 s";
}

TEST_F(WaylandSession, TheReadCheckPutsBackTheErrorHandlerItFound)
{
    // pixla keeps Xlib's default handler for every other request, so that a
    // server error later on still ends it with Xlib's message.
    const auto found = XSetErrorHandler(nullptr);
    XSetErrorHandler(found);
    Display* d = weston->display();
    EXPECT_EQ(screen_access(d, DefaultRootWindow(d)), ScreenAccess::unreadable);
    EXPECT_EQ(XSetErrorHandler(found), found);
}

TEST_F(WaylandSession, RootfulXwaylandIsReadAsAnyXServer)
{
    const XServer rootful{{"Xwayland", "-noreset"}, weston->wayland_env()};
    paint_root(rootful.display(), "rgb:12/34/56");
    auto pixla = start_pixla(rootful, {});
    click(rootful.display(), 10, 10);
    ASSERT_TRUE(pixla->finish());
    EXPECT_EQ(pixla->out(), "#123456\n");
    EXPECT_EQ(pixla->err(), "");
    EXPECT_EQ(pixla->status(), 0);
}

}  // namespace
