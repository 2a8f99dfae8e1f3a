// pixla's command line as getopt reads it; the leading '+' keeps glibc from
// permuting, so that options end at the first operand.
#pragma once

inline constexpr char pixla_options[] = "+d:vENr:h";
