// Finding the target's executable and starting it under debug.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "coverage/coverage_database.h"

enum class LaunchOutcome {
    started, // the process id is set
    failed,  // without a message of its own: the caller reports the failure
    refused, // a program that this build cannot debug, reported here by name
};

// Starts the command of the database as a debuggee and builds its symbol search path.
LaunchOutcome launch_target(CoverageDatabase& database, DWORD* process_id);

// Searches for an executable (".exe" appended when the name has no extension): in `folder`,
// then on the system's search path, then as `folder` joined with `name`. The returned buffer
// holds the full path with room for `extra` more bytes and a terminator; null when not found.
std::unique_ptr<char[]> find_executable(const char* name, const char* folder, std::size_t extra);
