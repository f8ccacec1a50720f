// The debugger of one command: launches the target and answers its debug events to the end.
#pragma once

#include <windows.h>

#include <sparsehash/dense_hash_map>

#include "coverage/coverage_database.h"
#include "coverage/symbol_scan.h"
#include "debugger/arch.h"

// Thread id to the handle that its creation event delivered (the system owns the handles).
using ThreadTable = google::dense_hash_map<DWORD, HANDLE>;

// Whether the target's own code ran: the loader does all of its start-up (imports, DLL
// initialisation) before the executable's entry point, so a breakpoint there tells.
struct EntryWatch {
    CodeAddress address = 0;
    std::uint8_t saved_byte = kBreakpointByte; // 0xCC: a breakpoint stood there already
    bool armed = false;                        // a hit at the address will be seen
    bool reached = false;
};

class TargetDebugger {
  public:
    TargetDebugger(CoverageDatabase& database, HWND notify_window, volatile LONG* cancel_flag);
    ~TargetDebugger();
    TargetDebugger(const TargetDebugger&) = delete;
    TargetDebugger& operator=(const TargetDebugger&) = delete;

    // Launches the target and handles its events until its exit has been continued (true). On
    // a failed launch, a failure to continue or a cancel the result is false and the target
    // has been ended.
    bool run();

    // Relays `length` bytes of the target's debug string at `address` in blocks read 512 bytes
    // at a time, with a carriage return put before every lone line feed.
    bool forward_debug_string(CodeAddress address, DWORD length);

    // Settles the lines of the image unloaded from `base`.
    void handle_unload(CodeAddress base);

    const ModuleTable& modules() const { return database.images; }

  private:
    bool handle_create_process(DWORD thread_id, const CREATE_PROCESS_DEBUG_INFO& info);
    bool handle_exit_process(DWORD exit_code);
    void watch_entry(CodeAddress address);
    bool handle_breakpoint_event(DWORD thread_id, const EXCEPTION_RECORD& record, bool* stranded);
    bool scan_image(HANDLE image_file, CodeAddress base);
    void handle_event(const DEBUG_EVENT& event, DWORD* continue_status);
    void end_target(DWORD process_id, const DEBUG_EVENT* pending);
    void stop_symbol_handler();

    CoverageDatabase& database;
    ThreadTable threads;
    HWND notify_window;
    volatile LONG* cancel_flag;
    std::uint32_t loads_ = 0; // image loads scanned: each load's serial
    EntryWatch entry_;
    bool thread_stranded_ = false; // a hit's code byte could not be put back: the run ends
};
