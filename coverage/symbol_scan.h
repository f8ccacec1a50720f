// The scan of one loaded image's line and function symbols into the coverage database.
#pragma once

#include <windows.h>

#include <dbghelp.h>

#include <vector>

#include "coverage/coverage_database.h"
#include "debugger/arch.h"

struct LineScanContext {
    CoverageDatabase& database;
    SourceFileTable& source_files;
    bool existing_files_only;
    const char* source_folder; // null accepts every file
    ModuleRecord* module;      // the scanned image: its base, and receives its line offsets
};

// Reads the image's lines into the database and `module` (when given), lists its functions when
// asked and plants the new breakpoints. True also when the image has no usable line information;
// false only when the planting pass failed or saw the cancel flag.
bool scan_module(CoverageDatabase& database, HANDLE image_file, CodeAddress base,
                 ModuleRecord* module = nullptr);

BOOL CALLBACK on_source_line(PSRCCODEINFO line, PVOID context);
// The functions of one image load, tagged with its serial.
struct FunctionScanContext {
    FunctionList& functions;
    std::uint32_t load;
};
BOOL CALLBACK on_function_symbol(PSYMBOL_INFO symbol, ULONG size, PVOID context);

// True when `folder` (null or empty accepts all) is a prefix of `file` under the path folding.
bool source_folder_matches(const char* file, const char* folder);
