// The floor for pixla's costs: the least an X client does to pick colors the
// way pixla does. It opens the display, creates the crosshair cursor, grabs
// the pointer synchronously on the root window and, for each press of button
// 1, reads one 1x1 image and queries its color; it prints nothing. It ends
// after the given number of presses of button 1, or at button 3; given
// --stay too, it then says "done" and waits to be killed, so that its
// memory can be read.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[])
{
    const long presses = argc > 1 ? std::atol(argv[1]) : -1;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const unsigned int mask = ButtonPressMask | ButtonReleaseMask;
    const Cursor cursor = XCreateFontCursor(display, XC_crosshair);
    if (XGrabPointer(display, root, False, mask, GrabModeSync, GrabModeAsync, root, cursor, CurrentTime) !=
        GrabSuccess)
        return 1;
    for (long done = 0; done != presses;) {
        XAllowEvents(display, SyncPointer, CurrentTime);
        XEvent event;
        XWindowEvent(display, root, mask, &event);
        if (event.type != ButtonPress || event.xbutton.button == Button2 || event.xbutton.button > Button3)
            continue;
        if (event.xbutton.button == Button3)
            break;
        XImage* image = XGetImage(display, root, event.xbutton.x, event.xbutton.y, 1, 1, AllPlanes, ZPixmap);
        XColor color{};
        color.pixel = XGetPixel(image, 0, 0);
        color.flags = DoRed | DoGreen | DoBlue;
        XQueryColor(display, DefaultColormap(display, screen), &color);
        XDestroyImage(image);
        ++done;
    }
    XCloseDisplay(display);
    if (argc > 2 && std::strcmp(argv[2], "--stay") == 0) {
        std::puts("done");
        std::fflush(stdout);
        pause();
    }
}
