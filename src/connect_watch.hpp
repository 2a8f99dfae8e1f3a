// What the connect() calls of this process came to. The program's own
// connect() stands in front of the C library's for the whole process, so
// that the libraries' calls pass through it too: when a display cannot be
// opened, it tells a server that was never reached (and why) from one that
// was reached and said no, which errno after the failure cannot.
#pragma once

struct ConnectWatch {
    bool reached = false;  // some connect() succeeded
    int last_error = 0;    // the errno of the last one that failed
};

// The program's watch, which its connect() fills. Sessions that the program
// loads as modules get its address: a module's own copy would stay empty.
extern ConnectWatch connect_watch;
