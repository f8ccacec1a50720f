// One-shot line breakpoints: the planting pass after each scan and the handling of a hit.
#pragma once

#include <windows.h>

#include "coverage/coverage_database.h"
#include "debugger/arch.h"

// Plants the entries that the scans queued in database.unplanted. Each group of nearby addresses
// costs one read and one write of the span that holds them; a region's protection is changed
// only when the direct write fails. False when the cancel flag was seen or a line could not be
// planted; the entries not reached stay queued.
bool plant_breakpoints(CoverageDatabase& database);

// Answers a breakpoint exception at `address` raised by `thread`: restores the code byte of a
// planted line, marks it hit and moves the thread back onto the restored instruction. A
// breakpoint that is not ours is left to run on. False when the byte or the thread could not be
// put right.
bool handle_breakpoint_hit(CoverageDatabase& database, HANDLE thread, CodeAddress address);
