// Everything that differs between the 32-bit and the 64-bit build lives here: the width of a
// code address, the thread context's instruction pointer and the context flags that cover it.
#pragma once

#include <windows.h>

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

// Debug Help reports 64-bit addresses; the table keeps the target's own width.
inline CodeAddress to_code_address(DWORD64 address) {
    return static_cast<CodeAddress>(address);
}
