// Text from outside the program (a file's lines, a file name, a display
// name, the program's own name, an option) as a diagnostic may show it on a
// terminal.
#pragma once

#include <string>
#include <string_view>

// The text with each control character and each backslash written as a C
// escape: \t \n \r and the other letter escapes where C has one, \ooo in
// octal otherwise (\033 for ESC), \\ for the backslash. Control characters
// are the C0 bytes 0x00-0x1f and DEL, and the C1 controls that some
// terminals act on: U+0080-U+009F in UTF-8 (each of its two bytes in
// octal), and a byte 0x80-0x9f that is not part of a UTF-8 character.
// Every other byte passes unchanged, so UTF-8 and Latin-1 text stay readable.
std::string visible(std::string_view text);
