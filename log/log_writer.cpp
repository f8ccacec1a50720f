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
#include <unordered_map>
#include <vector>

#include "app/cancel.h"
#include "app/messages.h"
#include "coverage/path_fold.h"
#include "log/log_format.h"

namespace {

// One breakpoint entry as the log sees it.
struct LogLine {
    std::uint32_t line;
    CodeAddress address;
    bool reached;
};

// The entries of one interned path, in walk order.
struct FileLines {
    const char* path;
    std::vector<LogLine> lines;
};

// Paths in folded order; spellings that fold alike sort byte-wise so that the group of one
// file is contiguous and starts with the same spelling whatever the table's bucket order.
bool path_sorts_before(const FileLines* first, const FileLines* second) {
    const int folded = compare_paths(first->path, second->path);
    if (folded != 0) {
        return folded < 0;
    }
    return std::strcmp(first->path, second->path) < 0;
}

bool line_sorts_before(const LogLine& first, const LogLine& second) {
    if (first.line != second.line) {
        return first.line < second.line;
    }
    return first.address < second.address;
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

    // Writes one file block from lines sorted by line and address; false when a write failed.
    bool write(const char* path, const std::vector<LogLine>& lines) const {
        const std::uint32_t line_count = lines.back().line;
        const char* name = PathFindFileNameA(path);
        const std::string folder(path, static_cast<std::size_t>(name - path));
        if (!written(stream_, std::fprintf(stream_, kFolderRecordFormat, folder.c_str())) ||
            !written(stream_, std::fprintf(stream_, kNameRecordFormat, static_cast<int>(line_count),
                                           name))) {
            return false;
        }
        if (functions_ != nullptr && !write_functions(lines)) {
            return false;
        }
        std::string status(line_count, kLineNoCode);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // Several addresses of one line are adjacent: the line counts as run if any ran.
            char& mark = status[lines[i].line - 1];
            if (lines[i].reached) {
                mark = kLineRun;
            } else if (mark != kLineRun) {
                mark = kLineNotRun;
            }
        }
        return written(stream_, std::fprintf(stream_, kStatusRecordFormat, status.c_str()));
    }

  private:
    // Each block starts with no current function, so its first line always opens a record.
    bool write_functions(const std::vector<LogLine>& lines) const {
        const FunctionEntry* current = nullptr;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // A line is looked up once, by its lowest address (the first of its run).
            if (i > 0 && lines[i].line == lines[i - 1].line) {
                continue;
            }
            const FunctionEntry* owner = function_at(lines[i].address);
            if (owner != current) {
                if (!written(stream_, std::fprintf(stream_, kFunctionRecordFormat,
                                                   static_cast<int>(lines[i].line - 1),
                                                   owner->name.get()))) {
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

    // Group the entries by interned path. A line is reached only when its hit was observed.
    // Entries with line 0 have no place in a status string and are left out.
    std::vector<FileLines> files;
    std::unordered_map<const char*, std::size_t> file_index;
    for (const auto& slot : database.breakpoints) {
        if (cancel_requested(database.cancel_flag)) {
            return false;
        }
        const BreakpointEntry& entry = slot.second;
        if (entry.file == nullptr || entry.line == 0) {
            continue;
        }
        const auto inserted = file_index.emplace(entry.file, files.size());
        if (inserted.second) {
            files.push_back(FileLines{entry.file, {}});
        }
        files[inserted.first->second].lines.push_back(
            LogLine{entry.line, slot.first, entry.state == BreakpointState::hit});
    }

    FunctionList& functions = database.functions;
    std::sort(functions.begin(), functions.end(),
              [](const FunctionEntry& first, const FunctionEntry& second) {
                  return first.address < second.address;
              });

    if (cancel_requested(database.cancel_flag)) {
        return false;
    }

    std::vector<const FileLines*> order;
    order.reserve(files.size());
    for (const FileLines& file : files) {
        order.push_back(&file);
    }
    std::sort(order.begin(), order.end(), path_sorts_before);

    const bool with_functions = database.function_names && !functions.empty();
    const BlockWriter writer(log.stream, with_functions ? &functions : nullptr);
    std::vector<LogLine> block;
    for (std::size_t first = 0; first < order.size();) {
        // Spellings of one path (equal when folded) make one block under the first spelling.
        std::size_t end = first + 1;
        while (end < order.size() && compare_paths(order[first]->path, order[end]->path) == 0) {
            ++end;
        }
        block.clear();
        for (std::size_t i = first; i < end; ++i) {
            block.insert(block.end(), order[i]->lines.begin(), order[i]->lines.end());
        }
        std::sort(block.begin(), block.end(), line_sorts_before);
        if (!writer.write(order[first]->path, block)) {
            report_message(database.notify_window, MSG_LOG_WRITE_FAILED);
            return false;
        }
        first = end;
    }
    // A write that the stream only buffered can still fail; the log is complete only when the
    // file has taken every byte.
    if (std::fflush(log.stream) != 0 || std::ferror(log.stream)) {
        report_message(database.notify_window, MSG_LOG_WRITE_FAILED);
        return false;
    }
    return true;
}
