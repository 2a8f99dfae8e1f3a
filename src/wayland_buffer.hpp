// Shared-memory buffers for a Wayland compositor: the transparent overlays,
// the cursor, and the screen captures that it writes into.
#pragma once

#include "unique_fd.hpp"

#include <wayland-client.h>

#include <cstddef>
#include <cstdint>
#include <memory>

template <typename T, void (*destroy)(T*)>
struct WaylandDeleter {
    void operator()(T* object) const { destroy(object); }
};
// A Wayland object of the client's, destroyed with its owner. Only for
// types local to a source file: the protocols' destroy functions are
// static, so a class in a header holds a deleter of its own instead.
template <typename T, void (*destroy)(T*)>
using WaylandPtr = std::unique_ptr<T, WaylandDeleter<T, destroy>>;

class ShmBuffer {
public:
    // A buffer of width x height pixels of the format, `stride` bytes a row,
    // in memory that starts out all zeros: in ARGB8888, fully transparent.
    // An empty buffer (no wl_buffer) when the memory cannot be had.
    ShmBuffer(wl_shm* shm, int width, int height, int stride, std::uint32_t format);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    explicit operator bool() const { return buffer_ != nullptr; }
    wl_buffer* get() const { return buffer_.get(); }
    int stride() const { return stride_; }
    // The buffer's bytes, mapped on first use, so that a buffer never looked
    // at costs this process no memory; null when they cannot be mapped.
    unsigned char* bytes();

private:
    struct Destroy {
        void operator()(wl_buffer* buffer) const { wl_buffer_destroy(buffer); }
    };
    UniqueFd memory_;
    std::size_t size_ = 0;
    int stride_;
    unsigned char* bytes_ = nullptr;
    std::unique_ptr<wl_buffer, Destroy> buffer_;
};
