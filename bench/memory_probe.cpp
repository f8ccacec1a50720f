// Heap bytes per instrumented line of the tool's own structures, measured on the real code
// paths: the line callback of the scan fills the database as dbghelp would, the planting pass
// plants into a code buffer of this very process, a share of the lines is hit, and the log is
// written. Every heap block is counted; the peak of live bytes divided by the lines is the
// figure. dbghelp's own memory and Wine's are not part of it (the timing runs show those).
// The scan and the hits are also timed, and the same addresses are entered into and looked up
// in the breakpoint table and in one dense table of the same slots at the library's default
// growth (the table before it was split into shards), so that the cost per line of either can
// be compared.
//
// With "reload", the lines are those of two images that take turns at one base: the first
// half is scanned, planted, partly hit and unloaded (its lines settled), then the second half
// is scanned at the same addresses under other file names, planted and partly hit, and the log
// is written with both; the figure is per line of both.
//
// With "functions", function names are asked for (option -f): each image reports a function
// every kLinesPerFunction lines, and an unloaded image's lines keep their load.
//
// usage: memory_probe.exe LINES FILES [reload] [functions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>

#include <cstdint>
#include <sparsehash/dense_hash_map>

#include "coverage/coverage_database.h"
#include "coverage/symbol_scan.h"
#include "debugger/breakpoints.h"
#include "log/log_file.h"
#include "log/log_writer.h"

namespace {

std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;

void grew(std::size_t size) {
    live_bytes += size;
    if (live_bytes > peak_bytes)
        peak_bytes = live_bytes;
}

} // namespace

// Linked with --wrap for malloc, realloc and free, so that every block counts: operator new
// and the hash tables' own allocator both end in malloc.
extern "C" {
void* __real_malloc(std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
void __real_free(void* pointer);

void* __wrap_malloc(std::size_t size) {
    void* block = __real_malloc(size);
    if (block != nullptr)
        grew(_msize(block));
    return block;
}

void* __wrap_realloc(void* pointer, std::size_t size) {
    std::size_t old = pointer != nullptr ? _msize(pointer) : 0;
    void* block = __real_realloc(pointer, size);
    if (block != nullptr) {
        live_bytes -= old;
        grew(_msize(block));
    }
    return block;
}

void __wrap_free(void* pointer) {
    if (pointer != nullptr)
        live_bytes -= _msize(pointer);
    __real_free(pointer);
}
}

// The peak of one stage, in bytes per line above the start, and its live bytes at its end.
void stage(const char* name, std::size_t base, unsigned long lines) {
    std::printf("%s: peak %.1f, left %.1f bytes per line\n", name,
                static_cast<double>(peak_bytes - base) / static_cast<double>(lines),
                static_cast<double>(live_bytes - base) / static_cast<double>(lines));
}

double seconds_since(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

void timing(const char* name, const LARGE_INTEGER& start, unsigned long count) {
    std::printf("%s: %.1f ns per line\n", name, seconds_since(start) * 1e9 / count);
}

// Insert and find of the same addresses in a table of each kind, in nanoseconds per line.
template <typename Insert, typename Find>
void time_table(const char* name, Insert insert, Find find, CodeAddress first, unsigned long lines,
                SIZE_T stride) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (unsigned long i = 0; i < lines; ++i)
        insert(first + i * stride, BreakpointEntry{1, 1, 0xCC, BreakpointState::unplanted});
    std::string label = std::string(name) + " insert";
    timing(label.c_str(), start, lines);
    QueryPerformanceCounter(&start);
    unsigned long found = 0;
    for (unsigned long i = 0; i < lines; ++i)
        found += find(first + ((i * 7919) % lines) * stride);
    label = std::string(name) + " find";
    timing(label.c_str(), start, lines);
    if (found != lines)
        std::abort();
}

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const unsigned long lines = std::strtoul(argv[1], nullptr, 10);
    const unsigned long files = std::strtoul(argv[2], nullptr, 10);
    bool reload = false;
    bool functions = false;
    for (int i = 3; i < argc; ++i) {
        reload = reload || std::strcmp(argv[i], "reload") == 0;
        functions = functions || std::strcmp(argv[i], "functions") == 0;
    }
    const unsigned long kLinesPerFunction = 20;
    const unsigned long images = reload ? 2 : 1;
    const unsigned long image_lines = lines / images;
    // One code byte per line start, spaced like short statements of an -O0 build.
    const SIZE_T stride = 6;
    auto* code = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, lines * stride + 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (code == nullptr)
        return 3;
    for (SIZE_T i = 0; i < lines * stride; ++i)
        code[i] = 0x90;

    volatile LONG cancel = 0;
    const char* folder = "Z:\\src\\";
    std::size_t before = live_bytes;
    peak_bytes = live_bytes;
    {
        CoverageDatabase database("probe.exe", "", folder, false, functions, false, nullptr,
                                  &cancel);
        database.process = GetCurrentProcess();
        double scan_seconds = 0;
        for (unsigned long image = 0; image < images; ++image) {
            if (image > 0) {
                // The unload: the code bytes come back and the image's lines are settled.
                for (SIZE_T i = 0; i < image_lines * stride; ++i)
                    code[i] = 0x90;
            }
            ModuleRecord module;
            module.base = reinterpret_cast<CodeAddress>(code);
            module.end = module.base + image_lines * stride;
            module.load = image + 1;
            LineScanContext context{database, database.source_files, false, folder, &module};
            char name[64];
            SRCCODEINFO info{};
            info.SizeOfStruct = sizeof(info);
            const unsigned long per_file = (lines + files - 1) / files;
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            for (unsigned long i = 0; i < image_lines; ++i) {
                const unsigned long line = image * image_lines + i; // of all the images' lines
                std::snprintf(name, sizeof(name), "Z:\\src\\file%03lu.c", line / per_file);
                std::snprintf(info.FileName, sizeof(info.FileName), "%s", name);
                info.LineNumber = static_cast<DWORD>(line % per_file + 1);
                info.Address = reinterpret_cast<DWORD64>(code + i * stride);
                on_source_line(&info, &context);
            }
            scan_seconds += seconds_since(start);
            if (functions) {
                // As the symbol enumeration lists them after the lines.
                FunctionScanContext listed{database.functions, module.load};
                alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + 32] = {};
                auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
                symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
                symbol->Tag = 5; // SymTagFunction
                for (unsigned long i = 0; i < image_lines; i += kLinesPerFunction) {
                    symbol->Address = reinterpret_cast<DWORD64>(code + i * stride);
                    symbol->NameLen = static_cast<ULONG>(
                        std::snprintf(symbol->Name, 32, "function_%07lu", image * image_lines + i));
                    on_function_symbol(symbol, 0, &listed);
                }
            }
            stage("scan", before, lines);
            QueryPerformanceCounter(&start);
            if (!plant_breakpoints(database, module))
                return 4;
            timing("planting pass", start, image_lines);
            module.offsets.shrink_to_fit(); // as the debugger keeps it for the whole run
            stage("scan and planting", before, lines);
            // A hit on every hundredth line: the restore path, on this thread's own code buffer
            // (the thread is not rewound: its instruction pointer is nowhere near the byte).
            QueryPerformanceCounter(&start);
            for (unsigned long i = 0; i < image_lines; i += 100)
                handle_breakpoint_hit(database, GetCurrentThread(),
                                      reinterpret_cast<CodeAddress>(code + i * stride));
            timing("hit", start, (image_lines + 99) / 100);
            if (image + 1 < images) {
                database.breakpoints.settle(module.base, module.offsets,
                                            functions ? module.load : kNoLoad);
                stage("unload", before, lines);
            }
        }
        LARGE_INTEGER start;
        char path[MAX_PATH];
        char folder_path[MAX_PATH];
        GetTempPathA(sizeof(folder_path), folder_path);
        GetTempFileNameA(folder_path, "zmp", 0, path);
        LogFile log;
        log.path = path;
        log.stream = std::fopen(path, "wb");
        if (log.stream == nullptr)
            return 5;
        stage("scan, planting and hits", before, lines);
        std::size_t peak_so_far = peak_bytes;
        peak_bytes = live_bytes;
        QueryPerformanceCounter(&start);
        write_coverage_log(database, log);
        timing("log writer", start, lines);
        stage("log writer (alone)", before, lines);
        peak_bytes = std::max(peak_bytes, peak_so_far);
        std::fclose(log.stream);
        DeleteFileA(path);
        std::printf("scan: %.1f ns per line\n", scan_seconds * 1e9 / lines);
    }
    std::size_t peak = peak_bytes - before;
    std::printf("lines %lu files %lu peak %zu bytes per-line %.1f\n", lines, files, peak,
                static_cast<double>(peak) / static_cast<double>(lines));

    // The two kinds of table, outside the counted run.
    const CodeAddress first = reinterpret_cast<CodeAddress>(code);
    {
        BreakpointTable table;
        time_table(
            "breakpoint table",
            [&table](CodeAddress address, const BreakpointEntry& entry) {
                table.insert(address, entry);
            },
            [&table](CodeAddress address) { return table.find(address) != nullptr; }, first, lines,
            stride);
    }
    {
        google::dense_hash_map<CodeAddress, BreakpointEntry, CodeAddressHash> single;
        single.set_empty_key(0);
        time_table(
            "single dense table",
            [&single](CodeAddress address, const BreakpointEntry& entry) {
                single[address] = entry;
            },
            [&single](CodeAddress address) { return single.find(address) != single.end(); }, first,
            lines, stride);
    }
    return 0;
}
