// A private X server for one test program, and the means to paint on it and
// to press its buttons and keys as a user would.
#pragma once

#include "process.hpp"
#include "scratch.hpp"

#include <X11/Xlib.h>

#include <string>
#include <vector>

// An X server of the test's own, stopped by its process id.
class XServer {
public:
    // Starts an X server that writes its display number to the descriptor
    // given with -displayfd once it is ready (Xvfb, Xwayland), with the
    // environment changes, and connects to it.
    explicit XServer(std::vector<std::string> command, const Environment& env = {});
    virtual ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& name() const { return name_; }
    Display* display() const { return display_; }
    // Ends the server at once, as a crash or a shutdown would.
    void stop();

protected:
    XServer() = default;
    // Runs the server, keeping the descriptor open in it; output goes to /dev/null.
    void launch(const std::vector<std::string>& command, const Environment& env, int keep_fd = -1);
    // Connects to display :number; stops the server and throws when that fails.
    void connect(int number);

private:
    pid_t pid_ = -1;
    std::string name_;
    Display* display_ = nullptr;
};

class Xvfb : public XServer {
public:
    // Starts Xvfb on a free display with one screen of the given geometry and
    // depth, plus any further server arguments.
    explicit Xvfb(const std::string& screen = "640x480x24", const std::vector<std::string>& extra = {});
};

// A headless Wayland compositor, weston, that starts Xwayland for the first X
// client: its X display is a rootless Xwayland, as in a Wayland session.
class Weston : public XServer {
public:
    Weston();
    ~Weston() override { stop(); }  // before its runtime folder goes
    // What a Wayland client of this compositor needs in its environment.
    const Environment& wayland_env() const { return wayland_env_; }

private:
    ScratchDir runtime_dir_;
    Environment wayland_env_;
};

// Makes /tmp/.X11-unix where a fresh machine has none: X servers that a
// compositor starts will not make it themselves.
void ensure_x11_socket_folder();

// A pixel for the color ("rgb:12/34/56", "red"), allocated in the default colormap.
unsigned long alloc_pixel(Display* display, const char* color_name);
void fill_root(Display* display, int x, int y, unsigned width, unsigned height, unsigned long pixel);
// Paints the whole root window of the default screen in the color.
void paint_root(Display* display, const char* color_name);

// The server's answer to a pointer grab dated in the future: AlreadyGrabbed
// while another client holds a grab, GrabInvalidTime otherwise. It never
// takes the grab itself.
int probe_pointer_grab(Display* display);
// Waits until the process holds the pointer grab; false if it ends or the time runs out.
bool wait_for_grab(Display* display, Process& process, std::chrono::milliseconds timeout = due_time);

// Moves the pointer to (x, y) and presses and releases the button there.
void click(Display* display, int x, int y, unsigned button = 1);
// Presses and releases the button where the pointer is, without waiting for the server.
void send_click(Display* display, unsigned button = 1);
// Presses and releases a key, switching a lock such as Caps Lock.
void tap_key(Display* display, KeySym key);

// Holds modifier keys down for its lifetime. A program with a synchronous
// grab sees the modifiers when it lets the pointer go on, not when the
// button was pressed, so they stay down until its output has been read.
class HeldKeys {
public:
    HeldKeys(Display* display, std::vector<KeySym> keys);
    ~HeldKeys();
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

private:
    Display* display_;
    std::vector<KeySym> keys_;
};
