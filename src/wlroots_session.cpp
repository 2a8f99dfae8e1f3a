#include "wlroots_session.hpp"

#include "color_output.hpp"
#include "crosshair.hpp"
#include "visible_text.hpp"
#include "wayland_buffer.hpp"
#include "wayland_keyboard.hpp"
#include "wayland_listeners.hpp"
#include "wlroots_capture.hpp"

#include "wlr_layer_shell.hpp"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <err.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>

namespace {

struct Session;

// Released where the seat's version knows the request, else only forgotten.
void release_pointer(wl_pointer* pointer)
{
    wl_pointer_get_version(pointer) >= WL_POINTER_RELEASE_SINCE_VERSION ? wl_pointer_release(pointer)
                                                                        : wl_pointer_destroy(pointer);
}
void release_keyboard(wl_keyboard* keyboard)
{
    wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION ? wl_keyboard_release(keyboard)
                                                                           : wl_keyboard_destroy(keyboard);
}

// An output of the layout, and pixla's overlay on it.
struct Output {
    Session* session;
    std::uint32_t name;  // the registry's
    WaylandPtr<wl_output, wl_output_destroy> output;
    WaylandPtr<zxdg_output_v1, zxdg_output_v1_destroy> xdg_output;
    WaylandPtr<wl_surface, wl_surface_destroy> surface;
    WaylandPtr<zwlr_layer_surface_v1, zwlr_layer_surface_v1_destroy> overlay;
    std::unique_ptr<ShmBuffer> clear;  // the overlay's content: all transparent
    std::uint32_t clear_width = 0;
    std::uint32_t clear_height = 0;
    int transform = WL_OUTPUT_TRANSFORM_NORMAL;
    // Removed, or its overlay closed, by the compositor: let go of only once
    // the events at hand are dispatched, since libwayland 1.23 leaks an object
    // destroyed while a queued event still names it.
    bool gone = false;
    // In logical pixels, as the layout places it.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A button or key press waiting to be acted on, with what it needs from the
// moment it happened.
struct Press {
    enum { pick, end } action;
    std::uint32_t output;  // the registry's name of the output under the pointer
    double x;              // on that output, in logical pixels
    double y;
    unsigned modifiers;  // as X's modifier mask
};

struct Session {
    Session(const PickRequest& request, std::string shown_display, wl_display* display)
        : request{request}, shown_display{std::move(shown_display)}, display{display}
    {
    }

    const PickRequest& request;
    std::string shown_display;
    wl_display* display;
    WaylandPtr<wl_registry, wl_registry_destroy> registry;
    WaylandPtr<wl_compositor, wl_compositor_destroy> compositor;
    WaylandPtr<wl_shm, wl_shm_destroy> shm;
    WaylandPtr<zwlr_layer_shell_v1, zwlr_layer_shell_v1_destroy> layer_shell;
    WaylandPtr<zwlr_screencopy_manager_v1, zwlr_screencopy_manager_v1_destroy> screencopy;
    WaylandPtr<zxdg_output_manager_v1, zxdg_output_manager_v1_destroy> xdg_outputs;
    WaylandPtr<wl_seat, wl_seat_destroy> seat;
    WaylandPtr<wl_pointer, release_pointer> pointer;
    WaylandPtr<wl_keyboard, release_keyboard> keyboard;
    WaylandPtr<wl_surface, wl_surface_destroy> cursor;
    std::unique_ptr<ShmBuffer> cursor_image;
    std::list<Output> outputs;  // listeners hold their addresses
    bool covering = false;      // overlays go on outputs from now on

    const Output* pointer_output = nullptr;
    double pointer_x = 0;
    double pointer_y = 0;

    KeyboardState keyboard_state;
    bool escape_down_at_focus = false;

    std::deque<Press> presses;
};

Session& session_of(void* data) { return *static_cast<Session*>(data); }
Output& output_of(void* data) { return *static_cast<Output*>(data); }

// --- The keyboard -------------------------------------------------------

void on_keymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size)
{
    UniqueFd file{fd};
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        session_of(data).keyboard_state.set_keymap(std::move(file), size);
}
// Escape ends pixla when pressed, or when let go if it was already down as
// the keyboard came to pixla (a keyboard that has only just appeared).
void on_key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key, std::uint32_t state)
{
    Session& session = session_of(data);
    const bool pressed = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    if (!session.keyboard_state.is_escape(key))
        return;
    if (pressed || session.escape_down_at_focus)
        session.presses.push_back({Press::end, 0, 0, 0, 0});
    session.escape_down_at_focus = false;
}
void on_keyboard_focus(void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array* keys)
{
    Session& session = session_of(data);
    session.escape_down_at_focus = false;
    for (std::size_t at = 0; at + sizeof(std::uint32_t) <= keys->size; at += sizeof(std::uint32_t)) {
        std::uint32_t key;
        std::memcpy(&key, static_cast<const char*>(keys->data) + at, sizeof key);
        session.escape_down_at_focus = session.escape_down_at_focus || session.keyboard_state.is_escape(key);
    }
}
void on_modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
                  std::uint32_t locked, std::uint32_t group)
{
    session_of(data).keyboard_state.set_modifiers(depressed, latched, locked, group);
}
void on_keyboard_leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void on_repeat_info(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

// The listeners are filled member by member: newer libwayland versions add
// members for events that the versions pixla binds never send.
const wl_keyboard_listener keyboard_listener = [] {
    wl_keyboard_listener listener{};
    listener.keymap = on_keymap;
    listener.enter = on_keyboard_focus;
    listener.leave = on_keyboard_leave;
    listener.key = on_key;
    listener.modifiers = on_modifiers;
    listener.repeat_info = on_repeat_info;
    return listener;
}();

// --- The pointer ----------------------------------------------------------

void on_pointer_enter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
                      wl_fixed_t y)
{
    Session& session = session_of(data);
    const auto output = std::find_if(session.outputs.begin(), session.outputs.end(),
                                     [&](const Output& output) { return output.surface.get() == surface; });
    session.pointer_output = output == session.outputs.end() || output->gone ? nullptr : &*output;
    session.pointer_x = wl_fixed_to_double(x);
    session.pointer_y = wl_fixed_to_double(y);
    wl_pointer_set_cursor(pointer, serial, session.cursor.get(), crosshair_hotspot, crosshair_hotspot);
}
void on_pointer_leave(void* data, wl_pointer*, std::uint32_t, wl_surface*) { session_of(data).pointer_output = nullptr; }
void on_motion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y)
{
    Session& session = session_of(data);
    session.pointer_x = wl_fixed_to_double(x);
    session.pointer_y = wl_fixed_to_double(y);
}
void on_button(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button, std::uint32_t state)
{
    Session& session = session_of(data);
    if (state != WL_POINTER_BUTTON_STATE_PRESSED || !session.pointer_output)
        return;
    if (button == BTN_RIGHT)
        session.presses.push_back({Press::end, 0, 0, 0, 0});
    else if (button == BTN_LEFT)
        session.presses.push_back({Press::pick, session.pointer_output->name, session.pointer_x, session.pointer_y,
                                   session.keyboard_state.modifiers_held()});
}
const wl_pointer_listener pointer_listener =
    pointer_listener_for(on_pointer_enter, on_pointer_leave, on_motion, on_button);

// Pointers and keyboards come and go with the devices (a virtual keyboard
// lasts as long as the program that made it).
void on_capabilities(void* data, wl_seat* seat, std::uint32_t capabilities)
{
    Session& session = session_of(data);
    if (!(capabilities & WL_SEAT_CAPABILITY_POINTER)) {
        session.pointer.reset();
        session.pointer_output = nullptr;
    } else if (!session.pointer) {
        session.pointer.reset(wl_seat_get_pointer(seat));
        wl_pointer_add_listener(session.pointer.get(), &pointer_listener, &session);
    }
    if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
        session.keyboard.reset();
    } else if (!session.keyboard) {
        session.keyboard.reset(wl_seat_get_keyboard(seat));
        wl_keyboard_add_listener(session.keyboard.get(), &keyboard_listener, &session);
    }
}
void on_seat_name(void*, wl_seat*, const char*) {}

const wl_seat_listener seat_listener = [] {
    wl_seat_listener listener{};
    listener.capabilities = on_capabilities;
    listener.name = on_seat_name;
    return listener;
}();

// --- Outputs and their overlays -------------------------------------------

void on_geometry(void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                 const char*, const char*, std::int32_t transform)
{
    output_of(data).transform = transform;
}
const wl_output_listener output_listener =
    output_listener_for(on_geometry, [](void*, wl_output*, std::int32_t) {});

void on_logical_position(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y)
{
    output_of(data).x = x;
    output_of(data).y = y;
}
void on_logical_size(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height)
{
    output_of(data).width = width;
    output_of(data).height = height;
}
void on_xdg_done(void*, zxdg_output_v1*) {}
void on_xdg_name(void*, zxdg_output_v1*, const char*) {}

constexpr zxdg_output_v1_listener xdg_output_listener{
    on_logical_position, on_logical_size, on_xdg_done, on_xdg_name, on_xdg_name,
};

void on_configure(void* data, zwlr_layer_surface_v1* overlay, std::uint32_t serial, std::uint32_t width,
                  std::uint32_t height)
{
    Output& output = output_of(data);
    zwlr_layer_surface_v1_ack_configure(overlay, serial);
    width = std::max(width, 1u);
    height = std::max(height, 1u);
    if (!output.clear || output.clear_width != width || output.clear_height != height) {
        const int w = static_cast<int>(width), h = static_cast<int>(height);
        output.clear = std::make_unique<ShmBuffer>(output.session->shm.get(), w, h, w * 4, WL_SHM_FORMAT_ARGB8888);
        output.clear_width = width;
        output.clear_height = height;
        wl_surface_attach(output.surface.get(), output.clear->get(), 0, 0);
        wl_surface_damage_buffer(output.surface.get(), 0, 0, w, h);
    }
    wl_surface_commit(output.surface.get());
}
void forget(Output& output)
{
    output.gone = true;
    if (output.session->pointer_output == &output)
        output.session->pointer_output = nullptr;
}
void drop_gone_outputs(Session& session)
{
    session.outputs.remove_if([](const Output& output) { return output.gone; });
}

void on_closed(void* data, zwlr_layer_surface_v1*)
{
    // The compositor took the overlay away; pixla goes on with the others.
    forget(output_of(data));
}

constexpr zwlr_layer_surface_v1_listener overlay_listener{on_configure, on_closed};

// Puts a transparent overlay over the whole output, above everything, that
// takes the pointer and the keyboard.
void cover(Session& session, Output& output)
{
    output.xdg_output.reset(zxdg_output_manager_v1_get_xdg_output(session.xdg_outputs.get(), output.output.get()));
    zxdg_output_v1_add_listener(output.xdg_output.get(), &xdg_output_listener, &output);
    output.surface.reset(wl_compositor_create_surface(session.compositor.get()));
    output.overlay.reset(zwlr_layer_shell_v1_get_layer_surface(session.layer_shell.get(), output.surface.get(),
                                                               output.output.get(),
                                                               ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "pixla"));
    zwlr_layer_surface_v1_set_anchor(output.overlay.get(),
                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(output.overlay.get(), -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(output.overlay.get(), 1);
    zwlr_layer_surface_v1_add_listener(output.overlay.get(), &overlay_listener, &output);
    wl_surface_commit(output.surface.get());
}

// --- The registry ---------------------------------------------------------

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface, std::uint32_t offered,
        std::uint32_t wanted)
{
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(offered, wanted)));
}

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
{
    Session& session = session_of(data);
    const std::string_view kind = interface;
    if (kind == wl_compositor_interface.name) {
        session.compositor.reset(bind<wl_compositor>(registry, name, wl_compositor_interface, version, 4));
    } else if (kind == wl_shm_interface.name) {
        session.shm.reset(bind<wl_shm>(registry, name, wl_shm_interface, version, 1));
    } else if (kind == zwlr_layer_shell_v1_interface.name) {
        session.layer_shell.reset(bind<zwlr_layer_shell_v1>(registry, name, zwlr_layer_shell_v1_interface, version, 4));
    } else if (kind == zwlr_screencopy_manager_v1_interface.name) {
        session.screencopy.reset(
            bind<zwlr_screencopy_manager_v1>(registry, name, zwlr_screencopy_manager_v1_interface, version, 3));
    } else if (kind == zxdg_output_manager_v1_interface.name) {
        session.xdg_outputs.reset(
            bind<zxdg_output_manager_v1>(registry, name, zxdg_output_manager_v1_interface, version, 3));
    } else if (kind == wl_seat_interface.name && !session.seat) {
        session.seat.reset(bind<wl_seat>(registry, name, wl_seat_interface, version, 5));
        wl_seat_add_listener(session.seat.get(), &seat_listener, &session);
    } else if (kind == wl_output_interface.name) {
        Output& output = session.outputs.emplace_back();
        output.session = &session;
        output.name = name;
        output.output.reset(bind<wl_output>(registry, name, wl_output_interface, version, 3));
        wl_output_add_listener(output.output.get(), &output_listener, &output);
        if (session.covering)
            cover(session, output);
    }
}

void on_global_remove(void* data, wl_registry*, std::uint32_t name)
{
    for (Output& output : session_of(data).outputs)
        if (output.name == name)
            forget(output);
}

constexpr wl_registry_listener registry_listener{on_global, on_global_remove};

// --- Picking ----------------------------------------------------------------

// libwayland writes its own complaints to standard error; pixla says what
// went wrong itself, in one line.
void quiet(const char*, va_list) {}

[[noreturn]] void connection_lost(const Session& session)
{
    const wl_interface* interface = nullptr;
    std::uint32_t object;
    if (wl_display_get_error(session.display) == EPROTO &&
        wl_display_get_protocol_error(session.display, &interface, &object) != 0)
        errx(1, "the compositor of %s ended the connection: protocol error on %s", session.shown_display.c_str(),
             interface ? interface->name : "the display");
    errno = wl_display_get_error(session.display);
    err(1, "connection to %s broken", session.shown_display.c_str());
}

// Reads and prints the color of a pick. Returns the exit status when pixla
// is done.
std::optional<int> pick(Session& session, const Press& press)
{
    const auto output = std::find_if(session.outputs.begin(), session.outputs.end(),
                                     [&](const Output& output) { return output.name == press.output; });
    if (output == session.outputs.end())
        return std::nullopt;  // gone since the press
    // Pointer positions can reach the far edge itself: it belongs to the
    // output's last pixel.
    const int x = output->x + std::clamp(static_cast<int>(std::floor(press.x)), 0, std::max(output->width - 1, 0));
    const int y = output->y + std::clamp(static_cast<int>(std::floor(press.y)), 0, std::max(output->height - 1, 0));
    std::string why;
    const auto color = capture_pixel(session.display, session.shm.get(), session.screencopy.get(),
                                     {output->output.get(), output->transform, static_cast<double>(output->width),
                                      static_cast<double>(output->height)},
                                     press.x, press.y, why);
    if (!color) {
        if (wl_display_get_error(session.display) != 0)
            connection_lost(session);
        warnx("can't read the pixel at %dx%d: %s", x, y, why.c_str());
        return std::nullopt;
    }
    print_color(*color, x, y, mode_for_state(press.modifiers), session.request.show_xy);
    if (!end_color_line(session.request.add_newline))
        err(1, "can't write to standard output");
    if (session.request.exit_after_grab)
        return 0;
    return std::nullopt;
}

// What of the protocols that pixla needs the compositor does not offer.
std::string missing_globals(const Session& session)
{
    std::string missing;
    const auto need = [&](const void* global, const wl_interface& interface) {
        if (!global)
            missing += (missing.empty() ? "" : ", ") + std::string{interface.name};
    };
    need(session.layer_shell.get(), zwlr_layer_shell_v1_interface);
    need(session.screencopy.get(), zwlr_screencopy_manager_v1_interface);
    need(session.xdg_outputs.get(), zxdg_output_manager_v1_interface);
    need(session.compositor.get(), wl_compositor_interface);
    need(session.shm.get(), wl_shm_interface);
    need(session.seat.get(), wl_seat_interface);
    return missing;
}

struct DisplayDisconnect {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};

}  // namespace

std::optional<int> pick_on_wlroots(const PickRequest& request, std::string& missing)
{
    wl_log_set_handler_client(quiet);
    const std::string shown_display = visible(request.display_name);
    const std::unique_ptr<wl_display, DisplayDisconnect> display{wl_display_connect(request.display_name)};
    if (!display)
        err(1, "unable to open display %s", shown_display.c_str());
    Session session{request, shown_display, display.get()};
    session.registry.reset(wl_display_get_registry(display.get()));
    wl_registry_add_listener(session.registry.get(), &registry_listener, &session);
    if (wl_display_roundtrip(display.get()) < 0)
        connection_lost(session);
    drop_gone_outputs(session);
    missing = missing_globals(session);
    if (!missing.empty())
        return std::nullopt;

    session.covering = true;
    for (Output& output : session.outputs)
        cover(session, output);
    // The compositor configures the overlays while the cursor is drawn; the
    // pointer comes to them only once they are up.
    wl_display_flush(display.get());
    session.cursor.reset(wl_compositor_create_surface(session.compositor.get()));
    session.cursor_image = std::make_unique<ShmBuffer>(session.shm.get(), crosshair_size, crosshair_size,
                                                       crosshair_size * 4, WL_SHM_FORMAT_ARGB8888);
    if (unsigned char* pixels = session.cursor_image->bytes()) {
        const auto image = crosshair_image();
        std::memcpy(pixels, image.data(), image.size() * sizeof image[0]);
        wl_surface_attach(session.cursor.get(), session.cursor_image->get(), 0, 0);
        wl_surface_damage_buffer(session.cursor.get(), 0, 0, crosshair_size, crosshair_size);
        wl_surface_commit(session.cursor.get());
    }

    for (;;) {
        while (!session.presses.empty()) {
            const Press press = session.presses.front();
            session.presses.pop_front();
            if (press.action == Press::end)
                return 0;
            if (const auto status = pick(session, press))
                return status;
        }
        if (wl_display_dispatch(display.get()) < 0)
            connection_lost(session);
        drop_gone_outputs(session);
    }
}
