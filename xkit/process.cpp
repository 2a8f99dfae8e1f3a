#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

using Clock = std::chrono::steady_clock;

int milliseconds_left(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::vector<std::string> environment_with(const Environment& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable{*entry};
        if (!changes.contains(variable.substr(0, variable.find('='))))
            result.push_back(variable);
    }
    for (const auto& [name, value] : changes)
        if (value)
            result.push_back(name + "=" + *value);
    return result;
}

std::vector<char*> argv_of(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& text : strings)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    int out_pipe[2];
    int err_pipe[2];
    int in_pipe[2] = {-1, -1};
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0 ||
        (options.stdin_pipe && pipe2(in_pipe, O_CLOEXEC) != 0))
        fail("pipe2");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdin_pipe)
        posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (options.stdout_path)
        posix_spawn_file_actions_addopen(&actions, 1, options.stdout_path->c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    else
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (const auto& [target, source] : options.descriptors) {
        if (source < 0)
            posix_spawn_file_actions_addclose(&actions, target);
        else
            posix_spawn_file_actions_adddup2(&actions, source, target);
    }
    // The program starts with its three standard descriptors and nothing that this process happens to hold.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // SIGPIPE at its default, as a shell starts programs, whatever the test runner ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &default_signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    auto args = argv;
    auto env = environment_with(options.env);
    const int spawned = posix_spawnp(&pid_, args.front().c_str(), &actions, &attributes, argv_of(args).data(),
                                     argv_of(env).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (options.stdin_pipe)
        close(in_pipe[0]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    if (spawned != 0) {
        errno = spawned;
        fail(argv.front().c_str());
    }
}

Process::~Process()
{
    if (status_ < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        reap(0);
    }
    for (int fd : {in_fd_, out_fd_, err_fd_})
        if (fd >= 0)
            close(fd);
}

void Process::write_stdin(const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(in_fd_, text.data() + done, text.size() - done);
        if (wrote <= 0)
            fail("writing to a process's standard input");
        done += static_cast<std::size_t>(wrote);
    }
}

bool Process::pump(int timeout_ms)
{
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (poll(fds, 2, timeout_ms) <= 0)
        return false;
    for (auto [fd, buffer] : {std::pair{&out_fd_, &out_}, std::pair{&err_fd_, &err_}}) {
        const pollfd& polled = fd == &out_fd_ ? fds[0] : fds[1];
        if (*fd < 0 || !(polled.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char chunk[4096];
        const ssize_t got = read(*fd, chunk, sizeof chunk);
        if (got > 0) {
            buffer->append(chunk, static_cast<std::size_t>(got));
        } else {
            close(*fd);
            *fd = -1;
        }
    }
    return true;
}

bool Process::reap(int flags)
{
    int raw;
    if (waitpid(pid_, &raw, flags) != pid_)
        return false;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

long Process::memory_peak_kb() const
{
    std::ifstream status{"/proc/" + std::to_string(pid_) + "/status"};
    std::string line;
    while (status_ < 0 && std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return -1;
}

bool Process::has_exited() { return status_ >= 0 || reap(WNOHANG); }

bool Process::wait_for_stdout(const std::function<bool(const std::string&)>& done,
                              std::chrono::milliseconds timeout)
{
    // All that the process has written so far counts, not only what an
    // earlier wait happened to read.
    while (pump(0)) {
    }
    const auto deadline = Clock::now() + timeout;
    while (!done(out_)) {
        if (out_fd_ < 0 || Clock::now() >= deadline)
            return false;
        pump(milliseconds_left(deadline));
    }
    return true;
}

bool Process::wait_for_line(const std::string& line, std::size_t& read, std::chrono::milliseconds timeout)
{
    const std::string wanted = line + "\n";
    std::size_t found = std::string::npos;
    const auto whole_line = [&](const std::string& out) {
        for (std::size_t at = read; (at = out.find(wanted, at)) != std::string::npos; ++at) {
            if (at == 0 || out[at - 1] == '\n') {
                found = at;
                return true;
            }
        }
        return false;
    };
    if (!wait_for_stdout(whole_line, timeout))
        return false;
    read = found + wanted.size();
    return true;
}

bool Process::finish(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while ((out_fd_ >= 0 || err_fd_ >= 0) && Clock::now() < deadline)
        pump(milliseconds_left(deadline));
    while (!has_exited()) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            reap(0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{5});
    }
    return true;
}

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options,
                          std::chrono::milliseconds timeout)
{
    Process process{argv, options};
    const bool ended = process.finish(timeout);
    return {process.out(), process.err(), ended ? process.status() : -1};
}

pid_t start_server(const std::vector<std::string>& command, const Environment& env, const std::string& output,
                   int keep_fd, pid_t process_group)
{
    auto args = command;
    const std::vector<char*> argv = argv_of(args);
    auto variables = environment_with(env);
    const std::vector<char*> envp = argv_of(variables);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // A test that crashes or is killed must not leave its server behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        if (process_group >= 0)
            setpgid(0, process_group);
        const int log = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, 1);
        dup2(log, 2);
        if (keep_fd >= 0)
            fcntl(keep_fd, F_SETFD, 0);
        execvpe(argv.front(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0)
        fail(command.front().c_str());
    return pid;
}

void stop_process_group(pid_t group)
{
    if (group <= 0)
        return;
    kill(-group, SIGTERM);
    for (int waited = 0; kill(-group, 0) == 0; waited += 10) {
        // Our own children among them are reaped, or they would stay as zombies.
        while (waitpid(-group, nullptr, WNOHANG) > 0) {
        }
        if (waited == 5000)
            kill(-group, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds{10});
    }
}

void stop_server(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int waited = 0; waitpid(pid, nullptr, WNOHANG) == 0; waited += 10) {
        if (waited == 5000) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{10});
    }
}
