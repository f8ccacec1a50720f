#include "report/writers.h"

#include "log/log_format.h"
#include "report/exclusions.h"
#include "report/markup_text.h"
#include "report/source_text.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

namespace {

constexpr char kIndexPage[] = "index.html";
// The pages this program wrote into the folder, one name a line under the heading: the only
// files a later report removes from it.
constexpr char kPageList[] = ".zerkareport-pages";
constexpr char kPageListHeading[] = "zerkareport pages";

constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse}th,td{padding:2px 8px;text-align:right}"
    "th:first-child,td:first-child{text-align:left}"
    "table.files tr:nth-child(even),table.functions tr:nth-child(even){background:#f4f4f4}"
    "tr.total{font-weight:bold;border-top:1px solid #888}"
    "table.runs th,table.runs td{text-align:left;vertical-align:top}"
    "table.runs td:nth-child(2){white-space:nowrap}"
    ".bar{width:120px;height:10px;background:#f3b0b0;display:inline-block}"
    ".bar div{height:10px;background:#5cb85c}"
    "table.source{font-family:monospace;white-space:pre;tab-size:4;width:100%}"
    "table.source td{text-align:left;padding:0 6px}"
    "table.source td.num{text-align:right;color:#666;width:4em;user-select:none}"
    "tr.line-run td{background:#c9f2c9}tr.line-notrun td{background:#f7c4c4}"
    "tr.line-nocode td.num{color:#aaa}tr.line-excluded td{color:#888;background:#eee}"
    ".no-source{color:#a33}";

std::string page_head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           markup_escape(title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
}

std::string figure_cells(const Figures& figures) {
    std::string bar;
    if (figures.lines > 0)
        bar = "<div class=\"bar\"><div style=\"width:" + percent_text(figures) + "%\"></div></div>";
    return "<td>" + std::to_string(figures.lines) + "</td><td>" + std::to_string(figures.reached) +
           "</td><td>" + percent_text(figures) + "</td><td>" + bar + "</td>";
}

constexpr char kFigureHeadings[] = "<th>Lines</th><th>Reached</th><th>Percent</th><th></th>";

bool is_safe_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// A page name that any file system takes: the page's number and the file name's safe bytes.
std::string page_name(std::size_t index, const std::string& name) {
    std::string page = std::to_string(index + 1);
    if (page.size() < 4)
        page.insert(0, 4 - page.size(), '0');
    page += '_';
    for (char c : name)
        page += is_safe_byte(c) ? c : '_';
    return page + ".html";
}

// What page_name makes: digits, '_', safe bytes, ".html".
bool is_page_name(const std::string& name) {
    constexpr char kSuffix[] = ".html";
    std::size_t digits = name.find('_');
    std::size_t suffix = sizeof(kSuffix) - 1;
    if (digits == std::string::npos || digits < 4 || name.size() <= digits + 1 + suffix ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (i < digits ? !(c >= '0' && c <= '9') : !is_safe_byte(c))
            return false;
    }
    return true;
}

// The page names of the folder's page list; none when it has no list of this program's.
std::vector<std::string> listed_pages(const std::filesystem::path& root) {
    std::ifstream in(root / kPageList, std::ios::binary);
    std::vector<std::string> pages;
    std::string line;
    if (!std::getline(in, line) || line != kPageListHeading)
        return pages;
    while (std::getline(in, line)) {
        if (is_page_name(line))
            pages.push_back(line);
    }
    return pages;
}

const char* line_class(char status) {
    if (status == kLineRun)
        return "line-run";
    if (status == kLineNotRun)
        return "line-notrun";
    return "line-nocode";
}

// "6, 10-12": the lines with the given status, joined into ranges.
std::string line_list(const std::string& status, char wanted) {
    std::string list;
    for (std::size_t i = 0; i < status.size(); ++i) {
        if (status[i] != wanted)
            continue;
        // A range runs on over lines without code up to the last line with this status.
        std::size_t last = i;
        for (std::size_t j = i + 1;
             j < status.size() && (status[j] == wanted || status[j] == kLineNoCode); ++j) {
            if (status[j] == wanted)
                last = j;
        }
        if (!list.empty())
            list += ", ";
        list += std::to_string(i + 1);
        if (last > i)
            list += "-" + std::to_string(last + 1);
        i = last;
    }
    return list.empty() ? "none" : list;
}

// The count of excluded lines, or nothing when none were.
std::string excluded_note(std::uint64_t excluded) {
    if (excluded == 0)
        return "";
    return "<p class=\"excluded\">" + excluded_text(excluded) + ".</p>\n";
}

bool in_runs(const std::vector<LineRun>& runs, std::size_t line) {
    auto after = std::upper_bound(runs.begin(), runs.end(), line,
                                  [](std::size_t i, const LineRun& run) { return i < run.begin; });
    return after != runs.begin() && line < std::prev(after)->end;
}

// Why a page shows no text: the file that was refused, or every place tried.
std::string unread_source(const SourceText& text, const std::string& path,
                          const std::string& root) {
    if (!text.refused.empty())
        return "The source file " + markup_escape(text.read_from) +
               " was not read: " + markup_escape(text.refused) + ".";
    std::string tried;
    for (const std::string& candidate : source_candidates(path, root))
        tried += (tried.empty() ? "" : ", ") + markup_escape(candidate);
    return "The source file could not be read (tried: " + tried + ").";
}

std::string file_page(const CoverageModel& model, const FileCoverage& file) {
    std::string path = file.path();
    SourceText text = read_source(path, model.root);
    std::vector<std::string> source = source_lines(text.text);
    bool readable = text.read;

    std::string out = page_head(path + " - coverage");
    out += "<p><a href=\"" + std::string(kIndexPage) + "\">All files</a></p>\n";
    out += "<h1>" + markup_escape(path) + "</h1>\n";
    out += "<table class=\"figures\"><tr><th></th>" + std::string(kFigureHeadings) +
           "</tr>\n<tr><td>Lines with code</td>" + figure_cells(file_figures(file)) +
           "</tr></table>\n" + excluded_note(file.excluded);

    if (!file.functions.empty()) {
        out += "<h2>Functions</h2>\n<table class=\"functions\"><tr><th>Function</th>"
               "<th>First line</th>" +
               std::string(kFigureHeadings) + "</tr>\n";
        for (const FunctionCoverage& function : file.functions) {
            std::string line = std::to_string(first_function_line(file, function));
            std::string link = readable ? "<a href=\"#L" + line + "\">" + line + "</a>" : line;
            out += "<tr><td>" + markup_escape(function.name) + "</td><td>" + link + "</td>" +
                   figure_cells(function_figures(file, function)) + "</tr>\n";
        }
        out += "</table>\n";
    }

    out += "<h2>Source</h2>\n";
    if (!readable) {
        out += "<p class=\"no-source\">" + unread_source(text, path, model.root) + "</p>\n";
        out += "<p>Lines reached: " + line_list(file.status, kLineRun) +
               "</p>\n<p>Lines not reached: " + line_list(file.status, kLineNotRun) + "</p>\n";
    } else {
        out += "<p>Read from " + markup_escape(text.read_from) + "</p>\n";
        if (source.size() < file.status.size())
            out += "<p class=\"no-source\">The source has fewer lines than the log records: it "
                   "may have changed since the run.</p>\n";
        out += "<table class=\"source\">\n";
        std::size_t rows = std::max(source.size(), file.status.size());
        for (std::size_t i = 0; i < rows; ++i) {
            char status = i < file.status.size() ? file.status[i] : kLineNoCode;
            std::string number = std::to_string(i + 1);
            const char* row_class =
                in_runs(file.excluded_runs, i) ? "line-excluded" : line_class(status);
            out += "<tr id=\"L" + number + "\" class=\"" + row_class + "\"><td class=\"num\">" +
                   number + "</td><td>" +
                   (i < source.size() ? markup_escape(source[i]) : std::string()) + "</td></tr>\n";
        }
        out += "</table>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

std::string index_page(const CoverageModel& model, const std::vector<std::string>& pages) {
    std::string out = page_head("Coverage report");
    out += "<h1>Coverage report</h1>\n<table class=\"runs\"><tr><th>Command</th><th>Started</th>"
           "<th>Log</th></tr>\n";
    for (const RunInfo& run : model.runs) {
        out += "<tr><td>" + markup_escape(run.command) + "</td><td>" +
               markup_escape(run.start_time) + "</td><td>" + markup_escape(run.log_path) +
               (run.truncated ? " (incomplete: read up to its last complete block)" : "") +
               "</td></tr>\n";
    }
    out += "</table>\n<h2>Files</h2>\n<table class=\"files\"><tr><th>File</th>" +
           std::string(kFigureHeadings) + "</tr>\n";
    for (std::size_t i = 0; i < model.files.size(); ++i) {
        const FileCoverage& file = model.files[i];
        out += "<tr><td><a href=\"" + pages[i] + "\">" + markup_escape(file.path()) + "</a></td>" +
               figure_cells(file_figures(file)) + "</tr>\n";
    }
    out += "<tr class=\"total\"><td>Total</td>" + figure_cells(total_figures(model)) +
           "</tr>\n</table>\n" + excluded_note(total_excluded(model)) + "</body>\n</html>\n";
    return out;
}

} // namespace

bool write_html(const CoverageModel& model, const std::string& folder, OutputSet& outputs,
                std::string& error) {
    std::error_code failure;
    std::filesystem::path root(folder);
    std::filesystem::create_directories(root, failure);
    if (failure) {
        error = folder + ": " + failure.message();
        return false;
    }
    std::vector<std::string> pages;
    auto write_page = [&](const std::string& name, const std::string& content) {
        OutputFile* out = outputs.open((root / name).string(), error);
        if (out == nullptr)
            return false;
        *out << content;
        return out->finish(error);
    };
    for (std::size_t i = 0; i < model.files.size(); ++i) {
        pages.push_back(page_name(i, model.files[i].name));
        if (!write_page(pages.back(), file_page(model, model.files[i])))
            return false;
    }
    // Pages of an earlier report that this one does not write would be stale links' targets.
    std::set<std::string> written(pages.begin(), pages.end());
    for (const std::string& page : listed_pages(root)) {
        std::filesystem::path stale = root / page;
        if (written.count(page) == 0 &&
            std::filesystem::is_regular_file(std::filesystem::symlink_status(stale, failure)))
            outputs.remove_on_commit(stale.string());
    }
    std::string list = std::string(kPageListHeading) + "\n";
    for (const std::string& page : pages)
        list += page + "\n";
    return write_page(kPageList, list) && write_page(kIndexPage, index_page(model, pages));
}
