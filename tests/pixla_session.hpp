// Driving the real pixla on a private X server: start it, click, read its lines.
#pragma once

// GoogleTest comes before Xlib, whose None and Bool macros break its headers.
#include <gtest/gtest.h>

#include "process.hpp"
#include "xvfb.hpp"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// The tests of a suite share one private X server with a screen of the
// suite's geometry (Suite::screen), painted once by Suite::paint(Display*).
template <typename Suite>
class SharedServer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<Xvfb>(Suite::screen);
        Suite::paint(server->display());
    }
    static void TearDownTestSuite() { server.reset(); }
    static Display* display() { return server->display(); }

    static inline std::unique_ptr<Xvfb> server;
};

struct Spot {
    int x;
    int y;
};

// Starts pixla on the server, behind the wrapper command if one is given
// (valgrind, say), and waits until it holds the pointer grab.
std::unique_ptr<Process> start_pixla(const XServer& server, std::vector<std::string> args, ProcessOptions options = {},
                                     const std::vector<std::string>& wrapper = {},
                                     std::chrono::milliseconds timeout = due_time);

// Runs pixla on the server until it ends, expecting that it ends within the
// time and never holds the pointer meanwhile; a run that outlives the time
// has status -1.
ProcessResult run_pixla_without_grab(const XServer& server, const ProcessOptions& options = {},
                                     std::chrono::milliseconds within = std::chrono::seconds{1});

// The line pixla ends with on an X server that lets no client read its
// screen: it names Xwayland where the server says it is one.
std::string unreadable_screen_line(const std::string& display_name);

// Clicks button 1 with the keys held and waits for the next line of output.
// Throws, ending the test, when none comes: later clicks would wait in vain.
void pick(Display* display, Process& pixla, Spot spot, std::initializer_list<KeySym> keys = {},
          std::chrono::milliseconds timeout = due_time);

// Clicks button 3 and expects pixla to end with status 0.
void end_with_button3(Display* display, Process& pixla, std::chrono::milliseconds timeout = due_time);
