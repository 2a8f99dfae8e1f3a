#include "visible_text.hpp"

#include <cstdio>

std::string visible(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f && c != '\\') {
            shown += c;
            continue;
        }
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
            std::snprintf(octal, sizeof octal, "%03o", byte);
            shown += octal;
        }
        }
    }
    return shown;
}
