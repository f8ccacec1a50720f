// Merging logs: the same file under other spellings, reached lines, line counts, functions,
// and the log's path order.
#include "coverage/path_fold.h"
#include "report/coverage_model.h"
#include "report/log_reader.h"
#include "tests/report/report_test_support.h"
#include "tests/report/sample_logs.h"

#include <gtest/gtest.h>

namespace {

// Reads each log text from a file of its own and merges them in that order.
CoverageModel merge_texts(const std::vector<std::string>& texts) {
    TempDir dir;
    std::vector<CoverageModel> models;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string path = dir.path() + std::to_string(i) + ".log";
        write_text(path, texts[i]);
        LogReadResult read = read_log(path);
        EXPECT_TRUE(read.ok) << read.error;
        models.push_back(read.model);
    }
    return merge_models(std::move(models));
}

TEST(Merge, TwoRunsOfOneProgram) {
    CoverageModel merged = merge_texts({kCalcLog, kCalcLog2});

    ASSERT_EQ(merged.runs.size(), 2u);
    EXPECT_EQ(merged.runs[1].command, "calc.exe -usage");
    ASSERT_EQ(merged.files.size(), 3u);
    EXPECT_EQ(merged.files[0].path(), "C:\\work\\calc\\src\\args.cpp");
    // The first spelling met names the file; C:/WORK/calc/SRC/Main.cpp is the same file.
    EXPECT_EQ(merged.files[1].path(), "c:\\work\\calc\\src\\main.cpp");
    EXPECT_EQ(merged.files[2].path(), "c:\\work\\calc\\src\\util\\strings.cpp");

    const FileCoverage& main_file = merged.files[1];
    // Line 9 has code in the second run only, 10 and 11 ran in it, 14 lengthens the file.
    EXPECT_EQ(main_file.status, "00033130133101");
    Figures figures = file_figures(main_file);
    EXPECT_EQ(figures.lines, 9u);
    EXPECT_EQ(figures.reached, 5u);
    ASSERT_EQ(main_file.functions.size(), 2u);
    Figures main_function = function_figures(main_file, main_file.functions[0]);
    EXPECT_EQ(main_function.lines, 5u);
    EXPECT_EQ(main_function.reached, 3u);
    Figures usage = function_figures(main_file, main_file.functions[1]);
    EXPECT_EQ(usage.lines, 3u);
    EXPECT_EQ(usage.reached, 2u);

    Figures total = total_figures(merged);
    EXPECT_EQ(total.lines, 17u);
    EXPECT_EQ(total.reached, 8u);
}

TEST(Merge, ALogMergedWithItselfKeepsItsFigures) {
    CoverageModel merged = merge_texts({kCalcLog, kCalcLog});
    ASSERT_EQ(merged.files.size(), 2u);
    EXPECT_EQ(merged.files[0].status, "000331300111");
    ASSERT_EQ(merged.files[0].functions.size(), 2u);
    ASSERT_EQ(merged.files[0].functions[0].runs.size(), 1u);
    EXPECT_EQ(function_figures(merged.files[0], merged.files[0].functions[0]).lines, 4u);
}

TEST(Merge, FunctionsOfOneNameJoinTheirRunsAcrossRuns) {
    CoverageModel merged = merge_texts({"Ha\nH2026/03/14 09:26:53\nD/s/\nN6,f.c\n"
                                        "F0,f\nF3,g\nS111111\n",
                                        "Hb\nH2026/03/14 09:26:53\nD/S/\nN6,F.C\n"
                                        "F0,f\nF2,g\nF4,f\nS333333\n"});
    ASSERT_EQ(merged.files.size(), 1u);
    const FileCoverage& file = merged.files[0];
    ASSERT_EQ(file.functions.size(), 2u);
    EXPECT_EQ(file.functions[0].name, "f");
    // f: lines 1-3 and 5-6 (the runs of both logs joined); g: lines 3-6.
    ASSERT_EQ(file.functions[0].runs.size(), 2u);
    EXPECT_EQ(function_figures(file, file.functions[0]).lines, 5u);
    EXPECT_EQ(function_figures(file, file.functions[1]).lines, 4u);
    EXPECT_EQ(function_figures(file, file.functions[1]).reached, 4u);
}

// The order of the log's writer: case and separators ignored, separators first, '_' after
// the letters.
TEST(Merge, FilesFollowTheLogsPathOrder) {
    const char* const paths[] = {"c:\\src\\b.cpp", "x_y.cpp",        "C:\\SRC\\a.cpp",
                                 "xz.cpp",         "C:\\src\\D.cpp", "c:\\src\\a\\z.cpp"};
    std::string log = "Hx\nH2026/03/14 09:26:53\n";
    for (const char* path : paths) {
        std::string text = path;
        std::size_t cut = text.find_last_of('\\') + 1;
        log += "D" + text.substr(0, cut) + "\nN1," + text.substr(cut) + "\nS3\n";
    }
    CoverageModel merged = merge_texts({log});
    std::vector<std::string> order;
    for (const FileCoverage& file : merged.files)
        order.push_back(file.path());
    EXPECT_EQ(order,
              (std::vector<std::string>{"c:\\src\\a\\z.cpp", "C:\\SRC\\a.cpp", "c:\\src\\b.cpp",
                                        "C:\\src\\D.cpp", "xz.cpp", "x_y.cpp"}));
    EXPECT_EQ(compare_paths("c:/src/A.cpp", "C:\\SRC\\a.CPP"), 0);
}

} // namespace
