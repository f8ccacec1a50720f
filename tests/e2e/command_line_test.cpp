// The real zerkacmd.exe under Wine on the real targets, PDB and DWARF alike: the log it writes
// line by line against the markers in the targets' sources, and the messages it prints.
#include "resources/message_ids.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "coverage/path_fold.h"

namespace {

bool folded_prefix(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (fold_path_char(text[i]) != fold_path_char(prefix[i]))
            return false;
    return true;
}

bool ends_with_folded(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && folded_prefix(text.substr(text.size() - end.size()), end);
}

// F records: ascending, each at a line with code, the first at the block's first line with code.
void expect_sound_functions(const FileBlock& block) {
    ASSERT_FALSE(block.functions.empty()) << block.path();
    EXPECT_EQ(block.functions.front().first, static_cast<int>(block.status.find_first_not_of('0')))
        << block.path();
    for (size_t i = 0; i < block.functions.size(); ++i) {
        int index = block.functions[i].first;
        ASSERT_LT(index, block.count) << block.path();
        EXPECT_NE(block.status[index], '0') << block.path() << " F" << index;
        if (i > 0) {
            EXPECT_LT(block.functions[i - 1].first, index) << block.path();
        }
    }
}

// The function records name each C function at the line of its opening (index = line - 1).
void expect_function_at(const FileBlock& block, const std::string& relative,
                        const std::string& name, const std::string& signature) {
    int line = find_line(target_source(relative), signature);
    ASSERT_GT(line, 0) << signature;
    bool found = false;
    for (const auto& [index, function] : block.functions)
        found = found || (index == line - 1 && function == name);
    EXPECT_TRUE(found) << relative << ": no F" << line - 1 << "," << name;
}

const std::vector<std::string> kCalcSources = {"calc/main.c", "calc/util/text.c", "dlls/linked.c",
                                               "dlls/plugin.c"};

// The last messages of a run: the exit, then how the target ended (`ending`, told once with
// the exit code in decimal and in hexadecimal), then the log.
void expect_ending(const std::vector<Message>& messages, unsigned ending,
                   const std::vector<std::string>& code, const std::string& output) {
    std::vector<unsigned> ids = message_ids(messages);
    ASSERT_GE(ids.size(), 4u) << output;
    std::vector<unsigned> tail(ids.end() - 4, ids.end());
    EXPECT_EQ(tail, (std::vector<unsigned>{MSG_TARGET_EXITED, ending, MSG_LOG_BODY_BEGINS,
                                           MSG_LOG_CLOSED}))
        << output;
    for (const Message& message : messages)
        if (message.id == ending) {
            EXPECT_EQ(message.arguments, code) << output;
        }
}

// calc.exe sum 2 3 4 under the tool with -s: the executable, a DLL linked at start and a DLL
// loaded and freed at run time, sources in two folders.
void check_calc(const std::string& form, bool use_work_folder, bool functions,
                bool check_image_names = false) {
    ScratchDir scratch;
    std::string command =
        use_work_folder ? "calc.exe sum 2 3 4" : target_dir(form) + "calc.exe sum 2 3 4";
    std::string options = "-s " + target_sources() + (functions ? " -f" : "");
    if (use_work_folder)
        options += " -w " + target_dir(form);
    ToolRun run = run_tool(options + " " + command, scratch.path());

    CoverageLog log;
    expect_sound_log(run, scratch.path(), command, log);
    if (::testing::Test::HasFatalFailure())
        return;
    // The target behaves as it does alone.
    EXPECT_NE(run.output.find("sum = 18"), std::string::npos) << run.output;

    // Only the target's own files, each once: -s holds back Wine's and the runtime's.
    std::set<std::string> expected;
    for (const std::string& relative : kCalcSources) {
        EXPECT_EQ(check_markers(log, relative), "");
        expected.insert(target_source(relative));
    }
    EXPECT_EQ(log.blocks.size(), kCalcSources.size());
    for (const FileBlock& block : log.blocks) // only the target's own files
        EXPECT_TRUE(folded_prefix(block.path(), target_sources() + "\\")) << block.path();

    for (const FileBlock& block : log.blocks) {
        if (functions)
            expect_sound_functions(block);
        else
            EXPECT_TRUE(block.functions.empty()) << block.path();
    }
    if (functions) {
        if (const FileBlock* text = find_block(log, "calc/util/text.c")) {
            expect_function_at(*text, "calc/util/text.c", "parse_number", "int parse_number(");
            expect_function_at(*text, "calc/util/text.c", "max_of", "int max_of(");
            expect_function_at(*text, "calc/util/text.c", "print_result", "void print_result(");
        }
        if (const FileBlock* main_c = find_block(log, "calc/main.c")) {
            expect_function_at(*main_c, "calc/main.c", "run_plugin", "static int run_plugin(");
            expect_function_at(*main_c, "calc/main.c", "main", "int main(");
        }
        if (const FileBlock* plugin = find_block(log, "dlls/plugin.c"))
            expect_function_at(*plugin, "dlls/plugin.c", "plugin_half",
                               "__declspec(dllexport) int plugin_half(");
    }

    // Messages in their order: the start, the modules with lines, the exit with calc's code 4,
    // the log.
    Catalogue catalogue;
    std::vector<Message> messages = catalogue.classify_output(run.output);
    std::vector<unsigned> ids = message_ids(messages);
    ASSERT_GE(ids.size(), 7u) << run.output;
    EXPECT_EQ(ids.front(), static_cast<unsigned>(MSG_TARGET_STARTING));
    expect_ending(messages, MSG_TARGET_EXIT_CODE, {"4", "00000004"}, run.output);
    for (size_t i = 1; i + 4 < ids.size(); ++i)
        EXPECT_EQ(ids[i], static_cast<unsigned>(MSG_MODULE_LINES_READ)) << run.output;
    for (const Message& message : messages) {
        if (message.id == MSG_TARGET_STARTING) {
            EXPECT_EQ(message.arguments, std::vector<std::string>{command});
        }
    }
    if (!check_image_names)
        return;
    // Each of the target's own images is announced by name, the executable first.
    std::vector<std::string> images;
    for (const Message& message : messages)
        if (message.id == MSG_MODULE_LINES_READ && message.arguments.size() == 1)
            for (const char* name : {"calc.exe", "linked.dll", "plugin.dll"})
                if (ends_with_folded(message.arguments[0], std::string("\\") + name))
                    images.push_back(name);
    EXPECT_EQ(images.size(), 3u) << run.output;
    if (!images.empty()) {
        EXPECT_EQ(images.front(), "calc.exe");
    }
    // Wine's own DLLs carry DWARF lines: they are announced by their full path too, also when
    // none of their names can lie under the source folder and their lines are not read.
    if (!wine_dlls_carry_dwarf())
        GTEST_SKIP() << "this Wine's own DLLs are stripped, so none of them is announced";
    for (const char* name : {"ntdll.dll", "kernel32.dll"}) {
        int announced = 0;
        for (const Message& message : messages)
            if (message.id == MSG_MODULE_LINES_READ && message.arguments.size() == 1 &&
                ends_with_folded(message.arguments[0], std::string("\\") + name) &&
                message.arguments[0].compare(1, 2, ":\\") == 0)
                ++announced;
        EXPECT_EQ(announced, 1) << name << "\n" << run.output;
    }
}

} // namespace

TEST(CommandLine, CalcPdbWithWorkFolder) {
    check_calc("pdb", true, false, true);
}

TEST(CommandLine, CalcDwarfByFullPath) {
    check_calc("dwarf", false, false);
}

TEST(CommandLine, CalcPdbWithFunctionNames) {
    check_calc("pdb", false, true);
}

TEST(CommandLine, CalcDwarfWithFunctionNames) {
    check_calc("dwarf", true, true);
}

// C++ with -e: every file block names a file that exists.
TEST(CommandLine, CppExistingFilesOnly) {
    for (const std::string form : {"pdb", "dwarf"}) {
        SCOPED_TRACE(form);
        ScratchDir scratch;
        std::string command = target_dir(form) + "shapes.exe";
        ToolRun run = run_tool("-e " + command, scratch.path());
        CoverageLog log;
        expect_sound_log(run, scratch.path(), command, log);
        if (::testing::Test::HasFatalFailure())
            return;
        EXPECT_NE(run.output.find("largest 4.0"), std::string::npos) << run.output;
        EXPECT_EQ(check_markers(log, "cpp/shapes.cpp"), "");
        for (const FileBlock& block : log.blocks)
            EXPECT_NE(GetFileAttributesA(block.path().c_str()), INVALID_FILE_ATTRIBUTES)
                << block.path();
        Catalogue catalogue;
        EXPECT_EQ(count_id(catalogue.classify_output(run.output), MSG_TARGET_ERROR_EXCEPTION), 0u)
            << run.output;
    }
}

// A command that names nothing that exists: the launch fails, no log, no announcement.
TEST(CommandLine, MissingExecutable) {
    ScratchDir scratch;
    ToolRun run = run_tool("-s " + target_sources() + " no_such_program.exe -x", scratch.path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 0u);
    Catalogue catalogue;
    std::vector<Message> messages = catalogue.classify_output(run.output);
    EXPECT_EQ(message_ids(messages),
              (std::vector<unsigned>{MSG_TARGET_STARTING, MSG_LAUNCH_FAILED}))
        << run.output;
    EXPECT_TRUE(log_files(scratch.path()).empty());
}

// The log counter takes the first free number: a gap is filled, existing logs are kept.
TEST(CommandLine, LogCounterFillsGap) {
    ScratchDir scratch;
    std::string prefix = log_name_prefix_today();
    {
        FILE* kept = std::fopen((scratch.path() + prefix + "002.log").c_str(), "wb");
        ASSERT_NE(kept, nullptr);
        std::fputs("kept", kept);
        std::fclose(kept);
    }
    std::string arguments = "-s " + target_sources() + " -w " + target_dir("dwarf") + " events.exe";
    ToolRun first = run_tool(arguments, scratch.path());
    ToolRun second = run_tool(arguments, scratch.path());
    ASSERT_TRUE(first.started && second.started);
    EXPECT_EQ(
        log_files(scratch.path()),
        (std::vector<std::string>{prefix + "001.log", prefix + "002.log", prefix + "003.log"}))
        << first.output << second.output;
    EXPECT_EQ(read_file(scratch.path() + prefix + "002.log"), "kept");
    for (const char* name : {"001.log", "003.log"}) {
        CoverageLog log;
        EXPECT_EQ(parse_log(read_file(scratch.path() + prefix + name), log), "") << name;
        EXPECT_EQ(log.command, "events.exe");
        EXPECT_EQ(check_markers(log, "events/events.c"), "") << name;
    }
}

// An access violation that the target does not handle: reported at the first and the second
// delivery; the target dies of it, and its exit still ends the run with a log.
TEST(CommandLine, UnhandledExceptionStillLogs) {
    ScratchDir scratch;
    std::string command = target_dir("pdb") + "events.exe crash";
    ToolRun run = run_tool("-s " + target_sources() + " " + command, scratch.path());
    CoverageLog log;
    expect_sound_log(run, scratch.path(), command, log);
    if (::testing::Test::HasFatalFailure())
        return;
    Catalogue catalogue;
    std::vector<Message> messages = catalogue.classify_output(run.output);
    EXPECT_EQ(count_id(messages, MSG_TARGET_ERROR_EXCEPTION), 2u) << run.output;
    // It ran before it died: its code is told, not a failed start.
    expect_ending(messages, MSG_TARGET_EXIT_CODE, {"3221225477", "C0000005"}, run.output);
    EXPECT_EQ(check_markers(log, "events/events.c"), "");
}

// An error-severity exception that the target handles itself: one delivery, one report, and the
// target runs on to its end.
TEST(CommandLine, HandledExceptionReportedOnce) {
    ScratchDir scratch;
    std::string command = target_dir("dwarf") + "events.exe handled";
    ToolRun run = run_tool("-s " + target_sources() + " " + command, scratch.path());
    CoverageLog log;
    expect_sound_log(run, scratch.path(), command, log);
    if (::testing::Test::HasFatalFailure())
        return;
    EXPECT_NE(run.output.find("handled"), std::string::npos) << run.output;
    Catalogue catalogue;
    EXPECT_EQ(count_id(catalogue.classify_output(run.output), MSG_TARGET_ERROR_EXCEPTION), 1u)
        << run.output;
    EXPECT_EQ(check_markers(log, "events/events.c"), "");
}

// How a target ended is told after its exit. seven.exe returns 7 from its entry point, which is
// its own first line: the debugger's watch of the entry shares the address with a line
// breakpoint there, and both must let it run on.
TEST(CommandLine, TargetThatReturnsSevenHasItsCodeTold) {
    ScratchDir scratch;
    std::string command = target_dir("pdb") + "seven.exe";
    ToolRun run = run_tool("-s " + target_sources() + " " + command, scratch.path());
    CoverageLog log;
    expect_sound_log(run, scratch.path(), command, log);
    if (::testing::Test::HasFatalFailure())
        return;
    EXPECT_EQ(check_markers(log, "exitcode/seven.c"), "");
    Catalogue catalogue;
    expect_ending(catalogue.classify_output(run.output), MSG_TARGET_EXIT_CODE, {"7", "00000007"},
                  run.output);
}

// needs_absent.exe imports from a DLL that is not beside it: the loader ends it with
// STATUS_DLL_NOT_FOUND before its entry point. The run says it failed to start and why, and its
// log still comes, with none of its lines reached.
TEST(CommandLine, TargetWhoseDllIsMissingFailedToStart) {
    ASSERT_EQ(GetFileAttributesA((target_dir("dwarf") + "absent.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    ScratchDir scratch;
    std::string command = target_dir("dwarf") + "needs_absent.exe";
    ToolRun run = run_tool("-s " + target_sources() + " " + command, scratch.path());
    CoverageLog log;
    expect_sound_log(run, scratch.path(), command, log);
    if (::testing::Test::HasFatalFailure())
        return;
    EXPECT_EQ(check_markers(log, "exitcode/needs_absent.c"), "");
    EXPECT_EQ(run.output.find("started"), std::string::npos) << run.output;
    Catalogue catalogue;
    expect_ending(catalogue.classify_output(run.output), MSG_TARGET_DLL_NOT_FOUND,
                  {"3221225781", "C0000135"}, run.output);
}

// The source folder is compared folded: typed in lower case, or in upper case with slashes, it
// selects the same file blocks as spelled like the debug information. A folder that matches
// nothing says so once the target has exited, naming the folder, and the log holds its header.
TEST(CommandLine, SourceFolderFoldedAndOneThatMatchesNothing) {
    const std::string command = target_dir("dwarf") + "events.exe exit";
    std::string lower = target_sources(), upper_slashed = target_sources();
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    std::transform(upper_slashed.begin(), upper_slashed.end(), upper_slashed.begin(),
                   [](char c) { return c == '\\' ? '/' : static_cast<char>(std::toupper(c)); });
    const std::string nowhere = target_sources() + "\\nowhere";
    Catalogue catalogue;
    std::vector<FileBlock> expected;
    for (const std::string& folder : {target_sources(), lower, upper_slashed, nowhere}) {
        SCOPED_TRACE(folder);
        ScratchDir scratch;
        ToolRun run = run_tool("-s " + folder + " " + command, scratch.path());
        CoverageLog log;
        expect_sound_log(run, scratch.path(), command, log);
        if (::testing::Test::HasFatalFailure())
            return;
        std::vector<Message> messages = catalogue.classify_output(run.output);
        if (folder == nowhere) {
            EXPECT_TRUE(log.blocks.empty());
            ASSERT_EQ(count_id(messages, MSG_NO_SOURCE_MATCHED), 1u) << run.output;
            std::vector<unsigned> ids = message_ids(messages);
            auto at = std::find(ids.begin(), ids.end(), MSG_NO_SOURCE_MATCHED);
            ASSERT_NE(at, ids.begin());
            EXPECT_EQ(at[-1], static_cast<unsigned>(MSG_TARGET_EXITED)) << run.output;
            for (const Message& message : messages)
                if (message.id == MSG_NO_SOURCE_MATCHED) {
                    EXPECT_EQ(message.arguments, std::vector<std::string>{nowhere});
                }
            continue;
        }
        EXPECT_EQ(count_id(messages, MSG_NO_SOURCE_MATCHED), 0u) << run.output;
        if (expected.empty()) {
            expected = log.blocks;
            ASSERT_NE(find_block(log, "events/events.c"), nullptr);
            continue;
        }
        ASSERT_EQ(log.blocks.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(log.blocks[i].path(), expected[i].path());
            EXPECT_EQ(log.blocks[i].status, expected[i].status) << expected[i].path();
        }
    }
}
