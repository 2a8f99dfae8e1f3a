#include "x11_session.hpp"

#include "color_output.hpp"
#include "visible_text.hpp"
#include "x11_pixel.hpp"
#include "x11_startup.hpp"

#include <X11/cursorfont.h>
#include <err.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

constexpr unsigned int button_events = ButtonPressMask | ButtonReleaseMask;

// Closes the display, then exits: with status 1 and the message when a
// message is given and the code is positive, with status 0 otherwise.
[[noreturn]] void close_and_exit(DisplayPtr display, int code, const char* format, ...)
{
    display.reset();
    if (format && code > 0) {
        va_list args;
        va_start(args, format);
        vwarnx(format, args);
        va_end(args);
        std::exit(1);
    }
    std::exit(0);
}

}  // namespace

void pick_on_x11(const PickRequest& request)
{
    // "(null)" when neither -d nor DISPLAY gave a name.
    const std::string shown_display = request.display_name ? visible(request.display_name) : "(null)";
    int unreachable;
    DisplayPtr display{open_display(request.display_name, *request.connects, &unreachable)};
    if (!display) {
        errno = unreachable;
        if (errno == 0)
            errx(1, "unable to open display %s", shown_display.c_str());
        err(1, "unable to open display %s", shown_display.c_str());
    }
    const Window root = DefaultRootWindow(display.get());

    // A server that grants the grab but never the pixel: refuse before the
    // crosshair promises a pick that can never come.
    switch (screen_access(display.get(), root)) {
    case ScreenAccess::readable: break;
    case ScreenAccess::refused_to_client:
        close_and_exit(std::move(display), 1,
                       "can't read the screen of %s: the X server refuses this client access to it, as it does "
                       "to untrusted ssh -X connections; connect with ssh -Y, or set ForwardX11Trusted yes",
                       shown_display.c_str());
    case ScreenAccess::unreadable: {
        if (request.may_decline)
            return;
        const char* why = is_xwayland(display.get())
                              ? "Xwayland lets no client read it in a Wayland session"
                              : "this X server lets no client read it, as Xwayland does in a Wayland session";
        close_and_exit(std::move(display), 1, "can't read the screen of %s: %s; run pixla in an X11 session",
                       shown_display.c_str(), why);
    }
    }
    // A held hotkey starts pixla again with every key repeat: only the first picks.
    if (!claim_display(display.get()))
        close_and_exit(std::move(display), 1, "can't grab on %s the mouse: another pixla is already picking",
                       shown_display.c_str());

    const Cursor cursor = XCreateFontCursor(display.get(), XC_crosshair);
    const int grab = grab_pointer(display.get(), root, cursor, button_events);
    if (grab != GrabSuccess)
        close_and_exit(std::move(display), 1, "can't grab on %s the mouse: %s", shown_display.c_str(),
                       grab_failure_reason(grab));

    for (;;) {
        // The pointer is grabbed synchronously: let it go on until the next button event.
        XAllowEvents(display.get(), SyncPointer, CurrentTime);
        XEvent event;
        XWindowEvent(display.get(), root, button_events, &event);
        if (event.type != ButtonPress)
            continue;
        const XButtonEvent& press = event.xbutton;
        if (press.button == Button3)
            break;
        if (press.button != Button1)
            continue;
        if (!grab_color(display.get(), press.x, press.y, mode_for_state(press.state), request.show_xy))
            continue;
        if (!end_color_line(request.add_newline))
            close_and_exit(std::move(display), 1, "can't write to standard output: %s", std::strerror(errno));
        if (request.exit_after_grab)
            break;
    }
    close_and_exit(std::move(display), 0, nullptr);
}
