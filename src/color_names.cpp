#include "color_names.hpp"

#include <err.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Any magnitude above this is out of range anyway; stopping here keeps the
// arithmetic well inside long long however many digits a line holds.
constexpr long long saturated_value = 1LL << 40;

// isspace() in the C locale, which the program never changes.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_space(std::string_view& text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), is_space);
    text.remove_prefix(static_cast<std::size_t>(first - text.begin()));
}

// What "%d" reads: white space, an optional sign, then at least one digit.
std::optional<long long> parse_int(std::string_view& text)
{
    skip_space(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !is_digit(text.front()))
        return std::nullopt;
    long long value = 0;
    while (!text.empty() && is_digit(text.front())) {
        value = std::min(value * 10 + (text.front() - '0'), saturated_value);
        text.remove_prefix(1);
    }
    return negative ? -value : value;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct PipeCloser {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
};

}  // namespace

std::optional<DbEntry> parse_db_line(std::string_view line)
{
    DbEntry entry{};
    for (long long* value : {&entry.red, &entry.green, &entry.blue}) {
        const auto parsed = parse_int(line);
        if (!parsed)
            return std::nullopt;
        *value = *parsed;
    }
    // " %[^\n]": after any white space, one or more characters up to the newline.
    skip_space(line);
    const std::size_t length = std::min(line.find('\n'), line.find('\0'));
    if (length == 0 || line.empty())
        return std::nullopt;
    entry.name = line.substr(0, length);
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
    char line[1024];
    while (std::fgets(line, sizeof line, pipe.get())) {
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
    char line[1024];
    // Every read counts, so the pieces of an over-long line count as lines.
    for (long long line_number = 1; std::fgets(line, sizeof line, file.get()); ++line_number) {
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
