// Runs a real program as a child process and collects what it printed.
#pragma once

#include <windows.h>

#include <string>

struct ProcessResult {
    bool started = false;
    bool timed_out = false;
    DWORD exit_code = 0;
    std::string output; // standard output and standard error, as written (bytes)
};

// command_line as CreateProcessA takes it; an empty folder keeps the current one.
ProcessResult run_process(const std::string& command_line, const std::string& folder = "",
                          DWORD timeout_ms = 120000);

// The folder of the running test program, with a trailing backslash: build/<arch>/bin/.
std::string bin_dir();

// Reads a whole file as bytes; empty when it cannot be read.
std::string read_file(const std::string& path);
