// A desktop portal backend for the tests and the benchmark, behind the real
// xdg-desktop-portal frontend: org.freedesktop.impl.portal.Screenshot, whose
// PickColor answers as a script says, and org.freedesktop.impl.portal.Access,
// without which the frontend offers no Screenshot portal at all.
//
//   pixla_portal_backend BUS_NAME SCRIPT_FILE
//
// Each PickColor takes the script's first line as its answer (the last line
// stays for all later ones): "color R G B" (each 0 to 1), "no-color",
// "failure", "failure after S" (S seconds later, as GNOME gives up waiting
// for a click), "cancel", or "never" (no answer until the request is closed).
// Each call is noted on standard output with the request's token, the last
// part of its handle ("PickColor TOKEN"), and "ready" once the name is owned.
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* script_path;
// A failure to be answered later, and when.
sd_bus_message* late_call = nullptr;
std::uint64_t late_at = UINT64_MAX;

void say(const std::string& what)
{
    std::puts(what.c_str());
    std::fflush(stdout);
}

std::uint64_t now(clockid_t clock)
{
    timespec time;
    clock_gettime(clock, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000 + static_cast<std::uint64_t>(time.tv_nsec) / 1000;
}

// The request's token: the last part of its handle's path.
std::string token_of(const char* handle)
{
    const std::string path = handle ? handle : "";
    return path.substr(path.rfind('/') + 1);
}

// The script's first line, taken from it unless it is the last.
std::string next_answer()
{
    std::vector<std::string> lines;
    {
        std::ifstream script{script_path};
        for (std::string line; std::getline(script, line);)
            lines.push_back(line);
    }
    if (lines.empty())
        return "failure";
    if (lines.size() > 1) {
        std::ofstream rest{script_path};
        for (std::size_t i = 1; i < lines.size(); ++i)
            rest << lines[i] << '\n';
    }
    return lines.front();
}

// PickColor(o handle, s app_id, s parent_window, a{sv} options) -> (u response, a{sv} results)
int pick_color(sd_bus_message* call)
{
    const char* handle = nullptr;
    sd_bus_message_read(call, "o", &handle);
    say("PickColor " + token_of(handle));
    const std::string answer = next_answer();
    double red, green, blue, seconds;
    if (std::sscanf(answer.c_str(), "failure after %lf", &seconds) == 1) {
        late_call = sd_bus_message_ref(call);
        late_at = now(CLOCK_MONOTONIC) + static_cast<std::uint64_t>(seconds * 1e6);
        return 1;
    }
    if (answer == "never")
        return 1;  // no reply: the frontend waits until the request is closed
    if (std::sscanf(answer.c_str(), "color %lf %lf %lf", &red, &green, &blue) == 3)
        return sd_bus_reply_method_return(call, "ua{sv}", 0u, 1, "color", "(ddd)", red, green, blue);
    if (answer == "no-color")
        return sd_bus_reply_method_return(call, "ua{sv}", 0u, 0);
    return sd_bus_reply_method_return(call, "ua{sv}", answer == "cancel" ? 1u : 2u, 0);
}

int on_call(sd_bus_message* call, void*, sd_bus_error*)
{
    const std::string interface = sd_bus_message_get_interface(call) ? sd_bus_message_get_interface(call) : "";
    const std::string member = sd_bus_message_get_member(call) ? sd_bus_message_get_member(call) : "";
    if (interface == "org.freedesktop.impl.portal.Screenshot" && member == "PickColor")
        return pick_color(call);
    if (interface == "org.freedesktop.impl.portal.Access" && member == "AccessDialog")
        return sd_bus_reply_method_return(call, "ua{sv}", 0u, 0);
    if (interface == "org.freedesktop.impl.portal.Request" && member == "Close")
        return sd_bus_reply_method_return(call, "");
    if (interface == "org.freedesktop.DBus.Properties" && member == "Get")
        return sd_bus_reply_method_return(call, "v", "u", 2u);
    if (interface == "org.freedesktop.DBus.Properties" && member == "GetAll")
        return sd_bus_reply_method_return(call, "a{sv}", 1, "version", "u", 2u);
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pixla_portal_backend BUS_NAME SCRIPT_FILE\n");
        return 2;
    }
    script_path = argv[2];
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return 1;
    // The portal object, and each request below it, whose Close the frontend calls.
    sd_bus_add_object(bus, nullptr, "/org/freedesktop/portal/desktop", on_call, nullptr);
    sd_bus_add_fallback(bus, nullptr, "/org/freedesktop/portal/desktop/request", on_call, nullptr);
    if (sd_bus_request_name(bus, argv[1], 0) < 0)
        return 1;
    say("ready");
    for (;;) {
        if (late_call && now(CLOCK_MONOTONIC) >= late_at) {
            sd_bus_reply_method_return(late_call, "ua{sv}", 2u, 0);
            late_call = sd_bus_message_unref(late_call);
            late_at = UINT64_MAX;
        }
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0)
            return 1;
        const std::uint64_t wait = late_at == UINT64_MAX ? UINT64_MAX : late_at - std::min(late_at, now(CLOCK_MONOTONIC));
        if (processed == 0 && sd_bus_wait(bus, wait) < 0)
            return 1;
    }
}
