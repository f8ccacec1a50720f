// zerkareport as a CI job runs it: logs recorded on other machines mapped onto this checkout
// and read by the real consumers, exclusion markers, the coverage gate, and source paths
// that are not source files.
#include "tests/report/report_test_support.h"
#include "tests/report/sample_logs.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string windows_path(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

// The text with every run of blanks as one blank: table rows without their padding.
std::string squeezed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != ' ' || out.empty() || out.back() != ' ')
            out += c;
    }
    return out;
}

void require(const std::string& program) {
    ASSERT_TRUE(have_program(program))
        << program << " is not installed: run 'make setup' (scripts/setup.sh)";
}

// One log recorded on a build agent (C:\agent\...) and one under Wine (Z:\...), both naming
// files of this checkout.
TEST(CiPaths, MappedPathsReachTheSourcesForEveryConsumer) {
    require("genhtml");
    require("xmllint");
    TempDir dir;
    std::string d = dir.path();
    std::string checkout = d + "checkout";
    run_command("mkdir -p " + shell_word(checkout + "/src") + " " + shell_word(checkout + "/util"));
    std::string main_source;
    for (int i = 1; i <= 12; ++i)
        main_source += "int line_" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
    write_text(checkout + "/src/main.c", main_source);
    write_text(checkout + "/util/text.c", "int t1;\nint t2;\nint t3;\nint t4;\nint t5;\nint t6;\n");
    write_text(d + "agent.log", "Hcalc.exe\nH2026/03/14 09:26:53\nDC:\\Agent\\_work\\1\\s\\src\\\n"
                                "N12,main.c\nF3,main\nS000331300111\n");
    write_text(d + "wine.log", "Hcalc.exe\nH2026/03/14 09:30:00\nD" +
                                   windows_path(checkout + "/util/") + "\nN6,text.c\nS013311\n");

    // Under Wine, Z: is "/": that mapping alone lets genhtml read the source text.
    CommandResult result =
        run_zerkareport("--map-path 'Z:\\=/' --lcov " + shell_word(d + "w.info") + " " +
                        shell_word(d + "wine.log"));
    ASSERT_EQ(result.exit_code, 0) << result.output;
    EXPECT_NE(read_text(d + "w.info").find("SF:" + checkout + "/util/text.c\n"), std::string::npos);
    result = run_command("genhtml --output-directory " + shell_word(d + "g1") + " " +
                         shell_word(d + "w.info"));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output.find("WARNING"), std::string::npos) << result.output;
    EXPECT_EQ(run_command("grep -rl 'int t3;' " + shell_word(d + "g1")).exit_code, 0);

    // Both logs, relative to the checkout. The longest FROM wins whatever its order; FROM
    // folds case and separators like the log's paths.
    std::string agent_from = "c:/AGENT/_work/1/S";
    std::string options =
        "--map-path 'C:\\=/nowhere/' --map-path=" + shell_word(agent_from + "=" + checkout) +
        " --map-path 'Z:\\=/' --root " + shell_word(checkout + "/") + " --lcov " +
        shell_word(d + "c.info") + " --cobertura " + shell_word(d + "c.xml") + " --sonar " +
        shell_word(d + "s.xml") + " --html " + shell_word(d + "html");
    result = run_zerkareport(options + " " + shell_word(d + "agent.log") + " " +
                             shell_word(d + "wine.log"));
    ASSERT_EQ(result.exit_code, 0) << result.output;

    std::string lcov = read_text(d + "c.info");
    EXPECT_EQ(count_of(lcov, "SF:src/main.c\n") + count_of(lcov, "SF:util/text.c\n"), 2u) << lcov;
    result = run_command("cd " + shell_word(checkout) + " && genhtml --output-directory " +
                         shell_word(d + "g2") + " " + shell_word(d + "c.info"));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output.find("WARNING"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("(5 of 12 lines)"), std::string::npos) << result.output;
    EXPECT_EQ(run_command("grep -rl 'int line_5 = 5;' " + shell_word(d + "g2")).exit_code, 0);

    // Cobertura: <source> plus each filename, SonarQube: each path, names a file under --root.
    EXPECT_EQ(run_command("xmllint --noout " + shell_word(d + "c.xml")).exit_code, 0);
    std::string source = xpath(d + "c.xml", "string(/coverage/sources/source)");
    EXPECT_EQ(source, checkout);
    ASSERT_EQ(xpath(d + "c.xml", "count(//class)"), "2");
    ASSERT_EQ(xpath(d + "s.xml", "count(/coverage/file)"), "2");
    for (const char* i : {"1", "2"}) {
        std::string filename =
            xpath(d + "c.xml", std::string("string((//class)[") + i + "]/@filename)");
        EXPECT_TRUE(file_exists(source + "/" + filename)) << filename;
        std::string path =
            xpath(d + "s.xml", std::string("string(/coverage/file[") + i + "]/@path)");
        EXPECT_TRUE(file_exists(checkout + "/" + path)) << path;
    }

    // The HTML page reads the text from the mapped path too.
    std::string page = read_text(d + "html/0001_main.c.html");
    EXPECT_NE(page.find("<td class=\"num\">5</td><td>int line_5 = 5;</td>"), std::string::npos)
        << page;
}

// Both kinds of marker, a function that lies wholly in a region, and a START left open.
TEST(CiExclusions, MarkedLinesLeaveEveryOutput) {
    require("genhtml");
    TempDir dir;
    std::string d = dir.path();
    write_text(d + "ex.c", "int a;\n"
                           "int b; // LCOV_EXCL_LINE\n"
                           "// LCOV_EXCL_START\n"
                           "void unused(void) {\n"
                           "    b = 1;\n"
                           "}\n"
                           "// LCOV_EXCL_STOP\n"
                           "int main(void) {\n"
                           "    return a;\n"
                           "}\n");
    write_text(d + "open.c", "int x;\n/* LCOV_EXCL_START */\nint y;\n");
    write_text(d + "run.log", "Hex.exe\nH2026/03/14 09:26:53\nD" + d +
                                  "\nN10,ex.c\nF0,init\nF3,unused\nF7,main\nS3101110331\n"
                                  "D" +
                                  d + "\nN3,open.c\nS301\n");
    std::string errors;
    CommandResult result = run_zerkareport_split(
        "--lcov " + shell_word(d + "c.info") + " --cobertura " + shell_word(d + "c.xml") +
            " --sonar " + shell_word(d + "s.xml") + " --html " + shell_word(d + "html") +
            " --functions --fail-under 80 " + shell_word(d + "run.log"),
        errors);
    EXPECT_EQ(result.exit_code, 0) << result.output << errors;
    EXPECT_EQ(errors, "zerkareport: warning: " + d +
                          "open.c:2: LCOV_EXCL_START without LCOV_EXCL_STOP; excluded to the end "
                          "of the file\n");
    EXPECT_EQ(result.output.find("unused"), std::string::npos) << result.output;
    EXPECT_NE(squeezed(result.output).find("Total 5 4 80.0%\n5 lines with code excluded"),
              std::string::npos)
        << result.output;

    std::string lcov = read_text(d + "c.info");
    EXPECT_NE(lcov.find("FN:1,init\nFN:8,main\nFNDA:1,init\nFNDA:1,main\nFNF:2\nFNH:2\n"
                        "DA:1,1\nDA:8,1\nDA:9,1\nDA:10,0\nLF:4\nLH:3\n"),
              std::string::npos)
        << lcov;
    EXPECT_NE(lcov.find("DA:1,1\nLF:1\nLH:1\n"), std::string::npos) << lcov;
    result = run_command("genhtml --output-directory " + shell_word(d + "g") + " " +
                         shell_word(d + "c.info"));
    EXPECT_NE(result.output.find("lines......: 80.0% (4 of 5 lines)"), std::string::npos)
        << result.output;
    EXPECT_EQ(xpath(d + "c.xml", "string(/coverage/@lines-valid)"), "5");
    EXPECT_EQ(xpath(d + "c.xml", "count(//method)"), "2");
    EXPECT_EQ(xpath(d + "s.xml", "count(//lineToCover)"), "5");
    EXPECT_NE(read_text(d + "html/index.html").find("5 lines with code excluded"),
              std::string::npos);
    EXPECT_EQ(count_of(read_text(d + "html/0001_ex.c.html"), "class=\"line-excluded\""), 6u);

    // Without the markers the figures are the log's, and the gate sees them too.
    result = run_zerkareport("--no-exclusions --fail-under 80 " + shell_word(d + "run.log"));
    EXPECT_EQ(result.exit_code, 3) << result.output;
    EXPECT_NE(squeezed(result.output).find("Total 10 4 40.0%\n"), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("excluded"), std::string::npos) << result.output;
}

TEST(CiGate, FailUnderHasAnExitCodeOfItsOwn) {
    TempDir dir;
    std::string d = dir.path();
    write_text(d + "calc.log", kCalcLog); // 5 of 12 lines: 41.67%
    write_text(d + "bad.log", "Hx\nH2026/03/14 09:26:53\nDc:\\\nN3,a.c\nS0121\n");
    std::string log = shell_word(d + "calc.log");

    EXPECT_EQ(run_zerkareport("--fail-under 41.6 " + log).exit_code, 0);
    std::string errors;
    CommandResult result = run_zerkareport_split(
        "--fail-under=41.7 --lcov " + shell_word(d + "c.info") + " " + log, errors);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(
        errors,
        "zerkareport: total line coverage 41.7% (5 of 12 lines) is below --fail-under 41.7%\n");
    EXPECT_TRUE(file_exists(d + "c.info")) << "the outputs are written all the same";

    // Distinct from a refused log (1) and a wrong command line (2).
    EXPECT_EQ(run_zerkareport("--fail-under 99 " + shell_word(d + "bad.log")).exit_code, 1);
    for (const char* value : {"101", "-1", "half", "50x"}) {
        result = run_zerkareport(std::string("--fail-under ") + value + " " + log);
        EXPECT_EQ(result.exit_code, 2) << value;
        EXPECT_NE(result.output.find("'--fail-under' needs a percent"), std::string::npos)
            << result.output;
    }
    EXPECT_NE(run_zerkareport("--help").output.find("3 the total line coverage is below"),
              std::string::npos);
}

// A log can name any path: a device, a FIFO, a folder, a huge file. None may hang the report
// or fill its memory (it runs with 1 GB of address space and a time limit here).
TEST(CiUntrustedSources, OnlyRegularFilesOfBoundedSizeAreRead) {
    TempDir dir;
    std::string d = dir.path();
    ASSERT_EQ(run_command("mkfifo " + shell_word(d + "fifo.c") + " && mkdir " +
                          shell_word(d + "folder.c") + " && truncate -s 65M " +
                          shell_word(d + "huge.c"))
                  .exit_code,
              0);
    std::string deep = d + std::string(120, 'x') + "/nested/";
    std::string log = "Hx\nH2026/03/14 09:26:53\nD/dev/\nN3,zero\nS131\n";
    for (const char* name : {"fifo.c", "folder.c", "huge.c"})
        log += "D" + d + "\nN3," + name + "\nS131\n";
    log += "D" + deep + "\nN3,last_file.c\nS131\n";
    write_text(d + "run.log", log);

    CommandResult result =
        run_command("ulimit -v 1000000; timeout 60 " + zerkareport_program() + " --html " +
                    shell_word(d + "html") + " --lcov " + shell_word(d + "c.info") + " --summary " +
                    shell_word(d + "run.log"));
    ASSERT_EQ(result.exit_code, 0) << result.output;
    for (const std::string& path : {std::string("/dev/zero"), d + "fifo.c", d + "folder.c"})
        EXPECT_NE(result.output.find("zerkareport: warning: " + path +
                                     ": source not read: not a regular file\n"),
                  std::string::npos)
            << path << "\n"
            << result.output;
    EXPECT_NE(result.output.find(d + "huge.c: source not read: larger than 64 MiB"),
              std::string::npos);
    EXPECT_NE(read_text(d + "html/0004_huge.c.html").find("was not read: larger than 64 MiB"),
              std::string::npos);

    // The summary's first column stays narrow: a long path loses its middle, not its ends.
    std::istringstream lines(result.output);
    bool shortened = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("  3  ") == std::string::npos && line.find("Lines") == std::string::npos)
            continue;
        EXPECT_LE(line.size(), 100u) << line;
        if (line.find("...") != std::string::npos)
            shortened = line.find(d.substr(0, 10)) == 0 &&
                        line.find("nested/last_file.c  ") != std::string::npos;
    }
    EXPECT_TRUE(shortened) << result.output;
    EXPECT_NE(read_text(d + "c.info").find("SF:" + deep + "last_file.c\n"), std::string::npos);
}

} // namespace
