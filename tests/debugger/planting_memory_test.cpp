// Planting and hits in real memory of this process with pages that cannot be read or that are
// not writable, as a debuggee's memory may be: no line is lost to an unreadable neighbour, a
// read-only page is planted through a protection change that is undone, and every kind of
// breakpoint event leaves the thread where it must run on.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "app/heap_text.h"
#include "debugger/breakpoints.h"

namespace {

// One allocation granule, so that the middle one can be left free between the other two.
constexpr SIZE_T kPage = 0x10000;

struct Pages {
    Pages() {
        // The middle granule is left free: nothing can read or write it.
        base = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        VirtualFree(base, 0, MEM_RELEASE);
        VirtualAlloc(base, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
        VirtualAlloc(base + 2 * kPage, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
        for (SIZE_T i = 0; i < 3 * kPage; ++i)
            if (i < kPage || i >= 2 * kPage)
                base[i] = static_cast<std::uint8_t>(0x40 + i % 7); // never 0xCC
        DWORD previous = 0;
        VirtualProtect(base + 2 * kPage, kPage, PAGE_EXECUTE_READ, &previous);
    }
    ~Pages() {
        VirtualFree(base, 0, MEM_RELEASE);
        VirtualFree(base + 2 * kPage, 0, MEM_RELEASE);
    }
    // Whether the system refuses to read the free granule, as it must.
    bool hole_unreadable() const {
        std::uint8_t byte;
        SIZE_T done = 0;
        return !ReadProcessMemory(GetCurrentProcess(), base + kPage, &byte, 1, &done);
    }

    CodeAddress at(SIZE_T offset) const { return reinterpret_cast<CodeAddress>(base + offset); }
    DWORD protection(SIZE_T offset) const {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(base + offset, &info, sizeof(info));
        return info.Protect;
    }
    std::uint8_t* base;
};

// The lines of one image at `base`, entered as the scan enters them.
struct Table {
    explicit Table(CodeAddress base) {
        database.process = GetCurrentProcess();
        module.base = base;
    }
    void enter(CodeAddress address, std::uint32_t line) {
        database.breakpoints[address] = {file, line, 0xCC, BreakpointState::unplanted};
        module.offsets.push_back(static_cast<ImageOffset>(address - module.base));
    }
    bool plant() { return plant_breakpoints(database, module); }
    BreakpointEntry& operator[](CodeAddress address) { return database.breakpoints[address]; }

    volatile LONG cancel = 0;
    CoverageDatabase database{"x", "", "", false, false, false, nullptr, &cancel};
    std::uint32_t file = database.add_source_file(copy_text("m.c"), true);
    ModuleRecord module;
};

DWORD WINAPI idle(LPVOID) {
    return 0;
}

// A thread that never runs, standing one byte past `address` as after a breakpoint there.
struct StoppedThread {
    explicit StoppedThread(CodeAddress address) {
        handle = CreateThread(nullptr, 0, idle, nullptr, CREATE_SUSPENDED, nullptr);
        place(address + 1);
    }
    ~StoppedThread() {
        TerminateThread(handle, 0);
        CloseHandle(handle);
    }
    void place(CodeAddress address) {
        CONTEXT context{};
        context.ContextFlags = kInstructionPointerContext;
        GetThreadContext(handle, &context);
        instruction_pointer(context) = static_cast<InstructionPointer>(address);
        SetThreadContext(handle, &context);
    }
    CodeAddress position() {
        CONTEXT context{};
        context.ContextFlags = kInstructionPointerContext;
        GetThreadContext(handle, &context);
        return static_cast<CodeAddress>(instruction_pointer(context));
    }
    HANDLE handle;
};

} // namespace

TEST(PlantingMemory, ReadOnlyCodeIsPlantedAndOnlyLineStartsChange) {
    Pages pages;
    Table table(pages.at(0));
    pages.base[0x20] = 0xCC; // a breakpoint compiled into the code
    std::uint8_t first = pages.base[0x10], last = pages.base[2 * kPage + 0x30];
    table.enter(pages.at(2 * kPage + 0x30), 4);
    table.enter(pages.at(0x20), 2);
    table.enter(pages.at(0x10), 1);

    EXPECT_TRUE(table.plant());
    EXPECT_EQ(table[pages.at(0x10)].state(), BreakpointState::planted);
    EXPECT_EQ(table[pages.at(0x10)].saved_byte(), first);
    EXPECT_EQ(table[pages.at(0x20)].state(), BreakpointState::native_break);
    EXPECT_EQ(table[pages.at(0x20)].saved_byte(), 0xCC);
    EXPECT_EQ(table[pages.at(2 * kPage + 0x30)].state(), BreakpointState::planted);
    EXPECT_EQ(table[pages.at(2 * kPage + 0x30)].saved_byte(), last);
    // Each line once, in address order: the list the image keeps for its unload.
    EXPECT_EQ(table.module.offsets,
              (std::vector<ImageOffset>{0x10, 0x20, static_cast<ImageOffset>(2 * kPage + 0x30)}));

    // Only the planted line starts changed; the read-only code keeps its protection.
    for (SIZE_T i = 0; i < 3 * kPage; ++i) {
        if (i >= kPage && i < 2 * kPage)
            continue;
        std::uint8_t expected = i == 0x10 || i == 2 * kPage + 0x30 || i == 0x20
                                    ? 0xCC
                                    : static_cast<std::uint8_t>(0x40 + i % 7);
        ASSERT_EQ(pages.base[i], expected) << i;
    }
    EXPECT_EQ(pages.protection(2 * kPage), static_cast<DWORD>(PAGE_EXECUTE_READ));

    // Nothing waits any more: a second pass over the image changes nothing, not even the
    // bytes it kept.
    EXPECT_TRUE(table.plant());
    EXPECT_EQ(pages.base[0x11], static_cast<std::uint8_t>(0x40 + 0x11 % 7));
    EXPECT_EQ(table[pages.at(0x10)].saved_byte(), first);
    EXPECT_EQ(table[pages.at(0x10)].state(), BreakpointState::planted);
}

TEST(PlantingMemory, AnUnreadableGranuleCostsOnlyItsOwnLines) {
    Pages pages;
    if (!pages.hole_unreadable())
        GTEST_SKIP() << "this system reads memory that was freed; an unreadable span cannot be "
                        "provoked here";
    Table table(pages.at(0));
    table.enter(pages.at(0x10), 1);
    table.enter(pages.at(kPage + 0x10), 2);
    table.enter(pages.at(2 * kPage + 0x30), 3);
    // A line was lost to the unreadable memory: the pass says so.
    EXPECT_FALSE(table.plant());
    EXPECT_EQ(table[pages.at(0x10)].state(), BreakpointState::planted);
    EXPECT_EQ(table[pages.at(kPage + 0x10)].state(), BreakpointState::unplantable);
    EXPECT_EQ(table[pages.at(2 * kPage + 0x30)].state(), BreakpointState::planted);
    EXPECT_EQ(pages.base[0x10], 0xCC);
    EXPECT_EQ(pages.base[2 * kPage + 0x30], 0xCC);
}

TEST(PlantingMemory, EveryKindOfBreakpointEventLeavesTheThreadWhereItMustRunOn) {
    Pages pages;
    Table table(pages.at(0));
    pages.base[0x20] = 0xCC;
    CodeAddress planted = pages.at(2 * kPage + 0x30), native = pages.at(0x20);
    std::uint8_t original = pages.base[2 * kPage + 0x30];
    table.enter(planted, 1);
    table.enter(native, 2);
    table.plant();

    // A planted line in read-only code: byte restored, thread moved back onto it, line hit.
    StoppedThread thread(planted);
    EXPECT_TRUE(handle_breakpoint_hit(table.database, thread.handle, planted));
    EXPECT_EQ(pages.base[2 * kPage + 0x30], original);
    EXPECT_EQ(thread.position(), planted);
    EXPECT_EQ(table[planted].state(), BreakpointState::hit);
    EXPECT_EQ(pages.protection(2 * kPage), static_cast<DWORD>(PAGE_EXECUTE_READ));

    // A second thread that stopped there before the byte came back runs the restored line.
    StoppedThread second(planted);
    EXPECT_TRUE(handle_breakpoint_hit(table.database, second.handle, planted));
    EXPECT_EQ(second.position(), planted);
    EXPECT_EQ(pages.base[2 * kPage + 0x30], original);

    // The program's own breakpoint at a line start: reached, left in place, passed over.
    StoppedThread third(native);
    EXPECT_TRUE(handle_breakpoint_hit(table.database, third.handle, native));
    EXPECT_EQ(table[native].state(), BreakpointState::hit);
    EXPECT_EQ(pages.base[0x20], 0xCC);
    EXPECT_EQ(third.position(), native + 1);
    // ...and again the next time it fires, without a rewind onto it.
    EXPECT_TRUE(handle_breakpoint_hit(table.database, third.handle, native));
    EXPECT_EQ(third.position(), native + 1);

    // A breakpoint that is in no table is not touched.
    StoppedThread fourth(pages.at(0x40));
    EXPECT_TRUE(handle_breakpoint_hit(table.database, fourth.handle, pages.at(0x40)));
    EXPECT_EQ(fourth.position(), pages.at(0x41));
}

// A hit whose code byte cannot be written back: the thread is not moved back onto the
// breakpoint, which would fire again without end, and the caller learns that it cannot run on.
// Wine writes into any page of a debuggee, even a released one, so the write is refused through
// a process handle without the right to write instead.
TEST(PlantingMemory, AHitThatCannotBeRestoredStrandsTheThread) {
    Pages pages;
    Table table(pages.at(0));
    const CodeAddress planted = pages.at(0x10);
    table.enter(planted, 1);
    ASSERT_TRUE(table.plant());
    HANDLE read_only =
        OpenProcess(PROCESS_VM_READ | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE,
                    GetCurrentProcessId());
    ASSERT_NE(read_only, nullptr);
    table.database.process = read_only;
    StoppedThread thread(planted);
    bool stranded = false;
    EXPECT_FALSE(handle_breakpoint_hit(table.database, thread.handle, planted, &stranded));
    EXPECT_TRUE(stranded);
    EXPECT_EQ(thread.position(), planted + 1);
    EXPECT_EQ(pages.base[0x10], 0xCC);
    CloseHandle(read_only);
}

TEST(PlantingMemory, ACancelledPassKeepsWhatItDidNotReachQueued) {
    Pages pages;
    Table table(pages.at(0));
    table.enter(pages.at(0x10), 1);
    table.enter(pages.at(0x30), 2);
    table.cancel = 1;
    EXPECT_FALSE(table.plant());
    EXPECT_EQ(table[pages.at(0x10)].state(), BreakpointState::unplanted);
    EXPECT_EQ(table[pages.at(0x30)].state(), BreakpointState::unplanted);
    EXPECT_NE(pages.base[0x10], 0xCC);
    table.cancel = 0;
    EXPECT_TRUE(table.plant());
    EXPECT_EQ(pages.base[0x10], 0xCC);
    EXPECT_EQ(pages.base[0x30], 0xCC);
}

// An image unloaded and loaded again at the same base: its new load gets fresh entries, and the
// pass plants every line again, the one that ran before the unload too (that hit is settled and
// still counts for the log).
TEST(PlantingMemory, ARescanPlantsEveryLineAgain) {
    Pages pages;
    volatile LONG cancel = 0;
    CoverageDatabase database("x", "", "", false, false, false, nullptr, &cancel);
    database.process = GetCurrentProcess();
    const SIZE_T lines[] = {0x40, 0x10, 2 * kPage + 0x30}; // out of address order, as scans go
    auto scan = [&](ModuleRecord& module) {
        module.base = pages.at(0);
        LineScanContext context{database, database.source_files, false, "", &module};
        for (std::uint32_t i = 0; i < 3; ++i) {
            SRCCODEINFO info{};
            info.SizeOfStruct = sizeof(info);
            std::strcpy(info.FileName, "m.c");
            info.LineNumber = i + 1;
            info.Address = static_cast<DWORD64>(pages.at(lines[i]));
            EXPECT_TRUE(on_source_line(&info, &context));
        }
        return plant_breakpoints(database, module);
    };
    std::uint8_t original[3];
    for (int i = 0; i < 3; ++i)
        original[i] = pages.base[lines[i]];

    ModuleRecord first;
    ASSERT_TRUE(scan(first));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(pages.base[lines[i]], 0xCC) << i;
    StoppedThread thread(pages.at(0x10));
    ASSERT_TRUE(handle_breakpoint_hit(database, thread.handle, pages.at(0x10)));

    // The unload: the image's memory holds its code again, and its lines are settled, as the
    // debugger does from the image's list.
    DWORD previous = 0;
    VirtualProtect(pages.base + 2 * kPage, kPage, PAGE_EXECUTE_READWRITE, &previous);
    for (int i = 0; i < 3; ++i)
        pages.base[lines[i]] = original[i];
    VirtualProtect(pages.base + 2 * kPage, kPage, previous, &previous);
    database.breakpoints.settle(first.base, first.offsets);

    ModuleRecord second;
    EXPECT_TRUE(scan(second));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages.base[lines[i]], 0xCC) << i;
        EXPECT_EQ(database.breakpoints[pages.at(lines[i])].saved_byte(), original[i]) << i;
        EXPECT_EQ(database.breakpoints[pages.at(lines[i])].state(), BreakpointState::planted) << i;
    }
    EXPECT_EQ(second.offsets.size(), 3u);
    std::size_t settled_hits = 0;
    database.breakpoints.for_each([&](CodeAddress address, const BreakpointEntry& entry) {
        settled_hits += address == pages.at(0x10) && entry.state() == BreakpointState::hit;
    });
    EXPECT_EQ(settled_hits, 1u);
}
