// Shows pixla at work where there is no X display: starts a private Xvfb,
// paints a few named colors, runs pixla there with the given options, clicks
// each color (plain, with Control, with Shift) and shows what pixla printed.
// Options that need no screen (-h, a bad one) or name a display (-d) go to
// pixla itself.
#include "options.hpp"
#include "process.hpp"
#include "xvfb.hpp"

#include <X11/keysym.h>

#include <unistd.h>

#include <err.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Demo {
    const char* color;
    int x;
    std::vector<KeySym> modifiers;
    const char* how;
};

const Demo clicks[] = {
    {"tomato", 100, {}, "button 1"},
    {"steel blue", 300, {XK_Control_L}, "Control + button 1"},
    {"gold", 500, {XK_Shift_L}, "Shift + button 1"},
};
constexpr int click_y = 200;

// What pixla's options ask for, read as pixla reads them.
struct Asked {
    bool keep_picking = false;  // -E
    bool no_demo = false;       // -d, -h or a bad command line
};

Asked read_options(int argc, char* argv[])
{
    Asked asked;
    opterr = 0;
    for (int option; (option = getopt(argc, argv, pixla_options)) != -1;) {
        asked.keep_picking = asked.keep_picking || option == 'E';
        asked.no_demo = asked.no_demo || option == 'd' || option == 'h' || option == '?' ||
                        option == ':';
    }
    optind = 1;
    return asked;
}

// Ends pixla's run and passes on what it wrote to standard error.
int finish(Process& pixla)
{
    pixla.finish();
    std::fflush(stdout);
    std::fputs(pixla.err().c_str(), stderr);
    return pixla.status();
}

// Waits until pixla has printed something and then stayed quiet for a moment
// (its -N leaves out the newline), or has ended.
void wait_for_output(Process& pixla, std::size_t before)
{
    pixla.wait_for_stdout([&](const std::string& out) { return out.size() > before; }, 10s);
    for (std::size_t seen = 0; seen != pixla.out().size();) {
        seen = pixla.out().size();
        pixla.wait_for_stdout([&](const std::string& out) { return out.size() > seen; }, 200ms);
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    const Asked asked = read_options(argc, argv);
    if (asked.no_demo) {
        argv[0] = const_cast<char*>(PIXLA_BINARY);
        execv(PIXLA_BINARY, argv);
        err(127, "can't run %s", PIXLA_BINARY);
    }
    const Xvfb server{"640x400x24"};
    Display* display = server.display();
    std::fprintf(stderr,
                 "No display given (neither DISPLAY, WAYLAND_DISPLAY nor -d): showing pixla at work on a private "
                 "Xvfb (%s).\n",
                 server.name().c_str());
    paint_root(display, "gray20");
    for (const Demo& demo : clicks)
        fill_root(display, demo.x - 60, click_y - 60, 120, 120, alloc_pixel(display, demo.color));

    std::vector<std::string> command{PIXLA_BINARY};
    command.insert(command.end(), argv + 1, argv + argc);
    const ProcessOptions options = with_env({{"DISPLAY", server.name()}});
    std::unique_ptr<Process> pixla;
    int status = 0;
    for (const Demo& demo : clicks) {
        if (!pixla) {
            pixla = std::make_unique<Process>(command, options);
            if (!wait_for_grab(display, *pixla)) {
                // A bad option or -h: pixla has said why it ended.
                status = finish(*pixla);
                std::fputs(pixla->out().c_str(), stdout);
                return status;
            }
        }
        const std::size_t before = pixla->out().size();
        {
            const HeldKeys held{display, demo.modifiers};
            click(display, demo.x, click_y);
            wait_for_output(*pixla, before);
        }
        std::printf("%-20s on %-10s at %dx%d:  %s", demo.how, demo.color, demo.x, click_y,
                    pixla->out().substr(before).c_str());
        if (pixla->out().empty() || pixla->out().back() != '\n')
            std::putchar('\n');
        std::fflush(stdout);
        // Without -E pixla ends after one color: the next click gets a new one.
        if (!asked.keep_picking) {
            status = finish(*pixla);
            pixla.reset();
        }
    }
    if (pixla) {
        click(display, 0, 0, 3);
        status = finish(*pixla);
    }
    return status;
}
