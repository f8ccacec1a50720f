// Finding and starting the target: the work folder first, ".exe" after a folder match, quoted
// names with blanks, the symbol search path and the arguments handed on.
#include <gtest/gtest.h>

#include <windows.h>

#include "debugger/launch.h"
#include "debugger/target_debugger.h"
#include "tests/debugger/debuggee.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace {

std::string without_slash(const std::string& folder) {
    return folder.substr(0, folder.size() - 1);
}

bool same_path(const char* first, const std::string& second) {
    return first != nullptr && _stricmp(first, second.c_str()) == 0;
}

void copy_debuggee(const std::string& to) {
    ASSERT_TRUE(CopyFileA((bin_dir() + "debuggee.exe").c_str(), to.c_str(), FALSE)) << to;
}

} // namespace

TEST(ExecutableSearch, SearchesTheWorkFolderFirstAndLeavesRoomForTheArguments) {
    ScratchDir scratch;
    copy_debuggee(scratch.path() + "debuggee.exe");
    // The tests' own folder holds a debuggee.exe too and comes first in the system's order.
    std::unique_ptr<char[]> found =
        find_executable("debuggee", without_slash(scratch.path()).c_str(), 40);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(same_path(found.get(), scratch.path() + "debuggee.exe")) << found.get();

    found = find_executable("debuggee", "", 0);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(same_path(found.get(), bin_dir() + "debuggee.exe")) << found.get();

    EXPECT_EQ(find_executable("no_such_program_here", without_slash(scratch.path()).c_str(), 0),
              nullptr);
}

TEST(LaunchTarget, AFolderNamedLikeTheProgramIsPassedOverForTheProgram) {
    ScratchDir scratch;
    std::string work = without_slash(scratch.path());
    ASSERT_TRUE(CreateDirectoryA((scratch.path() + "my.tools").c_str(), nullptr));
    copy_debuggee(scratch.path() + "my.tools.exe");

    volatile LONG cancel = 0;
    CoverageDatabase database("  my.tools native", work.c_str(), kDebuggeeSources, false, false,
                              false, nullptr, &cancel);
    TargetDebugger debugger(database, nullptr, &cancel);
    ASSERT_TRUE(debugger.run());
    // The executable's folder, the work folder and the current one.
    EXPECT_EQ(database.symbol_path, scratch.path() + ";" + work + ";.");
    // "native" reached the program: its own breakpoint line ran.
    const BreakpointEntry* native = marked_entry(database, "debuggee.c", "native");
    ASSERT_NE(native, nullptr);
    EXPECT_EQ(native->state(), BreakpointState::hit);
}

TEST(LaunchTarget, AQuotedPathWithBlanksIsFoundAndStartedWithItsArguments) {
    ScratchDir scratch;
    std::string folder = scratch.path() + "with blank";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    // A program that an unquoted first token would name instead.
    copy_debuggee(scratch.path() + "with.exe");
    copy_debuggee(folder + "\\app.exe");

    volatile LONG cancel = 0;
    std::string command = "\"" + folder + "\\app\" native";
    CoverageDatabase database(command.c_str(), "", kDebuggeeSources, false, false, false, nullptr,
                              &cancel);
    TargetDebugger debugger(database, nullptr, &cancel);
    ASSERT_TRUE(debugger.run());
    EXPECT_EQ(database.symbol_path, folder + "\\;.");
    const BreakpointEntry* native = marked_entry(database, "debuggee.c", "native");
    ASSERT_NE(native, nullptr);
    EXPECT_EQ(native->state(), BreakpointState::hit);
}
