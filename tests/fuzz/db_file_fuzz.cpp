// Fuzzing the -r file lookup as a whole: the fuzzer's bytes become a color
// database file, read in pieces against fgets and looked up for a few colors.
#include "color_db.hpp"
#include "color_names.hpp"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

XColor color_of(unsigned red, unsigned green, unsigned blue)
{
    XColor color{};
    color.red = static_cast<unsigned short>(red << 8);
    color.green = static_cast<unsigned short>(green << 8);
    color.blue = static_cast<unsigned short>(blue << 8);
    return color;
}

// The database lives in a file that is unlinked as soon as it is made, so
// that no run, however it ends, leaves it behind; its path goes through the
// descriptor that keeps it.
const std::string& database_path()
{
    static const std::string path = [] {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string{folder && *folder ? folder : "/tmp"} + "/pixla-fuzz-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd < 0 || unlink(name.c_str()) != 0)
            std::abort();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes{reinterpret_cast<const char*>(data), size};
    std::FILE* file = std::fopen(database_path().c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        std::abort();

    // The lookup reads the file in the same pieces as fgets would.
    {
        std::FILE* by_fgets = std::fopen(database_path().c_str(), "r");
        std::FILE* by_reader = std::fopen(database_path().c_str(), "r");
        if (!by_fgets || !by_reader)
            std::abort();
        PieceReader reader{fileno(by_reader)};
        char line[1024];
        for (;;) {
            const char* expected = std::fgets(line, sizeof line, by_fgets);
            const char* piece = reader.next();
            if (!expected != !piece || (piece && std::strcmp(expected, piece) != 0))
                std::abort();
            if (!piece)
                break;
        }
        std::fclose(by_fgets);
        std::fclose(by_reader);
    }

    const auto first = [&](std::size_t i) { return i < size ? data[i] : 0u; };
    for (const XColor& color : {color_of(0, 0, 0), color_of(255, 255, 255), color_of(first(0), first(1), first(2))}) {
        const auto name = get_db_colname(color, database_path().c_str());
        // A name comes whole from one read of at most 1023 bytes, without its newline.
        if (name && (name->empty() || name->size() > 1022 || name->find('\n') != std::string::npos ||
                     bytes.find(*name) == std::string_view::npos))
            std::abort();
    }
    return 0;
}
