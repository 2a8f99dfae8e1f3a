#include "startup.hpp"

#include "color_output.hpp"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

int unreachable_reason(const char* display_name)
{
    // Asked again through xcb with an empty authorization, so that no
    // authority file is read and a refusal is not reported a second time.
    const int saved_stderr = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    errno = 0;
    xcb_auth_info_t no_authorization{};
    int screen;
    xcb_connection_t* connection = xcb_connect_to_display_with_auth_info(display_name, &no_authorization, &screen);
    const int reason = errno;
    const bool unreachable = xcb_connection_has_error(connection) == XCB_CONN_ERROR;
    xcb_disconnect(connection);
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    close(null);
    // A refused setup fails with XCB_CONN_ERROR too, after reads that leave
    // EAGAIN or nothing behind.
    return unreachable && reason != 0 && reason != EAGAIN ? reason : 0;
}

namespace {

bool image_request_failed;

int note_image_error(Display*, XErrorEvent*)
{
    image_request_failed = true;
    return 0;
}

}  // namespace

bool screen_can_be_read(Display* display, Window root)
{
    image_request_failed = false;
    // The error comes back in place of the reply, so the handler is needed
    // for this one round trip only.
    const auto previous = XSetErrorHandler(note_image_error);
    const RootImage image{XGetImage(display, root, 0, 0, 1, 1, AllPlanes, ZPixmap)};
    XSetErrorHandler(previous);
    return !image_request_failed;
}

bool is_xwayland(Display* display)
{
    int opcode, event, error;
    return XQueryExtension(display, "XWAYLAND", &opcode, &event, &error);
}

bool claim_screen(Display* display, int screen)
{
    char name[sizeof "_PIXLA_S" + 12];
    std::snprintf(name, sizeof name, "_PIXLA_S%d", screen);
    const Atom selection = XInternAtom(display, name, False);
    // With the server held, no other client runs between the check and the
    // claim: of several pixlas started at once, exactly one gets the screen.
    XGrabServer(display);
    const bool free = XGetSelectionOwner(display, selection) == None;
    if (free) {
        const Window marker = XCreateSimpleWindow(display, RootWindow(display, screen), -1, -1, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display, selection, marker, CurrentTime);
    }
    XUngrabServer(display);
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
