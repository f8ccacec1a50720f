// The reader on logs written by hand: exact contents, incomplete logs, malformed logs.
#include "report/log_reader.h"
#include "tests/report/report_test_support.h"
#include "tests/report/sample_logs.h"

#include <gtest/gtest.h>

namespace {

LogReadResult read_text_log(const TempDir& dir, const std::string& text) {
    std::string path = dir.path() + "coverage_260314_001.log";
    write_text(path, text);
    return read_log(path);
}

TEST(LogReader, ReadsEveryRecordOfACompleteLog) {
    TempDir dir;
    LogReadResult read = read_text_log(dir, kCalcLog);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.warning, "");
    ASSERT_EQ(read.model.runs.size(), 1u);
    EXPECT_EQ(read.model.runs[0].command, "calc.exe -test input.txt");
    EXPECT_EQ(read.model.runs[0].start_time, "2026/03/14 09:26:53");
    EXPECT_FALSE(read.model.runs[0].truncated);
    ASSERT_EQ(read.model.files.size(), 2u);

    const FileCoverage& main_file = read.model.files[0];
    EXPECT_EQ(main_file.folder, "c:\\work\\calc\\src\\");
    EXPECT_EQ(main_file.name, "main.cpp");
    EXPECT_EQ(main_file.status, "000331300111");
    ASSERT_EQ(main_file.functions.size(), 2u);
    EXPECT_EQ(main_file.functions[0].name, "main");
    ASSERT_EQ(main_file.functions[0].runs.size(), 1u);
    EXPECT_EQ(main_file.functions[0].runs[0].begin, 3u);
    EXPECT_EQ(main_file.functions[0].runs[0].end, 9u);
    EXPECT_EQ(main_file.functions[1].runs[0].begin, 9u);
    EXPECT_EQ(main_file.functions[1].runs[0].end, 12u);

    Figures figures = file_figures(main_file);
    EXPECT_EQ(figures.lines, 7u);
    EXPECT_EQ(figures.reached, 3u);
    Figures main_figures = function_figures(main_file, main_file.functions[0]);
    EXPECT_EQ(main_figures.lines, 4u);
    EXPECT_EQ(main_figures.reached, 3u);
    EXPECT_EQ(first_function_line(main_file, main_file.functions[1]), 10u);
    Figures usage = function_figures(main_file, main_file.functions[1]);
    EXPECT_EQ(usage.lines, 3u);
    EXPECT_EQ(usage.reached, 0u);

    Figures total = total_figures(read.model);
    EXPECT_EQ(total.lines, 12u);
    EXPECT_EQ(total.reached, 5u);
    EXPECT_EQ(percent_text(total), "41.7");
}

TEST(LogReader, HeaderOnlyLogHasNoFiles) {
    TempDir dir;
    LogReadResult read = read_text_log(dir, "Hnothing.exe\nH2026/03/14 09:26:53\n");
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.warning, "");
    EXPECT_TRUE(read.model.files.empty());
    EXPECT_EQ(percent_text(total_figures(read.model)), "-");
}

TEST(LogReader, NamesWithCommasAndAFunctionNamedTwice) {
    TempDir dir;
    LogReadResult read = read_text_log(dir, "Ha, b\nH2026/03/14 09:26:53\n"
                                            "Dc:\\a, b\\\n"
                                            "N8,x,y & <z>.cpp\n"
                                            "F0,std::map<int, int>::at\n"
                                            "F2,helper\n"
                                            "F4,std::map<int, int>::at\n"
                                            "S31113031\n");
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(read.model.files.size(), 1u);
    const FileCoverage& file = read.model.files[0];
    EXPECT_EQ(file.path(), "c:\\a, b\\x,y & <z>.cpp");
    ASSERT_EQ(file.functions.size(), 2u);
    EXPECT_EQ(file.functions[0].name, "std::map<int, int>::at");
    // Its lines are those of both runs it opens: 1-2 and 5-8.
    Figures at = function_figures(file, file.functions[0]);
    EXPECT_EQ(at.lines, 5u);
    EXPECT_EQ(at.reached, 3u);
    Figures helper = function_figures(file, file.functions[1]);
    EXPECT_EQ(helper.lines, 2u);
    EXPECT_EQ(helper.reached, 0u);
}

TEST(LogReader, TakesCarriageReturnsBeforeLineFeedsAsLineEnds) {
    TempDir dir;
    LogReadResult read = read_text_log(dir, "Hx\r\nH2026/03/14 09:26:53\r\nDc:\\\r\nN2,a.c\r\n"
                                            "S03\r\n");
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(read.model.files.size(), 1u);
    EXPECT_EQ(read.model.files[0].path(), "c:\\a.c");
    EXPECT_EQ(read.model.files[0].status, "03");
}

// A log whose writer failed: every complete block is kept, with a warning naming the log.
TEST(LogReader, IncompleteLogsAreReadUpToTheirLastCompleteBlock) {
    const std::string header = "Hcalc.exe\nH2026/03/14 09:26:53\n";
    const std::string block = "Dc:\\src\\\nN3,a.cpp\nS013\n";
    struct Case {
        std::string text;
        std::size_t files;
        std::string where;
    } cases[] = {
        {header + block + "Dc:\\src\\\n", 1, "the block of c:\\src\\ after line 6"},
        {header + block + "Dc:\\src\\\nN3,b.cpp\n", 1, "the block of c:\\src\\b.cpp after line 7"},
        {header + block + "Dc:\\src\\\nN3,b.cpp\nF0,f\n", 1, "after line 8"},
        {header + block + "Dc:\\src\\\nN3,b.cpp\nS01", 1, "after line 7"},
        {header + block + "Dc:\\sr", 1, "ends inside a record after line 5"},
        {header + "Dc:\\src\\\nN3,a.cpp\nS013", 0, "after line 4"},
        {"Hcalc.exe\n", 0, "its header after line 1"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        LogReadResult read = read_text_log(dir, c.text);
        ASSERT_TRUE(read.ok) << c.text << "\n" << read.error;
        EXPECT_EQ(read.model.files.size(), c.files) << c.text;
        EXPECT_NE(read.warning.find(dir.path() + "coverage_260314_001.log: ends inside"),
                  std::string::npos)
            << read.warning;
        EXPECT_NE(read.warning.find(c.where), std::string::npos) << read.warning;
        EXPECT_TRUE(read.model.runs[0].truncated);
        if (c.files == 1) {
            EXPECT_EQ(read.model.files[0].status, "013");
        }
    }
}

TEST(LogReader, MalformedLogsAreRefusedNamingTheLine) {
    const std::string header = "Hcalc.exe\nH2026/03/14 09:26:53\n";
    struct Case {
        std::string text;
        std::string error; // after "<log>:"
    } cases[] = {
        {header + "Dc:\\\nN3,a.c\nS0131\n", "5: status string (S) of 4 characters"},
        {header + "Dc:\\\nN3,a.c\nS01\n", "5: status string (S) of 2 characters"},
        {header + "Dc:\\\nN3,a.c\nS021\n", "5: status character '2' for line 2"},
        {header + "Dc:\\\nN3,a.c\nS0 1\n", "5: status character ' '"},
        {header + "Dc:\\\nN3,a.c\nX1\nS013\n", "5: unknown record tag 'X'"},
        {header + "Dc:\\\nN3,a.c\n\nS013\n", "5: empty line"},
        {header + "Dc:\\\nS013\n", "4: record 'S' out of order"},
        {header + "N3,a.c\nS013\n", "3: record 'N' out of order"},
        {header + "Dc:\\\nN3,a.c\nDc:\\\n", "5: record 'D' out of order"},
        {header + "Dc:\\\nN3,a.c\nS013\nF0,f\n", "6: record 'F' out of order"},
        {header + "Hagain\n", "3: record 'H' out of order"},
        {"Dc:\\\nN3,a.c\nS013\n", " not a coverage log: it does not begin with 'H'"},
        {header + "Dc:\\\nN-3,a.c\nS013\n", "4: name record (N) without a valid line count"},
        {header + "Dc:\\\nNa.c\nS013\n", "4: name record (N) without a valid line count"},
        {header + "Dc:\\\nN3,a.c\nF3,f\nS013\n", "5: function record (F) index 3 beyond"},
        {header + "Dc:\\\nN3,a.c\nF1,f\nF1,g\nS013\n", "6: function record (F) index 1 not above"},
        {header + "Dc:\\\nN3,a.c\nF,f\nS013\n",
         "5: function record (F) without a valid line index"},
        {header + "Dc:\\\nN99999999999,a.c\n", "4: name record (N) without a valid line count"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        LogReadResult read = read_text_log(dir, c.text);
        EXPECT_FALSE(read.ok) << c.text;
        EXPECT_EQ(read.error.find(dir.path() + "coverage_260314_001.log:" + c.error), 0u)
            << c.text << "\ngot: " << read.error;
    }
}

TEST(LogReader, MissingLogIsAnError) {
    TempDir dir;
    LogReadResult read = read_log(dir.path() + "absent.log");
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, dir.path() + "absent.log: cannot be opened");
}

} // namespace

namespace {

TEST(Figures, PercentShowsAllAndNoneOnlyWhenTheyAreSo) {
    EXPECT_EQ(percent_text({3, 1}), "33.3");
    EXPECT_EQ(percent_text({3, 2}), "66.7");
    EXPECT_EQ(percent_text({2000, 1999}), "99.9");
    EXPECT_EQ(percent_text({2000, 2000}), "100.0");
    EXPECT_EQ(percent_text({2000, 1}), "0.1");
    EXPECT_EQ(percent_text({2000, 0}), "0.0");
}

} // namespace
