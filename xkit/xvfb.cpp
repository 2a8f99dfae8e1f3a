#include "xvfb.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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
            throw std::runtime_error("Xvfb did not start");
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

Xvfb::Xvfb(const std::string& screen, const std::vector<std::string>& extra)
{
    int ready[2];
    if (pipe(ready) != 0)
        throw std::runtime_error("pipe");
    fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    std::vector<std::string> args{"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", screen,
                                  "-nolisten", "tcp", "-noreset"};
    args.insert(args.end(), extra.begin(), extra.end());
    const std::vector<char*> argv = argv_of(args);

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // A test that crashes or is killed must not leave its server behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(ready[1]);
    if (pid_ < 0) {
        close(ready[0]);
        throw std::runtime_error("cannot run Xvfb");
    }
    try {
        char name[16];
        std::snprintf(name, sizeof name, ":%d", read_display_number(ready[0]));
        name_ = name;
    } catch (...) {
        close(ready[0]);
        stop();
        throw;
    }
    close(ready[0]);
    display_ = XOpenDisplay(name_.c_str());
    if (!display_) {
        stop();
        throw std::runtime_error("cannot connect to Xvfb " + name_);
    }
}

Xvfb::~Xvfb() { stop(); }

void Xvfb::stop()
{
    // Our own connection goes first: Xlib would end this process on a dead one.
    if (display_)
        XCloseDisplay(display_);
    display_ = nullptr;
    if (pid_ <= 0)
        return;
    // A server that does not end within seconds of SIGTERM is killed, so
    // that no test waits for it for ever.
    kill(pid_, SIGTERM);
    for (int waited = 0; waitpid(pid_, nullptr, WNOHANG) == 0; waited += 10) {
        if (waited == 5000) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{10});
    }
    pid_ = -1;
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
