#include "color_db.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
// Returns where the number ends, or null when there is none.
inline const char* parse_int(const char* text, long long& value)
{
    text = skip_space(text);
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-')
        ++text;
    if (!is_digit(*text))
        return nullptr;
    long long magnitude = 0;
    do
        magnitude = std::min(magnitude * 10 + (*text++ - '0'), saturated_value);
    while (is_digit(*text));
    value = negative ? -magnitude : magnitude;
    return text;
}

constexpr std::size_t longest_piece = 1023;  // what fgets reads into 1024 bytes
constexpr std::size_t buffer_size = std::size_t{1} << 16;

}  // namespace

std::optional<DbEntry> parse_db_line(const char* line)
{
    DbEntry entry{};
    if (!(line = parse_int(line, entry.red)) || !(line = parse_int(line, entry.green)) ||
        !(line = parse_int(line, entry.blue)))
        return std::nullopt;
    // " %[^\n]": after any white space (the newline among it), one or more
    // characters up to the newline.
    line = skip_space(line);
    if (*line == '\0')
        return std::nullopt;
    entry.name_start = line;
    return entry;
}

const char* PieceReader::next()
{
    if (buffer_.empty())
        buffer_.resize(buffer_size);
    else
        buffer_[begin_] = covered_;  // undo the last piece's terminator
    for (;;) {
        char* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', std::min(available, longest_piece)));
        std::size_t length = 0;
        if (newline)
            length = static_cast<std::size_t>(newline - start) + 1;
        else if (available >= longest_piece || at_end_)
            length = std::min(available, longest_piece);
        if (length > 0) {
            begin_ += length;
            covered_ = buffer_[begin_];
            buffer_[begin_] = '\0';
            return start;
        }
        if (at_end_ || !fill())
            return nullptr;
    }
}

// Keeps the unfinished piece at the front and reads what the descriptor has
// after it; one byte stays free for the terminator. False on a read error.
bool PieceReader::fill()
{
    const std::size_t available = end_ - begin_;
    std::memmove(buffer_.data(), buffer_.data() + begin_, available);
    begin_ = 0;
    end_ = available;
    ssize_t got;
    do
        got = read(fd_, buffer_.data() + end_, buffer_.size() - 1 - end_);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        error_ = errno;
        return false;
    }
    end_ += static_cast<std::size_t>(got);
    at_end_ = got == 0;
    return true;
}
