#include "sway.hpp"

#include "xvfb.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// sway's IPC messages: "i3-ipc", the payload's length and the message's type.
constexpr char ipc_magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::uint32_t run_command = 0;
constexpr std::uint32_t get_outputs = 3;

// The uid that sway runs as when the tests run as root: sway refuses root.
constexpr uid_t unprivileged = 65534;

void write_all(int fd, const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0)
            throw std::runtime_error("writing to sway's IPC socket failed");
        done += static_cast<std::size_t>(wrote);
    }
}

std::string read_exactly(int fd, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = read(fd, bytes.data() + done, size - done);
        if (got <= 0)
            throw std::runtime_error("reading from sway's IPC socket failed");
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

// The first file in the folder whose name starts with the prefix and does not end with the suffix.
std::string find_file(const std::filesystem::path& folder, const std::string& prefix, const std::string& not_suffix)
{
    for (const auto& entry : std::filesystem::directory_iterator{folder}) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && !name.ends_with(not_suffix))
            return entry.path().string();
    }
    return "";
}

}  // namespace

Sway::Sway(Xwayland xwayland)
{
    const bool as_root = geteuid() == 0;
    if (as_root && chown(runtime_dir_.path().c_str(), unprivileged, unprivileged) != 0)
        throw std::runtime_error("cannot give sway its runtime folder");
    const std::string folder = runtime_dir_.path().string();
    std::string config = "xwayland disable\n";
    if (xwayland == Xwayland::on) {
        ensure_x11_socket_folder();
        // Its Xwayland lets in only sway's own user, unless told otherwise;
        // sway's children learn its display from DISPLAY.
        config = "xwayland enable\nexec sh -c 'xhost +si:localuser:" + std::string{as_root ? "root" : "$(id -un)"} +
                 " >/dev/null; echo \"$DISPLAY\" >" + folder + "/x-display.new && mv " + folder +
                 "/x-display.new " + folder + "/x-display'\n";
    }
    runtime_dir_.write("config", config);
    std::vector<std::string> command;
    if (as_root)
        command = {"setpriv", "--pdeathsig", "TERM", "--reuid=65534", "--regid=65534", "--clear-groups"};
    // A clean environment: nothing of the test's display or session.
    command.insert(command.end(), {"env", "-i", "PATH=/usr/bin:/bin", "HOME=" + folder, "XDG_RUNTIME_DIR=" + folder,
                                   "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman",
                                   "sway", "-c", folder + "/config"});
    pid_ = start_server(command, {}, folder + "/sway.log");
    for (int waited = 0; ipc_socket_.empty() || socket_.empty(); waited += 10) {
        if (waited >= 20000) {
            kill_compositor();
            std::ifstream log{runtime_dir_.path() / "sway.log"};
            throw std::runtime_error("sway did not start; it logged:\n" +
                                     std::string{std::istreambuf_iterator<char>{log}, {}});
        }
        std::this_thread::sleep_for(10ms);
        socket_ = find_file(runtime_dir_.path(), "wayland-", ".lock");
        ipc_socket_ = find_file(runtime_dir_.path(), "sway-ipc.", ".tmp");
    }
}

Sway::~Sway()
{
    helper_.reset();
    kill_compositor();
}

void Sway::kill_compositor()
{
    stop_server(pid_);
    pid_ = -1;
}

std::string Sway::x_display() const
{
    const auto file = runtime_dir_.path() / "x-display";
    for (int waited = 0; !std::filesystem::exists(file); waited += 10) {
        if (waited >= 20000)
            throw std::runtime_error("sway did not start Xwayland");
        std::this_thread::sleep_for(10ms);
    }
    std::ifstream in{file};
    std::string display;
    std::getline(in, display);
    return display;
}

Environment Sway::client_env() const { return {{"WAYLAND_DISPLAY", socket_}, {"DISPLAY", std::nullopt}}; }

std::string Sway::ipc(std::uint32_t type, const std::string& payload)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", ipc_socket_.c_str());
    // sway may still be setting its socket up.
    for (int tries = 0; ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0; ++tries) {
        if (tries == 200) {
            close(fd);
            throw std::runtime_error("cannot reach sway's IPC socket");
        }
        std::this_thread::sleep_for(10ms);
    }
    std::string message{ipc_magic, sizeof ipc_magic};
    const std::uint32_t header[] = {static_cast<std::uint32_t>(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    try {
        write_all(fd, message + payload);
        const std::string reply_header = read_exactly(fd, sizeof ipc_magic + sizeof header);
        std::uint32_t length;
        std::memcpy(&length, reply_header.data() + sizeof ipc_magic, sizeof length);
        const std::string reply = read_exactly(fd, length);
        close(fd);
        return reply;
    } catch (...) {
        close(fd);
        throw;
    }
}

void Sway::command(const std::string& commands)
{
    const std::string reply = ipc(run_command, commands);
    if (reply.find("\"success\": false") != std::string::npos || reply.find("\"success\":false") != std::string::npos)
        throw std::runtime_error("sway refused \"" + commands + "\": " + reply);
}

namespace {

// What get_outputs says of one output: from its "id", which starts its
// object, to the next output's.
std::string output_object(const std::string& outputs, const std::string& output)
{
    const auto name = outputs.find("\"name\": \"" + output + "\"");
    const auto start = outputs.rfind("\"id\":", name);
    if (name == std::string::npos || start == std::string::npos)
        throw std::runtime_error("sway knows no output " + output + ": " + outputs);
    return outputs.substr(start, outputs.find("\"id\":", name) - start);
}

}  // namespace

Sway::Rect Sway::output_rect(const std::string& output)
{
    const std::string object = output_object(ipc(get_outputs, ""), output);
    const auto rect = object.find("\"rect\":");
    Rect found{};
    if (rect == std::string::npos ||
        std::sscanf(object.c_str() + rect, "\"rect\": { \"x\": %d, \"y\": %d, \"width\": %d, \"height\": %d",
                    &found.x, &found.y, &found.width, &found.height) != 4)
        throw std::runtime_error("sway does not say where " + output + " is: " + object);
    return found;
}

double Sway::frame_ms(const std::string& output)
{
    const std::string object = output_object(ipc(get_outputs, ""), output);
    const auto mode = object.find("\"current_mode\":");
    const auto refresh = object.find("\"refresh\":", mode);
    int millihertz = 0;
    if (mode == std::string::npos || refresh == std::string::npos ||
        std::sscanf(object.c_str() + refresh, "\"refresh\": %d", &millihertz) != 1 || millihertz <= 0)
        throw std::runtime_error("sway does not say how often " + output + " shows a frame: " + object);
    return 1e6 / millihertz;
}

void Sway::move_pointer(double x, double y)
{
    pointer_x_ = x;
    pointer_y_ = y;
    char text[96];
    std::snprintf(text, sizeof text, "seat seat0 cursor set %.6f %.6f", x, y);
    command(text);
}

void Sway::press(unsigned button) { command("seat seat0 cursor press button" + std::to_string(button)); }

void Sway::click(unsigned button)
{
    const std::string name = "button" + std::to_string(button);
    command("seat seat0 cursor press " + name + ", seat seat0 cursor release " + name);
}

void Sway::hand_pointer_to_helper(double x, double y, const std::string& output)
{
    move_pointer(x, y);
    // The helper's last word on the pointer tells who has it.
    const auto helper_has_it = [&](const std::string& out) {
        const auto entered = out.rfind("entered "), left = out.rfind("left ");
        return entered != std::string::npos && (left == std::string::npos || left < entered) &&
               out.compare(entered, 9 + output.size(), "entered " + output + "\n") == 0;
    };
    if (!helper_->wait_for_stdout(helper_has_it))
        throw std::runtime_error("the helper did not get the pointer on " + output + ": " + helper_->out());
    helper_read_ = helper_->out().size();
}

void Sway::start_helper(const std::vector<std::string>& outputs, const std::vector<std::string>& options)
{
    std::vector<std::string> command{WAYLAND_HELPER};
    command.insert(command.end(), options.begin(), options.end());
    helper_ = std::make_unique<Process>(command, with_env(client_env()));
    // In whatever order the outputs come; later waits read from the start.
    helper_read_ = 0;
    for (const std::string& output : outputs) {
        std::size_t read = 0;
        if (!helper_->wait_for_line("painted " + output, read, 20s))
            throw std::runtime_error("the helper did not paint " + output + ": " + helper_->err());
    }
}

bool Sway::helper_says(const std::string& line, std::chrono::milliseconds timeout)
{
    return helper_->wait_for_line(line, helper_read_, timeout);
}

bool Sway::overlay_took_pointer(const std::string& output, std::chrono::milliseconds timeout)
{
    for (const auto give_up = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < give_up;
         move_pointer(pointer_x_, pointer_y_))
        if (helper_says("left " + output, 20ms))
            return true;
    return false;
}

HeldModifier::HeldModifier(const Sway& sway, const std::string& modifier)
    : wtype_{{"wtype", "-M", modifier, "-s", "1500", "-m", modifier}, with_env(sway.client_env())}
{
    // wtype makes its keyboard and presses the key within a few milliseconds.
    std::this_thread::sleep_for(400ms);
}

HeldModifier::~HeldModifier() { wtype_.finish(); }

void tap_key(const Sway& sway, const std::string& key)
{
    const auto result = run_process({"wtype", "-k", key}, with_env(sway.client_env()));
    if (result.status != 0)
        throw std::runtime_error("wtype failed: " + result.err);
}
