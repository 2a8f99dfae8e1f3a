// The built program, run as a user would run it.
#pragma once

#include <string>

inline const std::string pixla = PIXLA_BINARY;

// The help text, which names the program as it was invoked.
inline std::string help_text(const std::string& invoked_as)
{
    return "pixla " PIXLA_VERSION " - grabs color from the screen & dumps it to stdout.\n"
           "\n"
           "Usage: " + invoked_as + " [-d display] [-r filename] [-vENh]\n"
           "    -d host        display to use\n"
           "    -v             show also XY coordinates\n"
           "    -E             don't exit after grab\n"
           "    -N             don't put newline at the end\n"
           "    -r filename    use alternate rgb.txt file\n"
           "    -h             this help\n";
}
