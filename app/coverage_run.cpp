#include "app/coverage_run.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "app/messages.h"
#include "coverage/coverage_database.h"
#include "debugger/target_debugger.h"
#include "log/log_format.h"
#include "log/log_writer.h"

namespace {

// The longest name that kLogNameFormat can produce, with room to spare for the counter.
constexpr std::size_t kLogNameRoom = 64;

const char* text_or_empty(const std::unique_ptr<char[]>& text) {
    return text != nullptr ? text.get() : "";
}

// Creates the first free log of the day. The file is created exclusively, so a log that another
// process made after the name was tested is never emptied: the counter moves on past it.
FILE* create_log(const char* log_folder, const SYSTEMTIME& start, std::string* path) {
    char name[kLogNameRoom];
    for (int counter = 1;; ++counter) {
        std::snprintf(name, sizeof(name), kLogNameFormat, start.wYear % 100, start.wMonth,
                      start.wDay, counter);
        *path = log_folder;
        *path += name;
        if (GetFileAttributesA(path->c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        HANDLE file = CreateFileA(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            return nullptr;
        }
        int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | _O_WRONLY);
        if (descriptor == -1) {
            CloseHandle(file);
            return nullptr;
        }
        FILE* stream = _fdopen(descriptor, "wb");
        if (stream == nullptr)
            _close(descriptor);
        return stream;
    }
}

} // namespace

void close_log_file(LogFile& log) {
    if (log.stream == nullptr)
        return;
    std::fclose(log.stream);
    log.stream = nullptr;
    report_message(log.notify_window, MSG_LOG_CLOSED, log.path.c_str());
}

bool run_coverage(RunSettings& settings, const char* command) {
    SYSTEMTIME start;
    GetLocalTime(&start);

    // The debugger refers to the database, so it is built after it and destroyed before it.
    CoverageDatabase database(command, text_or_empty(settings.work_folder),
                              text_or_empty(settings.source_folder), settings.existing_files_only,
                              settings.function_names, settings.show_debug_output,
                              settings.notify_window, &settings.cancel_flag);
    bool written = false;
    {
        TargetDebugger debugger(database, settings.notify_window, &settings.cancel_flag);
        if (!debugger.run())
            return false;
        // A filter that let no line through is most often a source folder spelled otherwise
        // than the debug information records it: say so, as the log alone would be empty.
        if ((*database.source_folder != '\0' || database.existing_files_only) &&
            database.breakpoints.empty())
            report_message(settings.notify_window, MSG_NO_SOURCE_MATCHED, database.source_folder);

        LogFile log;
        log.notify_window = settings.notify_window;
        const char* log_folder = settings.log_folder != nullptr ? settings.log_folder.get() : ".";
        log.stream = create_log(log_folder, start, &log.path);
        if (log.stream == nullptr) {
            report_message(settings.notify_window, MSG_LOG_CREATE_FAILED, log.path.c_str());
            return false;
        }
        if (std::fprintf(log.stream, kLogHeaderFormat, command, start.wYear, start.wMonth,
                         start.wDay, start.wHour, start.wMinute, start.wSecond) < 0) {
            close_log_file(log);
            return false;
        }
        written = write_coverage_log(database, log);
        close_log_file(log);
    }
    return written;
}
