// A Wayland client for the tests and the benchmark on a headless wlroots
// compositor. It holds a virtual pointer, without which the headless seat
// has no pointer at all, and paints every output, now and later, on the
// background layer with painted_color() at physical resolution: output
// HEADLESS-N as number N. For each output painted and shown it prints
// "painted NAME" on standard output. When the pointer leaves its surfaces
// (an overlay went over them) it prints "left NAME" and "entered NAME" when
// it comes back. It runs until the compositor goes or it is killed.
//
// With --watch-keyboard it also holds the keyboard's focus, through a 1x1
// surface on the top layer, and prints "keyboard left" when an overlay takes
// it, "keyboard entered" when it comes back: the moment an overlay is up,
// which the pointer tells only once it moves on some compositors (sway 1.10).
//
// With --window, for compositors without layer shell (GNOME), it paints one
// fullscreen window instead, as number 0, and prints "painted window".
#include "painted_gradient.hpp"
#include "wayland_listeners.hpp"

#include <wayland-client.h>

#include "wlr_layer_shell.hpp"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

namespace {

struct Output {
    std::uint32_t name;
    wl_output* output = nullptr;
    zxdg_output_v1* xdg_output = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    std::string output_name;
    int scale = 1;
    std::uint32_t painted_width = 0;
    std::uint32_t painted_height = 0;
    std::string painted_line;
};

struct Helper {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* layer_shell = nullptr;
    zxdg_output_manager_v1* xdg_outputs = nullptr;
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    wl_seat* seat = nullptr;
    xdg_wm_base* windows = nullptr;
    std::list<Output> outputs;
    bool started = false;
    wl_surface* watcher = nullptr;  // holds the keyboard's focus, with --watch-keyboard
};

Helper helper;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "pixla_wayland_helper: %s\n", what);
    std::exit(1);
}

Output& output_of(void* data) { return *static_cast<Output*>(data); }

void say_line(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void say(const char* what, const Output& output) { say_line(what + (" " + output.output_name)); }

// The frame's data is the line to say once it is shown.
void on_frame_done(void* data, wl_callback* callback, std::uint32_t)
{
    wl_callback_destroy(callback);
    say_line(*static_cast<const std::string*>(data));
}
constexpr wl_callback_listener frame_listener{on_frame_done};

// HEADLESS-3 is output number 3.
int number_of(const std::string& name)
{
    const auto digits = name.find_last_not_of("0123456789");
    return digits + 1 < name.size() ? std::atoi(name.c_str() + digits + 1) : 0;
}

// Paints the surface, `width` x `height` logical pixels at the scale, as
// output number `number`, and says the line once the frame is shown.
void paint(wl_surface* surface, int width, int height, int scale, int number, const std::string& said)
{
    const int columns = width * scale, rows = height * scale;
    const int stride = columns * 4;
    const int fd = memfd_create("pixla-helper", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(stride) * rows) != 0)
        fail("no memory for the painting");
    auto* pixels = static_cast<std::uint32_t*>(
        mmap(nullptr, static_cast<std::size_t>(stride) * rows, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (pixels == MAP_FAILED)
        fail("no memory for the painting");
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            pixels[row * columns + column] = 0xff000000 | painted_color(number, column, row);
    munmap(pixels, static_cast<std::size_t>(stride) * rows);
    wl_shm_pool* pool = wl_shm_create_pool(helper.shm, fd, stride * rows);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, columns, rows, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_set_buffer_scale(surface, scale);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage_buffer(surface, 0, 0, columns, rows);
    wl_callback_add_listener(wl_surface_frame(surface), &frame_listener, const_cast<std::string*>(&said));
    wl_surface_commit(surface);
}

void on_configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                  std::uint32_t height)
{
    Output& output = output_of(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    // The compositor configures again whenever it arranges the layers.
    if (width == output.painted_width && height == output.painted_height) {
        wl_surface_commit(output.surface);
        return;
    }
    output.painted_width = width;
    output.painted_height = height;
    output.painted_line = "painted " + output.output_name;
    paint(output.surface, static_cast<int>(width), static_cast<int>(height), output.scale,
          number_of(output.output_name), output.painted_line);
}
void on_closed(void*, zwlr_layer_surface_v1*) {}
constexpr zwlr_layer_surface_v1_listener layer_listener{on_configure, on_closed};

void paint(Output& output)
{
    output.surface = wl_compositor_create_surface(helper.compositor);
    output.layer = zwlr_layer_shell_v1_get_layer_surface(helper.layer_shell, output.surface, output.output,
                                                         ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND, "pixla-test");
    zwlr_layer_surface_v1_set_anchor(output.layer,
                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(output.layer, -1);
    zwlr_layer_surface_v1_add_listener(output.layer, &layer_listener, &output);
    wl_surface_commit(output.surface);
}

void on_xdg_name(void* data, zxdg_output_v1*, const char* name)
{
    Output& output = output_of(data);
    const bool first = output.output_name.empty();
    output.output_name = name;
    if (first)
        paint(output);
}
void on_xdg_position(void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}
void on_xdg_done(void*, zxdg_output_v1*) {}
void on_xdg_description(void*, zxdg_output_v1*, const char*) {}
constexpr zxdg_output_v1_listener xdg_output_listener{on_xdg_position, on_xdg_position, on_xdg_done, on_xdg_name,
                                                      on_xdg_description};

void on_geometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                 const char*, const char*, std::int32_t)
{
}
void on_scale(void* data, wl_output*, std::int32_t scale) { output_of(data).scale = scale; }
const wl_output_listener output_listener = output_listener_for(on_geometry, on_scale);

// The output is painted once its name is known, from its xdg_output.
void watch(Output& output)
{
    wl_output_add_listener(output.output, &output_listener, &output);
    output.xdg_output = zxdg_output_manager_v1_get_xdg_output(helper.xdg_outputs, output.output);
    zxdg_output_v1_add_listener(output.xdg_output, &xdg_output_listener, &output);
}

const Output* output_with_surface(wl_surface* surface)
{
    for (const Output& output : helper.outputs)
        if (output.surface == surface)
            return &output;
    return nullptr;
}
void on_enter(void*, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t, wl_fixed_t)
{
    if (const Output* output = output_with_surface(surface))
        say("entered", *output);
}
void on_leave(void*, wl_pointer*, std::uint32_t, wl_surface* surface)
{
    if (const Output* output = output_with_surface(surface))
        say("left", *output);
}
const wl_pointer_listener pointer_listener = pointer_listener_for(
    on_enter, on_leave, [](void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {});

void on_keymap(void*, wl_keyboard*, std::uint32_t, int fd, std::uint32_t) { close(fd); }
void on_keyboard_enter(void*, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*)
{
    if (surface == helper.watcher)
        say_line("keyboard entered");
}
void on_keyboard_leave(void*, wl_keyboard*, std::uint32_t, wl_surface* surface)
{
    if (surface == helper.watcher)
        say_line("keyboard left");
}
void on_key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_repeat_info(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
constexpr wl_keyboard_listener keyboard_listener{on_keymap, on_keyboard_enter, on_keyboard_leave,
                                                 on_key,    on_modifiers,      on_repeat_info};

void on_capabilities(void*, wl_seat* seat, std::uint32_t capabilities)
{
    static wl_pointer* pointer = nullptr;
    static wl_keyboard* keyboard = nullptr;
    if (capabilities & WL_SEAT_CAPABILITY_POINTER && !pointer) {
        pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(pointer, &pointer_listener, nullptr);
    }
    if (capabilities & WL_SEAT_CAPABILITY_KEYBOARD && !keyboard && helper.watcher) {
        keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(keyboard, &keyboard_listener, nullptr);
    }
}

void on_watcher_configure(void*, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t, std::uint32_t)
{
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    static bool shown = false;
    if (!shown) {
        shown = true;
        static const std::string said = "keyboard watcher shown";
        paint(helper.watcher, 1, 1, 1, 0, said);
    } else {
        wl_surface_commit(helper.watcher);
    }
}
constexpr zwlr_layer_surface_v1_listener watcher_listener{on_watcher_configure, on_closed};

// A 1x1 surface in the top left corner, above the paintings and below any
// overlay, that takes the keyboard for itself.
void watch_keyboard()
{
    helper.watcher = wl_compositor_create_surface(helper.compositor);
    zwlr_layer_surface_v1* layer = zwlr_layer_shell_v1_get_layer_surface(
        helper.layer_shell, helper.watcher, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_TOP, "pixla-test-keyboard");
    zwlr_layer_surface_v1_set_anchor(layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_size(layer, 1, 1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer, 1);
    zwlr_layer_surface_v1_add_listener(layer, &watcher_listener, nullptr);
    wl_surface_commit(helper.watcher);
}
void on_seat_name(void*, wl_seat*, const char*) {}
constexpr wl_seat_listener seat_listener{on_capabilities, on_seat_name};

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface, std::uint32_t version)
{
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, version));
}

void on_global(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
{
    const std::string kind = interface;
    if (kind == wl_compositor_interface.name)
        helper.compositor = bind<wl_compositor>(registry, name, wl_compositor_interface, 4);
    else if (kind == wl_shm_interface.name)
        helper.shm = bind<wl_shm>(registry, name, wl_shm_interface, 1);
    else if (kind == zwlr_layer_shell_v1_interface.name)
        helper.layer_shell = bind<zwlr_layer_shell_v1>(registry, name, zwlr_layer_shell_v1_interface, 1);
    else if (kind == zxdg_output_manager_v1_interface.name)
        helper.xdg_outputs = bind<zxdg_output_manager_v1>(registry, name, zxdg_output_manager_v1_interface, 2);
    else if (kind == zwlr_virtual_pointer_manager_v1_interface.name)
        helper.pointers =
            bind<zwlr_virtual_pointer_manager_v1>(registry, name, zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (kind == xdg_wm_base_interface.name)
        helper.windows = bind<xdg_wm_base>(registry, name, xdg_wm_base_interface, 1);
    else if (kind == wl_seat_interface.name && !helper.seat)
        helper.seat = bind<wl_seat>(registry, name, wl_seat_interface, std::min(version, 5u));
    else if (kind == wl_output_interface.name) {
        Output& output = helper.outputs.emplace_back();
        output.name = name;
        output.output = bind<wl_output>(registry, name, wl_output_interface, std::min(version, 3u));
        if (helper.started)
            watch(output);
    }
}

void on_global_remove(void*, wl_registry*, std::uint32_t name)
{
    helper.outputs.remove_if([&](const Output& output) { return output.name == name; });
}
constexpr wl_registry_listener registry_listener{on_global, on_global_remove};

// --- A fullscreen window, for compositors without layer shell --------------

struct Window {
    wl_surface* surface = nullptr;
    int width = 0;
    int height = 0;
    bool painted = false;
};
Window window;

void on_ping(void*, xdg_wm_base* windows, std::uint32_t serial) { xdg_wm_base_pong(windows, serial); }
constexpr xdg_wm_base_listener wm_base_listener{on_ping};

void on_toplevel_configure(void*, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*)
{
    window.width = width;
    window.height = height;
}
void on_toplevel_close(void*, xdg_toplevel*) {}
const xdg_toplevel_listener toplevel_listener = [] {
    xdg_toplevel_listener listener{};
    listener.configure = on_toplevel_configure;
    listener.close = on_toplevel_close;
    return listener;
}();

void on_surface_configure(void*, xdg_surface* surface, std::uint32_t serial)
{
    xdg_surface_ack_configure(surface, serial);
    if (!window.painted && window.width > 0 && window.height > 0) {
        window.painted = true;
        static const std::string said = "painted window";
        paint(window.surface, window.width, window.height, 1, 0, said);
    } else {
        wl_surface_commit(window.surface);
    }
}
constexpr xdg_surface_listener surface_listener{on_surface_configure};

void open_window()
{
    if (!helper.compositor || !helper.shm || !helper.windows)
        fail("the compositor lacks a protocol that the helper needs");
    xdg_wm_base_add_listener(helper.windows, &wm_base_listener, nullptr);
    window.surface = wl_compositor_create_surface(helper.compositor);
    xdg_surface* surface = xdg_wm_base_get_xdg_surface(helper.windows, window.surface);
    xdg_surface_add_listener(surface, &surface_listener, nullptr);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(surface);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, nullptr);
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    wl_surface_commit(window.surface);
}

}  // namespace

int main(int argc, char* argv[])
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        fail("cannot connect to the compositor");
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, nullptr);
    wl_display_roundtrip(display);
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0) {
        open_window();
        while (wl_display_dispatch(display) >= 0) {
        }
        return 0;
    }
    if (!helper.compositor || !helper.shm || !helper.layer_shell || !helper.xdg_outputs || !helper.pointers ||
        !helper.seat)
        fail("the compositor lacks a protocol that the helper needs");
    if (argc > 1 && std::strcmp(argv[1], "--watch-keyboard") == 0)
        watch_keyboard();
    // The seat gets its pointer now, and keeps it while this runs.
    zwlr_virtual_pointer_manager_v1_create_virtual_pointer(helper.pointers, helper.seat);
    wl_seat_add_listener(helper.seat, &seat_listener, nullptr);
    helper.started = true;
    for (Output& output : helper.outputs)
        watch(output);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
