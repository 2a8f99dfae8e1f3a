#include <gtest/gtest.h>

#include "pixla_session.hpp"

#include "pixla_binary.hpp"

#include <stdexcept>

std::unique_ptr<Process> start_pixla(const XServer& server, std::vector<std::string> args, ProcessOptions options,
                                     const std::vector<std::string>& wrapper, std::chrono::milliseconds timeout)
{
    args.insert(args.begin(), pixla);
    args.insert(args.begin(), wrapper.begin(), wrapper.end());
    if (!options.env.contains("DISPLAY"))
        options.env["DISPLAY"] = server.name();
    auto process = std::make_unique<Process>(args, options);
    if (!wait_for_grab(server.display(), *process, timeout)) {
        process->finish(std::chrono::seconds{1});
        ADD_FAILURE() << "pixla did not grab the pointer; it wrote: " << process->err();
    }
    return process;
}

ProcessResult run_pixla_without_grab(const XServer& server, const ProcessOptions& options,
                                     std::chrono::milliseconds within)
{
    ProcessOptions with_display = options;
    if (!with_display.env.contains("DISPLAY"))
        with_display.env["DISPLAY"] = server.name();
    Process process{{pixla}, with_display};
    for (const auto give_up = std::chrono::steady_clock::now() + within;
         !process.has_exited() && std::chrono::steady_clock::now() < give_up;)
        EXPECT_NE(probe_pointer_grab(server.display()), AlreadyGrabbed) << "pixla grabbed the pointer";
    const bool ended = process.finish(std::chrono::milliseconds{100});
    return {process.out(), process.err(), ended ? process.status() : -1};
}

std::string unreadable_screen_line(const std::string& display_name)
{
    Display* display = XOpenDisplay(display_name.c_str());
    if (!display)
        throw std::runtime_error("cannot connect to " + display_name);
    int opcode, event, error;
    const bool says_xwayland = XQueryExtension(display, "XWAYLAND", &opcode, &event, &error);
    XCloseDisplay(display);
    return "pixla: can't read the screen of " + display_name + ": " +
           (says_xwayland ? "Xwayland lets no client read it in a Wayland session"
                          : "this X server lets no client read it, as Xwayland does in a Wayland session") +
           "; run pixla in an X11 session\n";
}

void pick(Display* display, Process& pixla, Spot spot, std::initializer_list<KeySym> keys,
          std::chrono::milliseconds timeout)
{
    const HeldKeys held{display, keys};
    const auto lines = lines_in(pixla.out());
    click(display, spot.x, spot.y);
    if (!pixla.wait_for_stdout([&](const std::string& out) { return lines_in(out) > lines; }, timeout))
        throw std::runtime_error("no line for a click at " + std::to_string(spot.x) + "x" + std::to_string(spot.y) +
                                 "; so far: " + pixla.out() + pixla.err());
}

void end_with_button3(Display* display, Process& pixla, std::chrono::milliseconds timeout)
{
    click(display, 1, 1, 3);
    ASSERT_TRUE(pixla.finish(timeout)) << "pixla did not end after button 3";
    EXPECT_EQ(pixla.status(), 0) << pixla.err();
}
