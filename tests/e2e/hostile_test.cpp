// Programs that are hard on a debugger, each run under the real zerkacmd.exe: the program must
// behave as it does alone (its own output shows it), the run must end with its log, and the
// log must show the lines that ran. A case that this platform cannot provoke is skipped with
// its reason.
#include "resources/message_ids.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct HostileRun {
    ToolRun run;
    CoverageLog log;
    std::vector<Message> messages;
};

// hostile.exe <mode> of one form, with -s on the targets' sources and `options` before it.
HostileRun run_hostile(const std::string& form, const std::string& program, const std::string& mode,
                       const ScratchDir& scratch, const std::string& options = "") {
    HostileRun result;
    std::string command = target_dir(form) + program + (mode.empty() ? "" : " " + mode);
    result.run = run_tool(options + "-s " + target_sources() + " " + command, scratch.path());
    expect_sound_log(result.run, scratch.path(), command, result.log);
    Catalogue catalogue;
    result.messages = catalogue.classify_output(result.run.output);
    return result;
}

bool has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

// No step of the debugger failed along the way.
void expect_no_failure_messages(const std::vector<Message>& messages) {
    for (unsigned id : {MSG_BREAKPOINT_FAILED, MSG_CREATE_PROCESS_FAILED, MSG_DLL_SCAN_FAILED,
                        MSG_CONTINUE_FAILED, MSG_LOG_WRITE_FAILED})
        EXPECT_EQ(count_id(messages, id), 0u) << "message " << id;
}

// Runs a program under a bare debugger loop that plants nothing and passes every exception
// back: the platform's own behaviour under a debugger. Returns how many exceptions of error
// severity the program raised there.
int error_exceptions_under_bare_debugger(const std::string& command) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::string line = command;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                        DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &info))
        return -1;
    CloseHandle(info.hThread);
    int exceptions = 0;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 10000))
            break;
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
            event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
            status = DBG_EXCEPTION_NOT_HANDLED;
            DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
            if ((code & 0xC0000000) == 0xC0000000 && ++exceptions > 1000)
                TerminateProcess(info.hProcess, 0xDEAD);
        }
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
            CloseHandle(event.u.LoadDll.hFile);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
    CloseHandle(info.hProcess);
    return exceptions;
}

} // namespace

// Eight threads released together onto the same never-run lines, fifty times: the second thread
// to arrive at a planted line must not hang or resume inside the breakpoint; every thread ends.
TEST(Hostile, ThreadsRaceOntoPlantedLines) {
    for (const std::string form : {"pdb", "dwarf"}) {
        SCOPED_TRACE(form);
        ScratchDir scratch;
        HostileRun h = run_hostile(form, "hostile.exe", "threads", scratch);
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(has(h.run.output, "threads finished 400")) << h.run.output;
        EXPECT_EQ(check_markers(h.log, "hostile/hostile.c", "threads"), "");
        expect_no_failure_messages(h.messages);
    }
}

// swap.dll is loaded, used and freed; other.dll then takes its base; swap.dll comes back
// elsewhere and later at its old base. Neither DLL's code may be patched with the other's
// breakpoints (their results show it), and the hits of every load stay in the log.
TEST(Hostile, DllUnloadedAndReplacedAtSameBase) {
    ScratchDir scratch;
    HostileRun h = run_hostile("dwarf", "hostile.exe", "unload", scratch);
    if (HasFatalFailure())
        return;
    const std::string& out = h.run.output;
    std::smatch first, other, moved, back;
    ASSERT_TRUE(std::regex_search(out, first, std::regex("swap.dll at ([0-9A-Fa-f]+): 2"))) << out;
    ASSERT_TRUE(std::regex_search(out, other, std::regex("other.dll at ([0-9A-Fa-f]+): 102")))
        << out;
    ASSERT_TRUE(std::regex_search(out, moved, std::regex("swap.dll moved to ([0-9A-Fa-f]+): 4")))
        << out;
    ASSERT_TRUE(std::regex_search(out, back, std::regex("swap.dll back at ([0-9A-Fa-f]+): 6")))
        << out;
    EXPECT_TRUE(has(out, "other.dll again: 103")) << out;
    if (other[1] != first[1] || back[1] != first[1] || moved[1] == first[1])
        GTEST_SKIP() << "the loader did not place the DLLs as arranged (" << first[1] << ", "
                     << other[1] << ", " << moved[1] << ", " << back[1]
                     << "), so no DLL took another's base";
    EXPECT_EQ(check_markers(h.log, "hostile/swap.c"), "");
    EXPECT_EQ(check_markers(h.log, "hostile/other.c"), "");
    expect_no_failure_messages(h.messages);
}

// The F records that a DWARF image's lines of `source` must open, worked out from the
// toolchain's own reading of the image, written beside it at build time: its line table
// (objdump --dwarf=decodedline, "<stem>.lines") and its symbols (nm, "<stem>.symbols"). A line
// belongs to the last function symbol at or below its lowest address.
std::vector<std::pair<int, std::string>> functions_by_toolchain(const std::string& stem,
                                                                const std::string& source) {
    const std::string dir = target_dir("dwarf");
    std::map<int, unsigned long long> lowest; // line number to its lowest address
    std::istringstream table(read_file(dir + stem + ".lines"));
    std::string row;
    while (std::getline(table, row)) {
        std::istringstream fields(row);
        std::string name, number, address;
        if (!(fields >> name >> number >> address) || name != source ||
            !std::isdigit(static_cast<unsigned char>(number[0])) || address.rfind("0x", 0) != 0)
            continue;
        const unsigned long long at = std::stoull(address, nullptr, 16);
        auto known = lowest.find(std::stoi(number));
        if (known == lowest.end())
            lowest[std::stoi(number)] = at;
        else if (at < known->second)
            known->second = at;
    }
    std::map<unsigned long long, std::string> symbols;
    std::istringstream listed(read_file(dir + stem + ".symbols"));
    while (std::getline(listed, row)) {
        std::istringstream fields(row);
        std::string address, type, name;
        if (!(fields >> address >> type >> name) || (type != "T" && type != "t") || name[0] == '.')
            continue;
#if !defined(_WIN64)
        if (name[0] == '_')
            name.erase(0, 1); // the i686 C decoration, which the debug information does not carry
#endif
        symbols[std::stoull(address, nullptr, 16)] = name;
    }
    std::vector<std::pair<int, std::string>> records;
    for (const auto& [line, at] : lowest) {
        auto owner = symbols.upper_bound(at);
        if (owner == symbols.begin())
            continue;
        --owner;
        if (records.empty() || records.back().second != owner->second)
            records.emplace_back(line - 1, owner->second);
    }
    return records;
}

// first.dll and second.dll share one fixed base that the loader may not move, so each takes
// the other's addresses (line 2 of first.c and line 3 of second.c begin at the same one). Every
// line keeps the result of the image that reported it, whatever held its address before or
// after, and a DLL loaded again keeps the hits of its first load. The expected strings come
// from the line tables (objdump --dwarf=decodedline: first.c lines 2-5, second.c lines 3-6 and
// 8-10) and the calls that the program makes: all of first.dll, second_used of second.dll.
// With -f each line is named by a function of the image that reported it: first_work and
// second_unused begin at the same address.
TEST(Hostile, DllsAtOneFixedBaseKeepTheirOwnLines) {
    const auto first_functions = functions_by_toolchain("first", "first.c");
    const auto second_functions = functions_by_toolchain("second", "second.c");
    ASSERT_EQ(first_functions.size(), 1u);
    ASSERT_EQ(second_functions.size(), 2u);
    for (const std::string order : {"ab", "ba", "abA"}) {
        SCOPED_TRACE(order);
        ScratchDir scratch;
        HostileRun h = run_hostile("dwarf", "hostile.exe", "pair " + order, scratch, "-f ");
        if (HasFatalFailure())
            return;
        const std::string& out = h.run.output;
        std::set<std::string> bases;
        const std::regex loaded("(first|second)\\.dll at ([0-9A-Fa-f]+): (\\d+)");
        for (std::sregex_iterator at(out.begin(), out.end(), loaded), end; at != end; ++at)
            bases.insert((*at)[2]);
        ASSERT_FALSE(bases.empty()) << out;
        if (bases.size() != 1)
            GTEST_SKIP() << "the loader moved a DLL off its fixed base:\n" << out;
        EXPECT_TRUE(has(out, "first.dll at " + *bases.begin() + ": 3")) << out;
        EXPECT_TRUE(has(out, "second.dll at " + *bases.begin() + ": 6")) << out;
        const FileBlock* first = find_block(h.log, "hostile/first.c");
        const FileBlock* second = find_block(h.log, "hostile/second.c");
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(first->status, "03333");
        EXPECT_EQ(second->status, "0011110333");
        EXPECT_EQ(first->functions, first_functions);
        EXPECT_EQ(second->functions, second_functions);
        expect_no_failure_messages(h.messages);
    }
}

// gcc writes a #line number into its line table as given; 16707566 is 0xFEEFEE, under which
// Microsoft's compilers record generated code. Such a row is no line of the file: the block
// ends at the file's last real line with code (line 6; objdump --dwarf=decodedline: rows for
// lines 5, 6, 16707566 and 16707567).
TEST(Hostile, HiddenLineNumbersStayOutOfTheLog) {
    ScratchDir scratch;
    HostileRun h = run_hostile("dwarf", "hidden.exe", "", scratch);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(has(h.run.output, "hidden line")) << h.run.output;
    const FileBlock* block = find_block(h.log, "hostile/hidden.c");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, "000033");
    for (const FileBlock& each : h.log.blocks)
        EXPECT_LE(each.status.size(), 200u) << each.path();
}

// Breakpoints compiled into the program, one at the start of a line and one inside a line: the
// program goes on as under a debugger that passes them over, no event repeats without end,
// and both lines count as run.
TEST(Hostile, CompiledInBreakpoints) {
    for (const std::string form : {"pdb", "dwarf"}) {
        SCOPED_TRACE(form);
        ScratchDir scratch;
        HostileRun h = run_hostile(form, "hostile.exe", "breaks", scratch);
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(has(h.run.output, "after breakpoints 5")) << h.run.output;
        EXPECT_EQ(check_markers(h.log, "hostile/hostile.c", "breaks"), "");
        expect_no_failure_messages(h.messages);
        EXPECT_EQ(count_id(h.messages, MSG_TARGET_ERROR_EXCEPTION), 0u);
    }
}

// Unbounded recursion: the stack overflow is reported as an error-severity exception, the
// program ends of it, and the run still ends with its log.
TEST(Hostile, StackOverflowStillLogs) {
    ScratchDir scratch;
    HostileRun h = run_hostile("dwarf", "hostile.exe", "overflow", scratch);
    if (HasFatalFailure())
        return;
    EXPECT_GE(count_id(h.messages, MSG_TARGET_ERROR_EXCEPTION), 1u) << h.run.output;
    EXPECT_EQ(count_id(h.messages, MSG_TARGET_EXITED), 1u) << h.run.output;
    EXPECT_EQ(check_markers(h.log, "hostile/hostile.c", "overflow"), "");
}

// A C++ exception thrown and caught inside the program: passed back, caught, and no error
// severity. wine64 itself faults when a debugged process throws one; then the case is skipped,
// after the program alone has caught it and a bare debugger loop has shown the same fault.
TEST(Hostile, CppThrowAndCatch) {
    ScratchDir scratch;
    HostileRun h = run_hostile("pdb", "shapes.exe", "throw", scratch);
    if (HasFatalFailure())
        return;
    if (!has(h.run.output, "caught: no values")) {
        ProcessResult alone = run_process(target_dir("pdb") + "shapes.exe throw");
        ASSERT_TRUE(has(alone.output, "caught: no values"))
            << "the program does not catch its own exception even without a debugger (exit code "
            << alone.exit_code << "): its build is at fault\n"
            << alone.output;
        int bare = error_exceptions_under_bare_debugger(target_dir("pdb") + "shapes.exe throw");
        if (bare > 0)
            GTEST_SKIP() << "a C++ throw in a debugged process faults inside this Wine's ntdll "
                            "even under a bare debugger loop ("
                         << bare << " access violations), so the tool cannot be judged on it here";
        FAIL()
            << "the program caught its exception under a bare debugger, but not under the tool:\n"
            << h.run.output;
    }
    EXPECT_EQ(count_id(h.messages, MSG_TARGET_ERROR_EXCEPTION), 0u) << h.run.output;
    EXPECT_EQ(check_markers(h.log, "cpp/shapes.cpp"), "");
}

// A child process: it runs normally and is not debugged, so its lines are not counted.
TEST(Hostile, ChildProcessNotDebugged) {
    ScratchDir scratch;
    HostileRun h = run_hostile("pdb", "hostile.exe", "child", scratch);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(has(h.run.output, "child ran")) << h.run.output;
    EXPECT_TRUE(has(h.run.output, "child exited 0")) << h.run.output;
    EXPECT_EQ(count_id(h.messages, MSG_TARGET_STARTING), 1u);
    EXPECT_EQ(check_markers(h.log, "hostile/hostile.c", "child"), "");
}

// A DLL without any debug information, loaded at run time: the symbol handler is given it
// (nothing in the image rules it out), finds nothing, and the rest is covered. Wine's own
// resource DLLs (tzres.dll) are of this kind.
TEST(Hostile, ModuleWithoutLineInformation) {
    for (const std::string form : {"pdb", "dwarf"}) {
        SCOPED_TRACE(form);
        ScratchDir scratch;
        HostileRun h = run_hostile(form, "hostile.exe", "nolines", scratch);
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(has(h.run.output, "nolines says 42")) << h.run.output;
        EXPECT_FALSE(has(h.run.output, "nolines.dll")) << h.run.output;
        EXPECT_EQ(check_markers(h.log, "hostile/hostile.c", "nolines"), "");
        expect_no_failure_messages(h.messages);
    }
}

// calc.exe rebuilt without its PDB following (the GUID in its debug record no longer matches
// the PDB it names), beside its two DLLs whose PDBs still match: calc.exe's lines are skipped
// silently or, where the symbol handler takes the PDB anyway, read right; the DLLs are covered.
TEST(Hostile, PdbThatDoesNotMatchItsModule) {
    ScratchDir program, scratch;
    for (const char* name : {"calc.exe", "linked.dll", "plugin.dll"})
        ASSERT_TRUE(
            CopyFileA((target_dir("pdb") + name).c_str(), (program.path() + name).c_str(), FALSE));
    std::string image = read_file(program.path() + "calc.exe");
    size_t record = image.find("RSDS");
    ASSERT_NE(record, std::string::npos);
    image[record + 4] ^= 0x5A; // first byte of the GUID
    {
        FILE* file = std::fopen((program.path() + "calc.exe").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(image.data(), 1, image.size(), file);
        std::fclose(file);
    }
    std::string command = program.path() + "calc.exe sum 2 3 4";
    ToolRun run = run_tool("-s " + target_sources() + " " + command, scratch.path());
    CoverageLog log;
    expect_sound_log(run, scratch.path(), command, log);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(has(run.output, "sum = 18")) << run.output;
    for (const char* relative : {"dlls/linked.c", "dlls/plugin.c", "calc/main.c"})
        if (find_block(log, relative) || std::string(relative).rfind("dlls", 0) == 0) {
            EXPECT_EQ(check_markers(log, relative), "") << relative;
        }
    Catalogue catalogue;
    expect_no_failure_messages(catalogue.classify_output(run.output));
}
