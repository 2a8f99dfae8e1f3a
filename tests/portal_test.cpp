// pixla through the desktop portal: the real xdg-desktop-portal frontend on
// a private bus, behind the test kit's scripted backend, for a Wayland
// session whose compositor (a headless weston) has no wlroots capture.
#include <gtest/gtest.h>

#include "pixla_binary.hpp"
#include "pixla_session.hpp"
#include "portal_bus.hpp"
#include "xvfb.hpp"

#include <signal.h>


namespace {

using namespace std::chrono_literals;

class ScriptedPortal : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        weston = std::make_unique<Weston>();
        portal = std::make_unique<PortalBus>();
    }
    static void TearDownTestSuite()
    {
        portal.reset();
        weston.reset();
    }

    // A client of the Wayland session with the portal's bus.
    static Environment session_env(const std::string& bus_address)
    {
        Environment env = weston->wayland_env();
        env["DISPLAY"] = std::nullopt;
        env["DBUS_SESSION_BUS_ADDRESS"] = bus_address;
        return env;
    }
    // pixla with the options, started after the backend got the script.
    static std::unique_ptr<Process> start(const std::string& script, std::vector<std::string> args = {})
    {
        portal->script(script);
        args.insert(args.begin(), pixla);
        return std::make_unique<Process>(args, with_env(session_env(portal->address())));
    }
    // The same, run to its end.
    static ProcessResult pick(const std::string& script, std::vector<std::string> args = {})
    {
        const auto process = start(script, std::move(args));
        const bool ended = process->finish(5s);
        return {process->out(), process->err(), ended ? process->status() : -1};
    }
    // The token of pixla's n-th request, as the backend names it.
    static std::string token(const Process& pixla, int request)
    {
        return "pixla" + std::to_string(pixla.pid()) + "_" + std::to_string(request);
    }
    static inline std::unique_ptr<Weston> weston;
    static inline std::unique_ptr<PortalBus> portal;
};

TEST_F(ScriptedPortal, ColorsArePrintedInHexRoundedUntilTheUserCancels)
{
    // 0.5 and 0.25 of 255 round to 128 and 64, where truncation gives 127 and 63.
    auto one = pick("color 0.5 0.25 1");
    EXPECT_EQ(one.out, "#8040ff\n");
    EXPECT_EQ(one.err, "");
    EXPECT_EQ(one.status, 0);

    // A fresh request, with a token of its own, for every color.
    auto until_cancel = start("color 1 0 0\ncolor 0 0.0039 1\ncancel", {"-E", "-N"});
    for (int request = 1; request <= 3; ++request)
        EXPECT_TRUE(portal->backend_says("PickColor " + token(*until_cancel, request)));
    ASSERT_TRUE(until_cancel->finish());
    EXPECT_EQ(until_cancel->out(), "#ff0000#0001ff");
    EXPECT_EQ(until_cancel->status(), 0);

    auto cancelled = pick("cancel");
    EXPECT_EQ(cancelled.out, "");
    EXPECT_EQ(cancelled.err, "");
    EXPECT_EQ(cancelled.status, 0);
}

TEST_F(ScriptedPortal, AFailureOrAnAnswerWithoutAColorIsOneLineAndStatus1)
{
    const auto failure = pick("failure");
    EXPECT_EQ(failure.err, "pixla: can't pick on pixla-test: the desktop's color picker failed\n");
    EXPECT_EQ(failure.out, "");
    EXPECT_EQ(failure.status, 1);

    // GNOME 43 answers so after about 25 s without a click.
    const auto gave_up = start("failure after 21");
    ASSERT_TRUE(gave_up->finish(30s));
    EXPECT_EQ(gave_up->err(), "pixla: can't pick on pixla-test: the desktop's color picker gave up waiting for a click\n");
    EXPECT_EQ(gave_up->status(), 1);

    const auto no_color = pick("no-color");
    EXPECT_EQ(no_color.err, "pixla: can't pick on pixla-test: the desktop's color picker answered without a color\n");
    EXPECT_EQ(no_color.status, 1);
}

TEST_F(ScriptedPortal, CoordinatesAreRefusedBeforeAnyPickIsAsked)
{
    const auto with_v = start("color 1 1 1", {"-v"});
    ASSERT_TRUE(with_v->finish());
    EXPECT_EQ(with_v->err(), "pixla: can't print coordinates on pixla-test: this session's color picker gives none\n");
    EXPECT_EQ(with_v->out(), "");
    EXPECT_EQ(with_v->status(), 1);
    EXPECT_FALSE(portal->backend_says("PickColor " + token(*with_v, 1), 200ms)) << "a pick was asked for";
}

TEST_F(ScriptedPortal, EndedWhileAskingItClosesTheRequest)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        auto asking = start("never");
        ASSERT_TRUE(portal->backend_says("PickColor " + token(*asking, 1)));
        kill(asking->pid(), signal);
        ASSERT_TRUE(asking->finish());
        EXPECT_EQ(asking->status(), 128 + signal);
        EXPECT_TRUE(portal->client_closed(token(*asking, 1))) << "the desktop was left waiting";
    }
}

TEST_F(ScriptedPortal, ASessionWithNeitherCaptureNorAPickerIsRefusedAtOnce)
{
    const PortalBus without_portal{PortalBus::Portal::none};
    const auto refused = run_process({pixla}, with_env(session_env(without_portal.address())), 2s);
    EXPECT_EQ(refused.err, "pixla: can't read the screen of pixla-test: the session offers neither screen capture "
                           "(the compositor lacks zwlr_layer_shell_v1, zwlr_screencopy_manager_v1, wl_seat) nor a "
                           "color picker (no desktop portal on the session bus)\n");
    EXPECT_EQ(refused.status, 1) << "-1 means it was still running after 2 s";
}

}  // namespace
