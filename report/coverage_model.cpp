#include "report/coverage_model.h"

#include "coverage/path_fold.h"
#include "log/log_format.h"

#include <algorithm>
#include <cstdio>
#include <map>

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

struct PathLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return compare_paths(a.c_str(), b.c_str()) < 0;
    }
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
    for (FunctionCoverage& function : from.functions) {
        auto same = std::find_if(
            into.functions.begin(), into.functions.end(),
            [&](const FunctionCoverage& known) { return known.name == function.name; });
        if (same == into.functions.end()) {
            into.functions.push_back(std::move(function));
        } else {
            same->runs.insert(same->runs.end(), function.runs.begin(), function.runs.end());
            normalise_runs(same->runs);
        }
    }
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
    std::map<std::string, FileCoverage, PathLess> files;
    for (CoverageModel& model : models) {
        merged.runs.insert(merged.runs.end(), model.runs.begin(), model.runs.end());
        for (FileCoverage& file : model.files) {
            std::string path = file.path();
            auto found = files.find(path);
            if (found == files.end()) {
                for (FunctionCoverage& function : file.functions)
                    normalise_runs(function.runs);
                files.emplace(std::move(path), std::move(file));
            } else {
                merge_file(found->second, std::move(file));
            }
        }
    }
    for (auto& entry : files) {
        FileCoverage& file = entry.second;
        std::stable_sort(file.functions.begin(), file.functions.end(),
                         [&](const FunctionCoverage& a, const FunctionCoverage& b) {
                             return first_function_line(file, a) < first_function_line(file, b);
                         });
        merged.files.push_back(std::move(file));
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
