// pixla: grabs the pointer on the root window and prints the color of each
// pixel clicked with button 1, until button 3 (or after one color).
#include "color_output.hpp"
#include "options.hpp"
#include "startup.hpp"
#include "visible_text.hpp"

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <err.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

const char* prog_name;
const char* const version = PIXLA_VERSION;

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

constexpr unsigned int button_events = ButtonPressMask | ButtonReleaseMask;

void show_usage()
{
    std::printf("pixla %s - grabs color from the screen & dumps it to stdout.\n"
                "\n"
                "Usage: %s [-d display] [-r filename] [-vENh]\n"
                "    -d host        display to use\n"
                "    -v             show also XY coordinates\n"
                "    -E             don't exit after grab\n"
                "    -N             don't put newline at the end\n"
                "    -r filename    use alternate rgb.txt file\n"
                "    -h             this help\n",
                version, prog_name);
}

// A display name as the messages show it; "(null)" when neither -d nor DISPLAY gave one.
std::string shown_name(const char* display_name) { return display_name ? visible(display_name) : "(null)"; }

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

// Whether all that was printed has reached standard output. A failed write
// (a full disk, a closed descriptor, a hung-up terminal) leaves errno set for
// the message. On a line-buffered stream the write fails inside printf or
// putchar, which only set the error flag, and fflush then has nothing to do.
bool output_written() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

// getopt's own complaint, in its words, with the program's name and the
// option character escaped.
void complain_about_option(const char* invoked_as, const char* complaint)
{
    std::fprintf(stderr, "%s: %s -- '%s'\n", visible(invoked_as).c_str(), complaint,
                 visible(std::string(1, static_cast<char>(optopt))).c_str());
}

[[noreturn]] void usage_and_exit(int status)
{
    show_usage();
    if (!output_written())
        err(1, "can't write to standard output");
    std::exit(status);
}

// Launchers sometimes start programs with a standard descriptor closed. Each
// one closed is opened on /dev/null, read-only so that writes to it still
// fail, before the X connection could take its number.
void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDONLY) != fd)
            err(1, "can't open /dev/null");
}

}  // namespace

int main(int argc, char* argv[])
{
    open_standard_descriptors();
    // err() and warn() begin every diagnostic with this name.
    std::string shown_short_name = visible(program_invocation_short_name);
    program_invocation_short_name = shown_short_name.data();
    const char* display_name = std::getenv("DISPLAY");
    prog_name = argv[0];
    bool exit_after_grab = true;
    bool show_xy = false;
    bool add_newline = true;

    for (int option; (option = getopt(argc, argv, pixla_options)) != -1;) {
        switch (option) {
        case 'd': display_name = optarg; break;
        case 'v': show_xy = true; break;
        case 'E': exit_after_grab = false; break;
        case 'N': add_newline = false; break;
        case 'r': rgb_file = optarg; break;
        case 'h': usage_and_exit(0);
        case ':': complain_about_option(argv[0], "option requires an argument"); usage_and_exit(1);
        default: complain_about_option(argv[0], "invalid option"); usage_and_exit(1);
        }
    }

    const std::string shown_display = shown_name(display_name);
    int unreachable;
    DisplayPtr display{open_display(display_name, &unreachable)};
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
        if (!grab_color(display.get(), press.x, press.y, mode_for_state(press.state), show_xy))
            continue;
        // The newline leaves with its color, so that readers of lines get each at once.
        if (add_newline)
            std::putchar('\n');
        if (!output_written())
            close_and_exit(std::move(display), 1, "can't write to standard output: %s", std::strerror(errno));
        if (exit_after_grab)
            break;
    }
    close_and_exit(std::move(display), 0, nullptr);
}
