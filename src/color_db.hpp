// The X color database format: rgb.txt lines, their entries, and the reader
// that cuts a stream into the lines that fgets would return.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

// One color database entry. Values too large for an int saturate far outside
// 0..255, so that they can never wrap around onto a real channel value.
struct DbEntry {
    long long red;
    long long green;
    long long blue;
    const char* name_start;  // in the parsed line

    // The name runs to the newline or the end of the line. It is measured
    // only when asked for: most entries of a lookup are never named.
    std::string_view name() const { return {name_start, std::strcspn(name_start, "\n")}; }
};

// Parses one database line, a C string, exactly as
// sscanf(line, "%d %d %d %[^\n]\n", ...) accepts it when all four fields are
// converted. Returns nothing for a line that is not an entry.
std::optional<DbEntry> parse_db_line(const char* line);

// The channel value of a 16-bit intensity: its high byte, never rounded.
constexpr unsigned channel_value(unsigned short intensity) { return intensity >> 8; }

inline bool channels_in_range(const DbEntry& entry)
{
    const auto in_range = [](long long value) { return value >= 0 && value <= 255; };
    return in_range(entry.red) && in_range(entry.green) && in_range(entry.blue);
}

inline bool entry_matches(const DbEntry& entry, const XColor& color)
{
    return entry.red == channel_value(color.red) && entry.green == channel_value(color.green) &&
           entry.blue == channel_value(color.blue);
}

// Reads a descriptor in the pieces that fgets with a buffer of 1024 bytes
// would return, a line with its newline or the next 1023 bytes of a longer
// one, but hands them out in place from a large buffer instead of copying
// each. It takes what each read(2) brings, so a piece is handed out as soon
// as it is complete, also from a pipe whose writer pauses.
class PieceReader {
public:
    explicit PieceReader(int fd) : fd_{fd} {}

    // The next piece as a C string (ending at its first NUL byte, as fgets's
    // would). It lives until the next call, and so does any entry parsed
    // from it. Null at the end of the stream or on a read error; a final
    // unfinished piece is dropped on an error, as fgets drops it.
    const char* next();

    // The errno of the read that failed, or 0.
    int error() const { return error_; }

private:
    bool fill();

    int fd_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // the unread bytes are [begin_, end_)
    std::size_t end_ = 0;
    bool at_end_ = false;
    int error_ = 0;
    char covered_ = '\0';  // the byte under the last piece's terminator
};
