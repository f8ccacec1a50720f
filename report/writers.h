// One writer per output. Each takes the merged model; the file writers report a failure in
// `error` ("<path>: <why>") and return false.
#pragma once

#include "report/coverage_model.h"

#include <ostream>
#include <string>

// The console table: one row per file, a total row; with `functions`, a row per function
// under its file.
void write_summary(const CoverageModel& model, bool functions, std::ostream& out);

// An lcov tracefile (TN/SF/FN/FNDA/FNF/FNH/DA/LF/LH/end_of_record).
bool write_lcov(const CoverageModel& model, const std::string& path, std::string& error);

// Cobertura XML: one package per source folder, one class per file, its functions as methods.
bool write_cobertura(const CoverageModel& model, const std::string& path, std::string& error);

// SonarQube's generic coverage XML.
bool write_sonar(const CoverageModel& model, const std::string& path, std::string& error);

// An HTML report in `folder` (created when missing): index.html and one page per file.
bool write_html(const CoverageModel& model, const std::string& folder, std::string& error);

// Writes `content` to `path` as bytes, replacing the file; makes its folder when missing.
bool write_whole_file(const std::string& path, const std::string& content, std::string& error);
