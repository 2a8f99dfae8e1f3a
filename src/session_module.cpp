#include "session_module.hpp"

#include <dlfcn.h>
#include <err.h>

PickFunction* load_session(const char* module)
{
    // Never closed: the process ends in the module.
    void* handle = dlopen(module, RTLD_LAZY | RTLD_LOCAL);
    void* pick = handle ? dlsym(handle, pick_function_name) : nullptr;
    if (!pick)
        errx(1, "can't load %s: %s", module, dlerror());
    return reinterpret_cast<PickFunction*>(pick);
}
