// pixla: takes the pointer with a crosshair cursor and prints the color of
// each pixel clicked with button 1, until button 3 (or after one color), in
// an X session or in a Wayland one.
#include "color_output.hpp"
#include "connect_watch.hpp"
#include "options.hpp"
#include "pick_request.hpp"
#include "session_module.hpp"
#include "visible_text.hpp"
#include "wayland_display.hpp"

#include <err.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

const char* prog_name;
const char* const version = PIXLA_VERSION;

namespace {

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

[[noreturn]] void usage_and_exit(int status)
{
    show_usage();
    if (!output_written())
        err(1, "can't write to standard output");
    std::exit(status);
}

// getopt's own complaint, in its words, with the program's name and the
// option character escaped.
void complain_about_option(const char* invoked_as, const char* complaint)
{
    std::fprintf(stderr, "%s: %s -- '%s'\n", visible(invoked_as).c_str(), complaint,
                 visible(std::string(1, static_cast<char>(optopt))).c_str());
}

// Launchers sometimes start programs with a standard descriptor closed. Each
// one closed is opened on /dev/null, read-only so that writes to it still
// fail, before a connection to a display could take its number.
void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDONLY) != fd)
            err(1, "can't open /dev/null");
}

bool is_set(const char* value) { return value && *value; }

// Picks on the Wayland display: through wlroots' screen capture where the
// compositor has it, else through the desktop portal. Never returns.
[[noreturn]] void pick_on_wayland(PickRequest request)
{
    const std::string shown_display = visible(request.display_name);
    // A held hotkey starts pixla again with every key repeat: only the first picks.
    std::optional<UniqueFd> claim{std::in_place};
    if (const auto socket = wayland_socket_path(request.display_name))
        claim = claim_wayland_display(*socket);
    if (!claim)
        errx(1, "can't grab on %s the mouse: another pixla is already picking", shown_display.c_str());

    // Where the compositor has no screen capture that pixla speaks (GNOME,
    // KDE), the desktop's own picker through the portal.
    request.may_decline = true;
    char no_capture[256] = "";
    load_session("pixla-wlroots.so")(&request, no_capture, sizeof no_capture);
    char no_picker[256] = "";
    load_session("pixla-portal.so")(&request, no_picker, sizeof no_picker);
    errx(1, "can't read the screen of %s: the session offers neither screen capture (%s) nor a color picker (%s)",
         shown_display.c_str(), no_capture, no_picker);
}

}  // namespace

int main(int argc, char* argv[])
{
    open_standard_descriptors();
    // err() and warn() begin every diagnostic with this name.
    std::string shown_short_name = visible(program_invocation_short_name);
    program_invocation_short_name = shown_short_name.data();
    PickRequest request{.display_name = std::getenv("DISPLAY"),
                        .exit_after_grab = true,
                        .show_xy = false,
                        .add_newline = true,
                        .rgb_file = nullptr,
                        .may_decline = false,
                        .connects = &connect_watch};
    prog_name = argv[0];
    bool display_given = false;

    for (int option; (option = getopt(argc, argv, pixla_options)) != -1;) {
        switch (option) {
        case 'd':
            request.display_name = optarg;
            display_given = true;
            break;
        case 'v': request.show_xy = true; break;
        case 'E': request.exit_after_grab = false; break;
        case 'N': request.add_newline = false; break;
        case 'r': request.rgb_file = optarg; break;
        case 'h': usage_and_exit(0);
        case ':': complain_about_option(argv[0], "option requires an argument"); usage_and_exit(1);
        default: complain_about_option(argv[0], "invalid option"); usage_and_exit(1);
        }
    }

    // X wherever it works as it always has: -d names an X display, and so
    // does DISPLAY. Only a Wayland session's X server that lets no client
    // read the screen sends pixla on to the compositor.
    const char* wayland_display = std::getenv("WAYLAND_DISPLAY");
    const bool in_wayland = is_set(wayland_display) && !display_given;
    if (!in_wayland || is_set(request.display_name)) {
        request.may_decline = in_wayland;
        char unreadable[256];
        load_session("pixla-x11.so")(&request, unreadable, sizeof unreadable);
    }
    request.display_name = wayland_display;
    pick_on_wayland(request);
}
