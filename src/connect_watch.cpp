#include "connect_watch.hpp"

#include <dlfcn.h>
#include <sys/socket.h>

#include <cerrno>

ConnectWatch connect_watch;

// The program exports this (see CMakeLists.txt), so that libxcb, loaded
// later with the X session, calls it in place of the C library's.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length)
{
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static const auto next_connect = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    const int result = next_connect(fd, address, length);
    if (result == 0)
        connect_watch.reached = true;
    else
        connect_watch.last_error = errno;
    return result;
}
