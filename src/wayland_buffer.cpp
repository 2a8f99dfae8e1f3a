#include "wayland_buffer.hpp"

#include <sys/mman.h>

ShmBuffer::ShmBuffer(wl_shm* shm, int width, int height, int stride, std::uint32_t format)
    : memory_{memfd_create("pixla", MFD_CLOEXEC)}, stride_{stride}
{
    size_ = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    if (!memory_ || size_ == 0 || ftruncate(memory_.get(), static_cast<off_t>(size_)) != 0)
        return;
    wl_shm_pool* pool = wl_shm_create_pool(shm, memory_.get(), static_cast<int32_t>(size_));
    buffer_.reset(wl_shm_pool_create_buffer(pool, 0, width, height, stride, format));
    // The buffer keeps what it needs of the pool.
    wl_shm_pool_destroy(pool);
}

ShmBuffer::~ShmBuffer()
{
    if (bytes_)
        munmap(bytes_, size_);
}

unsigned char* ShmBuffer::bytes()
{
    if (!bytes_ && buffer_) {
        void* mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, memory_.get(), 0);
        bytes_ = mapped == MAP_FAILED ? nullptr : static_cast<unsigned char*>(mapped);
    }
    return bytes_;
}
