// Input for a headless GNOME, through mutter's RemoteDesktop interface: one
// session, held for as long as this runs (mutter ends it with the D-Bus
// connection), and the commands read from standard input, a line each:
//
//   click X Y BUTTON    moves the pointer to (X, Y) and clicks (1 or 3)
//   key KEYSYM          presses and releases the key (0xff1b is Escape)
//
// It says "ready" once the session has started and "done" after each
// command, when mutter has taken it.
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr char mutter[] = "org.gnome.Mutter.RemoteDesktop";
constexpr char session_interface[] = "org.gnome.Mutter.RemoteDesktop.Session";
// The kernel's codes for the buttons.
constexpr int btn_left = 0x110, btn_right = 0x111;

sd_bus* bus = nullptr;
std::string session;

[[noreturn]] void fail(const std::string& what, const sd_bus_error& error)
{
    std::fprintf(stderr, "pixla_remote_desktop: %s: %s\n", what.c_str(), error.message ? error.message : "failed");
    std::exit(1);
}

// Calls a method of the session and waits for mutter's answer.
template <typename... Arguments>
void call(const char* method, const char* types, Arguments... arguments)
{
    sd_bus_error error{};  // as SD_BUS_ERROR_NULL, a C compound literal, makes it
    if (sd_bus_call_method(bus, mutter, session.c_str(), session_interface, method, &error, nullptr, types,
                           arguments...) < 0)
        fail(method, error);
}

void click(double x, double y, int button)
{
    // Relative motion is all that needs no screen cast: first to the corner.
    call("NotifyPointerMotionRelative", "dd", -10000.0, -10000.0);
    call("NotifyPointerMotionRelative", "dd", x, y);
    // GNOME's picker gives the color that its magnifier last drew, a frame
    // or so after the motion: the button waits for it.
    std::this_thread::sleep_for(std::chrono::milliseconds{200});
    const int code = button == 3 ? btn_right : btn_left;
    call("NotifyPointerButton", "ib", code, 1);
    call("NotifyPointerButton", "ib", code, 0);
}

}  // namespace

int main()
{
    sd_bus_error error{};  // as SD_BUS_ERROR_NULL, a C compound literal, makes it
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    if (sd_bus_open_user(&bus) < 0 ||
        sd_bus_call_method(bus, mutter, "/org/gnome/Mutter/RemoteDesktop", mutter, "CreateSession", &error, &reply,
                           "") < 0 ||
        sd_bus_message_read(reply, "o", &path) < 0)
        fail("CreateSession", error);
    session = path;
    sd_bus_message_unref(reply);
    call("Start", "");
    std::puts("ready");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream command{line};
        std::string verb;
        command >> verb;
        if (verb == "click") {
            double x, y;
            int button;
            command >> x >> y >> button;
            click(x, y, button);
        } else if (verb == "key") {
            std::string keysym;
            command >> keysym;
            const auto code = static_cast<unsigned>(std::stoul(keysym, nullptr, 0));
            call("NotifyKeyboardKeysym", "ub", code, 1);
            call("NotifyKeyboardKeysym", "ub", code, 0);
        }
        std::puts("done");
        std::fflush(stdout);
    }
    return 0;
}
