#include "coverage/symbol_scan.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/heap_text.h"
#include "app/messages.h"
#include "coverage/image_debug_names.h"
#include "coverage/path_fold.h"
#include "debugger/breakpoints.h"

namespace {

// The form of IMAGEHLP_MODULE64 that ends with TypeInfo; accepted by every dbghelp version.
constexpr DWORD kModuleInfoSize = 1664;
// SymTagFunction of the Debug Interface Access symbol tags (absent from mingw's headers).
constexpr ULONG kSymTagFunction = 5;

// The full path of an open file, without the "\\?\" prefix that the system puts before it.
// Wine's symbol handler leaves the loaded image's name empty for an image given by its handle.
std::string path_of_file(HANDLE file) {
    char path[MAX_PATH + 8];
    DWORD length = GetFinalPathNameByHandleA(file, path, sizeof(path), FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof(path))
        return std::string();
    const char* start = path;
    if (std::strncmp(start, "\\\\?\\", 4) == 0)
        start += 4;
    return start;
}

} // namespace

bool source_folder_matches(const char* file, const char* folder) {
    if (folder == nullptr)
        return true;
    for (; *folder != '\0'; ++folder, ++file) {
        if (fold_path_char(static_cast<unsigned char>(*folder)) !=
            fold_path_char(static_cast<unsigned char>(*file)))
            return false;
    }
    return true;
}

BOOL CALLBACK on_source_line(PSRCCODEINFO line, PVOID context_pointer) {
    LineScanContext& context = *static_cast<LineScanContext*>(context_pointer);
    if (!source_folder_matches(line->FileName, context.source_folder))
        return TRUE;

    std::uint32_t file = kNoSourceFile;
    if (!context.database.find_source_file(line->FileName, &file)) {
        std::unique_ptr<char[]> name = copy_text(line->FileName, std::strlen(line->FileName));
        bool accepted = !context.existing_files_only ||
                        GetFileAttributesA(name.get()) != INVALID_FILE_ATTRIBUTES;
        file = context.database.add_source_file(std::move(name), accepted);
    }
    if (file == kNoSourceFile)
        return TRUE; // not accepted

    CodeAddress address = to_code_address(line->Address);
    ImageOffset offset = 0;
    if (!image_offset(address, context.module->base, &offset))
        return TRUE; // outside the image: no code of it to plant
    const auto line_number = static_cast<std::uint32_t>(line->LineNumber);
    const auto entered = context.database.breakpoints.insert(
        address, BreakpointEntry{file, line_number, kBreakpointByte, BreakpointState::unplanted});
    if (!entered.second) {
        BreakpointEntry& entry = *entered.first;
        if (entry.state() == BreakpointState::unplanted) {
            // Two lines of this image at one address: the last one names the entry.
            entry.set_file(file);
            entry.line = line_number;
        } else {
            // Left by an image that went without an unload event: the address is this one's.
            entry = BreakpointEntry{file, line_number, kBreakpointByte, BreakpointState::unplanted};
        }
    }
    context.module->offsets.push_back(offset);
    return TRUE;
}

BOOL CALLBACK on_function_symbol(PSYMBOL_INFO symbol, ULONG, PVOID context_pointer) {
    if (symbol->Tag != kSymTagFunction)
        return TRUE;
    FunctionScanContext& context = *static_cast<FunctionScanContext*>(context_pointer);
    context.functions.push_back(FunctionEntry{
        to_code_address(symbol->Address), copy_text(symbol->Name, symbol->NameLen), context.load});
    return TRUE;
}

bool scan_module(CoverageDatabase& database, HANDLE image_file, CodeAddress base,
                 ModuleRecord* module) {
    // The planting pass plants from the image's line offsets, kept or not.
    ModuleRecord unkept;
    ModuleRecord& record = module != nullptr ? *module : unkept;

    // The handler's parse of an image costs about 0.1 s even when none of its names can lie
    // under the source folder (Wine's own DLLs: most of a short run). Such an image is passed
    // by with the message and the planting pass of a read one, so the log stays the same.
    std::uint32_t image_size = 0;
    if (!database.function_names &&
        image_lines_miss_folder(image_file, database.source_folder, &image_size)) {
        record.base = base;
        record.end = base + image_size;
        report_message(database.notify_window, MSG_MODULE_LINES_READ,
                       path_of_file(image_file).c_str());
        return plant_breakpoints(database, record);
    }

    // The handler is given the image's path too: Wine's looks for "<name>.pdb" beside a
    // nameless image and faults on the empty name.
    HANDLE process = database.process;
    DWORD64 module_base = static_cast<DWORD64>(base);
    const std::string image_path = path_of_file(image_file);
    if (SymLoadModule64(process, image_file, image_path.empty() ? nullptr : image_path.c_str(),
                        nullptr, module_base, 0) == 0)
        return true;

    IMAGEHLP_MODULE64 info;
    std::memset(&info, 0, sizeof(info));
    info.SizeOfStruct = kModuleInfoSize;
    if (!SymGetModuleInfo64(process, module_base, &info) || !info.LineNumbers ||
        !info.GlobalSymbols) {
        SymUnloadModule64(process, module_base);
        return true;
    }
    record.base = base;
    record.end = base + info.ImageSize;

    LineScanContext context{database, database.source_files, database.existing_files_only,
                            database.source_folder, &record};
    if (!SymEnumLines(process, module_base, nullptr, nullptr, on_source_line, &context)) {
        SymUnloadModule64(process, module_base);
        return plant_breakpoints(database, record); // whatever lines it entered before failing
    }
    std::string image_name = info.LoadedImageName;
    if (image_name.empty())
        image_name = image_path;
    report_message(database.notify_window, MSG_MODULE_LINES_READ, image_name.c_str());
    if (database.function_names) {
        FunctionScanContext functions{database.functions, record.load};
        SymEnumSymbols(process, module_base, nullptr, on_function_symbol, &functions);
    }
    SymUnloadModule64(process, module_base);
    return plant_breakpoints(database, record);
}
