// Name lookups in whatever a user may hand to -r, end to end: each gives its
// diagnostics and the hex form, never a crash or a hang.
#include <gtest/gtest.h>

#include "pixla_binary.hpp"
#include "pixla_session.hpp"
#include "scratch.hpp"

#include <X11/keysym.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

constexpr Spot deep_sea{100, 100};  // rgb:12/34/56

class BadRgbFile : public SharedServer<BadRgbFile> {
public:
    static constexpr const char* screen = "320x200x24";
    static void paint(Display* d) { paint_root(d, "rgb:12/34/56"); }

protected:
    // One Shift-click on the color with -r file; pixla must end on its own.
    std::unique_ptr<Process> shift_click_with(const std::string& file, ProcessOptions options = {},
                                              const std::vector<std::string>& wrapper = {})
    {
        auto pixla = start_pixla(*server, {"-r", file}, std::move(options), wrapper);
        const HeldKeys shift{display(), {XK_Shift_L}};
        click(display(), deep_sea.x, deep_sea.y);
        EXPECT_TRUE(pixla->finish());
        EXPECT_EQ(pixla->status(), 0);
        return pixla;
    }

    ScratchDir dir;
};

TEST_F(BadRgbFile, DevNullHasNoNames)
{
    const auto pixla = shift_click_with("/dev/null");
    EXPECT_EQ(pixla->out(), "#123456\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(BadRgbFile, NulBytesEndEachPieceSilently)
{
    const std::string file = dir.write("nuls.txt", std::string(5000, '\0') + "\n" + "18 52 86 after\0the nuls\n");
    const auto pixla = shift_click_with(file);
    EXPECT_EQ(pixla->out(), "after\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(BadRgbFile, BinaryBytesAreSyntaxErrorsLineByLine)
{
    // Bytes with no digit can never make an entry; every piece that fgets
    // reads from them (a line, or 1023 bytes of a longer one) is one syntax
    // error unless it starts with a NUL or "!".
    std::string bytes;
    unsigned state = 12345;
    while (bytes.size() < 20000) {
        state = state * 1103515245 + 12345;
        const char byte = static_cast<char>(state >> 16);
        if (byte < '0' || byte > '9')
            bytes += byte;
    }
    const std::string file = dir.write("binary.bin", bytes);
    std::string expected;
    int piece_number = 0;
    for (std::size_t at = 0; at < bytes.size(); ++piece_number) {
        const std::size_t newline = bytes.find('\n', at);
        const std::size_t end = std::min({newline == std::string::npos ? bytes.size() : newline + 1, at + 1023});
        if (bytes[at] != '\0' && bytes[at] != '!')
            expected += "pixla: syntax error: " + file + ":" + std::to_string(piece_number + 1) + "\n";
        at = end;
    }
    const auto pixla = shift_click_with(file);
    EXPECT_EQ(pixla->out(), "#123456\n");
    EXPECT_EQ(pixla->err(), expected);
}

TEST_F(BadRgbFile, CrlfNamesKeepTheirCarriageReturn)
{
    const auto pixla = shift_click_with(dir.write("dos.txt", "! colors\r\n1 1 1 one\r\n18 52 86 deep sea\r\n"));
    EXPECT_EQ(pixla->out(), "deep sea\r\n");
    EXPECT_EQ(pixla->err(), "");
}

TEST_F(BadRgbFile, EscapeSequencesReachStandardErrorOnlyEscaped)
{
    // A title, a cleared screen and red text, were they let through; the
    // file's name carries an escape and a backslash of its own.
    const std::string hostile_line = "300 0 0 \033]0;owned-title\a\033[2J\033[31mred\n";
    const std::string file = dir.write("evil\033[31m\\.txt", hostile_line + "18 52 86 \033[1mdeep sea\r\n");
    const std::string shown_file = (dir.path() / "evil\\033[31m\\\\.txt").string();
    const auto pixla = shift_click_with(file);
    EXPECT_EQ(pixla->err(), "pixla: value for '\\033]0;owned-title\\a\\033[2J\\033[31mred' is out of range: " +
                                shown_file + ":1\n");
    // Standard output is data: the name comes out byte for byte.
    EXPECT_EQ(pixla->out(), "\033[1mdeep sea\r\n");
}

TEST_F(BadRgbFile, AnUnreadableFileIsReported)
{
    std::vector<std::string> as_another_user;
    if (geteuid() == 0) {
        // Root reads any file: pixla runs as nobody instead.
        if (access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root without setpriv to drop privileges";
        as_another_user = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
    }
    const std::string file = dir.write("secret.txt", "18 52 86 secret\n");
    chmod(file.c_str(), 0);
    // The other user may pass through the test folder and run a copy of pixla there, no more.
    chmod(dir.path().c_str(), 0711);
    const auto program = dir.path() / "pixla";
    std::filesystem::copy_file(pixla, program);
    // With the session modules that it loads from its own folder.
    for (const auto& entry : std::filesystem::directory_iterator{std::filesystem::path{pixla}.parent_path()})
        if (entry.path().extension() == ".so")
            std::filesystem::copy_file(entry.path(), dir.path() / entry.path().filename());
    as_another_user.insert(as_another_user.end(), {program.string(), "-r", file});

    auto pixla_run = std::make_unique<Process>(as_another_user, with_env({{"DISPLAY", server->name()}}));
    ASSERT_TRUE(wait_for_grab(display(), *pixla_run)) << pixla_run->err();
    {
        const HeldKeys shift{display(), {XK_Shift_L}};
        click(display(), deep_sea.x, deep_sea.y);
        EXPECT_TRUE(pixla_run->finish());
    }
    EXPECT_EQ(pixla_run->out(), "#123456\n");
    EXPECT_EQ(pixla_run->err(), "pixla: can't open '" + file + "' file: Permission denied\n");
    EXPECT_EQ(pixla_run->status(), 0);
}

}  // namespace
