// Runs a real program as a child process and collects what it printed.
#pragma once

#include <windows.h>

#include <string>

struct ProcessResult {
    bool started = false;
    DWORD start_error = 0; // GetLastError of a CreateProcessA that failed
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

// The path of the ntdll.dll that the running program loaded.
std::string ntdll_path();

// Whether Wine's own DLLs carry DWARF lines: Debian's do; a stripped build's (the WoW64 Wine's)
// do not, so nothing about them can be checked there.
bool wine_dlls_carry_dwarf();
