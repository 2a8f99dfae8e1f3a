// The floor for pixla's start in a Wayland session: the least a client does
// before it can do anything, connect to the compositor and make one round
// trip for its globals. It ends then; given --stay, it says "done" and
// waits to be killed instead, so that its memory can be read.
#include <wayland-client.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return 1;
    wl_display_get_registry(display);
    const int status = wl_display_roundtrip(display) < 0;
    if (argc > 1 && std::strcmp(argv[1], "--stay") == 0) {
        std::puts("done");
        std::fflush(stdout);
        pause();
    }
    wl_display_disconnect(display);
    return status;
}
