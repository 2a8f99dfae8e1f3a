// Color names from an X color database, through the showrgb program or in a
// file given with -r.
#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <string>

// Name of the first entry with the color's channel values in the output of
// showrgb, run through the shell on every call.
std::optional<std::string> get_def_colname(const XColor& color);

// Name of the first valid entry with the color's channel values in db_file,
// reporting unreadable files and bad lines on standard error.
std::optional<std::string> get_db_colname(const XColor& color, const char* db_file);
