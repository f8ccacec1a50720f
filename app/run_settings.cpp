#include "app/run_settings.h"

#include <cstring>

#include "app/cancel.h"
#include "app/coverage_run.h"
#include "app/heap_text.h"
#include "app/messages.h"

namespace {

// The record lives for the whole process; its lock is made before main and deleted at exit.
struct ProcessRunSettings {
    RunSettings settings;
    ProcessRunSettings() { InitializeCriticalSection(&settings.lock); }
    ~ProcessRunSettings() { DeleteCriticalSection(&settings.lock); }
};

ProcessRunSettings process_run_settings;

} // namespace

RunSettings& run_settings() {
    return process_run_settings.settings;
}

void set_run_settings(const char* command_text, const char* work_folder, const char* source_folder,
                      bool existing_files_only, bool function_names) {
    RunSettings& settings = run_settings();
    // Waits until no command list holds the record; the fill itself needs no lock.
    EnterCriticalSection(&settings.lock);
    LeaveCriticalSection(&settings.lock);

    settings.existing_files_only = existing_files_only;
    settings.function_names = function_names;
    settings.notify_window = nullptr;
    settings.show_debug_output = false;
    settings.cancel_flag = 0;

    settings.command_text = copy_text(command_text);
    settings.work_folder = copy_text(work_folder);
    settings.log_folder = copy_text(".");
    settings.source_folder = copy_text(source_folder);
}

bool run_commands(RunSettings& settings) {
    return run_commands(settings, run_coverage);
}

bool run_commands(RunSettings& settings, CommandRunner run_one) {
    EnterCriticalSection(&settings.lock);
    bool result = true;
    unsigned commands_run = 0;
    bool cancelled = false;

    // Line breaks become terminators in place; empty commands (as between CR and LF) are skipped.
    char* text = settings.command_text.get();
    if (text != nullptr) {
        char* command = text;
        for (char* at = text;; ++at) {
            if (*at == '\r' || *at == '\n') {
                *at = '\0';
                if (*command != '\0') {
                    ++commands_run;
                    run_one(settings, command);
                    if (cancel_requested(&settings.cancel_flag)) {
                        cancelled = true;
                        break;
                    }
                }
                command = at + 1;
            } else if (*at == '\0') {
                if (*command != '\0') {
                    ++commands_run;
                    run_one(settings, command);
                }
                break;
            }
        }
    }

    if (cancelled || cancel_requested(&settings.cancel_flag)) {
        report_message(settings.notify_window, MSG_LIST_CANCELLED);
        result = false;
    } else if (commands_run == 0) {
        report_message(settings.notify_window, MSG_NO_COMMAND);
        result = false;
    }

    settings.command_text.reset();
    settings.work_folder.reset();
    settings.source_folder.reset();
    settings.log_folder.reset();

    if (settings.notify_window != nullptr)
        PostMessageA(settings.notify_window, WM_ZERKA_DONE, 0, result ? 0 : 1);
    LeaveCriticalSection(&settings.lock);
    return result;
}
