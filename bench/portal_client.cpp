// The floor for pixla's start in a desktop portal session: a client that
// makes the call that pixla makes, with the same library, and no more:
// connect to the session bus, subscribe to the request's Response, ask
// PickColor. It ends with the answer.
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>

namespace {

bool answered = false;

int on_response(sd_bus_message*, void*, sd_bus_error*)
{
    answered = true;
    return 0;
}

}  // namespace

int main()
{
    sd_bus* bus = nullptr;
    const char* unique = nullptr;
    if (sd_bus_open_user(&bus) < 0 || sd_bus_get_unique_name(bus, &unique) < 0)
        return 1;
    // No C++ library: the floor loads nothing that the call does not need.
    char sender[64], token[32], handle[160];
    std::snprintf(sender, sizeof sender, "%s", unique + 1);
    for (char* c = sender; *c; ++c)
        *c = *c == '.' ? '_' : *c;
    std::snprintf(token, sizeof token, "floor%d", static_cast<int>(getpid()));
    std::snprintf(handle, sizeof handle, "/org/freedesktop/portal/desktop/request/%s/%s", sender, token);
    sd_bus_match_signal_async(bus, nullptr, nullptr, handle, "org.freedesktop.portal.Request", "Response", on_response,
                              nullptr, nullptr);
    sd_bus_call_method_async(bus, nullptr, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                             "org.freedesktop.portal.Screenshot", "PickColor", nullptr, nullptr, "sa{sv}", "", 1,
                             "handle_token", "s", token);
    while (!answered) {
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0 || (processed == 0 && sd_bus_wait(bus, UINT64_MAX) < 0))
            return 1;
    }
    sd_bus_flush_close_unref(bus);
    return 0;
}
