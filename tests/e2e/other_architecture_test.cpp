// Both builds of zerkacmd on 64-bit Windows (a WoW64 Wine): the 64-bit tool measures 32-bit
// programs to the very log the 32-bit tool writes, and the 32-bit tool, which cannot debug a
// 64-bit program, refuses one by name and goes on with its command list.
#include "resources/message_ids.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

namespace {

// The 64-bit build beside this one: <build>/x64/bin/ next to <build>/x86/bin/.
std::string x64_tool() {
    return bin_dir() + "..\\..\\x64\\bin\\zerkacmd.exe";
}

// The log of a run in a fresh folder without its two header records (the start time differs).
std::string log_body(const std::string& folder) {
    std::vector<std::string> logs = log_files(folder);
    if (logs.size() != 1)
        return "(" + std::to_string(logs.size()) + " logs)";
    std::string bytes = read_file(folder + logs[0]);
    std::size_t first = bytes.find('\n');
    std::size_t second = first == std::string::npos ? first : bytes.find('\n', first + 1);
    return second == std::string::npos ? "(no header)" : bytes.substr(second + 1);
}

// The messages of a run by id and arguments, the log's own name left out.
std::vector<std::string> message_texts(const std::string& output) {
    Catalogue catalogue;
    std::vector<std::string> texts;
    for (const Message& message : catalogue.classify_output(output)) {
        if (message.id == 0)
            continue;
        std::string text = std::to_string(message.id);
        if (message.id != MSG_LOG_CLOSED)
            for (const std::string& argument : message.arguments)
                text += " " + argument;
        texts.push_back(text);
    }
    return texts;
}

struct SameLogCase {
    const char* form;
    const char* options; // after -s <sources>
    const char* command; // in target_dir(form)
    const char* printed; // what the program prints when it runs as it does alone
    std::vector<std::string> sources;
    const char* mode; // of the markers
};

} // namespace

// Three 32-bit programs, PDB and DWARF: calc loads one DLL at start and one at run time, -f adds
// the function records, and eight threads racing onto the same lines make the 64-bit tool
// rewind 32-bit threads that reach an already restored line.
TEST(OtherArchitecture, SixtyFourBitToolWritesTheSameLogAsThe32BitTool) {
    if (GetFileAttributesA(x64_tool().c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the 64-bit build is not there (" << x64_tool()
                     << "): make build-x64 first";
    const std::vector<std::string> calc_sources = {"calc/main.c", "calc/util/text.c",
                                                   "dlls/linked.c", "dlls/plugin.c"};
    const SameLogCase cases[] = {
        {"pdb", "", "calc.exe sum 2 3 4", "sum = 18", calc_sources, ""},
        {"dwarf", " -f", "calc.exe sum 2 3 4", "sum = 18", calc_sources, ""},
        {"pdb",
         "",
         "hostile.exe threads",
         "threads finished 400",
         {"hostile/hostile.c"},
         "threads"},
    };
    for (const SameLogCase& c : cases) {
        std::string command = target_dir(c.form) + c.command;
        SCOPED_TRACE(command);
        std::string arguments = "-s " + target_sources() + c.options + " " + command;
        ScratchDir narrow, wide;
        ToolRun narrow_run = run_tool(arguments, narrow.path());
        ToolRun wide_run = run_tool(arguments, wide.path(), x64_tool());
        CoverageLog narrow_log, wide_log;
        expect_sound_log(narrow_run, narrow.path(), command, narrow_log);
        expect_sound_log(wide_run, wide.path(), command, wide_log);
        if (HasFatalFailure())
            return;
        EXPECT_NE(wide_run.output.find(c.printed), std::string::npos) << wide_run.output;
        EXPECT_EQ(log_body(wide.path()), log_body(narrow.path()));
        for (const std::string& relative : c.sources)
            EXPECT_EQ(check_markers(wide_log, relative, c.mode), "");
        // The same images announced and nothing reported that the 32-bit tool does not report.
        EXPECT_EQ(message_texts(wide_run.output), message_texts(narrow_run.output))
            << wide_run.output;
    }
}

// A list of two commands: a 64-bit program, refused in one line that names it and without a
// log, then a 32-bit one, measured as usual.
TEST(OtherArchitecture, ThirtyTwoBitToolRefusesA64BitProgramAndGoesOn) {
    ScratchDir scratch;
    std::string wide_program = bin_dir() + "targets\\x86_64\\events.exe";
    std::string narrow_command = target_dir("dwarf") + "events.exe exit";
    ToolRun run = run_tool("-s " + target_sources() + " \"" + wide_program + " exit\n" +
                               narrow_command + "\"",
                           scratch.path());
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timed_out) << run.output;
    EXPECT_EQ(run.exit_code, 0u) << run.output;

    Catalogue catalogue;
    std::vector<Message> messages = catalogue.classify_output(run.output);
    std::vector<unsigned> ids = message_ids(messages);
    ASSERT_GE(ids.size(), 3u) << run.output;
    // The first command yields its start and the refusal, nothing else.
    EXPECT_EQ(
        std::vector<unsigned>(ids.begin(), ids.begin() + 3),
        (std::vector<unsigned>{MSG_TARGET_STARTING, MSG_OTHER_ARCHITECTURE, MSG_TARGET_STARTING}))
        << run.output;
    EXPECT_EQ(count_id(messages, MSG_OTHER_ARCHITECTURE), 1u) << run.output;
    EXPECT_EQ(count_id(messages, MSG_LAUNCH_FAILED), 0u) << run.output;
    for (const Message& message : messages)
        if (message.id == MSG_OTHER_ARCHITECTURE) {
            EXPECT_EQ(message.arguments, std::vector<std::string>{wide_program});
        }

    // One log, the second command's.
    std::vector<std::string> logs = log_files(scratch.path());
    ASSERT_EQ(logs.size(), 1u) << run.output;
    CoverageLog log;
    ASSERT_EQ(parse_log(read_file(scratch.path() + logs[0]), log), "");
    EXPECT_EQ(log.command, narrow_command);
    EXPECT_EQ(check_markers(log, "events/events.c"), "");
}
