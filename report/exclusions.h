// Exclusion markers in source text, as lcov and gcovr users write them: a line holding
// LCOV_EXCL_LINE, and the lines from one holding LCOV_EXCL_START to one holding LCOV_EXCL_STOP.
#pragma once

#include "report/coverage_model.h"

#include <string>
#include <vector>

// The lines that the markers of `text` exclude, counted from 0, ascending. `open_start` gets
// the line (from 1) of a START that no STOP closes (which excludes to the end), else 0.
std::vector<LineRun> find_exclusions(const std::string& text, std::size_t& open_start);

// "5 lines with code excluded by LCOV_EXCL markers", as the summary and the HTML say it.
std::string excluded_text(std::uint64_t excluded);

// Reads the source of every file once (source_text.h); a source that exists but is refused
// gives a warning. With `exclude`, the lines that its markers exclude lose their code, a
// function left without code lines goes, and a START without STOP gives a warning.
void scan_sources(CoverageModel& model, bool exclude, std::vector<std::string>& warnings);
