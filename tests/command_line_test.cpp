// The command line, checked with the real program and no X server.
// GoogleTest comes before Xlib, whose None and Bool macros break its headers.
#include <gtest/gtest.h>

#include "pixla_binary.hpp"
#include "process.hpp"


namespace {

const ProcessOptions no_display = with_env({{"DISPLAY", std::nullopt}});

TEST(CommandLine, HelpGoesToStandardOutputWithStatus0)
{
    for (const auto& args : {std::vector{pixla, std::string{"-h"}}, {pixla, "-v", "-h"}, {pixla, "-vEh"},
                             {pixla, "-r", "file", "-h", "-x"}}) {
        const auto result = run_process(args, no_display);
        EXPECT_EQ(result.out, help_text(pixla));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    }
}

TEST(CommandLine, BadOptionsGetTheComplaintTheHelpAndStatus1)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{pixla, "-x"}, pixla + ": invalid option -- 'x'\n"},
        {{pixla, "-x", "-h"}, pixla + ": invalid option -- 'x'\n"},
        {{pixla, "-v", "-d"}, pixla + ": option requires an argument -- 'd'\n"},
        {{pixla, "-r"}, pixla + ": option requires an argument -- 'r'\n"},
    };
    for (const auto& [args, complaint] : cases) {
        const auto result = run_process(args, no_display);
        EXPECT_EQ(result.out, help_text(pixla)) << args[1];
        EXPECT_EQ(result.err, complaint);
        EXPECT_EQ(result.status, 1);
    }
}

TEST(CommandLine, OutsideBytesInDiagnosticsAreEscaped)
{
    // The program's name as invoked, and an option byte: an escape sequence
    // and a C1 control (CSI) that a terminal would act on.
    const std::string name = "x\033[2J\xc2\x9b";
    const std::string shown = "x\\033[2J\\302\\233";
    const auto invoked_as = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"bash", "-c", "exec -a \"$0\" \"$@\"", name, pixla});
        return run_process(args, no_display);
    };
    EXPECT_EQ(invoked_as({"-d", ":bad"}).err, shown + ": unable to open display :bad\n");
    const auto escape = invoked_as({"-\033"});
    EXPECT_EQ(escape.err, shown + ": invalid option -- '\\033'\n");
    EXPECT_EQ(escape.out, help_text(name)) << "standard output is data, byte for byte";
    EXPECT_EQ(escape.status, 1);
    EXPECT_EQ(invoked_as({"-v\x9b"}).err, shown + ": invalid option -- '\\233'\n");
}

TEST(CommandLine, OptionsEndAtTheFirstOperand)
{
    // Were -h read after foo, the help would be printed with status 0.
    for (const auto& args : {std::vector{pixla, std::string{"foo"}, std::string{"-h"}}, {pixla, "--", "-h"}}) {
        const auto result = run_process(args, no_display);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "pixla: unable to open display (null)\n");
        EXPECT_EQ(result.status, 1);
    }
}

TEST(CommandLine, ARgbFileIsNotOpenedAtStart)
{
    const auto result = run_process({pixla, "-r", "/nonexistent/rgb.txt"}, no_display);
    EXPECT_EQ(result.err, "pixla: unable to open display (null)\n");
    EXPECT_EQ(result.status, 1);
}

TEST(CommandLine, AFailedWriteOfTheHelpIsAnError)
{
    const auto result = run_process({pixla, "-h"}, with_stdout_to("/dev/full"));
    EXPECT_EQ(result.err, "pixla: can't write to standard output: No space left on device\n");
    EXPECT_EQ(result.status, 1);
}

}  // namespace
