// Runs a program as a user would, with its standard output and standard
// error captured, its environment adjusted and its exit status kept.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// How long to wait by default for a program to do what is due: ample on a
// loaded machine, yet short enough that a program that never does it fails
// its test quickly.
inline constexpr std::chrono::milliseconds due_time = std::chrono::seconds{3};

// Variables to set, or with no value to remove, on top of this process's environment.
using Environment = std::map<std::string, std::optional<std::string>>;

struct ProcessOptions {
    Environment env;
    // When set, standard output goes to this file instead of a pipe.
    std::optional<std::string> stdout_path;
    // Standard descriptors (1, 2) set up otherwise: a copy of this process's
    // descriptor, or closed when it is -1.
    std::map<int, int> descriptors;
    // Standard input from a pipe that write_stdin writes to, not /dev/null.
    bool stdin_pipe = false;
};

// How many newline-ended lines the text holds.
inline std::size_t lines_in(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The strings as the null-terminated array of pointers that exec takes.
std::vector<char*> argv_of(std::vector<std::string>& strings);

// This process's environment with the variables set, or removed where they have no value.
std::vector<std::string> environment_with(const Environment& changes);

inline ProcessOptions with_env(Environment env)
{
    ProcessOptions options;
    options.env = std::move(env);
    return options;
}

inline ProcessOptions with_stdout_to(std::string path)
{
    ProcessOptions options;
    options.stdout_path = std::move(path);
    return options;
}

class Process {
public:
    explicit Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads output until `done` holds for standard output; false on timeout or end of output.
    bool wait_for_stdout(const std::function<bool(const std::string&)>& done,
                         std::chrono::milliseconds timeout = due_time);
    // Writes to the process's standard input (see ProcessOptions::stdin_pipe).
    void write_stdin(const std::string& text);
    // Waits for this whole line of standard output, after what an earlier
    // wait read (`read`), and moves `read` past it; false on timeout.
    bool wait_for_line(const std::string& line, std::size_t& read, std::chrono::milliseconds timeout = due_time);
    // Waits for the process to end; false (and the process killed) on timeout.
    bool finish(std::chrono::milliseconds timeout = due_time);
    bool has_exited();

    pid_t pid() const { return pid_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    // The exit status, or 128 plus the signal that ended the process.
    int status() const { return status_; }
    // The most memory the running program has had resident (VmHWM), in KB,
    // or -1 once it has ended. Its exit status's ru_maxrss would not do: it
    // keeps what the child held before exec, this process's own memory.
    long memory_peak_kb() const;

private:
    // Reads what the process has written, waiting up to the timeout for it;
    // false when there was nothing.
    bool pump(int timeout_ms);
    bool reap(int flags);

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
    int status_ = -1;
};

// Starts a server for a test (an X server, a compositor) with the
// environment changes, its output to the file, keeping the descriptor open
// in it. It gets SIGTERM when the test process ends, however that ends.
// With a process group (0 for a new one that it leads), it runs there, and
// so does all that it starts.
pid_t start_server(const std::vector<std::string>& command, const Environment& env, const std::string& output,
                   int keep_fd = -1, pid_t process_group = -1);
// Ends the server: SIGTERM, and SIGKILL when it is still there seconds later.
void stop_server(pid_t pid);
// Ends every process of the group as stop_server ends one, the servers that
// this process started in it and whatever they started.
void stop_process_group(pid_t group);

struct ProcessResult {
    std::string out;
    std::string err;
    int status;
};

// Runs to the end with no input; a run that outlives the timeout has status -1.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {},
                          std::chrono::milliseconds timeout = due_time);
