// One writer per output. Each takes the merged model; the file writers open their files in
// `outputs` (which puts them in place once the whole run has written them), report a failure
// in `error` ("<path>: <why>") and return false.
#pragma once

#include "report/coverage_model.h"
#include "report/output_file.h"

#include <ostream>
#include <string>

// The console table: one row per file, a total row; with `functions`, a row per function
// under its file.
void write_summary(const CoverageModel& model, bool functions, std::ostream& out);

// An lcov tracefile (TN/SF/FN/FNDA/FNF/FNH/DA/LF/LH/end_of_record).
bool write_lcov(const CoverageModel& model, const std::string& path, OutputSet& outputs,
                std::string& error);

// Cobertura XML: one package per source folder, one class per file, its functions as methods.
bool write_cobertura(const CoverageModel& model, const std::string& path, OutputSet& outputs,
                     std::string& error);

// SonarQube's generic coverage XML.
bool write_sonar(const CoverageModel& model, const std::string& path, OutputSet& outputs,
                 std::string& error);

// An HTML report in `folder` (created when missing): index.html and one page per file. Pages
// that an earlier report listed in the folder's page list and this one does not write are
// removed when the outputs are committed.
bool write_html(const CoverageModel& model, const std::string& folder, OutputSet& outputs,
                std::string& error);
