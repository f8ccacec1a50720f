// The store of one coverage run: breakpoint entries by code address, interned source-file names
// with their file indices, function symbols, the loaded images, and the run's parameters.
#pragma once

#include <windows.h>

#include <sparsehash/dense_hash_map>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "coverage/breakpoint_table.h"
#include "debugger/arch.h"

// h = 5 * h + b over the bytes, b taken as signed; byte-wise, case-sensitive equality.
struct SourceNameHash {
    std::size_t operator()(const char* name) const;
};
struct SourceNameEqual {
    bool operator()(const char* first, const char* second) const;
};
// Each name met, with its file index: kNoSourceFile when the name is not accepted.
using SourceFileTable =
    google::dense_hash_map<const char*, std::uint32_t, SourceNameHash, SourceNameEqual>;

struct FunctionEntry {
    CodeAddress address;
    std::unique_ptr<char[]> name;
    std::uint32_t load = kNoLoad; // the image load that reported it (ModuleRecord::load)
};
using FunctionList = std::vector<FunctionEntry>;

// What is kept of one loaded image, so that its unload touches only its own lines. The scan
// fills `offsets` and the planting pass after it plants from them, so that a pass costs in
// proportion to the lines of its image, not to the whole table; 4 bytes a line.
struct ModuleRecord {
    CodeAddress base = 0;
    CodeAddress end = 0;              // one past the image, from the symbol handler
    std::uint32_t load = kNoLoad;     // the serial of this load: its lines' functions are its own
    std::vector<ImageOffset> offsets; // every accepted line of the image, from `base`
};

// The images of the target loaded now, by base address: from their scan to their unload.
using ModuleTable = std::map<CodeAddress, ModuleRecord>;

class CoverageDatabase {
  public:
    CoverageDatabase(const char* command_text, const char* work_folder, const char* source_folder,
                     bool existing_files_only, bool function_names, bool show_debug_output,
                     HWND notify_window, volatile LONG* cancel_flag);
    ~CoverageDatabase();
    CoverageDatabase(const CoverageDatabase&) = delete;
    CoverageDatabase& operator=(const CoverageDatabase&) = delete;

    // True for a name met before, with its file index (kNoSourceFile: not accepted).
    bool find_source_file(const char* name, std::uint32_t* file) const;
    // Enters a new name; the table takes the copy over. Returns its file index, kNoSourceFile
    // when it is not accepted. A name entered twice keeps its first index.
    std::uint32_t add_source_file(std::unique_ptr<char[]> name, bool accepted);
    // The name of a file index; null for kNoSourceFile.
    const char* file_name(std::uint32_t file) const { return file_names_[file]; }
    // One past the highest file index given.
    std::uint32_t file_count() const { return static_cast<std::uint32_t>(file_names_.size()); }

    BreakpointTable breakpoints;
    SourceFileTable source_files;
    FunctionList functions;
    ModuleTable images;
    HANDLE process = nullptr;
    bool wow64_target = false; // a 32-bit target of the 64-bit build, known with `process`
    const char* command_text;
    const char* work_folder;
    const char* source_folder;
    bool existing_files_only;
    bool function_names;
    bool show_debug_output;
    HWND notify_window;
    volatile LONG* cancel_flag;
    std::string symbol_path;

  protected:
    // The first file index not given: the entry's limit (a test lowers it, as 2^21 names cost
    // minutes under Wine's heap).
    std::uint32_t file_limit_ = kSourceFileLimit;

  private:
    std::vector<const char*> file_names_; // by file index: the keys of `source_files`
};
