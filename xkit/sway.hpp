// A headless sway of the test's own: a real wlroots compositor, run as an
// unprivileged user (sway refuses root), with outputs, clicks through its
// IPC socket, the test kit's Wayland helper, and modifier keys held through
// wtype.
#pragma once

#include "process.hpp"
#include "scratch.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Sway {
public:
    enum class Xwayland { off, on };
    // Starts sway with one output, HEADLESS-1, and Xwayland when asked for:
    // then clients of this user's, root included, may use it.
    explicit Sway(Xwayland xwayland = Xwayland::off);
    ~Sway();
    Sway(const Sway&) = delete;
    Sway& operator=(const Sway&) = delete;

    // WAYLAND_DISPLAY for a client: the socket's absolute path.
    const std::string& socket() const { return socket_; }
    // The X display of sway's Xwayland (":1").
    std::string x_display() const;
    // A client's environment: this compositor, and no X display.
    Environment client_env() const;
    // Runs sway commands ("output HEADLESS-1 scale 2"); throws when sway refuses one.
    void command(const std::string& commands);
    // Where an output lies in the layout, in logical pixels.
    struct Rect {
        int x, y, width, height;
    };
    Rect output_rect(const std::string& output);
    // The time between two frames of the output, in milliseconds.
    double frame_ms(const std::string& output);
    // The pointer to (x, y) in the layout's logical pixels.
    void move_pointer(double x, double y);
    // The pointer to (x, y), on the helper's painting of the output, and
    // waits until the helper has it: an overlay that then maps under the
    // pointer takes it away, and the helper says so ("left OUTPUT").
    void hand_pointer_to_helper(double x, double y, const std::string& output);
    // Presses and releases a button (1, 2, 3) where the pointer is.
    void click(unsigned button = 1);
    void press(unsigned button);
    // Starts the test kit's helper, with its options, which gives the seat
    // its pointer and paints every output; waits until the named outputs are
    // painted.
    void start_helper(const std::vector<std::string>& outputs, const std::vector<std::string>& options = {});
    // Waits for the helper to say this line ("painted HEADLESS-2"); false on timeout.
    bool helper_says(const std::string& line, std::chrono::milliseconds timeout = due_time);
    // Waits until an overlay that maps over the helper's painting of the
    // output has taken the pointer from it. sway 1.10 moves the pointer's
    // focus only with the pointer, so it is set where it is, again and again.
    bool overlay_took_pointer(const std::string& output, std::chrono::milliseconds timeout = due_time);
    // Ends sway at once, as a crash would.
    void kill_compositor();

private:
    std::string ipc(std::uint32_t type, const std::string& payload);

    ScratchDir runtime_dir_;
    std::string socket_;
    std::string ipc_socket_;
    pid_t pid_ = -1;
    std::unique_ptr<Process> helper_;
    std::size_t helper_read_ = 0;  // how much of the helper's output was looked at
    double pointer_x_ = 0;
    double pointer_y_ = 0;
};

// Holds a modifier key ("shift", "ctrl") down through a virtual keyboard of
// wtype's: from a little while before the constructor returns until 1.5 s
// after it began, when the destructor waits for the key's release.
class HeldModifier {
public:
    HeldModifier(const Sway& sway, const std::string& modifier);
    ~HeldModifier();
    HeldModifier(const HeldModifier&) = delete;
    HeldModifier& operator=(const HeldModifier&) = delete;

private:
    Process wtype_;
};

// Taps a key ("Escape") through wtype.
void tap_key(const Sway& sway, const std::string& key);
