// The wlroots session as a module that pixla loads only in a Wayland
// session, so that its libraries never slow an X session's start.
#include "color_output.hpp"
#include "pick_request.hpp"
#include "wlroots_session.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" [[gnu::visibility("default")]] void pixla_pick(const PickRequest* request, char* why_not, std::size_t size)
{
    rgb_file = request->rgb_file;
    std::string missing;
    if (const auto status = pick_on_wlroots(*request, missing))
        std::exit(*status);
    std::snprintf(why_not, size, "the compositor lacks %s", missing.c_str());
}
