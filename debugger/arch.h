// Everything that differs between the 32-bit and the 64-bit build lives here: the width of a
// code address, the thread context's instruction pointer and the context flags that cover it,
// and which programs of the other width each build debugs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// A line's place inside its image, kept per image instead of the full address: an image spans
// less than 4 GiB.
using ImageOffset = std::uint32_t;

#if defined(_WIN64)
// 64-bit images load above 4 GiB, so the whole address is kept.
using CodeAddress = std::uint64_t;
using InstructionPointer = DWORD64;
inline InstructionPointer& instruction_pointer(CONTEXT& context) {
    return context.Rip;
}
// False when `address` lies below `base` or 4 GiB or more above it.
inline bool image_offset(CodeAddress address, CodeAddress base, ImageOffset* offset) {
    if (address < base || address - base > 0xFFFFFFFFu)
        return false;
    *offset = static_cast<ImageOffset>(address - base);
    return true;
}
#elif defined(_M_IX86) || defined(__i386__)
// The low half of the 64-bit addresses that the Debug Help library reports.
using CodeAddress = std::uint32_t;
using InstructionPointer = DWORD;
inline InstructionPointer& instruction_pointer(CONTEXT& context) {
    return context.Eip;
}
// False when `address` lies below `base`; every other address of the 32-bit space fits.
inline bool image_offset(CodeAddress address, CodeAddress base, ImageOffset* offset) {
    if (address < base)
        return false;
    *offset = address - base;
    return true;
}
#else
#error "zerkacmd targets x86 and x86_64 only"
#endif

// CONTEXT_CONTROL holds the instruction pointer on both architectures.
constexpr DWORD kInstructionPointerContext = CONTEXT_CONTROL;

// The one-byte x86 breakpoint instruction.
constexpr std::uint8_t kBreakpointByte = 0xCC;

namespace arch_detail {
// Moves the thread back onto `address` when its context shows it just past it.
template <typename Context, typename Register>
bool rewind_context(HANDLE thread, CodeAddress address, DWORD flags,
                    BOOL(WINAPI* get)(HANDLE, Context*), BOOL(WINAPI* set)(HANDLE, const Context*),
                    Register Context::*pointer) {
    Context context{};
    context.ContextFlags = flags;
    if (!get(thread, &context))
        return false;
    if (context.*pointer != static_cast<Register>(address + 1))
        return true;
    context.*pointer = static_cast<Register>(address);
    return set(thread, &context) != 0;
}
} // namespace arch_detail

#if defined(_WIN64)
// One 64-bit tool serves 32-bit programs too: a WoW64 target's code runs in its 32-bit context,
// and its breakpoints may be reported with the WoW64 code.
inline bool is_wow64_target(HANDLE process) {
    BOOL wow64 = FALSE;
    return IsWow64Process(process, &wow64) && wow64;
}
constexpr DWORD kWow64BreakpointCode = 0x4000001F; // STATUS_WX86_BREAKPOINT
inline bool is_breakpoint_exception(DWORD code) {
    return code == EXCEPTION_BREAKPOINT || code == kWow64BreakpointCode;
}
// Every program of this machine's two kinds can be debugged.
inline bool debuggable_binary_type(DWORD) {
    return true;
}
// A WoW64 target also maps 64-bit images (ntdll and the WoW64 layer): they are the system's, not
// the program's, and a breakpoint in them could not be rewound through the 32-bit context. Only
// an image whose header says so for certain is passed by, so the log is the 32-bit tool's.
inline bool image_of_target_width(HANDLE process, CodeAddress base, bool wow64_target) {
    if (!wow64_target)
        return true;
    LONG header = 0;
    WORD machine = 0;
    SIZE_T done = 0;
    auto at = [base](CodeAddress offset) { return reinterpret_cast<LPCVOID>(base + offset); };
    if (!ReadProcessMemory(process, at(offsetof(IMAGE_DOS_HEADER, e_lfanew)), &header,
                           sizeof(header), &done) ||
        done != sizeof(header) || header <= 0)
        return true;
    CodeAddress machine_at = static_cast<CodeAddress>(header) +
                             offsetof(IMAGE_NT_HEADERS, FileHeader) +
                             offsetof(IMAGE_FILE_HEADER, Machine);
    if (!ReadProcessMemory(process, at(machine_at), &machine, sizeof(machine), &done) ||
        done != sizeof(machine))
        return true;
    return machine == IMAGE_FILE_MACHINE_I386;
}
inline bool rewind_thread(HANDLE thread, CodeAddress address, bool wow64_target) {
    if (wow64_target)
        return arch_detail::rewind_context(thread, address, WOW64_CONTEXT_CONTROL,
                                           Wow64GetThreadContext, Wow64SetThreadContext,
                                           &WOW64_CONTEXT::Eip);
    return arch_detail::rewind_context(thread, address, kInstructionPointerContext,
                                       GetThreadContext, SetThreadContext, &CONTEXT::Rip);
}
#else
// A 32-bit debugger cannot debug a 64-bit process: such a program is refused before it starts.
inline bool is_wow64_target(HANDLE) {
    return false;
}
inline bool is_breakpoint_exception(DWORD code) {
    return code == EXCEPTION_BREAKPOINT;
}
inline bool debuggable_binary_type(DWORD type) {
    return type != SCS_64BIT_BINARY;
}
inline bool image_of_target_width(HANDLE, CodeAddress, bool) {
    return true;
}
inline bool rewind_thread(HANDLE thread, CodeAddress address, bool) {
    return arch_detail::rewind_context(thread, address, kInstructionPointerContext,
                                       GetThreadContext, SetThreadContext, &CONTEXT::Eip);
}
#endif

// Debug Help reports 64-bit addresses; the table keeps the target's own width.
inline CodeAddress to_code_address(DWORD64 address) {
    return static_cast<CodeAddress>(address);
}
