// The debugger on its real debuggee under Wine: planting, hits, threads, the target's own
// breakpoints, DLL unloads and cancel.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "debugger/target_debugger.h"
#include "tests/debugger/debuggee.h"
#include "tests/support/catalogue.h"
#include "tests/support/notify_window.h"
#include "tests/support/process.h"

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
    return entry != nullptr ? entry->state() : BreakpointState::unplanted;
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
    run.database.breakpoints.for_each([](CodeAddress, const BreakpointEntry& entry) {
        EXPECT_NE(entry.state(), BreakpointState::unplanted);
        EXPECT_NE(entry.state(), BreakpointState::unplantable);
        if (entry.state() == BreakpointState::hit) {
            EXPECT_EQ(entry.saved_byte(), 0xCC);
        }
    });
    // The image's list, kept for its unload, holds each of its lines once.
    for (const auto& module : run.debugger.modules()) {
        const std::vector<ImageOffset>& offsets = module.second.offsets;
        EXPECT_TRUE(std::adjacent_find(offsets.begin(), offsets.end(),
                                       std::greater_equal<ImageOffset>()) == offsets.end());
    }
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

TEST(TargetDebugger, ADllLoadedAgainKeepsItsEarlierHitsAndPlantsTheRetiredLines) {
    DebugRun run("reload");
    ASSERT_TRUE(run.debugger.run());
    EXPECT_EQ(state_of(run, "debuggee_dll.c", "dll_twice"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee_dll.c", "dll_unused"), BreakpointState::hit);
    EXPECT_EQ(state_of(run, "debuggee.c", "wrong"), BreakpointState::planted);
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

TEST(TargetDebugger, AFrontEndWindowReceivesTheRunsMessagesWithTheImageNames) {
    set_message_module(catalogue_module());
    NotifyWindow window;
    ASSERT_NE(window.handle(), nullptr);

    volatile LONG cancel = 0;
    std::string command = debuggee_command("lines");
    CoverageDatabase database(command.c_str(), "", kDebuggeeSources, false, false, false,
                              window.handle(), &cancel);
    TargetDebugger debugger(database, window.handle(), &cancel);
    ASSERT_TRUE(debugger.run());
    std::vector<std::string> texts = window.texts();
    set_message_module(nullptr);

    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts.front(), formatted_message(MSG_TARGET_STARTING, command.c_str()));
    // The run ends with 3: the exit, then the code.
    EXPECT_EQ(texts[texts.size() - 2], formatted_message(MSG_TARGET_EXITED));
    char code[1024];
    std::snprintf(code, sizeof(code), catalogue_text(MSG_TARGET_EXIT_CODE).c_str(), 3ul, 3ul);
    EXPECT_EQ(texts.back(), code);
    // The program's own image is named by its full path, though Wine's symbol handler leaves
    // the loaded image's name empty for an image given by its file handle.
    std::string image = bin_dir() + "debuggee.exe";
    EXPECT_EQ(
        _stricmp(texts[1].c_str(), formatted_message(MSG_MODULE_LINES_READ, image.c_str()).c_str()),
        0)
        << texts[1];
    for (const std::string& text : texts)
        EXPECT_NE(text, formatted_message(MSG_MODULE_LINES_READ, "")) << "an empty name";
}
