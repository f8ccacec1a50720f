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
