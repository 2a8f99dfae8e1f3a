// A real GNOME of the test's own: gnome-shell headless on a virtual monitor,
// on private session and system buses, with the desktop portal and its GNOME
// backend activated as a session activates them, and mutter's RemoteDesktop
// for the clicks and keys.
#pragma once

#include "process.hpp"
#include "scratch.hpp"

#include <memory>
#include <string>

class Gnome {
public:
    // Starts gnome-shell on a screen of 1024x768, and leaves its overview.
    Gnome();
    ~Gnome();
    Gnome(const Gnome&) = delete;
    Gnome& operator=(const Gnome&) = delete;

    // A client's environment: the Wayland display, the session bus, no X.
    Environment client_env() const;
    // The Wayland display's name.
    static constexpr const char* display_name = "pixla-gnome";
    // Covers the screen with a fullscreen window of the test kit's helper,
    // painted with painted_color() as number 0, and waits until it shows.
    void paint_screen();
    // Waits until the shell was asked for its color picker (once more since
    // the last wait), and then a moment for it to show.
    bool picker_shown();
    // Clicks button 1 or 3 at (x, y), or presses a key (0xff1b: Escape).
    void click(int x, int y, int button = 1);
    void press_key(unsigned keysym);

private:
    void run(std::vector<std::string> command);
    bool overview_active();
    void command_input(const std::string& line);

    ScratchDir dir_;
    Environment env_;
    pid_t system_bus_ = -1;
    pid_t session_bus_ = -1;
    pid_t shell_ = -1;
    std::unique_ptr<Process> input_;
    std::size_t input_read_ = 0;
    std::unique_ptr<Process> monitor_;
    std::size_t monitor_read_ = 0;
    std::unique_ptr<Process> painting_;
};
