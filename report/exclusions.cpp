#include "report/exclusions.h"

#include "log/log_format.h"
#include "report/source_text.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kExcludeLine = "LCOV_EXCL_LINE";
constexpr std::string_view kExcludeStart = "LCOV_EXCL_START";
constexpr std::string_view kExcludeStop = "LCOV_EXCL_STOP";

void add_run(std::vector<LineRun>& runs, std::size_t begin, std::size_t end) {
    if (!runs.empty() && begin <= runs.back().end)
        runs.back().end = std::max(runs.back().end, end);
    else
        runs.push_back({begin, end});
}

// Leaves the excluded lines of `file` without code; returns how many had code.
std::uint64_t exclude_lines(FileCoverage& file) {
    std::vector<Figures> before;
    for (const FunctionCoverage& function : file.functions)
        before.push_back(function_figures(file, function));
    std::uint64_t excluded = 0;
    for (const LineRun& run : file.excluded_runs) {
        for (std::size_t i = run.begin; i < run.end && i < file.status.size(); ++i) {
            if (file.status[i] != kLineNoCode) {
                file.status[i] = kLineNoCode;
                ++excluded;
            }
        }
    }
    // A function whose every line with code is excluded is left out as well.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < file.functions.size(); ++i) {
        if (before[i].lines > 0 && function_figures(file, file.functions[i]).lines == 0)
            continue;
        if (kept != i)
            file.functions[kept] = std::move(file.functions[i]);
        ++kept;
    }
    file.functions.resize(kept);
    return excluded;
}

} // namespace

std::vector<LineRun> find_exclusions(const std::string& text, std::size_t& open_start) {
    std::vector<LineRun> runs;
    std::string_view rest(text);
    bool open = false;
    std::size_t start = 0;
    std::size_t line = 0;
    for (; !rest.empty(); ++line) {
        std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view current = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!open && current.find(kExcludeStart) != std::string_view::npos) {
            open = true;
            start = line;
        }
        if (open && current.find(kExcludeStop) != std::string_view::npos) {
            add_run(runs, start, line + 1);
            open = false;
        } else if (!open && current.find(kExcludeLine) != std::string_view::npos) {
            add_run(runs, line, line + 1);
        }
    }
    open_start = open ? start + 1 : 0;
    if (open)
        add_run(runs, start, line);
    return runs;
}

std::string excluded_text(std::uint64_t excluded) {
    return std::to_string(excluded) + (excluded == 1 ? " line" : " lines") +
           " with code excluded by LCOV_EXCL markers";
}

void scan_sources(CoverageModel& model, bool exclude, std::vector<std::string>& warnings) {
    for (FileCoverage& file : model.files) {
        SourceText source = read_source(file.path(), model.root);
        if (!source.refused.empty())
            warnings.push_back(source.read_from + ": source not read: " + source.refused);
        if (!exclude || !source.read)
            continue;
        std::size_t open_start = 0;
        file.excluded_runs = find_exclusions(source.text, open_start);
        if (open_start > 0)
            warnings.push_back(source.read_from + ":" + std::to_string(open_start) + ": " +
                               std::string(kExcludeStart) + " without " +
                               std::string(kExcludeStop) + "; excluded to the end of the file");
        file.excluded = exclude_lines(file);
    }
}
