#include "scratch.hpp"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pixla-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::write(const std::string& name, std::string_view content, bool executable) const
{
    const auto file = path_ / name;
    std::ofstream{file, std::ios::binary} << content;
    if (executable)
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    return file.string();
}

std::string output_of(int fd, const std::function<void()>& call)
{
    std::FILE* capture = std::tmpfile();
    if (!capture)
        throw std::runtime_error("tmpfile");
    std::FILE* stream = fd == 1 ? stdout : stderr;
    std::fflush(stream);
    const int saved = dup(fd);
    dup2(fileno(capture), fd);
    call();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::rewind(capture);
    std::string text;
    for (int c; (c = std::fgetc(capture)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(capture);
    return text;
}
