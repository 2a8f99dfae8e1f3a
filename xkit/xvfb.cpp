#include "xvfb.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace {

// Reads the display number that Xvfb writes to its -displayfd once it is ready.
int read_display_number(int fd)
{
    int number = 0;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        char c;
        if (poll(&ready, 1, 20000) <= 0 || read(fd, &c, 1) != 1)
            throw std::runtime_error("the X server did not start");
        if (c == '\n')
            return number;
        number = number * 10 + (c - '0');
    }
}

Time server_time(Display* display)
{
    const Window root = DefaultRootWindow(display);
    const Window scratch = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, scratch, PropertyChangeMask);
    const Atom property = XInternAtom(display, "PIXLA_TEST_TIME", False);
    XChangeProperty(display, scratch, property, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    XWindowEvent(display, scratch, PropertyChangeMask, &event);
    XDestroyWindow(display, scratch);
    return event.xproperty.time;
}

}  // namespace

void XServer::launch(const std::vector<std::string>& command, const Environment& env, int keep_fd)
{
    pid_ = start_server(command, env, "/dev/null", keep_fd);
}

void XServer::connect(int number)
{
    name_ = ':';
    name_ += std::to_string(number);  // not ":" + ...: g++ 12 warns of a false overlap at -O2
    display_ = XOpenDisplay(name_.c_str());
    if (!display_) {
        stop();
        throw std::runtime_error("cannot connect to the X server " + name_);
    }
}

XServer::XServer(std::vector<std::string> command, const Environment& env)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    command.insert(command.begin() + 1, {"-displayfd", std::to_string(ready[1])});
    launch(command, env, ready[1]);
    close(ready[1]);
    int number;
    try {
        number = read_display_number(ready[0]);
    } catch (...) {
        close(ready[0]);
        stop();
        throw;
    }
    close(ready[0]);
    connect(number);
}

Xvfb::Xvfb(const std::string& screen, const std::vector<std::string>& extra)
    : XServer{[&] {
          std::vector<std::string> command{"Xvfb", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"};
          command.insert(command.end(), extra.begin(), extra.end());
          return command;
      }()}
{
}

Weston::Weston()
{
    // The scratch folder is private (0700), as a runtime folder must be.
    wayland_env_ = {{"XDG_RUNTIME_DIR", runtime_dir_.path().string()}, {"WAYLAND_DISPLAY", "pixla-test"}};
    ensure_x11_socket_folder();
    // weston 10 names its backends by file, later ones by name.
    const auto help = run_process({"weston", "--help"});
    const std::string backend =
        help.out.find("headless-backend.so") != std::string::npos ? "headless-backend.so" : "headless";
    const auto log = runtime_dir_.path() / "weston.log";
    Environment compositor_env = wayland_env_;
    compositor_env["WAYLAND_DISPLAY"] = std::nullopt;  // it is the compositor, not a client
    launch({"weston", "--backend=" + backend, "--xwayland", "--socket=pixla-test", "--width=320", "--height=240",
            "--idle-time=0", "--log=" + log.string()},
           compositor_env);
    // Its log says which X display it listens on.
    const std::string listening = "xserver listening on display :";
    std::string text;
    for (int waited = 0; waited < 20000; waited += 10) {
        std::ifstream in{log};
        text.assign(std::istreambuf_iterator<char>{in}, {});
        if (const auto at = text.find(listening); at != std::string::npos && text.find('\n', at) != std::string::npos) {
            connect(std::stoi(text.substr(at + listening.size())));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{10});
    }
    stop();
    throw std::runtime_error("weston did not start Xwayland; it logged:\n" + text);
}

XServer::~XServer() { stop(); }

void XServer::stop()
{
    // Our own connection goes first: Xlib would end this process on a dead one.
    if (display_)
        XCloseDisplay(display_);
    display_ = nullptr;
    stop_server(pid_);
    pid_ = -1;
}

void ensure_x11_socket_folder()
{
    if (mkdir("/tmp/.X11-unix", 01777) == 0)
        chmod("/tmp/.X11-unix", 01777);
}

unsigned long alloc_pixel(Display* display, const char* color_name)
{
    const Colormap colormap = DefaultColormap(display, DefaultScreen(display));
    XColor color;
    if (!XParseColor(display, colormap, color_name, &color) || !XAllocColor(display, colormap, &color))
        throw std::runtime_error(std::string{"cannot allocate "} + color_name);
    return color.pixel;
}

void fill_root(Display* display, int x, int y, unsigned width, unsigned height, unsigned long pixel)
{
    const Window root = DefaultRootWindow(display);
    const GC gc = XCreateGC(display, root, 0, nullptr);
    XSetForeground(display, gc, pixel);
    XFillRectangle(display, root, gc, x, y, width, height);
    XFreeGC(display, gc);
    XSync(display, False);
}

void paint_root(Display* display, const char* color_name)
{
    const int screen = DefaultScreen(display);
    fill_root(display, 0, 0, static_cast<unsigned>(DisplayWidth(display, screen)),
              static_cast<unsigned>(DisplayHeight(display, screen)), alloc_pixel(display, color_name));
}

int probe_pointer_grab(Display* display)
{
    const Time in_ten_minutes = server_time(display) + 600000;
    const int status = XGrabPointer(display, DefaultRootWindow(display), False, ButtonPressMask, GrabModeAsync,
                                    GrabModeAsync, None, None, in_ten_minutes);
    if (status == GrabSuccess)
        XUngrabPointer(display, CurrentTime);
    return status;
}

bool wait_for_grab(Display* display, Process& process, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (probe_pointer_grab(display) != AlreadyGrabbed) {
        if (process.has_exited() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds{5});
    }
    return true;
}

void send_click(Display* display, unsigned button)
{
    // While a synchronous grab keeps the core pointer frozen, the server
    // drops a queued release (and so the next press) when it is replayed
    // after the XTEST device has already pressed the button again. Holding
    // the server keeps the grabbing client from letting events go on between
    // our press and release, so that no click is lost however fast they come.
    XGrabServer(display);
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XUngrabServer(display);
}

void click(Display* display, int x, int y, unsigned button)
{
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    send_click(display, button);
    XSync(display, False);
}

void tap_key(Display* display, KeySym key)
{
    const KeyCode code = XKeysymToKeycode(display, key);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
}

HeldKeys::HeldKeys(Display* display, std::vector<KeySym> keys) : display_{display}, keys_{std::move(keys)}
{
    for (KeySym key : keys_)
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, key), True, CurrentTime);
    XSync(display_, False);
}

HeldKeys::~HeldKeys()
{
    for (KeySym key : keys_)
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, key), False, CurrentTime);
    XSync(display_, False);
}
