// Scratch files for one test, and standard error captured around a call.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file in the folder and returns its path.
    std::string write(const std::string& name, std::string_view content, bool executable = false) const;

private:
    std::filesystem::path path_;
};

// What the call writes to the file descriptor (1 or 2).
std::string output_of(int fd, const std::function<void()>& call);
inline std::string stderr_of(const std::function<void()>& call) { return output_of(2, call); }
