// The coverage of one or more logs: files with one status character per line, and the runs
// of lines that each function owns. Every output is written from this one model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Lines with code and how many of them were reached.
struct Figures {
    std::uint64_t lines = 0;
    std::uint64_t reached = 0;

    void add(const Figures& other) {
        lines += other.lines;
        reached += other.reached;
    }
};

// A run of lines opened by an F record: status positions [begin, end), counted from 0.
struct LineRun {
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct FunctionCoverage {
    std::string name;
    std::vector<LineRun> runs; // ascending, disjoint, not adjacent
};

struct FileCoverage {
    std::string folder; // the D text: everything before the file name, separator included
    std::string name;   // the N text
    std::string status; // one status character of the log per line, line 1 first
    std::vector<FunctionCoverage> functions; // in order of their first line
    // Lines that exclusion markers in the source leave out, and how many of them had code
    // (their status is then "no code").
    std::vector<LineRun> excluded_runs;
    std::uint64_t excluded = 0;

    std::string path() const { return folder + name; }
};

// Where the figures came from: one entry per log read.
struct RunInfo {
    std::string log_path;
    std::string command;
    std::string start_time;
    bool truncated = false;
};

struct CoverageModel {
    std::vector<RunInfo> runs;
    std::vector<FileCoverage> files; // ascending in the log's path order
    // With --root: the folder that relative file paths are relative to (see root_folder).
    std::string root;
};

// Line figures of a whole file, of one function, and of every file together.
Figures file_figures(const FileCoverage& file);
Figures function_figures(const FileCoverage& file, const FunctionCoverage& function);
Figures total_figures(const CoverageModel& model);
// Lines with code that exclusion markers left out, in every file together.
std::uint64_t total_excluded(const CoverageModel& model);

// The first line with code of a function's runs, counted from 1; the first line of its first
// run when none of its lines holds code.
std::size_t first_function_line(const FileCoverage& file, const FunctionCoverage& function);

// Merges the logs' models into one: files equal under compare_paths are one file (the first
// spelling met names it), a line is reached if any run reached it, has code if any run
// recorded code for it, and the line count is the largest. Functions of one file are merged
// by name, their runs joined.
CoverageModel merge_models(std::vector<CoverageModel> models);

// Percent of reached lines to one decimal ("71.4"): rounded, except that only all lines give
// "100.0" and only none "0.0"; "-" without lines.
std::string percent_text(const Figures& figures);
