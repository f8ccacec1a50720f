#include "report/coverage_model.h"

#include "coverage/path_fold.h"
#include "log/log_format.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

namespace {

bool has_code(char status) {
    return status == kLineNotRun || status == kLineRun;
}

// The log's order of status characters: no code, not run, run. Merging keeps the greater.
int status_rank(char status) {
    if (status == kLineRun)
        return 2;
    if (status == kLineNotRun)
        return 1;
    return 0;
}

struct PathedFile {
    std::string path;
    FileCoverage file;
};

// Sorts the runs and joins those that overlap or touch.
void normalise_runs(std::vector<LineRun>& runs) {
    std::sort(runs.begin(), runs.end(),
              [](const LineRun& a, const LineRun& b) { return a.begin < b.begin; });
    std::vector<LineRun> joined;
    for (const LineRun& run : runs) {
        if (!joined.empty() && run.begin <= joined.back().end)
            joined.back().end = std::max(joined.back().end, run.end);
        else
            joined.push_back(run);
    }
    runs.swap(joined);
}

void merge_file(FileCoverage& into, FileCoverage&& from) {
    if (from.status.size() > into.status.size())
        into.status.resize(from.status.size(), kLineNoCode);
    for (std::size_t i = 0; i < from.status.size(); ++i) {
        if (status_rank(from.status[i]) > status_rank(into.status[i]))
            into.status[i] = from.status[i];
    }
    if (from.functions.empty())
        return;
    std::unordered_map<std::string, std::size_t> known;
    known.reserve(into.functions.size());
    for (std::size_t i = 0; i < into.functions.size(); ++i)
        known.emplace(into.functions[i].name, i);
    for (FunctionCoverage& function : from.functions) {
        auto same = known.find(function.name);
        if (same == known.end()) {
            known.emplace(function.name, into.functions.size());
            into.functions.push_back(std::move(function));
        } else {
            std::vector<LineRun>& runs = into.functions[same->second].runs;
            runs.insert(runs.end(), function.runs.begin(), function.runs.end());
            normalise_runs(runs);
        }
    }
}

// A model's files with their paths, in path order: the log's own order, sorted when a log
// was not in it; the runs of its functions normalised.
std::vector<PathedFile> sorted_files(CoverageModel& model) {
    std::vector<PathedFile> files;
    files.reserve(model.files.size());
    for (FileCoverage& file : model.files) {
        for (FunctionCoverage& function : file.functions)
            normalise_runs(function.runs);
        std::string path = file.path();
        files.push_back({std::move(path), std::move(file)});
    }
    auto less = [](const PathedFile& a, const PathedFile& b) {
        return compare_paths(a.path.c_str(), b.path.c_str()) < 0;
    };
    if (!std::is_sorted(files.begin(), files.end(), less))
        std::stable_sort(files.begin(), files.end(), less);
    return files;
}

// Orders a file's functions by their first line with code, each line computed once.
void sort_functions(FileCoverage& file) {
    std::vector<std::pair<std::size_t, std::size_t>> order; // first line, place
    order.reserve(file.functions.size());
    for (std::size_t i = 0; i < file.functions.size(); ++i)
        order.emplace_back(first_function_line(file, file.functions[i]), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<FunctionCoverage> sorted;
    sorted.reserve(order.size());
    for (const auto& entry : order)
        sorted.push_back(std::move(file.functions[entry.second]));
    file.functions.swap(sorted);
}

} // namespace

Figures file_figures(const FileCoverage& file) {
    Figures figures;
    for (char status : file.status) {
        if (has_code(status))
            ++figures.lines;
        if (status == kLineRun)
            ++figures.reached;
    }
    return figures;
}

Figures function_figures(const FileCoverage& file, const FunctionCoverage& function) {
    Figures figures;
    for (const LineRun& run : function.runs) {
        for (std::size_t i = run.begin; i < run.end && i < file.status.size(); ++i) {
            if (has_code(file.status[i]))
                ++figures.lines;
            if (file.status[i] == kLineRun)
                ++figures.reached;
        }
    }
    return figures;
}

Figures total_figures(const CoverageModel& model) {
    Figures total;
    for (const FileCoverage& file : model.files)
        total.add(file_figures(file));
    return total;
}

std::uint64_t total_excluded(const CoverageModel& model) {
    std::uint64_t excluded = 0;
    for (const FileCoverage& file : model.files)
        excluded += file.excluded;
    return excluded;
}

std::size_t first_function_line(const FileCoverage& file, const FunctionCoverage& function) {
    for (const LineRun& run : function.runs) {
        for (std::size_t i = run.begin; i < run.end && i < file.status.size(); ++i) {
            if (has_code(file.status[i]))
                return i + 1;
        }
    }
    return function.runs.empty() ? 1 : function.runs.front().begin + 1;
}

CoverageModel merge_models(std::vector<CoverageModel> models) {
    CoverageModel merged;
    std::vector<PathedFile> files;
    for (CoverageModel& model : models) {
        merged.runs.insert(merged.runs.end(), model.runs.begin(), model.runs.end());
        std::vector<PathedFile> from = sorted_files(model);
        // One pass over both, as both are in path order: equal paths are one file, and the
        // spelling met first names it.
        std::vector<PathedFile> joined;
        joined.reserve(files.size() + from.size());
        auto take = [&](PathedFile&& next) {
            if (!joined.empty() &&
                compare_paths(joined.back().path.c_str(), next.path.c_str()) == 0)
                merge_file(joined.back().file, std::move(next.file));
            else
                joined.push_back(std::move(next));
        };
        std::size_t i = 0, j = 0;
        while (i < files.size() || j < from.size()) {
            bool from_first =
                i == files.size() ||
                (j < from.size() && compare_paths(from[j].path.c_str(), files[i].path.c_str()) < 0);
            take(std::move(from_first ? from[j++] : files[i++]));
        }
        files.swap(joined);
    }
    merged.files.reserve(files.size());
    for (PathedFile& entry : files) {
        sort_functions(entry.file);
        merged.files.push_back(std::move(entry.file));
    }
    return merged;
}

std::string percent_text(const Figures& figures) {
    if (figures.lines == 0)
        return "-";
    std::uint64_t tenths = (figures.reached * 2000 / figures.lines + 1) / 2;
    // Rounded to the nearest tenth, but 100.0 means every line and 0.0 none.
    if (tenths == 1000 && figures.reached < figures.lines)
        tenths = 999;
    if (tenths == 0 && figures.reached > 0)
        tenths = 1;
    char text[32];
    std::snprintf(text, sizeof(text), "%llu.%llu", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10));
    return text;
}
