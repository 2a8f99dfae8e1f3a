// Text from outside the program (a file's lines, a file name, a display
// name) as a diagnostic may show it on a terminal.
#pragma once

#include <string>
#include <string_view>

// The text with each control byte (0x00-0x1f, 0x7f) and each backslash
// written as a C escape: \t \n \r and the other letter escapes where C has
// one, \ooo in octal otherwise (\033 for ESC), \\ for the backslash. Bytes
// from 0x80 up pass unchanged, so UTF-8 stays readable.
std::string visible(std::string_view text);
