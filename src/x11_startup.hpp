// What pixla settles with the X server before its click loop: that the
// screen can be read at all, that no other pixla picks on it, and the
// pointer grab itself.
#pragma once

#include "connect_watch.hpp"

#include <X11/Xlib.h>

// XOpenDisplay, and when it fails, why, from what the program's connect()
// calls came to meanwhile: *unreachable is the errno of the last attempt to
// connect when no attempt reached the server (no such socket, refused,
// unreachable, ...), and 0 when one did and the server said no (a screen it
// does not have, an authorization refused) or the name made no sense. errno
// after a failed XOpenDisplay cannot tell these apart: the lookup of the
// authority file, or a refused first socket before one that connects, leaves
// its own behind.
Display* open_display(const char* display_name, ConnectWatch& connects, int* unreachable);

// What the server lets this client do with the pixels of the root window.
enum class ScreenAccess {
    readable,
    // Refused to this client alone (BadAccess): an untrusted connection, as
    // ssh -X makes where ForwardX11Trusted is off, or access control.
    refused_to_client,
    // Refused to every client (BadMatch), as rootless Xwayland does in a
    // Wayland session.
    unreadable,
};

// Reads one pixel of the root window to find out. Xlib's default error
// handler is back in place when this returns.
ScreenAccess screen_access(Display* display, Window root);

// Whether the server says it is Xwayland. Rootful Xwayland says so too, and
// its screen can be read: this only names the server once a read has failed.
bool is_xwayland(Display* display);

// Claims the display for this pixla, as ICCCM managers claim their
// screens: the selection _PIXLA owned by a small unmapped window, which the
// server lets go when the connection ends, however it ends. One claim for
// the whole server, as the pointer grab is. False when another pixla holds it.
bool claim_display(Display* display);

// XGrabPointer on the root window with the crosshair cursor, asked again for
// up to a second while another client holds the pointer or keeps it frozen.
int grab_pointer(Display* display, Window root, Cursor cursor, unsigned int event_mask);

// Why the server refused the grab, for the "can't grab" message.
const char* grab_failure_reason(int status);
