#include "color_names.hpp"

#include "color_db.hpp"
#include "visible_text.hpp"

#include <err.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct PipeCloser {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
};

}  // namespace

std::optional<std::string> get_def_colname(const XColor& color)
{
    const std::unique_ptr<std::FILE, PipeCloser> pipe{popen("showrgb", "r")};
    if (!pipe) {
        warn("cant open a process 'showrgb'");
        return std::nullopt;
    }
    PieceReader reader{fileno(pipe.get())};
    while (const char* line = reader.next()) {
        const auto entry = parse_db_line(line);
        if (entry && entry_matches(*entry, color))
            return std::string{entry->name()};
    }
    return std::nullopt;
}

std::optional<std::string> get_db_colname(const XColor& color, const char* db_file)
{
    // The file's name and lines reach the terminal only through visible().
    const std::string shown_file = visible(db_file);
    const std::unique_ptr<std::FILE, FileCloser> file{std::fopen(db_file, "r")};
    if (!file) {
        warn("can't open '%s' file", shown_file.c_str());
        return std::nullopt;
    }
    PieceReader reader{fileno(file.get())};
    // Every piece counts, so the pieces of an over-long line count as lines.
    long long line_number = 0;
    while (const char* line = reader.next()) {
        ++line_number;
        const auto entry = parse_db_line(line);
        if (!entry) {
            if (line[0] != '\0' && line[0] != '!')
                warnx("syntax error: %s:%lld", shown_file.c_str(), line_number);
        } else if (!channels_in_range(*entry)) {
            warnx("value for '%s' is out of range: %s:%lld", visible(entry->name()).c_str(), shown_file.c_str(),
                  line_number);
        } else if (entry_matches(*entry, color)) {
            return std::string{entry->name()};
        }
    }
    if (reader.error() != 0) {
        errno = reader.error();
        warn("can't read '%s' file", shown_file.c_str());
    }
    return std::nullopt;
}
