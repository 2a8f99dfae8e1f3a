#include "visible_text.hpp"

#include <cstdio>

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// The length of the well-formed UTF-8 character at the start of the text,
// or 0 when it does not start with one of two bytes or more.
std::size_t utf8_length(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2;
    else if (lead >= 0xe0 && lead <= 0xef)
        length = 3;
    else if (lead >= 0xf0 && lead <= 0xf4)
        length = 4;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if (!is_continuation(static_cast<unsigned char>(text[i])))
            return 0;
    return length;
}

void escape(std::string& shown, char c)
{
    shown += '\\';
    switch (c) {
    case '\\': shown += '\\'; break;
    case '\a': shown += 'a'; break;
    case '\b': shown += 'b'; break;
    case '\t': shown += 't'; break;
    case '\n': shown += 'n'; break;
    case '\v': shown += 'v'; break;
    case '\f': shown += 'f'; break;
    case '\r': shown += 'r'; break;
    default: {
        char octal[4];
        std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned char>(c));
        shown += octal;
    }
    }
}

}  // namespace

std::string visible(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        if (const std::size_t length = utf8_length(text)) {
            // U+0080-U+009F is 0xc2 followed by 0x80-0x9f.
            if (byte == 0xc2 && static_cast<unsigned char>(text[1]) <= 0x9f) {
                escape(shown, text[0]);
                escape(shown, text[1]);
            } else {
                shown += text.substr(0, length);
            }
            text.remove_prefix(length);
            continue;
        }
        if (byte < 0x20 || byte == 0x7f || byte == '\\' || (byte >= 0x80 && byte <= 0x9f))
            escape(shown, text[0]);
        else
            shown += text[0];
        text.remove_prefix(1);
    }
    return shown;
}
