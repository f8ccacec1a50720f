// One-shot line breakpoints: the planting pass after each scan and the handling of a hit.
#pragma once

#include <windows.h>

#include "coverage/coverage_database.h"
#include "coverage/symbol_scan.h"
#include "debugger/arch.h"

// Plants the lines of `module` that are still waiting (state unplanted), from its offsets, which
// it sorts and rids of repeats. Each group of nearby lines costs one read and one write of the
// span that holds them; a region's protection is changed only when the direct write fails.
// False when the cancel flag was seen or a line could not be planted; the lines not reached
// stay waiting, for a later pass over the same module.
bool plant_breakpoints(CoverageDatabase& database, ModuleRecord& module);

// Answers a breakpoint exception at `address` raised by `thread`: restores the code byte of a
// planted line, marks it hit and moves the thread back onto the restored instruction. A
// breakpoint that is not ours is left to run on. False when the byte or the thread could not be
// put right; `stranded` (when given) is then set if the code byte could not be put back: the
// thread can neither run on from the middle of the instruction nor meet the breakpoint again.
bool handle_breakpoint_hit(CoverageDatabase& database, HANDLE thread, CodeAddress address,
                           bool* stranded = nullptr);

// A one-shot breakpoint of the debugger's own, outside the line table. Plants 0xCC at `address`
// and keeps the byte it replaced in `saved_byte`; where a breakpoint stands already (a planted
// line, or one of the target's own) nothing is written and `saved_byte` receives 0xCC, since a
// hit at the address arrives all the same. False when the byte cannot be read or written.
bool plant_watch(HANDLE process, CodeAddress address, std::uint8_t* saved_byte);

// Answers the hit of a watch planted over `saved_byte`: puts the byte back and moves `thread`
// back onto it. False when the byte or the thread could not be put right; `stranded` as for a
// line's hit.
bool clear_watch(const CoverageDatabase& database, HANDLE thread, CodeAddress address,
                 std::uint8_t saved_byte, bool* stranded);
