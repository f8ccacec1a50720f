// Planting and hits driven event by event on the real debuggee: the bytes in the target before
// and after, the thread's position after a hit, and the entries a second scan leaves alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/heap_text.h"
#include "coverage/symbol_scan.h"
#include "debugger/breakpoints.h"
#include "debugger/launch.h"
#include "tests/debugger/debuggee.h"

namespace {

// The executable section of the image at `base` in the target, read from its headers.
struct CodeSection {
    CodeAddress start = 0;
    std::vector<std::uint8_t> bytes;
};

CodeSection read_code(HANDLE process, CodeAddress base) {
    CodeSection code;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    SIZE_T done = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(base), &dos, sizeof(dos), &done) ||
        !ReadProcessMemory(process, reinterpret_cast<LPCVOID>(base + dos.e_lfanew), &nt, sizeof(nt),
                           &done))
        return code;
    CodeAddress sections = base + dos.e_lfanew + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                           nt.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        ReadProcessMemory(process, reinterpret_cast<LPCVOID>(sections + i * sizeof(section)),
                          &section, sizeof(section), &done);
        if (section.Characteristics & IMAGE_SCN_MEM_EXECUTE) {
            code.start = base + section.VirtualAddress;
            code.bytes.resize(section.Misc.VirtualSize);
            ReadProcessMemory(process, reinterpret_cast<LPCVOID>(code.start), code.bytes.data(),
                              code.bytes.size(), &done);
            return code;
        }
    }
    return code;
}

std::uint8_t byte_at(HANDLE process, CodeAddress address) {
    std::uint8_t byte = 0;
    SIZE_T done = 0;
    ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), &byte, 1, &done);
    return byte;
}

CodeAddress address_of(const CoverageDatabase& database, const BreakpointEntry* wanted) {
    CodeAddress found = 0;
    database.breakpoints.for_each([&](CodeAddress address, const BreakpointEntry& entry) {
        if (&entry == wanted)
            found = address;
    });
    return found;
}

} // namespace

TEST(Breakpoints, PlantingChangesOnlyLineStartsAndAHitRestoresTheByteAndRewindsTheThread) {
    volatile LONG cancel = 0;
    std::string command = debuggee_command("lines");
    CoverageDatabase database(command.c_str(), "", kDebuggeeSources, false, false, false, nullptr,
                              &cancel);
    DWORD process_id = 0;
    ASSERT_EQ(launch_target(database, &process_id), LaunchOutcome::started);

    HANDLE main_thread = nullptr;
    CodeAddress square = 0;
    std::uint8_t square_byte = 0;
    bool square_checked = false, exited = false;
    while (!exited) {
        DEBUG_EVENT event;
        ASSERT_TRUE(WaitForDebugEvent(&event, 10000));
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            const CREATE_PROCESS_DEBUG_INFO& info = event.u.CreateProcessInfo;
            main_thread = info.hThread;
            database.process = info.hProcess;
            SymSetOptions(SYMOPT_UNDNAME | SYMOPT_LOAD_LINES);
            ASSERT_TRUE(SymInitialize(info.hProcess, nullptr, FALSE));
            CodeAddress base = reinterpret_cast<CodeAddress>(info.lpBaseOfImage);
            CodeSection before = read_code(info.hProcess, base);
            ASSERT_FALSE(before.bytes.empty());

            ModuleRecord record;
            ASSERT_TRUE(scan_module(database, info.hFile, base, &record));
            ASSERT_FALSE(record.offsets.empty());
            CodeSection after = read_code(info.hProcess, base);
            ASSERT_EQ(after.bytes.size(), before.bytes.size());

            // Every planted line start holds 0xCC over the byte kept in its entry; no other byte
            // of the code changed.
            // The one line that starts with the program's own breakpoint is left as it is.
            std::map<CodeAddress, const BreakpointEntry*> planted;
            std::size_t native = 0;
            database.breakpoints.for_each([&](CodeAddress address, const BreakpointEntry& entry) {
                if (entry.state() == BreakpointState::planted)
                    planted[address] = &entry;
                if (entry.state() == BreakpointState::native_break) {
                    ++native;
                    EXPECT_EQ(byte_at(info.hProcess, address), 0xCC);
                }
            });
            EXPECT_EQ(native, 1u);
            EXPECT_EQ(planted.size() + native, database.breakpoints.size());
            for (std::size_t i = 0; i < before.bytes.size(); ++i) {
                auto found = planted.find(before.start + i);
                if (found == planted.end()) {
                    ASSERT_EQ(after.bytes[i], before.bytes[i]) << i;
                } else {
                    EXPECT_EQ(after.bytes[i], 0xCC);
                    EXPECT_EQ(found->second->saved_byte(), before.bytes[i]);
                }
            }
            square = address_of(database, marked_entry(database, "debuggee.c", "square"));
            ASSERT_NE(square, 0u);
            square_byte = database.breakpoints[square].saved_byte();

            // A second pass over the image finds nothing waiting and touches nothing.
            EXPECT_TRUE(std::is_sorted(record.offsets.begin(), record.offsets.end()));
            EXPECT_TRUE(plant_breakpoints(database, record));
            EXPECT_EQ(read_code(info.hProcess, base).bytes, after.bytes);
            CloseHandle(info.hFile);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            CodeAddress at =
                reinterpret_cast<CodeAddress>(event.u.Exception.ExceptionRecord.ExceptionAddress);
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                break;
            EXPECT_TRUE(handle_breakpoint_hit(database, main_thread, at));
            if (at == square && !square_checked) {
                square_checked = true;
                EXPECT_EQ(byte_at(database.process, square), square_byte);
                CONTEXT context{};
                context.ContextFlags = kInstructionPointerContext;
                ASSERT_TRUE(GetThreadContext(main_thread, &context));
                EXPECT_EQ(instruction_pointer(context), static_cast<InstructionPointer>(square));
                EXPECT_EQ(database.breakpoints[square].state(), BreakpointState::hit);
                EXPECT_EQ(database.breakpoints[square].saved_byte(), 0xCC);
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            exited = true;
            EXPECT_EQ(event.u.ExitProcess.dwExitCode, 3u); // the program's own result
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
    }
    EXPECT_TRUE(square_checked);
    SymCleanup(database.process);
}

// An image unloaded and another scanned at its addresses: every line of the new image gets a
// fresh entry, waiting to be planted, and the old image's lines keep their outcomes under their
// own file and line. Within one image the last line reported at an address names its entry.
TEST(Breakpoints, AnImageAtAnUnloadedOnesAddressesGetsFreshEntries) {
    volatile LONG cancel = 0;
    CoverageDatabase database("x", "", "", false, false, false, nullptr, &cancel);
    const std::uint32_t file = database.add_source_file(copy_text("a.c"), true);
    database.breakpoints[0x1000] = {file, 1, 0xCC, BreakpointState::hit};
    database.breakpoints[0x1010] = {file, 2, 0x55, BreakpointState::planted};
    database.breakpoints[0x1020] = {file, 3, 0xCC, BreakpointState::native_break};
    database.breakpoints.settle(0x1000, {0x00, 0x10, 0x20});
    ModuleRecord record;
    record.base = 0x1000;
    LineScanContext context{database, database.source_files, false, "", &record};
    for (unsigned line : {11u, 12u, 13u, 14u, 15u}) {
        SRCCODEINFO info{};
        info.SizeOfStruct = sizeof(info);
        std::strcpy(info.FileName, "b.c");
        info.LineNumber = line;
        info.Address = 0x1000 + std::min(line - 11, 3u) * 0x10; // 14 and 15 share one address
        EXPECT_TRUE(on_source_line(&info, &context));
    }
    std::map<std::pair<std::string, std::uint32_t>, BreakpointState> lines;
    database.breakpoints.for_each([&](CodeAddress, const BreakpointEntry& entry) {
        lines[{database.file_name(entry.file()), entry.line}] = entry.state();
        if (entry.state() == BreakpointState::unplanted) {
            EXPECT_EQ(entry.saved_byte(), 0xCC);
        }
    });
    const std::map<std::pair<std::string, std::uint32_t>, BreakpointState> expected{
        {{"a.c", 1}, BreakpointState::hit},        {{"a.c", 2}, BreakpointState::retired},
        {{"a.c", 3}, BreakpointState::retired},    {{"b.c", 11}, BreakpointState::unplanted},
        {{"b.c", 12}, BreakpointState::unplanted}, {{"b.c", 13}, BreakpointState::unplanted},
        {{"b.c", 15}, BreakpointState::unplanted}};
    EXPECT_EQ(lines, expected);
    // Every line of the image is in its list, from its base; the pass plants the waiting ones.
    EXPECT_EQ(record.offsets, (std::vector<ImageOffset>{0x00, 0x10, 0x20, 0x30, 0x30}));
    // An address below the image's base is none of its code.
    SRCCODEINFO below{};
    below.SizeOfStruct = sizeof(below);
    std::strcpy(below.FileName, "b.c");
    below.LineNumber = 20;
    below.Address = 0xFF0;
    EXPECT_TRUE(on_source_line(&below, &context));
    EXPECT_EQ(database.breakpoints.find(0xFF0), nullptr);
    EXPECT_EQ(record.offsets.size(), 5u);
}
