#include "wayland_display.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdlib>

std::optional<std::string> wayland_socket_path(const char* display_name)
{
    const std::string name = display_name;
    if (name.starts_with('/'))
        return name;
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime_dir || !*runtime_dir)
        return std::nullopt;
    return std::string{runtime_dir} + "/" + name;
}

std::optional<UniqueFd> claim_wayland_display(const std::string& socket_path)
{
    const auto slash = socket_path.rfind('/');
    const std::string lock_path =
        socket_path.substr(0, slash + 1) + "pixla-" + socket_path.substr(slash + 1) + ".lock";
    UniqueFd lock{open(lock_path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600)};
    if (!lock)
        return UniqueFd{};
    if (flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? std::nullopt : std::optional{UniqueFd{}};
    return lock;
}
