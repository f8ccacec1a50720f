// Turns the address-keyed breakpoint table into file blocks: files in folded path order, lines
// in ascending order, optional function records, one status character per line.
#include "log/log_writer.h"

#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cancel.h"
#include "app/messages.h"
#include "coverage/path_fold.h"
#include "log/log_format.h"

namespace {

// One breakpoint entry as the log sees it: 16 bytes (12 on x86), the one copy of the lines that
// the writer makes, sorted once into the order of the log.
struct LogLine {
    std::uint32_t file; // << 1 | reached: its path's index in the walk, then its block's rank
    std::uint32_t line;
    CodeAddress address;

    std::uint32_t block() const { return file >> 1; }
    bool reached() const { return (file & 1) != 0; }
};

// Blocks in rank order, then lines in ascending order, the several addresses of one line from
// the lowest.
bool line_sorts_before(const LogLine& first, const LogLine& second) {
    if (first.block() != second.block()) {
        return first.block() < second.block();
    }
    if (first.line != second.line) {
        return first.line < second.line;
    }
    return first.address < second.address;
}

// Paths in folded order; spellings that fold alike sort byte-wise so that the group of one
// file is contiguous and starts with the same spelling whatever the table's bucket order.
bool path_sorts_before(const char* first, const char* second) {
    const int folded = compare_paths(first, second);
    if (folded != 0) {
        return folded < 0;
    }
    return std::strcmp(first, second) < 0;
}

// The formatted writes may count characters that the stream failed to take, so a write has
// succeeded only when the stream carries no error either.
bool written(FILE* stream, int result) {
    return result >= 0 && !std::ferror(stream);
}

class BlockWriter {
  public:
    BlockWriter(FILE* stream, const FunctionList* functions)
        : stream_(stream), functions_(functions) {}

    // Writes one file block from lines [first, last) sorted by line and address; false when a
    // write failed.
    bool write(const char* path, const LogLine* first, const LogLine* last) const {
        const std::uint32_t line_count = last[-1].line;
        const char* name = PathFindFileNameA(path);
        const std::string folder(path, static_cast<std::size_t>(name - path));
        if (!written(stream_, std::fprintf(stream_, kFolderRecordFormat, folder.c_str())) ||
            !written(stream_, std::fprintf(stream_, kNameRecordFormat, static_cast<int>(line_count),
                                           name))) {
            return false;
        }
        if (functions_ != nullptr && !write_functions(first, last)) {
            return false;
        }
        std::string status(line_count, kLineNoCode);
        for (const LogLine* at = first; at != last; ++at) {
            // Several addresses of one line are adjacent: the line counts as run if any ran.
            char& mark = status[at->line - 1];
            if (at->reached()) {
                mark = kLineRun;
            } else if (mark != kLineRun) {
                mark = kLineNotRun;
            }
        }
        return written(stream_, std::fprintf(stream_, kStatusRecordFormat, status.c_str()));
    }

  private:
    // Each block starts with no current function, so its first line always opens a record.
    bool write_functions(const LogLine* first, const LogLine* last) const {
        const FunctionEntry* current = nullptr;
        for (const LogLine* at = first; at != last; ++at) {
            // A line is looked up once, by its lowest address (the first of its run).
            if (at != first && at->line == at[-1].line) {
                continue;
            }
            const FunctionEntry* owner = function_at(at->address);
            if (owner != current) {
                if (!written(stream_,
                             std::fprintf(stream_, kFunctionRecordFormat,
                                          static_cast<int>(at->line - 1), owner->name.get()))) {
                    return false;
                }
                current = owner;
            }
        }
        return true;
    }

    // The last function whose address is not above the line's; below all of them, the first.
    const FunctionEntry* function_at(CodeAddress address) const {
        auto after = std::upper_bound(
            functions_->begin(), functions_->end(), address,
            [](CodeAddress value, const FunctionEntry& entry) { return value < entry.address; });
        if (after != functions_->begin()) {
            --after;
        }
        return &*after;
    }

    FILE* stream_;
    const FunctionList* functions_; // null when no function records are written
};

} // namespace

bool write_coverage_log(CoverageDatabase& database, LogFile& log) {
    if (cancel_requested(database.cancel_flag)) {
        return false;
    }
    report_message(database.notify_window, MSG_LOG_BODY_BEGINS);

    // One walk copies the entries, each tagged with the index of its path in the order met. A
    // line is reached only when its hit was observed. Entries with line 0 or a hidden line
    // number have no place in a status string and are left out.
    std::vector<LogLine> lines;
    lines.reserve(database.breakpoints.size());
    constexpr std::uint32_t kNotMet = UINT32_MAX;
    std::vector<std::uint32_t> path_index(database.file_count(), kNotMet); // by file index
    std::vector<const char*> paths;
    bool cancelled = false;
    database.breakpoints.for_each([&](CodeAddress address, const BreakpointEntry& entry) {
        if (cancelled) {
            return;
        }
        if (cancel_requested(database.cancel_flag)) {
            cancelled = true;
            return;
        }
        if (entry.file() == kNoSourceFile || entry.line == 0 || entry.line >= kFirstHiddenLine) {
            return;
        }
        std::uint32_t& index = path_index[entry.file()];
        if (index == kNotMet) {
            index = static_cast<std::uint32_t>(paths.size());
            paths.push_back(database.file_name(entry.file()));
        }
        const std::uint32_t reached = entry.state() == BreakpointState::hit ? 1 : 0;
        lines.push_back(LogLine{index << 1 | reached, entry.line, address});
    });
    if (cancelled) {
        return false;
    }
    std::vector<std::uint32_t>().swap(path_index);

    FunctionList& functions = database.functions;
    std::sort(functions.begin(), functions.end(),
              [](const FunctionEntry& first, const FunctionEntry& second) {
                  return first.address < second.address;
              });

    if (cancel_requested(database.cancel_flag)) {
        return false;
    }

    // The paths in log order; spellings of one path (equal when folded) make one block under
    // the first spelling. Each line then carries its block's rank, and one sort orders them all.
    std::vector<std::uint32_t> order(paths.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t first, std::uint32_t second) {
        return path_sorts_before(paths[first], paths[second]);
    });
    std::vector<const char*> block_paths;
    std::vector<std::uint32_t> block_of(paths.size());
    for (std::uint32_t index : order) {
        if (block_paths.empty() || compare_paths(block_paths.back(), paths[index]) != 0) {
            block_paths.push_back(paths[index]);
        }
        block_of[index] = static_cast<std::uint32_t>(block_paths.size() - 1);
    }
    for (LogLine& line : lines) {
        line.file = block_of[line.block()] << 1 | (line.file & 1);
    }
    std::sort(lines.begin(), lines.end(), line_sorts_before);

    const bool with_functions = database.function_names && !functions.empty();
    const BlockWriter writer(log.stream, with_functions ? &functions : nullptr);
    const LogLine* const end = lines.data() + lines.size();
    for (const LogLine* first = lines.data(); first != end;) {
        const LogLine* last = first + 1;
        while (last != end && last->block() == first->block()) {
            ++last;
        }
        if (!writer.write(block_paths[first->block()], first, last)) {
            report_message(database.notify_window, MSG_LOG_WRITE_FAILED);
            return false;
        }
        first = last;
    }
    // A write that the stream only buffered can still fail; the log is complete only when the
    // file has taken every byte.
    if (std::fflush(log.stream) != 0 || std::ferror(log.stream)) {
        report_message(database.notify_window, MSG_LOG_WRITE_FAILED);
        return false;
    }
    return true;
}
