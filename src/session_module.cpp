#include "session_module.hpp"

#include <dlfcn.h>
#include <err.h>
#include <limits.h>
#include <unistd.h>

#include <string>
#include <string_view>

namespace {

// The folder that holds the running program.
std::string program_folder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof path)
        return {};
    const std::string_view program{path, static_cast<std::size_t>(length)};
    return std::string{program.substr(0, program.rfind('/'))};
}

}  // namespace

PickFunction* load_session(const char* module)
{
    // Beside the program in the build tree, in a folder of its own once
    // installed. Found by path, not by a run path, which would send every
    // library that the program loads, the C library first, through those
    // folders before the system's.
    const std::string folder = program_folder();
    if (folder.empty())
        err(1, "can't load %s: /proc/self/exe", module);
    std::string path = folder + '/' + module;
    if (access(path.c_str(), F_OK) != 0)
        path = folder + "/" PIXLA_MODULES_FROM_PROGRAM "/" + module;
    // Never closed: the process ends in the module.
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    void* pick = handle ? dlsym(handle, pick_function_name) : nullptr;
    if (!pick)
        errx(1, "can't load %s: %s", module, dlerror());
    return reinterpret_cast<PickFunction*>(pick);
}
