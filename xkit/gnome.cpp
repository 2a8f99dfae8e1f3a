#include "gnome.hpp"

#include "portal_bus.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The services that the session bus starts when they are called: the
// portal, its GNOME backend, and dconf, which stores gsettings. Not the
// document portal, which would mount itself in the runtime folder.
constexpr const char* services[] = {"org.freedesktop.portal.Desktop.service",
                                    "org.freedesktop.impl.portal.desktop.gnome.service", "ca.desrt.dconf.service"};

}  // namespace

Gnome::Gnome()
{
    const auto home = dir_.path() / "home", runtime = dir_.path() / "runtime", service_dir = dir_.path() / "services";
    std::filesystem::create_directory(home);
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    std::filesystem::create_directory(service_dir);
    for (const char* service : services)
        std::filesystem::copy_file(std::filesystem::path{"/usr/share/dbus-1/services"} / service,
                                   service_dir / service);

    // All of it, the services that the buses start too, in one process group.
    system_bus_ = start_bus(dir_, "system", "system", {}, "", 0);
    Environment session = {{"HOME", home.string()},
                           {"XDG_RUNTIME_DIR", runtime.string()},
                           {"XDG_CURRENT_DESKTOP", "GNOME"},
                           {"XDG_SESSION_TYPE", "wayland"},
                           {"LIBGL_ALWAYS_SOFTWARE", "1"},
                           {"DBUS_SYSTEM_BUS_ADDRESS", bus_address(dir_, "system")},
                           {"DISPLAY", std::nullopt}};
    // What the bus starts runs in the session, as gnome-session would have it.
    Environment activated = session;
    activated["WAYLAND_DISPLAY"] = display_name;
    session_bus_ = start_bus(dir_, "session", "session", activated, service_dir.string(), system_bus_);
    session["DBUS_SESSION_BUS_ADDRESS"] = bus_address(dir_, "session");
    session["WAYLAND_DISPLAY"] = std::nullopt;  // it is the compositor, not a client
    shell_ = start_server({"gnome-shell", "--headless", "--wayland", "--no-x11",
                           std::string{"--wayland-display="} + display_name, "--virtual-monitor", "1024x768"},
                          session, (dir_.path() / "gnome-shell.log").string(), -1, system_bus_);
    env_ = session;
    env_["WAYLAND_DISPLAY"] = display_name;
    if (!wait_for_bus_name(bus_address(dir_, "session"), "org.gnome.Shell", 60s) ||
        !wait_for_bus_name(bus_address(dir_, "session"), "org.gnome.Mutter.RemoteDesktop", 10s))
        throw std::runtime_error("gnome-shell did not start; see " + (dir_.path() / "gnome-shell.log").string());

    // No animations, and no hot corner to open the overview again.
    run({"gsettings", "set", "org.gnome.desktop.interface", "enable-animations", "false"});
    run({"gsettings", "set", "org.gnome.desktop.interface", "enable-hot-corners", "false"});
    // Relative motion, all that RemoteDesktop moves without a screen cast,
    // one to one.
    run({"gsettings", "set", "org.gnome.desktop.peripherals.mouse", "accel-profile", "flat"});
    run({"gsettings", "set", "org.gnome.desktop.peripherals.mouse", "speed", "0"});
    // The portal's GNOME backend asks the shell for its picker.
    monitor_ = std::make_unique<Process>(
        std::vector<std::string>{"dbus-monitor", "--address", bus_address(dir_, "session"),
                                 "type='method_call',interface='org.gnome.Shell.Screenshot',member='PickColor'"});
    ProcessOptions input = with_env(env_);
    input.stdin_pipe = true;
    input_ = std::make_unique<Process>(std::vector<std::string>{REMOTE_DESKTOP}, input);
    if (!input_->wait_for_line("ready", input_read_, 10s))
        throw std::runtime_error("no RemoteDesktop session: " + input_->err());
}

Gnome::~Gnome()
{
    painting_.reset();
    input_.reset();
    monitor_.reset();
    stop_process_group(system_bus_);
}

Environment Gnome::client_env() const
{
    Environment env = env_;
    env.erase("LIBGL_ALWAYS_SOFTWARE");
    return env;
}

void Gnome::run(std::vector<std::string> command)
{
    const auto result = run_process(command, with_env(env_), 10s);
    if (result.status != 0)
        throw std::runtime_error(command.front() + " failed: " + result.err);
}

void Gnome::paint_screen()
{
    painting_ = std::make_unique<Process>(std::vector<std::string>{WAYLAND_HELPER, "--window"}, with_env(client_env()));
    std::size_t read = 0;
    if (!painting_->wait_for_line("painted window", read, 20s))
        throw std::runtime_error("the helper's window did not show: " + painting_->err());
    // The shell starts in its overview, where the window is a thumbnail.
    for (int tries = 0; overview_active(); ++tries) {
        if (tries == 100)
            throw std::runtime_error("the overview stays open");
        run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell",
             "--method", "org.freedesktop.DBus.Properties.Set", "org.gnome.Shell", "OverviewActive", "<false>"});
        std::this_thread::sleep_for(50ms);
    }
}

bool Gnome::overview_active()
{
    const auto result = run_process({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                                     "/org/gnome/Shell", "--method", "org.freedesktop.DBus.Properties.Get",
                                     "org.gnome.Shell", "OverviewActive"},
                                    with_env(env_), 10s);
    return result.out.find("true") != std::string::npos;
}

bool Gnome::picker_shown()
{
    const auto asked = [&](const std::string& out) {
        const auto at = out.find("member=PickColor", monitor_read_);
        if (at == std::string::npos)
            return false;
        monitor_read_ = at + 1;
        return true;
    };
    if (!monitor_->wait_for_stdout(asked, 20s))
        return false;
    std::this_thread::sleep_for(200ms);
    return true;
}

void Gnome::command_input(const std::string& line)
{
    input_->write_stdin(line + "\n");
    if (!input_->wait_for_line("done", input_read_))
        throw std::runtime_error("RemoteDesktop did not take \"" + line + "\": " + input_->err());
}

void Gnome::click(int x, int y, int button)
{
    command_input("click " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(button));
}

void Gnome::press_key(unsigned keysym) { command_input("key " + std::to_string(keysym)); }
