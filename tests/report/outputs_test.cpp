// What each writer puts in its output, and the escaping of log text for XML and HTML.
#include "report/log_reader.h"
#include "report/markup_text.h"
#include "report/source_text.h"
#include "report/writers.h"
#include "tests/report/report_test_support.h"
#include "tests/report/sample_logs.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

CoverageModel calc_model(const TempDir& dir) {
    write_text(dir.path() + "calc.log", kCalcLog);
    LogReadResult read = read_log(dir.path() + "calc.log");
    EXPECT_TRUE(read.ok) << read.error;
    return merge_models({read.model});
}

TEST(MarkupEscape, EscapesMarkupAndKeepsTextValid) {
    EXPECT_EQ(markup_escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
    EXPECT_EQ(markup_escape("std::map<int, int>::at"), "std::map&lt;int, int&gt;::at");
    // UTF-8 stays; a lone byte of an 8-bit code page is taken as Latin-1.
    EXPECT_EQ(markup_escape("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(markup_escape("caf\xE9.c"), "caf\xC3\xA9.c");
    EXPECT_EQ(markup_escape("\xE2\x82"), "\xC3\xA2\xC2\x82");
    EXPECT_EQ(markup_escape("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"); // a surrogate
    EXPECT_EQ(markup_escape("a\x01z\tb"), "a\xEF\xBF\xBDz\tb");
}

TEST(SourceText, TriesTheUnixPathOfAWineDriveZPath) {
    EXPECT_EQ(source_candidates("Z:\\home\\me\\a.c", ""),
              (std::vector<std::string>{"Z:\\home\\me\\a.c", "/home/me/a.c"}));
    EXPECT_EQ(source_candidates("z:/tmp/b.c", ""),
              (std::vector<std::string>{"z:/tmp/b.c", "/tmp/b.c"}));
    EXPECT_EQ(source_candidates("c:\\src\\a.c", ""), (std::vector<std::string>{"c:\\src\\a.c"}));

    TempDir dir;
    write_text(dir.path() + "a.c", "int a;\r\nint b;\n");
    std::string wine_path = "Z:" + dir.path() + "a.c";
    for (char& c : wine_path)
        c = c == '/' ? '\\' : c;
    SourceText source = read_source(wine_path, "");
    ASSERT_TRUE(source.read);
    EXPECT_EQ(source.read_from, dir.path() + "a.c");
    EXPECT_EQ(source_lines(source.text), (std::vector<std::string>{"int a;", "int b;"}));
    EXPECT_FALSE(read_source(dir.path() + "missing.c", "").read);
}

TEST(Summary, TableWithFunctions) {
    TempDir dir;
    std::ostringstream out;
    write_summary(calc_model(dir), true, out);
    EXPECT_EQ(out.str(), "File                                   Lines    Reached  Percent\n"
                         "c:\\work\\calc\\src\\main.cpp                  7          3    42.9%\n"
                         "  main                                     4          3    75.0%\n"
                         "  usage                                    3          0     0.0%\n"
                         "c:\\work\\calc\\src\\util\\strings.cpp          5          2    40.0%\n"
                         "  trim                                     5          2    40.0%\n"
                         "Total                                     12          5    41.7%\n");
}

TEST(Lcov, RecordsOfEveryFile) {
    TempDir dir;
    std::string error;
    OutputSet outputs;
    ASSERT_TRUE(write_lcov(calc_model(dir), dir.path() + "out.info", outputs, error)) << error;
    ASSERT_TRUE(outputs.commit(error)) << error;
    std::string text = read_text(dir.path() + "out.info");
    EXPECT_EQ(text.substr(0, text.find("end_of_record")),
              "TN:\nSF:c:\\work\\calc\\src\\main.cpp\nFN:4,main\nFN:10,usage\nFNDA:1,main\n"
              "FNDA:0,usage\nFNF:2\nFNH:1\nDA:4,1\nDA:5,1\nDA:6,0\nDA:7,1\nDA:10,0\nDA:11,0\n"
              "DA:12,0\nLF:7\nLH:3\n");
    EXPECT_EQ(count_of(text, "end_of_record\n"), 2u);
    EXPECT_NE(text.find("LF:5\nLH:2\n"), std::string::npos);
}

TEST(Html, PageWithoutReadableSourceShowsTheFigures) {
    TempDir dir;
    std::string error;
    OutputSet outputs;
    ASSERT_TRUE(write_html(calc_model(dir), dir.path() + "html/sub", outputs, error)) << error;
    ASSERT_TRUE(outputs.commit(error)) << error;
    std::string index = read_text(dir.path() + "html/sub/index.html");
    EXPECT_NE(index.find("<a href=\"0001_main.cpp.html\">c:\\work\\calc\\src\\main.cpp</a></td>"
                         "<td>7</td><td>3</td><td>42.9</td>"),
              std::string::npos)
        << index;
    EXPECT_NE(index.find("<td>Total</td><td>12</td><td>5</td><td>41.7</td>"), std::string::npos);
    std::string page = read_text(dir.path() + "html/sub/0001_main.cpp.html");
    EXPECT_NE(page.find("could not be read"), std::string::npos);
    EXPECT_NE(page.find("Lines reached: 4-5, 7"), std::string::npos) << page;
    EXPECT_NE(page.find("Lines not reached: 6, 10-12"), std::string::npos);
    EXPECT_NE(page.find("<td>usage</td><td>10</td><td>3</td><td>0</td>"), std::string::npos);
    EXPECT_EQ(page.find("class=\"line-"), std::string::npos);
}

TEST(Html, FolderThatCannotBeMadeFails) {
    TempDir dir;
    write_text(dir.path() + "file", "x");
    std::string error;
    OutputSet outputs;
    EXPECT_FALSE(write_html(calc_model(dir), dir.path() + "file/html", outputs, error));
    EXPECT_EQ(error.find(dir.path() + "file/html: "), 0u) << error;
}

} // namespace
