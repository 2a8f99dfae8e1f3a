// GoogleTest comes before Xlib, whose None and Bool macros break its headers.
#include <gtest/gtest.h>

#include "color_db.hpp"
#include "color_names.hpp"
#include "scratch.hpp"
#include "visible_text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

XColor color_of(unsigned red, unsigned green, unsigned blue)
{
    XColor color{};
    color.red = static_cast<unsigned short>(red << 8 | red);
    color.green = static_cast<unsigned short>(green << 8 | green);
    color.blue = static_cast<unsigned short>(blue << 8 | blue);
    return color;
}

// The diagnostic prefix that err(3) and warn(3) give this test program.
std::string me() { return std::string{program_invocation_short_name} + ": "; }

// --- The database line format -------------------------------------------

TEST(ParseDbLine, AcceptsExactlyWhatTheScanfFormatAccepts)
{
    const std::vector<std::string> lines = {
        "255 250 250\t\tsnow\n", "  0   0   0\t\tblack\n", "1 2 3 name with inner blanks\n",
        "1 2 3 trailing blanks  \n", "1 2 3 crlf\r\n", "1 2 3name\n", "+1 -2 +0 signs\n", "1\t2\v3\fx\n",
        "1 2 3 \n", "1 2 3\n", "1 2\n", "\n", "   \n", "! comment\n", " ! comment\n", "1 2 x name\n",
        "+ 1 2 3 x\n", "1 2 3", "1 2 3 no newline", "007 08 009 zeros\n", "-0 -0 -0 z\n", "1 2 3 \t\n",
        "1 2 3 a\nb", "1 2 3 \n name on the next line", "a 1 2 3\n", "1 2 3 \xff\xfe bytes\n", "",
    };
    for (const auto& line : lines) {
        int red = 0, green = 0, blue = 0;
        char name[1024] = "";
        const bool scanned = std::sscanf(line.c_str(), "%d %d %d %[^\n]\n", &red, &green, &blue, name) == 4;
        const auto entry = parse_db_line(line.c_str());
        ASSERT_EQ(entry.has_value(), scanned) << "line: " << line;
        if (!entry)
            continue;
        EXPECT_EQ(entry->red, red) << line;
        EXPECT_EQ(entry->green, green) << line;
        EXPECT_EQ(entry->blue, blue) << line;
        EXPECT_EQ(entry->name(), name) << line;
    }
}

TEST(ParseDbLine, ANulEndsTheLine)
{
    EXPECT_EQ(parse_db_line("1 2 3 na\0me\n")->name(), "na");
    EXPECT_FALSE(parse_db_line("1 2 3 \0name\n"));
    EXPECT_FALSE(parse_db_line("1 2\0 3 name\n"));
    EXPECT_FALSE(parse_db_line("1 2 +\0 3 name\n"));
}

TEST(ParseDbLine, ValuesTooLargeForAnIntNeverWrapIntoRange)
{
    // 4294967306 is 2^32 + 10: a plain int conversion would make it 10.
    for (const char* line : {"4294967306 0 0 wraps\n", "0 -4294967286 0 wraps\n", "0 0 99999999999999999999999 x\n",
                             "256 0 0 x\n", "0 -1 0 x\n"}) {
        const auto entry = parse_db_line(line);
        ASSERT_TRUE(entry) << line;
        EXPECT_FALSE(channels_in_range(*entry)) << line;
    }
    EXPECT_TRUE(channels_in_range(*parse_db_line("0 255 128 x\n")));
}

TEST(EntryMatches, ComparesTheHighByteOfEachIntensity)
{
    XColor color{};
    color.red = 0x80ff;
    color.green = 0x7f01;
    color.blue = 0x01ff;
    EXPECT_TRUE(entry_matches(*parse_db_line("128 127 1 x\n"), color));
    EXPECT_FALSE(entry_matches(*parse_db_line("129 127 2 x\n"), color));
    EXPECT_FALSE(entry_matches(*parse_db_line("128 127 2 x\n"), color));
}

// --- Reading in the pieces that fgets returns -------------------------------

// The pieces of a file as C strings, read with fgets or with PieceReader.
std::vector<std::string> pieces_by_fgets(const std::string& path)
{
    std::vector<std::string> pieces;
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        throw std::runtime_error("cannot open " + path);
    char line[1024];
    while (std::fgets(line, sizeof line, file))
        pieces.emplace_back(line);
    std::fclose(file);
    return pieces;
}

std::vector<std::string> pieces_by_reader(const std::string& path)
{
    std::vector<std::string> pieces;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    PieceReader reader{fd};
    while (const char* piece = reader.next())
        pieces.emplace_back(piece);
    close(fd);
    return pieces;
}

TEST(PieceReader, CutsTheStreamWhereFgetsDoes)
{
    const ScratchDir dir;
    std::string across_the_buffer;  // lines of every length, across many buffer refills
    for (std::size_t length = 0; across_the_buffer.size() < 300000; length = (length + 7) % 2500)
        across_the_buffer += std::string(length, static_cast<char>('a' + length % 26)) + "\n";
    const std::vector<std::string> contents = {
        "",
        "\n",
        "no newline at the end",
        std::string(1022, 'x') + "\n" + std::string(1023, 'y') + "\n" + std::string(1024, 'z') + "\n",
        std::string(1023, 'x'),
        std::string(5000, 'x') + "\nend\n",
        std::string("nul\0inside\n\0\0\nafter\n", 20),
        across_the_buffer,
        across_the_buffer + "tail without newline",
    };
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const std::string path = dir.write("pieces" + std::to_string(i), contents[i]);
        EXPECT_EQ(pieces_by_reader(path), pieces_by_fgets(path)) << "content " << i;
    }
}

// --- Text from a file in a diagnostic --------------------------------------

TEST(Visible, EscapesControlBytesAndBackslashesOnly)
{
    EXPECT_EQ(visible("\033]0;owned\a\033[2J"), "\\033]0;owned\\a\\033[2J");
    EXPECT_EQ(visible(std::string_view{"\0\x01\x1f\x7f", 4}), "\\000\\001\\037\\177");
    EXPECT_EQ(visible("\b\t\n\v\f\r"), "\\b\\t\\n\\v\\f\\r");
    // The backslash is escaped too, so that "\\033" cannot pass for an escape.
    EXPECT_EQ(visible("C:\\033 dir"), "C:\\\\033 dir");
    // UTF-8 and Latin-1 text pass, continuation bytes 0x80-0x9f included.
    EXPECT_EQ(visible("ros\xc3\xa9 \xe7\xb4\x85 \xe9\xff ~ plain"), "ros\xc3\xa9 \xe7\xb4\x85 \xe9\xff ~ plain");
    // C1 controls do not: U+009B (CSI) in UTF-8, and lone bytes 0x80-0x9f.
    EXPECT_EQ(visible("\xc2\x9b""31m \xc2\x80 \xc2\xa0"), "\\302\\233""31m \\302\\200 \xc2\xa0");
    EXPECT_EQ(visible("\x9b""31m \x85 \xe7\x85 \xc2"), "\\233""31m \\205 \xe7\\205 \xc2");
}

// --- Lookup in a file given with -r -------------------------------------

class DbFileLookup : public testing::Test {
protected:
    // Looks the color up in a file holding `content`; keeps what went to standard error.
    std::optional<std::string> lookup(const std::string& content, XColor color)
    {
        path = dir.write("rgb.txt", content);
        return lookup_path(path, color);
    }
    std::optional<std::string> lookup_path(const std::string& file, XColor color)
    {
        std::optional<std::string> name;
        diagnostics = stderr_of([&] { name = get_db_colname(color, file.c_str()); });
        return name;
    }
    std::string at(int line) const { return path + ":" + std::to_string(line) + "\n"; }

    ScratchDir dir;
    std::string path;
    std::string diagnostics;
};

TEST_F(DbFileLookup, FirstMatchWinsAndEndsTheScan)
{
    EXPECT_EQ(lookup("1 1 1 one\n18 52 86 first\n18 52 86 second\nbroken\n", color_of(18, 52, 86)), "first");
    EXPECT_EQ(diagnostics, "");
}

TEST_F(DbFileLookup, CommentsAndNoMatchAreSilent)
{
    EXPECT_EQ(lookup("! a comment\n1 1 1 one\n!another\n2 2 2 two\n", color_of(3, 3, 3)), std::nullopt);
    EXPECT_EQ(diagnostics, "");
    EXPECT_EQ(lookup("", color_of(0, 0, 0)), std::nullopt);
    EXPECT_EQ(diagnostics, "");
}

TEST_F(DbFileLookup, BadLinesAreReportedWithTheirNumbersAndNoErrnoText)
{
    const std::string file = "1 1 1 one\n"
                             "\n"
                             "   \n"
                             " ! not a comment\n"
                             "256 0 0 too big\n"
                             "0 -1 0 negative\n"
                             "4294967306 0 0 wraps to ten\n"
                             "10 0 0\n"
                             "10 0 0 ten\n";
    errno = ENOENT;  // a stale error must not show in the line diagnostics
    EXPECT_EQ(lookup(file, color_of(10, 0, 0)), "ten");
    EXPECT_EQ(diagnostics, me() + "syntax error: " + at(2) + me() + "syntax error: " + at(3) + me() +
                               "syntax error: " + at(4) + me() + "value for 'too big' is out of range: " + at(5) +
                               me() + "value for 'negative' is out of range: " + at(6) + me() +
                               "value for 'wraps to ten' is out of range: " + at(7) + me() + "syntax error: " +
                               at(8));
}

TEST_F(DbFileLookup, LongLinesAreReadInPiecesThatEachCountAsALine)
{
    // 1023 characters make one read; the rest of the line is the next "line".
    const std::string long_line = "9 9 9 " + std::string(1500, 'x') + "\n";
    EXPECT_EQ(lookup(long_line + "oops\n" + "8 8 8 eight\n", color_of(8, 8, 8)), "eight");
    EXPECT_EQ(diagnostics, me() + "syntax error: " + at(2) + me() + "syntax error: " + at(3));
    // A matching long entry yields the part of its name within the first read.
    EXPECT_EQ(lookup(long_line, color_of(9, 9, 9)), std::string(1023 - 6, 'x'));
}

TEST_F(DbFileLookup, AMissingFileOrEmptyPathIsReportedWithTheReason)
{
    const std::string missing = (dir.path() / "missing.txt").string();
    EXPECT_EQ(lookup_path(missing, color_of(0, 0, 0)), std::nullopt);
    EXPECT_EQ(diagnostics, me() + "can't open '" + missing + "' file: No such file or directory\n");
    EXPECT_EQ(lookup_path("", color_of(0, 0, 0)), std::nullopt);
    EXPECT_EQ(diagnostics, me() + "can't open '' file: No such file or directory\n");
}

TEST_F(DbFileLookup, AReadErrorIsReportedNotTakenForNoMatch)
{
    const std::string folder = dir.path().string();
    EXPECT_EQ(lookup_path(folder, color_of(0, 0, 0)), std::nullopt);
    EXPECT_EQ(diagnostics, me() + "can't read '" + folder + "' file: Is a directory\n");
}

TEST_F(DbFileLookup, AStreamIsAnsweredWhileItsWriterStillHoldsIt)
{
    // A reader that waits for a full block, or for the writer to end, would
    // keep the pointer frozen all that time.
    const std::string fifo = (dir.path() / "colors.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> answered{false};
    bool answered_while_held = false;
    std::thread writer{[&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        const std::string line = "18 52 86 streamed\n";
        EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        for (int waited = 0; waited < 10000 && !answered; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds{10});
        answered_while_held = answered;
        close(fd);
    }};
    EXPECT_EQ(lookup_path(fifo, color_of(18, 52, 86)), "streamed");
    answered = true;
    writer.join();
    EXPECT_TRUE(answered_while_held);
}

// --- Lookup through the showrgb program ------------------------------------

class ShowrgbLookup : public testing::Test {
protected:
    void SetUp() override
    {
        const char* path = std::getenv("PATH");
        saved_path = path ? path : "";
    }
    void TearDown() override { setenv("PATH", saved_path.c_str(), 1); }

    // Puts a showrgb that prints `output` first on the search path.
    void fake_showrgb(const std::string& output)
    {
        dir.write("showrgb", "#!/bin/sh\ncat <<'EOF'\n" + output + "EOF\n", true);
        setenv("PATH", (dir.path().string() + ":" + saved_path).c_str(), 1);
    }
    std::optional<std::string> lookup(XColor color)
    {
        std::optional<std::string> name;
        diagnostics = stderr_of([&] { name = get_def_colname(color); });
        return name;
    }

    ScratchDir dir;
    std::string saved_path;
    std::string diagnostics;
};

TEST_F(ShowrgbLookup, FirstMatchWins)
{
    fake_showrgb("255 250 250\t\tsnow\nbogus line\n255   0   0\t\tred\n255   0   0\t\tred1\n");
    EXPECT_EQ(lookup(color_of(255, 0, 0)), "red");
    EXPECT_EQ(diagnostics, "");
}

TEST_F(ShowrgbLookup, NoMatchOrNoOutputGivesNothing)
{
    fake_showrgb("255 250 250\t\tsnow\n");
    EXPECT_EQ(lookup(color_of(1, 2, 3)), std::nullopt);
    fake_showrgb("");
    EXPECT_EQ(lookup(color_of(255, 250, 250)), std::nullopt);
    EXPECT_EQ(diagnostics, "");
}

}  // namespace
