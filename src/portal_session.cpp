#include "portal_session.hpp"

#include "color_output.hpp"
#include "unique_fd.hpp"
#include "visible_text.hpp"

#include <err.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace {

constexpr char portal[] = "org.freedesktop.portal.Desktop";
constexpr char portal_path[] = "/org/freedesktop/portal/desktop";
constexpr char screenshot[] = "org.freedesktop.portal.Screenshot";
constexpr char request_interface[] = "org.freedesktop.portal.Request";

// The portal's answers to a request (Request.Response).
constexpr std::uint32_t answered = 0, cancelled = 1;
// GNOME gives up after about 25 s without a click, and answers "other".
constexpr auto desktop_gives_up = std::chrono::seconds{20};

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotFree {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotFree>;

struct BusError {
    sd_bus_error error{};  // as SD_BUS_ERROR_NULL, a C compound literal, makes it
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError() { sd_bus_error_free(&error); }
};

// Why the session has no color picker, for an error that says so; empty for
// any other error.
std::string no_picker_reason(const char* error_name)
{
    const std::string name = error_name ? error_name : "";
    if (name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER)
        return "no desktop portal on the session bus";
    if (name == SD_BUS_ERROR_UNKNOWN_METHOD || name == SD_BUS_ERROR_UNKNOWN_INTERFACE ||
        name == SD_BUS_ERROR_UNKNOWN_OBJECT || name == SD_BUS_ERROR_UNKNOWN_PROPERTY)
        return "the desktop portal has no Screenshot.PickColor";
    return "";
}

// One PickColor request and what has come of it.
struct Pick {
    std::string handle;  // the request's object path, known before the call
    bool call_returned = false;
    std::string error_name;  // of a call that failed
    std::string error_message;
    bool response_came = false;
    std::uint32_t response = 0;
    std::optional<std::array<double, 3>> color;
};

int on_call_returned(sd_bus_message* reply, void* data, sd_bus_error*)
{
    Pick& pick = *static_cast<Pick*>(data);
    pick.call_returned = true;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error* error = sd_bus_message_get_error(reply);
        pick.error_name = error->name ? error->name : "";
        pick.error_message = error->message ? error->message : pick.error_name;
    }
    return 0;
}

// Response(u response, a{sv} results), with the color as (ddd) in results.
int on_response(sd_bus_message* message, void* data, sd_bus_error*)
{
    Pick& pick = *static_cast<Pick*>(data);
    pick.response_came = true;
    if (sd_bus_message_read(message, "u", &pick.response) < 0 ||
        sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0)
        return 0;
    while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* key = nullptr;
        char type;
        const char* contents = nullptr;
        std::array<double, 3> color;
        if (sd_bus_message_read(message, "s", &key) >= 0 && std::strcmp(key, "color") == 0 &&
            sd_bus_message_peek_type(message, &type, &contents) > 0 && std::strcmp(contents, "(ddd)") == 0 &&
            sd_bus_message_read(message, "v", "(ddd)", &color[0], &color[1], &color[2]) >= 0)
            pick.color = color;
        else
            sd_bus_message_skip(message, "v");
        sd_bus_message_exit_container(message);
    }
    return 0;
}

// The desktop's color, 0 to 1 a channel, as pixla prints it: each channel
// rounded to the nearest of 0 to 255, halves up, as lround() rounds them
// (which would load libm for this one call).
XColor color_of(const std::array<double, 3>& channels)
{
    const auto intensity = [](double value) {
        const auto channel = static_cast<unsigned>(std::clamp(value, 0.0, 1.0) * 255 + 0.5);
        return static_cast<unsigned short>(channel << 8 | channel);
    };
    XColor color{};
    color.red = intensity(channels[0]);
    color.green = intensity(channels[1]);
    color.blue = intensity(channels[2]);
    return color;
}

class PortalSession {
public:
    PortalSession(const PickRequest& request, sd_bus* bus, std::string sender)
        : request_{request}, shown_display_{visible(request.display_name)}, bus_{bus}, sender_{std::move(sender)}
    {
        // SIGINT, SIGTERM and SIGHUP wait for the loop, which closes the
        // request before it ends as the signal would.
        sigemptyset(&signals_);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&signals_, signal);
        sigprocmask(SIG_BLOCK, &signals_, nullptr);
        signal_fd_ = UniqueFd{signalfd(-1, &signals_, SFD_CLOEXEC)};
    }

    // Asks for one color and prints it. Returns the exit status when pixla is
    // done, and nothing to go on; nothing too, with `why_not` set, when the
    // first request finds that the session has no picker.
    std::optional<int> pick(bool first, std::string& why_not);

private:
    void wait_for(const std::function<bool()>& done);
    [[noreturn]] void end_on_signal(int signal);

    const PickRequest& request_;
    const std::string shown_display_;
    sd_bus* bus_;
    const std::string sender_;
    sigset_t signals_;
    UniqueFd signal_fd_;
    int requests_ = 0;
    const Pick* pending_ = nullptr;
};

void PortalSession::wait_for(const std::function<bool()>& done)
{
    for (;;) {
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) {
            errno = -processed;
            err(1, "connection to the session bus broken");
        }
        if (done())
            return;
        if (processed > 0)
            continue;
        std::uint64_t deadline;
        int timeout = -1;
        if (sd_bus_get_timeout(bus_, &deadline) >= 0 && deadline != UINT64_MAX) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const std::uint64_t now_us = static_cast<std::uint64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
            timeout = deadline > now_us ? static_cast<int>((deadline - now_us + 999) / 1000) : 0;
        }
        pollfd fds[] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0},
                        {signal_fd_.get(), POLLIN, 0}};
        poll(fds, 2, timeout);
        signalfd_siginfo signal;
        if (fds[1].revents & POLLIN && read(signal_fd_.get(), &signal, sizeof signal) == sizeof signal)
            end_on_signal(static_cast<int>(signal.ssi_signo));
    }
}

// Closes the request, so that the desktop need not wait for a click that
// no one wants, then ends as the signal does.
void PortalSession::end_on_signal(int signal)
{
    if (pending_) {
        sd_bus_set_method_call_timeout(bus_, 1000000);
        BusError error;
        sd_bus_call_method(bus_, portal, pending_->handle.c_str(), request_interface, "Close", &error.error, nullptr,
                           "");
    }
    std::signal(signal, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &signals_, nullptr);
    raise(signal);
    std::_Exit(128 + signal);
}

std::optional<int> PortalSession::pick(bool first, std::string& why_not)
{
    // A fresh token for every request, and the Response subscribed to before
    // the call: the request's path is known in advance.
    const std::string token = "pixla" + std::to_string(getpid()) + "_" + std::to_string(++requests_);
    Pick pick;
    pick.handle = "/org/freedesktop/portal/desktop/request/" + sender_ + "/" + token;
    sd_bus_slot* slot = nullptr;
    // Any sender: the bus would resolve the portal's name, sd-bus matching
    // locally could not, and the path is this request's alone.
    sd_bus_match_signal_async(bus_, &slot, nullptr, pick.handle.c_str(), request_interface, "Response", on_response,
                              nullptr, &pick);
    const Slot response{slot};
    sd_bus_call_method_async(bus_, &slot, portal, portal_path, screenshot, "PickColor", on_call_returned, &pick,
                             "sa{sv}", "", 1, "handle_token", "s", token.c_str());
    const Slot call{slot};
    const auto asked = std::chrono::steady_clock::now();
    pending_ = &pick;
    wait_for([&] { return pick.response_came || (pick.call_returned && !pick.error_name.empty()); });
    pending_ = nullptr;

    if (!pick.error_name.empty()) {
        why_not = no_picker_reason(pick.error_name.c_str());
        if (first && !why_not.empty())
            return std::nullopt;
        errx(1, "can't pick on %s: the desktop portal refused: %s", shown_display_.c_str(),
             visible(pick.error_message).c_str());
    }
    if (pick.response == cancelled)
        return 0;
    if (pick.response != answered)
        errx(1, "can't pick on %s: %s", shown_display_.c_str(),
             std::chrono::steady_clock::now() - asked >= desktop_gives_up
                 ? "the desktop's color picker gave up waiting for a click"
                 : "the desktop's color picker failed");
    if (!pick.color)
        errx(1, "can't pick on %s: the desktop's color picker answered without a color", shown_display_.c_str());
    std::fputs(format_color(color_of(*pick.color), MODE_HEX).c_str(), stdout);
    if (!end_color_line(request_.add_newline))
        err(1, "can't write to standard output");
    return request_.exit_after_grab ? std::optional{0} : std::nullopt;
}

// Whether the portal has PickColor (Screenshot version 2 or later), asked
// only when -v must be refused, so that a session with no picker at all is
// told so instead; empty when it has.
std::string picker_missing(sd_bus* bus)
{
    BusError error;
    std::uint32_t version = 0;
    if (sd_bus_get_property_trivial(bus, portal, portal_path, screenshot, "version", &error.error, 'u', &version) < 0)
        return no_picker_reason(error.error.name);
    return version >= 2 ? "" : "the desktop portal has no Screenshot.PickColor";
}

}  // namespace

std::optional<int> pick_through_portal(const PickRequest& request, std::string& why_not)
{
    sd_bus* raw = nullptr;
    if (const int failed = sd_bus_open_user(&raw); failed < 0) {
        why_not = std::string{"no D-Bus session bus: "} + std::strerror(-failed);
        return std::nullopt;
    }
    const std::unique_ptr<sd_bus, BusClose> bus{raw};
    const char* unique = nullptr;
    if (const int failed = sd_bus_get_unique_name(bus.get(), &unique); failed < 0) {
        why_not = std::string{"no D-Bus session bus: "} + std::strerror(-failed);
        return std::nullopt;
    }
    if (request.show_xy) {
        why_not = picker_missing(bus.get());
        if (!why_not.empty())
            return std::nullopt;
        errx(1, "can't print coordinates on %s: this session's color picker gives none",
             visible(request.display_name).c_str());
    }
    // ":1.42" is the sender "1_42" in request paths.
    std::string sender = unique + 1;
    std::replace(sender.begin(), sender.end(), '.', '_');
    PortalSession session{request, bus.get(), sender};
    for (bool first = true;; first = false) {
        if (const auto status = session.pick(first, why_not))
            return status;
        if (!why_not.empty())
            return std::nullopt;
    }
}
