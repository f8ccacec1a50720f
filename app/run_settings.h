// The process-wide record of one invocation and the walk over its command list.
#pragma once

#include <windows.h>

#include <memory>

struct RunSettings {
    std::unique_ptr<char[]> command_text;
    std::unique_ptr<char[]> work_folder;
    std::unique_ptr<char[]> source_folder;
    std::unique_ptr<char[]> log_folder;
    HWND notify_window = nullptr;
    bool existing_files_only = false;
    bool function_names = false;
    bool show_debug_output = false;
    volatile LONG cancel_flag = 0;
    CRITICAL_SECTION lock;
};

// The one record of the process; its lock lives from static initialisation to process exit.
RunSettings& run_settings();

void set_run_settings(const char* command_text, const char* work_folder, const char* source_folder,
                      bool existing_files_only, bool function_names);

// Runs one command of the list; run_coverage in the tool, another runner in tests.
using CommandRunner = bool (*)(RunSettings& settings, const char* command);

bool run_commands(RunSettings& settings);
bool run_commands(RunSettings& settings, CommandRunner run_one);
