#include "color_names.hpp"

#include <err.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Any magnitude above this is out of range anyway; stopping here keeps the
// arithmetic well inside long long however many digits a line holds.
constexpr long long saturated_value = 1LL << 40;

// isspace() in the C locale, which the program never changes.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* skip_space(const char* text)
{
    while (is_space(*text))
        ++text;
    return text;
}

// What "%d" reads: white space, an optional sign, then at least one digit.
bool parse_int(const char*& text, long long& value)
{
    text = skip_space(text);
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-')
        ++text;
    if (!is_digit(*text))
        return false;
    long long magnitude = 0;
    do
        magnitude = std::min(magnitude * 10 + (*text++ - '0'), saturated_value);
    while (is_digit(*text));
    value = negative ? -magnitude : magnitude;
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct PipeCloser {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
};

}  // namespace

const char* next_piece(PieceReader& reader)
{
    constexpr std::size_t longest_piece = 1023;  // what fgets reads into 1024 bytes
    std::vector<char>& buffer = reader.buffer;
    if (buffer.empty())
        buffer.resize(std::size_t{1} << 16);
    else
        buffer[reader.begin] = reader.covered;  // undo the last piece's terminator
    for (;;) {
        char* start = buffer.data() + reader.begin;
        const std::size_t available = reader.end - reader.begin;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', std::min(available, longest_piece)));
        std::size_t length = 0;
        if (newline)
            length = static_cast<std::size_t>(newline - start) + 1;
        else if (available >= longest_piece || reader.at_end)
            length = std::min(available, longest_piece);
        if (length > 0) {
            reader.begin += length;
            reader.covered = buffer[reader.begin];
            buffer[reader.begin] = '\0';
            return start;
        }
        if (reader.at_end)
            return nullptr;
        // Keep the unfinished piece, and fill the rest of the buffer after it;
        // one byte stays free for the terminator.
        std::memmove(buffer.data(), start, available);
        reader.begin = 0;
        reader.end = available;
        const std::size_t got = std::fread(buffer.data() + available, 1, buffer.size() - 1 - available, reader.stream);
        reader.end += got;
        if (got == 0) {
            if (std::ferror(reader.stream))
                return nullptr;
            reader.at_end = true;
        }
    }
}

std::optional<DbEntry> parse_db_line(const char* line)
{
    DbEntry entry{};
    if (!parse_int(line, entry.red) || !parse_int(line, entry.green) || !parse_int(line, entry.blue))
        return std::nullopt;
    // " %[^\n]": after any white space, one or more characters up to the newline.
    line = skip_space(line);
    const std::size_t length = std::strcspn(line, "\n");
    if (length == 0)
        return std::nullopt;
    entry.name = {line, length};
    return entry;
}

bool channels_in_range(const DbEntry& entry)
{
    return std::ranges::all_of(std::initializer_list<long long>{entry.red, entry.green, entry.blue},
                               [](long long value) { return value >= 0 && value <= 255; });
}

bool entry_matches(const DbEntry& entry, const XColor& color)
{
    return entry.red == channel_value(color.red) && entry.green == channel_value(color.green) &&
           entry.blue == channel_value(color.blue);
}

std::optional<std::string> get_def_colname(const XColor& color)
{
    const std::unique_ptr<std::FILE, PipeCloser> pipe{popen("showrgb", "r")};
    if (!pipe) {
        warn("cant open a process 'showrgb'");
        return std::nullopt;
    }
    PieceReader reader{pipe.get()};
    while (const char* line = next_piece(reader)) {
        const auto entry = parse_db_line(line);
        if (entry && entry_matches(*entry, color))
            return std::string{entry->name};
    }
    return std::nullopt;
}

std::optional<std::string> get_db_colname(const XColor& color, const char* db_file)
{
    const std::unique_ptr<std::FILE, FileCloser> file{std::fopen(db_file, "r")};
    if (!file) {
        warn("can't open '%s' file", db_file);
        return std::nullopt;
    }
    PieceReader reader{file.get()};
    // Every piece counts, so the pieces of an over-long line count as lines.
    long long line_number = 0;
    while (const char* line = next_piece(reader)) {
        ++line_number;
        const auto entry = parse_db_line(line);
        if (!entry) {
            if (line[0] != '\0' && line[0] != '!')
                warnx("syntax error: %s:%lld", db_file, line_number);
        } else if (!channels_in_range(*entry)) {
            warnx("value for '%.*s' is out of range: %s:%lld", static_cast<int>(entry->name.size()),
                  entry->name.data(), db_file, line_number);
        } else if (entry_matches(*entry, color)) {
            return std::string{entry->name};
        }
    }
    if (std::ferror(file.get()))
        warn("can't read '%s' file", db_file);
    return std::nullopt;
}
