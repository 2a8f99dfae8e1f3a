// Differential fuzzing of the color database line parser against sscanf with
// the format it replaces: both must accept the same lines and agree on the
// four fields, except for values too large for an int, which sscanf wraps.
#include "color_db.hpp"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // sscanf reads a C string: what follows a NUL is never seen by either.
    const std::string line{reinterpret_cast<const char*>(data), size};
    const auto parsed = parse_db_line(line.c_str());

    int red = 0, green = 0, blue = 0;
    std::vector<char> name(line.size() + 1);
    const bool scanned = std::sscanf(line.c_str(), "%d %d %d %[^\n]\n", &red, &green, &blue, name.data()) == 4;
    if (parsed.has_value() != scanned)
        std::abort();
    if (!parsed)
        return 0;
    if (parsed->name() != name.data())
        std::abort();
    const auto agrees = [](long long ours, int theirs) { return ours < INT_MIN || ours > INT_MAX || ours == theirs; };
    if (!agrees(parsed->red, red) || !agrees(parsed->green, green) || !agrees(parsed->blue, blue))
        std::abort();
    // A value that does not fit an int is never in range.
    for (long long value : {parsed->red, parsed->green, parsed->blue})
        if ((value < INT_MIN || value > INT_MAX) && channels_in_range(*parsed))
            std::abort();
    return 0;
}
