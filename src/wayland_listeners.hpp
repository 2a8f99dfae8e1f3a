// Listeners for the core Wayland objects that pixla and the test kit bind.
// libwayland calls every event's function, so the events that a program has
// no use for still get one, which does nothing.
#pragma once

#include <wayland-client.h>

#include <cstdint>

// A pointer's listener: these four events, and nothing done for the others
// that a seat of version 5 sends (axis, frame and the like).
inline wl_pointer_listener pointer_listener_for(decltype(wl_pointer_listener::enter) enter,
                                                decltype(wl_pointer_listener::leave) leave,
                                                decltype(wl_pointer_listener::motion) motion,
                                                decltype(wl_pointer_listener::button) button)
{
    wl_pointer_listener listener{};
    listener.enter = enter;
    listener.leave = leave;
    listener.motion = motion;
    listener.button = button;
    listener.axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {};
    listener.frame = [](void*, wl_pointer*) {};
    listener.axis_source = [](void*, wl_pointer*, std::uint32_t) {};
    listener.axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {};
    listener.axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {};
    return listener;
}

// An output's listener (version 3): its geometry and scale, nothing done
// for its modes and its done event.
inline wl_output_listener output_listener_for(decltype(wl_output_listener::geometry) geometry,
                                              decltype(wl_output_listener::scale) scale)
{
    wl_output_listener listener{};
    listener.geometry = geometry;
    listener.mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {};
    listener.done = [](void*, wl_output*) {};
    listener.scale = scale;
    return listener;
}
