// pixla through the desktop portal against the floor of a portal client:
// its start until its PickColor reaches the desktop, with a warm portal (the
// real frontend and the scripted backend, on a private bus) in a Wayland
// session whose compositor, weston, has no wlroots capture.
#include "portal_bus.hpp"
#include "table.hpp"
#include "xvfb.hpp"

namespace {

using namespace std::chrono_literals;

const std::string portal_floor = PORTAL_FLOOR;

// From the start until the backend has the request named by the token.
double until_asked(PortalBus& portal, const std::vector<std::string>& command, const Environment& env,
                   const std::string& token_prefix)
{
    const auto begin = Clock::now();
    Process process{command, with_env(env)};
    if (!portal.backend_says("PickColor " + token_prefix + std::to_string(process.pid()) +
                                 (command.front() == portal_floor ? "" : "_1"),
                             30s))
        fail(command.front() + " never asked for a color: " + process.err());
    const double elapsed = milliseconds_since(begin);
    if (!process.finish(30s) || process.status() != 0)
        fail(command.front() + " did not end cleanly: " + process.err());
    return elapsed;
}

}  // namespace

void print_portal_rows(const std::string& pixla)
{
    const Weston weston;
    PortalBus portal;
    portal.script("cancel");
    Environment env = weston.wayland_env();
    env["DISPLAY"] = std::nullopt;
    env["DBUS_SESSION_BUS_ADDRESS"] = portal.address();
    // Warm: the frontend has met its backend once.
    until_asked(portal, {portal_floor}, env, "floor");
    print_row("portal start until PickColor asked",
              measure(41, [&] { return until_asked(portal, {pixla}, env, "pixla"); },
                      [&] { return until_asked(portal, {portal_floor}, env, "floor"); }),
              "ms", "<= 1.2");
}
