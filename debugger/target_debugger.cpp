#include "debugger/target_debugger.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/cancel.h"
#include "app/messages.h"
#include "debugger/breakpoints.h"
#include "debugger/launch.h"

namespace {

constexpr DWORD kWaitMs = 100;
constexpr DWORD kSymbolOptions = SYMOPT_UNDNAME | SYMOPT_LOAD_LINES;
constexpr DWORD kDebugStringChunk = 512;
// A chunk with a carriage return before each of its line feeds, and the terminator.
constexpr std::size_t kDebugStringBlock = 2 * kDebugStringChunk + 1;
// How long an ended target may take to deliver its last events.
constexpr DWORD kEndTargetMs = 5000;

// The loader's usual reasons for ending a process before its entry point, with their texts.
struct StartFailure {
    DWORD code;
    unsigned message;
};
constexpr StartFailure kStartFailures[] = {
    {STATUS_DLL_NOT_FOUND, MSG_TARGET_DLL_NOT_FOUND},
    {STATUS_DLL_INIT_FAILED, MSG_TARGET_DLL_INIT_FAILED},
    {STATUS_ENTRYPOINT_NOT_FOUND, MSG_TARGET_IMPORT_NOT_FOUND},
    {STATUS_ORDINAL_NOT_FOUND, MSG_TARGET_IMPORT_NOT_FOUND},
};

unsigned start_failure_message(DWORD exit_code) {
    for (const StartFailure& failure : kStartFailures)
        if (failure.code == exit_code)
            return failure.message;
    return MSG_TARGET_FAILED_TO_START;
}

bool is_error_severity(DWORD code) {
    return (code & 0xC0000000u) == 0xC0000000u;
}

// The image file handles of module events are ours to close once the scan is done.
void close_image_file(const DEBUG_EVENT& event) {
    HANDLE file = nullptr;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
        file = event.u.CreateProcessInfo.hFile;
    else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT)
        file = event.u.LoadDll.hFile;
    if (file != nullptr)
        CloseHandle(file);
}

CodeAddress address_of(const void* pointer) {
    return reinterpret_cast<CodeAddress>(pointer);
}

} // namespace

TargetDebugger::TargetDebugger(CoverageDatabase& database, HWND notify_window,
                               volatile LONG* cancel_flag)
    : database(database), notify_window(notify_window), cancel_flag(cancel_flag) {
    threads.set_empty_key(0);
}

TargetDebugger::~TargetDebugger() = default;

bool TargetDebugger::run() {
    DWORD process_id = 0;
    LaunchOutcome launched = launch_target(database, &process_id);
    if (launched != LaunchOutcome::started) {
        if (launched == LaunchOutcome::failed)
            report_message(notify_window, MSG_LAUNCH_FAILED);
        return false;
    }
    for (;;) {
        if (cancel_requested(cancel_flag)) {
            end_target(process_id, nullptr);
            return false;
        }
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, kWaitMs))
            continue;
        DWORD continue_status = DBG_CONTINUE;
        if (event.dwProcessId == process_id)
            handle_event(event, &continue_status);
        else
            close_image_file(event); // not debugged by us: continued and otherwise ignored
        if (thread_stranded_) {
            // The target cannot go on correctly: the run fails as when it cannot be continued.
            report_message(notify_window, MSG_CONTINUE_FAILED);
            end_target(process_id, &event);
            return false;
        }
        if (!ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continue_status)) {
            report_message(notify_window, MSG_CONTINUE_FAILED);
            end_target(process_id, &event);
            return false;
        }
        if (event.dwProcessId == process_id && event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            return true;
    }
}

void TargetDebugger::handle_event(const DEBUG_EVENT& event, DWORD* continue_status) {
    switch (event.dwDebugEventCode) {
    case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        if (is_breakpoint_exception(record.ExceptionCode)) {
            if (!handle_breakpoint_event(event.dwThreadId, record, &thread_stranded_) &&
                !thread_stranded_)
                report_message(notify_window, MSG_BREAKPOINT_FAILED);
        } else {
            if (is_error_severity(record.ExceptionCode))
                report_message(notify_window, MSG_TARGET_ERROR_EXCEPTION);
            *continue_status = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
    }
    case CREATE_THREAD_DEBUG_EVENT:
        threads[event.dwThreadId] = event.u.CreateThread.hThread;
        break;
    case CREATE_PROCESS_DEBUG_EVENT:
        if (!handle_create_process(event.dwThreadId, event.u.CreateProcessInfo))
            report_message(notify_window, MSG_CREATE_PROCESS_FAILED);
        close_image_file(event);
        break;
    case EXIT_PROCESS_DEBUG_EVENT:
        handle_exit_process(event.u.ExitProcess.dwExitCode);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        if (!scan_image(event.u.LoadDll.hFile, address_of(event.u.LoadDll.lpBaseOfDll)))
            report_message(notify_window, MSG_DLL_SCAN_FAILED);
        close_image_file(event);
        break;
    case UNLOAD_DLL_DEBUG_EVENT:
        handle_unload(address_of(event.u.UnloadDll.lpBaseOfDll));
        break;
    case OUTPUT_DEBUG_STRING_EVENT:
        if (database.show_debug_output)
            forward_debug_string(address_of(event.u.DebugString.lpDebugStringData),
                                 event.u.DebugString.nDebugStringLength);
        break;
    default:
        break;
    }
}

bool TargetDebugger::handle_create_process(DWORD thread_id, const CREATE_PROCESS_DEBUG_INFO& info) {
    threads[thread_id] = info.hThread;
    if (database.process == nullptr) {
        database.wow64_target = is_wow64_target(info.hProcess);
        SymSetOptions(kSymbolOptions);
        if (!SymInitialize(info.hProcess, nullptr, FALSE))
            return false;
        database.process = info.hProcess;
        SymSetSearchPath(info.hProcess, database.symbol_path.c_str());
    }
    bool scanned = scan_image(info.hFile, address_of(info.lpBaseOfImage));
    // After the scan, so that a line planted at the entry is found there and kept.
    watch_entry(reinterpret_cast<CodeAddress>(info.lpStartAddress));
    return scanned;
}

void TargetDebugger::watch_entry(CodeAddress address) {
    if (database.process == nullptr || address == 0)
        return;
    entry_.address = address;
    entry_.armed = plant_watch(database.process, address, &entry_.saved_byte);
}

bool TargetDebugger::handle_exit_process(DWORD exit_code) {
    report_message(notify_window, MSG_TARGET_EXITED);
    // Without an armed watch nothing is known of the start, and only the code is told.
    if (entry_.armed && !entry_.reached)
        report_message(notify_window, start_failure_message(exit_code), exit_code, exit_code);
    else if (exit_code != 0)
        report_message(notify_window, MSG_TARGET_EXIT_CODE, exit_code, exit_code);
    stop_symbol_handler();
    return true;
}

void TargetDebugger::stop_symbol_handler() {
    if (database.process != nullptr) {
        SymCleanup(database.process);
        database.process = nullptr;
    }
}

bool TargetDebugger::scan_image(HANDLE image_file, CodeAddress base) {
    if (database.process == nullptr)
        return true; // the symbol handler could not be started: nothing can be read
    if (!image_of_target_width(database.process, base, database.wow64_target))
        return true;
    // An image at a base that an earlier one still claims: that one is gone without an event.
    ModuleTable& images = database.images;
    auto previous = images.upper_bound(base);
    if (previous != images.begin()) {
        --previous;
        if (previous->first == base || base < previous->second.end)
            handle_unload(previous->first);
    }
    ModuleRecord record;
    record.base = base;
    record.end = base + 1;
    record.load = ++loads_;
    bool result = scan_module(database, image_file, base, &record);
    if (!record.offsets.empty()) {
        record.offsets.shrink_to_fit(); // kept for the whole run: no slack per line
        images[base] = std::move(record);
    }
    return result;
}

void TargetDebugger::handle_unload(CodeAddress base) {
    auto found = database.images.find(base);
    if (found == database.images.end())
        return;
    // Its memory no longer holds its code: its lines keep what they showed, and their
    // addresses are free for the next image. With function names each line keeps its load,
    // whose functions alone name it.
    const ModuleRecord& image = found->second;
    database.breakpoints.settle(image.base, image.offsets,
                                database.function_names ? image.load : kNoLoad);
    database.images.erase(found);
}

bool TargetDebugger::handle_breakpoint_event(DWORD thread_id, const EXCEPTION_RECORD& record,
                                             bool* stranded) {
    CodeAddress address = address_of(record.ExceptionAddress);
    bool own_watch = false;
    if (entry_.armed && !entry_.reached && address == entry_.address) {
        entry_.reached = true;
        own_watch = entry_.saved_byte != kBreakpointByte; // else a line or the target's own
    }
    auto thread = threads.find(thread_id);
    if (thread == threads.end())
        return true;
    if (own_watch)
        return clear_watch(database, thread->second, address, entry_.saved_byte, stranded);
    return handle_breakpoint_hit(database, thread->second, address, stranded);
}

bool TargetDebugger::forward_debug_string(CodeAddress address, DWORD length) {
    char chunk[kDebugStringChunk + 1];
    while (length > 0) {
        DWORD size = length < kDebugStringChunk ? length : kDebugStringChunk;
        SIZE_T done = 0;
        if (!ReadProcessMemory(database.process, reinterpret_cast<LPCVOID>(address), chunk, size,
                               &done) ||
            done != size)
            return false;
        chunk[size] = '\0';
        char* block = static_cast<char*>(std::malloc(kDebugStringBlock));
        if (block == nullptr)
            std::abort();
        std::size_t out = 0;
        for (DWORD i = 0; i <= size; ++i) {
            if (chunk[i] == '\n' && (i == 0 || chunk[i - 1] != '\r'))
                block[out++] = '\r';
            block[out++] = chunk[i];
        }
        deliver_text(notify_window, block);
        address += size;
        length -= size;
    }
    return true;
}

void TargetDebugger::end_target(DWORD process_id, const DEBUG_EVENT* pending) {
    // No target of ours outlives its run: end it and let its last events pass.
    HANDLE process = database.process;
    HANDLE opened = nullptr;
    if (process == nullptr)
        process = opened = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
    if (process != nullptr)
        TerminateProcess(process, 1);
    if (pending != nullptr)
        ContinueDebugEvent(pending->dwProcessId, pending->dwThreadId, DBG_CONTINUE);
    DWORD started = GetTickCount();
    while (GetTickCount() - started < kEndTargetMs) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, kWaitMs))
            continue;
        close_image_file(event);
        bool exited =
            event.dwProcessId == process_id && event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
        if (!ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE) || exited)
            break;
    }
    if (opened != nullptr)
        CloseHandle(opened);
    stop_symbol_handler();
}
