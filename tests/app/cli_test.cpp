// zerkacmd.exe run as a process: what it prints, byte for byte, and its exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "resources/message_ids.h"
#include "tests/app/catalogue.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace {

// Standard output is a text-mode stream: every line break reaches the pipe as CR LF.
std::string console(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

const std::string usage_text = console("Mervane for VC\n\n"
                                       "usage: zerkacmd [option...] command [command option...]\n"
                                       "  -w folder_name: work folder name\n"
                                       "  -s folder_name: source folder name\n"
                                       "  -e:             analyzes only existent files\n"
                                       "  -f:             also analyzes function names\n\n"
                                       "after command execution, copy *.log files \n"
                                       "to the result folder of zerkaui\n");

// Runs the tool of the build with the given arguments from a fresh folder, where any log lands.
ProcessResult run_tool(const std::string& arguments) {
    ScratchDir folder;
    return run_process("\"" + bin_dir() + "zerkacmd.exe\" " + arguments, folder.path());
}

// A command that reached run control. Its run launches nothing that exists: either nothing is
// printed (no coverage run yet) or the start of the launch and its failure, for this command.
void expect_handed_over(const std::string& arguments, const std::string& command) {
    SCOPED_TRACE(arguments);
    ProcessResult result = run_tool(arguments);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u);
    const std::string launch_failed =
        console(formatted_message(MSG_TARGET_STARTING, command.c_str()) + "\n" +
                catalogue_text(MSG_LAUNCH_FAILED) + "\n");
    EXPECT_TRUE(result.output.empty() || result.output == launch_failed) << result.output;
}

void expect_usage(const std::string& arguments) {
    SCOPED_TRACE(arguments);
    ProcessResult result = run_tool(arguments);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.output, usage_text);
}

TEST(ZerkacmdCli, NoArgumentsPrintsUsage) {
    expect_usage("");
}

TEST(ZerkacmdCli, UsageErrorsPrintUsageAndExitOne) {
    expect_usage("-x no_such_prog");
    expect_usage("-ex no_such_prog"); // flags cannot be combined
    expect_usage("-fe no_such_prog");
    expect_usage("-");
    expect_usage("/");
    expect_usage("--");
    expect_usage("-- no_such_prog"); // no end-of-options marker
    expect_usage("-e");              // no command
    expect_usage("-w dir");
    expect_usage("-e -w");
    expect_usage("\"\""); // a single empty argument: empty command text
}

TEST(ZerkacmdCli, OptionsBeforeTheCommandAreAccepted) {
    expect_handed_over("-W dir no_such_prog", "no_such_prog");
    expect_handed_over("/w dir no_such_prog", "no_such_prog");
    expect_handed_over("-wdir no_such_prog", "no_such_prog");
    expect_handed_over("-w -e no_such_prog", "no_such_prog");
    expect_handed_over("-s /src no_such_prog", "no_such_prog");
    expect_handed_over("-w a -w b -f no_such_prog", "no_such_prog");
}

TEST(ZerkacmdCli, WordsAfterTheCommandArePartOfIt) {
    expect_handed_over("no_such_prog -e x", "no_such_prog -e x");
    expect_handed_over("\"\" \"\"", " "); // two empty arguments: a command of one blank
}

TEST(ZerkacmdCli, CommandTextHoldsAtMost2047Characters) {
    const std::string longest(2047, 'a');
    expect_handed_over(longest, longest);
    expect_usage(std::string(2048, 'a')); // refused, never cut
    // Joined: the blank between the words counts.
    const std::string left(1023, 'b'), right(1023, 'c');
    expect_handed_over(left + " " + right, left + " " + right);
    expect_usage(left + "b " + right);
}

TEST(ZerkacmdCli, LineBreaksOnlyRunNothingAndSaySo) {
    ProcessResult result = run_tool("\"\r\n\"");
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u); // run control's outcome does not change the exit code
    EXPECT_EQ(result.output, console(catalogue_text(MSG_NO_COMMAND) + "\n"));
}

TEST(ZerkacmdCli, MissingLibraryPrintsOneLineAndExitsTwo) {
    ScratchDir folder;
    ASSERT_TRUE(CopyFileA((bin_dir() + "zerkacmd.exe").c_str(),
                          (folder.path() + "zerkacmd.exe").c_str(), FALSE));
    for (const char* arguments : {"", " no_such_prog", " -x"}) {
        SCOPED_TRACE(arguments);
        ProcessResult result =
            run_process("\"" + folder.path() + "zerkacmd.exe\"" + arguments, folder.path());
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exit_code, 2u);
        EXPECT_EQ(result.output, console("failed to load res-en.dll\n"));
    }
}

TEST(ZerkacmdCli, PlantedLibraryIsReadAsDataAndNeverRuns) {
    ScratchDir folder;
    const std::string planted = folder.path() + "res-en.dll";
    ASSERT_TRUE(CopyFileA((bin_dir() + "zerkacmd.exe").c_str(),
                          (folder.path() + "zerkacmd.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((bin_dir() + "planted-res-en.dll").c_str(), planted.c_str(), FALSE));

    ProcessResult result =
        run_process("\"" + folder.path() + "zerkacmd.exe\" \"\n\"", folder.path());
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u);
    // Its text is used, its entry point never ran.
    EXPECT_EQ(result.output, console("planted catalogue: no command\n"));

    // The control: loaded as code, the same file does run its entry point.
    SetEnvironmentVariableA("ZERKA_PLANTED_CODE_RAN", nullptr);
    HMODULE loaded = LoadLibraryA(planted.c_str());
    ASSERT_NE(loaded, nullptr);
    char mark[8] = {};
    EXPECT_GT(GetEnvironmentVariableA("ZERKA_PLANTED_CODE_RAN", mark, sizeof(mark)), 0u);
    FreeLibrary(loaded);
}

} // namespace
