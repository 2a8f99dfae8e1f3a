#include "x11_startup.hpp"

#include "x11_pixel.hpp"

#include <X11/Xutil.h>
#include <cerrno>
#include <chrono>
#include <thread>

Display* open_display(const char* display_name, ConnectWatch& connects, int* unreachable)
{
    connects = {};
    Display* display = XOpenDisplay(display_name);
    *unreachable = display || connects.reached ? 0 : connects.last_error;
    return display;
}

namespace {

int image_error;

int note_image_error(Display*, XErrorEvent* error)
{
    image_error = error->error_code;
    return 0;
}

}  // namespace

ScreenAccess screen_access(Display* display, Window root)
{
    image_error = Success;
    // The error comes back in place of the reply, so the handler is needed
    // for this one round trip only. libX11 drops a BadAccess to a request
    // that expects a reply without calling any handler: no image and no
    // error seen is that refusal.
    const auto previous = XSetErrorHandler(note_image_error);
    const RootImage image{XGetImage(display, root, 0, 0, 1, 1, AllPlanes, ZPixmap)};
    XSetErrorHandler(previous);
    if (image)
        return ScreenAccess::readable;
    return image_error == BadMatch ? ScreenAccess::unreadable : ScreenAccess::refused_to_client;
}

bool is_xwayland(Display* display)
{
    int opcode, event, error;
    return XQueryExtension(display, "XWAYLAND", &opcode, &event, &error);
}

bool claim_display(Display* display)
{
    const Atom selection = XInternAtom(display, "_PIXLA", False);
    // With the server held, no other client runs between the check and the
    // claim: of several pixlas started at once, exactly one gets the screen.
    XGrabServer(display);
    const bool free = XGetSelectionOwner(display, selection) == None;
    if (free) {
        const Window marker = XCreateSimpleWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display, selection, marker, CurrentTime);
    }
    XUngrabServer(display);
    // At once: every other client of the server waits while it is held, and
    // what pixla does next (loading the cursor theme) may take a while.
    XFlush(display);
    return free;
}

int grab_pointer(Display* display, Window root, Cursor cursor, unsigned int event_mask)
{
    // Started from a key binding or a panel, pixla often finds the pointer
    // still grabbed, or frozen, by the launcher for some tens of milliseconds.
    using std::chrono::steady_clock;
    const auto give_up = steady_clock::now() + std::chrono::seconds{1};
    for (;;) {
        const int status =
            XGrabPointer(display, root, False, event_mask, GrabModeSync, GrabModeAsync, root, cursor, CurrentTime);
        if ((status != AlreadyGrabbed && status != GrabFrozen) || steady_clock::now() >= give_up)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds{5});
    }
}

const char* grab_failure_reason(int status)
{
    switch (status) {
    case AlreadyGrabbed: return "another client has grabbed the pointer";
    case GrabFrozen: return "the pointer is frozen by another client's grab";
    case GrabNotViewable: return "the root window is not viewable";
    case GrabInvalidTime: return "the grab time is invalid";
    default: return "the server refused the grab";
    }
}
