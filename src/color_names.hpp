// Color names from an X color database: the rgb.txt line format and the
// two lookups, through the showrgb program or in a file given with -r.
#pragma once

#include <X11/Xlib.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One color database entry. Values too large for an int saturate far outside
// 0..255, so that they can never wrap around onto a real channel value.
struct DbEntry {
    long long red;
    long long green;
    long long blue;
    std::string_view name;  // points into the parsed line
};

// Reads a stream in the pieces that fgets with a buffer of 1024 bytes would
// return, a line with its newline or the next 1023 bytes of a longer one,
// but hands them out in place from a large buffer instead of copying each.
struct PieceReader {
    std::FILE* stream;
    std::vector<char> buffer{};
    std::size_t begin = 0;  // the unread bytes are [begin, end)
    std::size_t end = 0;
    bool at_end = false;
    char covered = '\0';  // the byte under the last piece's terminator
};

// The next piece as a C string (ending at its first NUL byte, as fgets's
// would); null at the end of the stream or on a read error.
const char* next_piece(PieceReader& reader);

// Parses one database line, a C string, exactly as
// sscanf(line, "%d %d %d %[^\n]\n", ...) accepts it when all four fields are
// converted. Returns nothing for a line that is not an entry.
std::optional<DbEntry> parse_db_line(const char* line);

// The channel value of a 16-bit intensity: its high byte, never rounded.
constexpr unsigned channel_value(unsigned short intensity) { return intensity >> 8; }

bool channels_in_range(const DbEntry& entry);
bool entry_matches(const DbEntry& entry, const XColor& color);

// Name of the first entry with the color's channel values in the output of
// showrgb, run through the shell on every call.
std::optional<std::string> get_def_colname(const XColor& color);

// Name of the first valid entry with the color's channel values in db_file,
// reporting unreadable files and bad lines on standard error.
std::optional<std::string> get_db_colname(const XColor& color, const char* db_file);
