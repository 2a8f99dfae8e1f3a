#include "portal_bus.hpp"

#include <systemd/sd-bus.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr char backend_name[] = "org.freedesktop.impl.portal.desktop.pixlatest";

}  // namespace

std::string bus_address(const ScratchDir& folder, const std::string& name)
{
    return "unix:path=" + (folder.path() / (name + "-bus")).string();
}

pid_t start_bus(const ScratchDir& folder, const std::string& name, const std::string& type, const Environment& env,
                const std::string& service_dir, pid_t process_group)
{
    const std::string socket = (folder.path() / (name + "-bus")).string();
    const std::string services = service_dir.empty() ? "" : "<servicedir>" + service_dir + "</servicedir>";
    const std::string config = folder.write(name + "-bus.conf", "<!DOCTYPE busconfig PUBLIC "
        "\"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>" + type + "</type><listen>unix:path=" + socket + "</listen>" + services +
        "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/><allow user=\"*\"/></policy></busconfig>\n");
    const pid_t bus = start_server({"dbus-daemon", "--nofork", "--config-file=" + config}, env,
                                   (folder.path() / (name + "-bus.log")).string(), -1, process_group);
    for (int waited = 0; !std::filesystem::exists(socket); waited += 10) {
        if (waited >= 10000) {
            stop_server(bus);
            throw std::runtime_error("dbus-daemon did not start");
        }
        std::this_thread::sleep_for(10ms);
    }
    return bus;
}

bool wait_for_bus_name(const std::string& address, const std::string& name, std::chrono::milliseconds timeout)
{
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return false;
    }
    bool owned = false;
    for (const auto give_up = std::chrono::steady_clock::now() + timeout;
         !owned && std::chrono::steady_clock::now() < give_up; std::this_thread::sleep_for(10ms)) {
        sd_bus_message* reply = nullptr;
        int has_owner = 0;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", name.c_str()) >= 0 &&
            sd_bus_message_read(reply, "b", &has_owner) >= 0)
            owned = has_owner;
        sd_bus_message_unref(reply);
    }
    sd_bus_flush_close_unref(bus);
    return owned;
}

PortalBus::PortalBus(Portal portal)
{
    if (portal == Portal::none) {
        bus_ = start_bus(dir_, "session", "session", {}, "", 0);
        return;
    }
    // The frontend chooses its backends by the desktop's name, and the bus
    // starts it when it is first called, and again should it end, as a
    // session's bus does; its output goes to the bus's log.
    std::filesystem::create_directory(dir_.path() / "portals");
    dir_.write("portals/pixlatest.portal",
               std::string{"[portal]\nDBusName="} + backend_name +
                   "\nInterfaces=org.freedesktop.impl.portal.Screenshot;org.freedesktop.impl.portal.Access;\n"
                   "UseIn=pixlatest\n");
    std::filesystem::create_directory(dir_.path() / "services");
    dir_.write("services/org.freedesktop.portal.Desktop.service",
               "[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=/usr/libexec/xdg-desktop-portal\n");
    const Environment frontend_env{{"XDG_DESKTOP_PORTAL_DIR", (dir_.path() / "portals").string()},
                                   {"XDG_CURRENT_DESKTOP", "pixlatest"},
                                   {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent"}};
    bus_ = start_bus(dir_, "session", "session", frontend_env, (dir_.path() / "services").string(), 0);
    script("failure");
    backend_ = std::make_unique<Process>(
        std::vector<std::string>{PORTAL_BACKEND, backend_name, (dir_.path() / "script").string()},
        with_env({{"DBUS_SESSION_BUS_ADDRESS", address()}}));
    if (!backend_says("ready", 10s))
        throw std::runtime_error("the scripted portal backend did not start: " + backend_->err());
    monitor_ = std::make_unique<Process>(std::vector<std::string>{
        "dbus-monitor", "--address", address(),
        "type='method_call',interface='org.freedesktop.portal.Request',member='Close'"});
    // The monitor says when it is listening, with the bus's NameAcquired.
    if (!monitor_->wait_for_stdout([](const std::string& out) { return out.find("NameAcquired") != std::string::npos; },
                                   10s))
        throw std::runtime_error("dbus-monitor did not start: " + monitor_->err());
}

PortalBus::~PortalBus()
{
    monitor_.reset();
    backend_.reset();
    // The bus, and the frontend that it started.
    stop_process_group(bus_);
}

void PortalBus::script(const std::string& answers) { dir_.write("script", answers + "\n"); }

bool PortalBus::client_closed(const std::string& token, std::chrono::milliseconds timeout)
{
    return monitor_->wait_for_stdout(
        [&](const std::string& out) { return out.find("/" + token + "; interface=") != std::string::npos; }, timeout);
}

bool PortalBus::backend_says(const std::string& line, std::chrono::milliseconds timeout)
{
    return backend_->wait_for_line(line, backend_read_, timeout);
}
