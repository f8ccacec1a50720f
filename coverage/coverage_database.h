// The store of one coverage run: breakpoint entries by code address, interned source-file names
// with their accepted flag, function symbols, and the run's parameters.
#pragma once

#include <windows.h>

#include <sparsehash/dense_hash_map>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "debugger/arch.h"

// What the debugger has observed of one line's breakpoint. Only `hit` counts as reached: a line
// is written as run only when it was seen to run.
enum class BreakpointState : std::uint8_t {
    unplanted,    // entered by the scan; no breakpoint in the target yet
    planted,      // 0xCC is in the target; saved_byte holds the code byte it replaced
    hit,          // the line was seen to run; never planted again
    unplantable,  // its byte could not be read or written; never seen to run
    native_break, // the line's own first byte is 0xCC; reached when that breakpoint fires
    retired,      // its module was unloaded before the line ran; never touched again
};

struct BreakpointEntry {
    const char* file; // the interned name: equal names share one pointer
    std::uint32_t line;
    std::uint8_t saved_byte; // the replaced code byte while planted, else 0xCC
    BreakpointState state;
};

// The table keeps the low bits of the hash. Images load at 64 KiB-aligned bases and DLLs built
// alike share their layout, so the address itself would pile the lines of every such image
// into the same buckets, and each DLL's scan would slow with the DLLs before it; the bits are
// mixed first (the 64-bit finaliser of MurmurHash3).
struct CodeAddressHash {
    std::size_t operator()(CodeAddress address) const {
        std::uint64_t mixed = static_cast<std::uint64_t>(address);
        mixed ^= mixed >> 33;
        mixed *= 0xff51afd7ed558ccdULL;
        mixed ^= mixed >> 33;
        mixed *= 0xc4ceb9fe1a85ec53ULL;
        mixed ^= mixed >> 33;
        return static_cast<std::size_t>(mixed);
    }
};
using BreakpointTable = google::dense_hash_map<CodeAddress, BreakpointEntry, CodeAddressHash>;

// h = 5 * h + b over the bytes, b taken as signed; byte-wise, case-sensitive equality.
struct SourceNameHash {
    std::size_t operator()(const char* name) const;
};
struct SourceNameEqual {
    bool operator()(const char* first, const char* second) const;
};
using SourceFileTable = google::dense_hash_map<const char*, bool, SourceNameHash, SourceNameEqual>;

struct FunctionEntry {
    CodeAddress address;
    std::unique_ptr<char[]> name;
};
using FunctionList = std::vector<FunctionEntry>;

class CoverageDatabase {
  public:
    CoverageDatabase(const char* command_text, const char* work_folder, const char* source_folder,
                     bool existing_files_only, bool function_names, bool show_debug_output,
                     HWND notify_window, volatile LONG* cancel_flag);
    ~CoverageDatabase();
    CoverageDatabase(const CoverageDatabase&) = delete;
    CoverageDatabase& operator=(const CoverageDatabase&) = delete;

    // The stored key of a name met before, with its accepted flag; null for a new name.
    const char* find_source_file(const char* name, bool* accepted) const;
    // Enters a new name; the table takes the copy over. Returns the stored key.
    const char* add_source_file(std::unique_ptr<char[]> name, bool accepted);

    BreakpointTable breakpoints;
    SourceFileTable source_files;
    FunctionList functions;
    HANDLE process = nullptr;
    const char* command_text;
    const char* work_folder;
    const char* source_folder;
    bool existing_files_only;
    bool function_names;
    bool show_debug_output;
    HWND notify_window;
    volatile LONG* cancel_flag;
    std::string symbol_path;
};
