// A private D-Bus session bus for a test, with the real xdg-desktop-portal
// frontend on it behind the test kit's scripted backend, or with no portal
// at all. The bus starts the frontend when a client first calls it, as a
// session's bus does.
#pragma once

#include "process.hpp"
#include "scratch.hpp"

#include <chrono>
#include <memory>
#include <string>

// Starts a bus daemon of the test's own on a socket in the folder, where
// anyone may own any name and call anything, and waits until it listens.
// With a folder of D-Bus service files, it starts their services when they
// are called, with its own environment.
pid_t start_bus(const ScratchDir& folder, const std::string& name, const std::string& type,
                const Environment& env = {}, const std::string& service_dir = "", pid_t process_group = -1);
// The address of a bus that start_bus started in the folder.
std::string bus_address(const ScratchDir& folder, const std::string& name);
// Waits until a client owns the name on the bus at the address.
bool wait_for_bus_name(const std::string& address, const std::string& name,
                       std::chrono::milliseconds timeout = std::chrono::seconds{20});

class PortalBus {
public:
    enum class Portal { none, scripted };
    explicit PortalBus(Portal portal = Portal::scripted);
    ~PortalBus();
    PortalBus(const PortalBus&) = delete;
    PortalBus& operator=(const PortalBus&) = delete;

    // How the backend answers the next PickColor requests, a line each.
    void script(const std::string& answers);
    // DBUS_SESSION_BUS_ADDRESS for a client of this bus.
    std::string address() const { return bus_address(dir_, "session"); }
    // Waits for the backend to say this line ("PickColor TOKEN").
    bool backend_says(const std::string& line, std::chrono::milliseconds timeout = due_time);
    // Waits until a client itself has closed the request with the token
    // (Request.Close); the frontend closes the backend's own when a client
    // leaves, and the backend cannot tell the two apart.
    bool client_closed(const std::string& token, std::chrono::milliseconds timeout = due_time);

private:
    ScratchDir dir_;
    pid_t bus_ = -1;
    std::unique_ptr<Process> backend_;
    std::size_t backend_read_ = 0;
    std::unique_ptr<Process> monitor_;
};
