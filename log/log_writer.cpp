// Turns the address-keyed breakpoint table into file blocks: files in folded path order, lines
// in ascending order, optional function records, one status character per line.
#include "log/log_writer.h"

#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/cancel.h"
#include "app/messages.h"
#include "coverage/path_fold.h"
#include "log/log_format.h"

namespace {

// No known function: the line's load reported none. Sorts after every function.
constexpr std::uint32_t kNoFunction = UINT32_MAX;

// One breakpoint entry as the log sees it: 12 bytes, the one copy of the lines that the writer
// makes, sorted once into the order of the log.
struct LogLine {
    std::uint32_t file; // << 1 | reached: its path's index in the walk, then its block's rank
    std::uint32_t line;
    // With function names, the index in the sorted functions of the entry's own function;
    // else 0.
    std::uint32_t function;

    std::uint32_t block() const { return file >> 1; }
    bool reached() const { return (file & 1) != 0; }
};

// Blocks in rank order, then lines in ascending order, the several entries of one line from
// the one whose function sorts first: the lowest address's, as images lie apart.
bool line_sorts_before(const LogLine& first, const LogLine& second) {
    if (first.block() != second.block()) {
        return first.block() < second.block();
    }
    if (first.line != second.line) {
        return first.line < second.line;
    }
    return first.function < second.function;
}

bool function_sorts_before(const FunctionEntry& first, const FunctionEntry& second) {
    if (first.address != second.address) {
        return first.address < second.address;
    }
    return first.load < second.load;
}

// Finds each line's function among those of the image load that reported it, so that an image
// loaded where a freed one lay never names the other's lines. Built on the functions as the
// scan listed them; a function is named by its place in the list sorted by address (and load),
// the order that `sort` then gives the list.
class FunctionFinder {
  public:
    explicit FunctionFinder(const FunctionList& functions) : functions_(functions) {
        std::vector<std::uint32_t> order(functions.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t first, std::uint32_t second) {
                             return function_sorts_before(functions[first], functions[second]);
                         });
        sorted_ = order;
        // Places in the sorted list, by load; within a load by address.
        for (std::uint32_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(),
                         [this](std::uint32_t first, std::uint32_t second) {
                             return at(first).load < at(second).load;
                         });
        by_load_ = std::move(order);
    }

    // Among the load's functions, the last whose address is not above `address` (the last of
    // several there); below all of them, the first; kNoFunction when the load has none.
    std::uint32_t owner(std::uint32_t load, CodeAddress address) const {
        const auto first = std::lower_bound(
            by_load_.begin(), by_load_.end(), load,
            [this](std::uint32_t place, std::uint32_t value) { return at(place).load < value; });
        const auto last = std::upper_bound(
            first, by_load_.end(), load,
            [this](std::uint32_t value, std::uint32_t place) { return value < at(place).load; });
        if (first == last) {
            return kNoFunction;
        }
        auto after =
            std::upper_bound(first, last, address, [this](CodeAddress value, std::uint32_t place) {
                return value < at(place).address;
            });
        if (after != first) {
            --after;
        }
        return *after;
    }

    // Puts `functions` (the list it was built on) in the order that its places name.
    void sort(FunctionList& functions) const {
        FunctionList sorted;
        sorted.reserve(functions.size());
        for (std::uint32_t index : sorted_) {
            sorted.push_back(std::move(functions[index]));
        }
        functions.swap(sorted);
    }

  private:
    const FunctionEntry& at(std::uint32_t place) const { return functions_[sorted_[place]]; }

    const FunctionList& functions_;
    std::vector<std::uint32_t> sorted_;  // by place: the function's index in the list as built
    std::vector<std::uint32_t> by_load_; // places, by load and then address
};

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

    // Writes one file block from lines [first, last) sorted by line and function; false when a
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
    // Each block starts with no current function, so its first line with one opens a record. A
    // line whose image load has no functions keeps the current one: nothing names it.
    bool write_functions(const LogLine* first, const LogLine* last) const {
        std::uint32_t current = kNoFunction;
        for (const LogLine* at = first; at != last; ++at) {
            // A line takes the function of its first entry (the lowest address).
            if (at != first && at->line == at[-1].line) {
                continue;
            }
            const std::uint32_t owner = at->function;
            if (owner != kNoFunction && owner != current) {
                if (!written(stream_, std::fprintf(stream_, kFunctionRecordFormat,
                                                   static_cast<int>(at->line - 1),
                                                   (*functions_)[owner].name.get()))) {
                    return false;
                }
                current = owner;
            }
        }
        return true;
    }

    FILE* stream_;
    const FunctionList* functions_; // sorted; null when no function records are written
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
    FunctionList& functions = database.functions;
    const bool with_functions = database.function_names && !functions.empty();
    std::unique_ptr<FunctionFinder> finder;
    if (with_functions) {
        finder.reset(new FunctionFinder(functions));
    }
    bool cancelled = false;
    database.breakpoints.for_each_with_load([&](CodeAddress address, const BreakpointEntry& entry,
                                                std::uint32_t load) {
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
        std::uint32_t function = 0;
        if (finder) {
            // A live line's load is that of the image that holds its address now.
            if (load == kNoLoad) {
                auto image = database.images.upper_bound(address);
                if (image != database.images.begin()) {
                    load = std::prev(image)->second.load;
                }
            }
            function = finder->owner(load, address);
        }
        lines.push_back(LogLine{index << 1 | reached, entry.line, function});
    });
    if (cancelled) {
        return false;
    }
    std::vector<std::uint32_t>().swap(path_index);

    if (finder) {
        finder->sort(functions);
        finder.reset();
    } else {
        std::sort(functions.begin(), functions.end(), function_sorts_before);
    }

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
