// The debugger on its real debuggee under Wine: planting, hits, threads, the target's own
// breakpoints, DLL unloads and cancel.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "debugger/target_debugger.h"
#include "tests/debugger/debuggee.h"

namespace {

struct DebugRun {
    explicit DebugRun(const std::string& mode)
        : command(debuggee_command(mode)),
          database(command.c_str(), "", kDebuggeeSources, false, false, false, nullptr, &cancel),
          debugger(database, nullptr, &cancel) {}

    volatile LONG cancel = 0;
    std::string command;
    CoverageDatabase database;
    TargetDebugger debugger;
};

BreakpointState state_of(const DebugRun& run, const char* file, const char* name) {
    const BreakpointEntry* entry = marked_entry(run.database, file, name);
    EXPECT_NE(entry, nullptr) << file << " " << name;
    return entry != nullptr ? entry->state : BreakpointState::unplanted;
}

} // namespace

TEST(TargetDebugger, RunMarksTheLinesThatRanAndLeavesTheOthersPlanted) {
    DebugRun run("lines");
    ASSERT_TRUE(run.debugger.run());
    EXPECT_EQ(run.database.process, nullptr); // the symbol handler was cleaned up
    EXPECT_EQ(state_of(run, "debuggee.c", "square"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee.c", "loop"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee.c", "never"), BreakpointState::planted);
    // The program checked its own results: a thread resumed at a wrong place would show here.
    EXPECT_EQ(state_of(run, "debuggee.c", "wrong"), BreakpointState::planted);
    for (const auto& item : run.database.breakpoints) {
        EXPECT_NE(item.second.state, BreakpointState::unplanted);
        EXPECT_NE(item.second.state, BreakpointState::unplantable);
        if (item.second.state == BreakpointState::hit) {
            EXPECT_EQ(item.second.saved_byte, 0xCC);
        }
    }
    EXPECT_TRUE(run.database.unplanted.empty());
}

TEST(TargetDebugger, EightThreadsOnOneUnrunLineAllFinishAndTheLineIsReached) {
    DebugRun run("threads");
    ASSERT_TRUE(run.debugger.run());
    EXPECT_EQ(state_of(run, "debuggee.c", "worker"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee.c", "wrong"), BreakpointState::planted);
}

TEST(TargetDebugger, TheTargetsOwnBreakpointIsPassedOverAndCountsAsReached) {
    DebugRun run("native");
    ASSERT_TRUE(run.debugger.run());
    EXPECT_EQ(state_of(run, "debuggee.c", "native"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee.c", "after_native"), BreakpointState::hit);
}

TEST(TargetDebugger, AnUnloadedDllKeepsItsHitsAndRetiresTheRest) {
    DebugRun run("dll");
    ASSERT_TRUE(run.debugger.run());
    EXPECT_EQ(state_of(run, "debuggee_dll.c", "dll_twice"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee_dll.c", "dll_unused"), BreakpointState::retired);
    EXPECT_EQ(state_of(run, "debuggee.c", "wrong"), BreakpointState::planted);
    // Only the program itself is still on record; the DLL's record went with its unload.
    EXPECT_EQ(run.debugger.modules().size(), 1u);
}

TEST(TargetDebugger, CancelFromAnotherThreadEndsTheRunAndTheTarget) {
    DebugRun run("wait");
    using Clock = std::chrono::steady_clock;
    Clock::time_point cancelled;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        cancelled = Clock::now();
        InterlockedExchange(&run.cancel, 1);
    });
    bool result = run.debugger.run();
    Clock::time_point returned = Clock::now();
    canceller.join();
    EXPECT_FALSE(result);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - cancelled).count(),
              500);
    EXPECT_EQ(run.database.process, nullptr);
    EXPECT_EQ(processes_named("debuggee.exe"), 0);
}

TEST(TargetDebugger, AMissingExecutableFailsTheRunWithoutASymbolHandler) {
    volatile LONG cancel = 0;
    CoverageDatabase database("no_such_program_here -x", "", kDebuggeeSources, false, false, false,
                              nullptr, &cancel);
    TargetDebugger debugger(database, nullptr, &cancel);
    EXPECT_FALSE(debugger.run());
    EXPECT_EQ(database.process, nullptr);
    EXPECT_TRUE(database.breakpoints.empty());
}
