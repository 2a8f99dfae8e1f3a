// What pixla settles with the X server before its click loop: that the
// screen can be read at all, that no other pixla picks on it, and the
// pointer grab itself.
#pragma once

#include <X11/Xlib.h>

// Why the display could not be opened, as an errno value, when the reason
// was that its server could not be reached (no such socket, refused,
// unreachable, timed out, ...); 0 when the server was reached and still
// said no (a screen it does not have, an authorization refused) or the name
// makes no sense. errno after a failed XOpenDisplay cannot tell these apart:
// the lookup of the authority file leaves its own behind.
int unreachable_reason(const char* display_name);

// Whether the server lets clients read the root window: it answers a 1x1
// image request with the pixel, not with an error, as rootless Xwayland
// does in a Wayland session. Xlib's default error handler is back in place
// when this returns.
bool screen_can_be_read(Display* display, Window root);

// Whether the server says it is Xwayland. Rootful Xwayland says so too, and
// its screen can be read: this only names the server once a read has failed.
bool is_xwayland(Display* display);

// Claims the screen for this pixla, as ICCCM managers claim theirs: the
// selection _PIXLA_S<screen> owned by a small unmapped window, which the
// server lets go when the connection ends, however it ends. False when
// another pixla holds it.
bool claim_screen(Display* display, int screen);

// XGrabPointer on the root window with the crosshair cursor, asked again for
// up to a second while another client holds the pointer or keeps it frozen.
int grab_pointer(Display* display, Window root, Cursor cursor, unsigned int event_mask);

// Why the server refused the grab, for the "can't grab" message.
const char* grab_failure_reason(int status);
