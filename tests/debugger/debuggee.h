// The debugger tests' own debuggee (target/debuggee.c and its DLL) and its marked lines.
#pragma once

#include <string>

#include "coverage/coverage_database.h"

// The folder of the debuggee's sources, as its program database records it.
constexpr char kDebuggeeSources[] = ZERKA_DEBUGGEE_DIR;

// The command that runs the debuggee built beside the tests in the given mode.
std::string debuggee_command(const std::string& mode);

// The number of the line of `file` (in the debuggee's folder) that carries "mark:<name>".
unsigned marked_line(const std::string& file, const std::string& name);

// The entry of that marked line (a hit one when several loads of its image left entries), or
// null when the table holds none.
const BreakpointEntry* marked_entry(const CoverageDatabase& database, const std::string& file,
                                    const std::string& name);

// The number of running processes whose executable is `name`.
int processes_named(const std::string& name);
