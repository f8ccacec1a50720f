// zerkareport.exe on real logs: zerkacmd.exe measures the calc target (PDB and DWARF), and the
// report's pages must give every marked line of its sources the marker's status; two runs
// merged must show a line reached that only the second run reached.
#include "coverage/path_fold.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

namespace {

constexpr char kCalcSum[] = "calc.exe sum 2 3 4";

// The class of line `line`'s row in a file page; empty when the page has no such row.
std::string row_class(const std::string& page, int line) {
    std::string row = "<tr id=\"L" + std::to_string(line) + "\" class=\"";
    size_t at = page.find(row);
    if (at == std::string::npos)
        return "";
    at += row.size();
    return page.substr(at, page.find('"', at) - at);
}

// The page that the index links for the source file below the targets' folder (the log's
// spelling of the path may differ in case and separators).
std::string file_page(const std::string& html, const std::string& relative) {
    std::string index = read_file(html + "index.html");
    const std::string link = "<a href=\"";
    for (size_t at = index.find(link); at != std::string::npos; at = index.find(link, at + 1)) {
        size_t name = at + link.size();
        size_t text = index.find("\">", name) + 2;
        std::string path = index.substr(text, index.find("</a>", text) - text);
        if (compare_paths(path.c_str(), target_source(relative).c_str()) == 0)
            return read_file(html + index.substr(name, text - 2 - name));
    }
    return "";
}

// Measures one run of calc in `folder` and returns its log's path.
std::string measure(const std::string& form, const std::string& command,
                    const std::string& folder) {
    size_t before = log_files(folder).size();
    ToolRun run =
        run_tool("-f -s " + target_sources() + " -w " + target_dir(form) + " " + command, folder);
    EXPECT_TRUE(run.started);
    std::vector<std::string> logs = log_files(folder);
    EXPECT_EQ(logs.size(), before + 1) << run.output;
    return logs.empty() ? "" : folder + logs.back();
}

ProcessResult report(const std::string& arguments) {
    return run_process("\"" + bin_dir() + "zerkareport.exe\" " + arguments);
}

void expect_markers(const std::string& html, const std::string& relative) {
    std::string page = file_page(html, relative);
    ASSERT_FALSE(page.empty()) << relative;
    std::map<int, char> markers = read_markers(target_source(relative));
    ASSERT_FALSE(markers.empty()) << relative;
    for (const auto& marker : markers) {
        EXPECT_EQ(row_class(page, marker.first), marker.second == '3' ? "line-run" : "line-notrun")
            << relative << " line " << marker.first;
    }
}

class RealLogs : public ::testing::TestWithParam<const char*> {};

TEST_P(RealLogs, PagesShowTheMarkedLinesOfCalc) {
    ScratchDir scratch;
    std::string log = measure(GetParam(), kCalcSum, scratch.path());
    ASSERT_FALSE(log.empty());
    // No backslash before a closing quote: the command-line rules would take it as a quote.
    std::string html = scratch.path() + "html\\";
    ProcessResult result =
        report("--summary --functions --html \"" + scratch.path() + "html\" --cobertura \"" +
               scratch.path() + "c.xml\" --lcov \"" + scratch.path() + "c.info\" \"" + log + "\"");
    ASSERT_EQ(result.exit_code, 0u) << result.output;
    for (const char* relative : {"calc/main.c", "calc/util/text.c"})
        expect_markers(html, relative);
    // The functions that ran and one that did not, with their figures.
    EXPECT_NE(result.output.find("  run_plugin "), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(" 0.0%"), std::string::npos) << result.output;
    EXPECT_NE(read_file(scratch.path() + "c.info").find("FNDA:0,max_of"), std::string::npos);
    EXPECT_NE(read_file(scratch.path() + "c.xml").find("<method name=\"parse_number\""),
              std::string::npos);

    // A run without arguments reaches usage(); merged, its line is reached.
    std::string usage_log = measure(GetParam(), "calc.exe", scratch.path());
    ASSERT_FALSE(usage_log.empty());
    std::string merged = scratch.path() + "merged\\";
    result =
        report("--html \"" + scratch.path() + "merged\" \"" + log + "\" \"" + usage_log + "\"");
    ASSERT_EQ(result.exit_code, 0u) << result.output;
    int usage_line = find_line(target_source("calc/main.c"), "    printf(\"usage");
    ASSERT_GT(usage_line, 0);
    EXPECT_EQ(row_class(file_page(html, "calc/main.c"), usage_line), "line-notrun");
    EXPECT_EQ(row_class(file_page(merged, "calc/main.c"), usage_line), "line-run");
    std::string merged_page = file_page(merged, "calc/main.c");
    for (const auto& marker : read_markers(target_source("calc/main.c"))) {
        if (marker.second == '3') {
            EXPECT_EQ(row_class(merged_page, marker.first), "line-run") << marker.first;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, RealLogs, ::testing::Values("pdb", "dwarf"));

} // namespace
