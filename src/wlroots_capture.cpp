#include "wlroots_capture.hpp"

#include "wayland_buffer.hpp"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <cstdint>
#include <cstdio>
#include <functional>

namespace {

// What the compositor has said of one capture so far.
struct Frame {
    bool shm_offered = false;
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    bool all_offered = false;  // buffer_done, from version 3
    bool y_invert = false;
    bool ready = false;
    bool failed = false;
};

Frame& frame_of(void* data) { return *static_cast<Frame*>(data); }

void on_buffer(void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
               std::uint32_t height, std::uint32_t stride)
{
    Frame& frame = frame_of(data);
    frame.shm_offered = true;
    frame.format = format;
    frame.width = static_cast<int>(width);
    frame.height = static_cast<int>(height);
    frame.stride = static_cast<int>(stride);
}
void on_flags(void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags)
{
    frame_of(data).y_invert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}
void on_ready(void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t)
{
    frame_of(data).ready = true;
}
void on_failed(void* data, zwlr_screencopy_frame_v1*) { frame_of(data).failed = true; }
void on_damage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_linux_dmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_buffer_done(void* data, zwlr_screencopy_frame_v1*) { frame_of(data).all_offered = true; }

constexpr zwlr_screencopy_frame_v1_listener frame_listener{
    on_buffer, on_flags, on_ready, on_failed, on_damage, on_linux_dmabuf, on_buffer_done,
};

}  // namespace

std::optional<XColor> capture_pixel(wl_display* display, wl_shm* shm, zwlr_screencopy_manager_v1* screencopy,
                                    const CapturedOutput& output, double x, double y, std::string& why)
{
    const WaylandPtr<wl_event_queue, wl_event_queue_destroy> queue{wl_display_create_queue(display)};
    auto* manager = static_cast<zwlr_screencopy_manager_v1*>(wl_proxy_create_wrapper(screencopy));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(manager), queue.get());
    const WaylandPtr<zwlr_screencopy_frame_v1, zwlr_screencopy_frame_v1_destroy> capture{
        zwlr_screencopy_manager_v1_capture_output(manager, 0, output.output)};
    wl_proxy_wrapper_destroy(manager);
    Frame frame;
    zwlr_screencopy_frame_v1_add_listener(capture.get(), &frame_listener, &frame);
    const auto dispatch_until = [&](const std::function<bool()>& done) {
        while (!done() && !frame.failed)
            if (wl_display_dispatch_queue(display, queue.get()) < 0)
                return false;
        return true;
    };

    // From version 3 every kind of buffer is offered, then buffer_done;
    // before, the one shared-memory buffer is all.
    const bool offers_all = zwlr_screencopy_frame_v1_get_version(capture.get()) >= 3;
    if (!dispatch_until([&] { return offers_all ? frame.all_offered : frame.shm_offered; }))
        return std::nullopt;
    const std::size_t pixel_size = bytes_per_pixel(frame.format);
    if (!frame.failed && frame.shm_offered && pixel_size == 0) {
        char text[96];
        std::snprintf(text, sizeof text, "the capture comes in pixel format 0x%08x, which pixla does not read",
                      frame.format);
        why = text;
        return std::nullopt;
    }
    ShmBuffer buffer{shm, frame.width, frame.height, frame.stride, frame.format};
    if (!frame.failed && frame.shm_offered && buffer) {
        zwlr_screencopy_frame_v1_copy(capture.get(), buffer.get());
        if (!dispatch_until([&] { return frame.ready; }))
            return std::nullopt;
    }
    const unsigned char* bytes = frame.ready ? buffer.bytes() : nullptr;
    if (!bytes) {
        why = !frame.shm_offered ? "the compositor offers the capture in no shared memory"
              : !buffer         ? "no memory for the capture"
                                : "the compositor could not capture the output";
        return std::nullopt;
    }
    const auto pixel = pixel_under({frame.width, frame.height, frame.y_invert, output.transform,
                                    output.logical_width, output.logical_height},
                                   x, y);
    if (!pixel || static_cast<std::size_t>(frame.stride) < static_cast<std::size_t>(frame.width) * pixel_size) {
        why = "the capture does not have the output's shape";
        return std::nullopt;
    }
    return decode_pixel(frame.format, bytes + static_cast<std::size_t>(pixel->row) * frame.stride +
                                          static_cast<std::size_t>(pixel->column) * pixel_size);
}
