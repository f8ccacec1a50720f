// zerkareport's outputs read by the programs that consume them: genhtml (lcov), xmllint
// (Cobertura, SonarQube) and headless Chromium (HTML). scripts/setup.sh installs all three; a
// missing one fails the test.
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Sources with awkward names: a blank, '&', a comma and '<' in paths and function names.
class ConsumersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source_dir_ = dir_.path() + "my src & co/";
        std::string main_source;
        for (int i = 1; i <= 12; ++i)
            main_source += "int line_" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
        run_command("mkdir -p " + shell_word(source_dir_ + "util"));
        write_text(source_dir_ + "main<1>.cpp", main_source);
        write_text(source_dir_ + "util/a,b.cpp", "a\nb\nc\nd\ne\nf\n");
        // The second file as a Wine build records it: on drive Z:, with backslashes.
        std::string wine_folder = "Z:" + source_dir_ + "util/";
        for (char& c : wine_folder)
            c = c == '/' ? '\\' : c;
        write_text(dir_.path() + "run.log", "Hcalc.exe -test\nH2026/03/14 09:26:53\n"
                                            "D" +
                                                source_dir_ +
                                                "\n"
                                                "N12,main<1>.cpp\n"
                                                "F3,main\n"
                                                "F9,std::map<int, int>::at & co\n"
                                                "S000331300111\n"
                                                "D" +
                                                wine_folder +
                                                "\n"
                                                "N6,a,b.cpp\n"
                                                "F1,trim\n"
                                                "S013311\n");
    }

    std::string out(const std::string& name) const { return dir_.path() + name; }

    CommandResult report(const std::string& options) {
        return run_zerkareport(options + " " + shell_word(out("run.log")));
    }

    static void require(const std::string& program) {
        ASSERT_TRUE(have_program(program))
            << program << " is not installed: run 'make setup' (scripts/setup.sh)";
    }

    TempDir dir_;
    std::string source_dir_;
};

// A well-formed XML file whose XPath expressions give the expected values.
void expect_xml(const std::string& file,
                const std::vector<std::pair<std::string, std::string>>& expected);

void expect_xml(const std::string& file,
                const std::vector<std::pair<std::string, std::string>>& expected) {
    CommandResult check = run_command("xmllint --noout " + shell_word(file));
    EXPECT_EQ(check.exit_code, 0) << check.output;
    for (const auto& query : expected)
        EXPECT_EQ(xpath(file, query.first), query.second) << query.first;
}

TEST_F(ConsumersTest, GenhtmlRendersTheLcovFile) {
    require("genhtml");
    ASSERT_EQ(report("--lcov " + shell_word(out("run.info"))).exit_code, 0);
    // Only the file with a readable path; genhtml reads Unix paths.
    CommandResult keep = run_command("sed -n '1,/end_of_record/p' " + shell_word(out("run.info")) +
                                     " > " + shell_word(out("main.info")));
    ASSERT_EQ(keep.exit_code, 0);
    CommandResult result = run_command("genhtml --output-directory " + shell_word(out("genhtml")) +
                                       " " + shell_word(out("main.info")));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output.find("ERROR"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("WARNING"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("lines......: 42.9% (3 of 7 lines)"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("functions..: 50.0% (1 of 2 functions)"), std::string::npos)
        << result.output;
    EXPECT_TRUE(file_exists(out("genhtml/index.html")));

    // Both files, the second one's source not readable by genhtml: still rendered.
    result = run_command("genhtml --no-source --output-directory " + shell_word(out("genhtml2")) +
                         " " + shell_word(out("run.info")));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_NE(result.output.find("(5 of 12 lines)"), std::string::npos) << result.output;
}

TEST_F(ConsumersTest, CoberturaIsWellFormedWithTheLogsFigures) {
    require("xmllint");
    ASSERT_EQ(report("--cobertura " + shell_word(out("c.xml"))).exit_code, 0);
    expect_xml(out("c.xml"), {{"string(/coverage/@lines-valid)", "12"},
                              {"string(/coverage/@lines-covered)", "5"},
                              {"string(/coverage/@line-rate)", "0.4167"},
                              {"count(//package)", "2"},
                              {"count(//class)", "2"},
                              {"string((//class)[1]/@filename)", source_dir_ + "main<1>.cpp"},
                              {"count((//class)[1]/lines/line)", "7"},
                              {"count((//class)[1]/lines/line[@hits='1'])", "3"},
                              {"string((//class)[1]/lines/line[3]/@number)", "6"},
                              {"string((//class)[1]/lines/line[3]/@hits)", "0"},
                              {"string((//method)[2]/@name)", "std::map<int, int>::at & co"},
                              {"string((//method)[1]/@line-rate)", "0.7500"},
                              {"count((//method)[1]/lines/line)", "4"},
                              {"string((//class)[2]/@name)", "a,b.cpp"},
                              {"string((//class)[2]/@line-rate)", "0.4000"}});
}

TEST_F(ConsumersTest, SonarQubeCoverageIsWellFormedWithTheLogsFigures) {
    require("xmllint");
    ASSERT_EQ(report("--sonar " + shell_word(out("s.xml"))).exit_code, 0);
    expect_xml(out("s.xml"), {{"string(/coverage/@version)", "1"},
                              {"count(/coverage/file)", "2"},
                              {"string(/coverage/file[1]/@path)", source_dir_ + "main<1>.cpp"},
                              {"count(//lineToCover)", "12"},
                              {"count(//lineToCover[@covered='true'])", "5"},
                              {"string(/coverage/file[2]/lineToCover[1]/@lineNumber)", "2"},
                              {"string(/coverage/file[2]/lineToCover[2]/@covered)", "true"}});
}

// Chromium with a profile of its own and nothing that reaches out to the network.
CommandResult chromium(const std::string& profile, const std::string& action,
                       const std::string& page) {
    return run_command("chromium --headless --no-sandbox --disable-gpu --disable-quic "
                       "--no-first-run --disable-background-networking "
                       "--disable-component-update --disable-sync --user-data-dir=" +
                       shell_word(profile) + " --window-size=1000,700 " + action + " " +
                       shell_word("file://" + page) + " 2>/dev/null");
}

TEST_F(ConsumersTest, HtmlPagesOpenInChromiumWithColouredLines) {
    require("chromium");
    ASSERT_EQ(report("--html " + shell_word(out("html"))).exit_code, 0);

    CommandResult index = chromium(out("profile1"), "--dump-dom", out("html/index.html"));
    ASSERT_EQ(index.exit_code, 0) << index.output;
    EXPECT_NE(index.output.find("<td>Total</td><td>12</td><td>5</td><td>41.7</td>"),
              std::string::npos)
        << index.output;
    EXPECT_NE(index.output.find(">" + source_dir_.substr(0, source_dir_.find('&')) +
                                "&amp; co/main&lt;1&gt;.cpp</a>"),
              std::string::npos)
        << index.output;

    // The page of the file recorded on drive Z: shows its source, read from the Unix path.
    CommandResult page = chromium(out("profile2"), "--dump-dom", out("html/0002_a_b.cpp.html"));
    ASSERT_EQ(page.exit_code, 0) << page.output;
    EXPECT_EQ(count_of(page.output, "class=\"line-run\""), 2u) << page.output;
    EXPECT_EQ(count_of(page.output, "class=\"line-notrun\""), 3u);
    EXPECT_EQ(count_of(page.output, "class=\"line-nocode\""), 1u);
    EXPECT_NE(page.output.find("<tr id=\"L3\" class=\"line-run\"><td class=\"num\">3</td>"
                               "<td>c</td></tr>"),
              std::string::npos);

    CommandResult main_page =
        chromium(out("profile3"), "--dump-dom", out("html/0001_main_1_.cpp.html"));
    ASSERT_EQ(main_page.exit_code, 0);
    EXPECT_EQ(count_of(main_page.output, "class=\"line-run\""), 3u);
    EXPECT_EQ(count_of(main_page.output, "class=\"line-notrun\""), 4u);
    EXPECT_EQ(count_of(main_page.output, "class=\"line-nocode\""), 5u);
    EXPECT_NE(main_page.output.find("<td>std::map&lt;int, int&gt;::at &amp; co</td>"),
              std::string::npos);

    CommandResult shot = chromium(out("profile4"), "--screenshot=" + shell_word(out("page.png")),
                                  out("html/0001_main_1_.cpp.html"));
    ASSERT_EQ(shot.exit_code, 0) << shot.output;
    std::string png = read_text(out("page.png"));
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
    // ZERKA_KEEP_SCREENSHOT=path keeps a copy to look at.
    if (const char* keep = std::getenv("ZERKA_KEEP_SCREENSHOT"))
        write_text(keep, png);
}

} // namespace
