// The desktop portal's session as a module that pixla loads only where the
// compositor has no screen capture of its own: libsystemd would slow every
// other session's start.
#include "color_output.hpp"
#include "pick_request.hpp"
#include "portal_session.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" [[gnu::visibility("default")]] void pixla_pick(const PickRequest* request, char* why_not, std::size_t size)
{
    rgb_file = request->rgb_file;
    std::string missing;
    if (const auto status = pick_through_portal(*request, missing))
        std::exit(*status);
    std::snprintf(why_not, size, "%s", missing.c_str());
}
