// pixla's command line as getopt reads it. The leading '+' keeps glibc from
// permuting, so that options end at the first operand; the ':' after it
// keeps getopt quiet and has it return ':' for a missing argument, so that
// pixla writes the complaint itself, with the option escaped.
#pragma once

inline constexpr char pixla_options[] = "+:d:vENr:h";
