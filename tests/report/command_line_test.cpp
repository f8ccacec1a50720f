// The program as users run it: options, exit codes, warnings, and nothing written on errors.
#include "tests/report/report_test_support.h"
#include "tests/report/sample_logs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace {

TEST(CommandLine, HelpNamesEveryOption) {
    CommandResult result = run_zerkareport("--help");
    EXPECT_EQ(result.exit_code, 0);
    for (const char* option : {"--summary", "--functions", "--html DIR", "--cobertura FILE",
                               "--lcov FILE", "--sonar FILE", "--help", "Exit codes"})
        EXPECT_NE(result.output.find(option), std::string::npos) << option;
    EXPECT_EQ(run_zerkareport("-h").output, result.output);
}

TEST(CommandLine, WrongCommandLinesAreRefused) {
    TempDir dir;
    write_text(dir.path() + "calc.log", kCalcLog);
    std::string log = shell_word(dir.path() + "calc.log");
    struct Case {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"--bogus " + log, "unknown option '--bogus'"},
        {"-x " + log, "unknown option '-x'"},
        {"--html=" + shell_word(dir.path() + "h") + " --htm " + log, "unknown option '--htm'"},
        {log + " --lcov", "option '--lcov' needs a value"},
        {"--lcov= " + log, "option '--lcov' needs a value"},
        {"--lcov a.info --lcov=b.info " + log, "option '--lcov' given twice"},
        {"--summary", "no log named"},
        {"", "no log named"},
    };
    for (const Case& c : cases) {
        CommandResult result = run_zerkareport(c.arguments);
        EXPECT_EQ(result.exit_code, 2) << c.arguments;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << c.arguments << "\n"
                                                                    << result.output;
    }
    EXPECT_FALSE(file_exists(dir.path() + "h"));
}

TEST(CommandLine, EveryOutputAtOnceAndTheSummary) {
    TempDir dir;
    write_text(dir.path() + "calc.log", kCalcLog);
    std::string d = dir.path();
    CommandResult result =
        run_zerkareport("--html " + shell_word(d + "html") + " --lcov=" + shell_word(d + "c.info") +
                        " --cobertura " + shell_word(d + "c.xml") + " --sonar " +
                        shell_word(d + "s.xml") + " --summary -- " + shell_word(d + "calc.log"));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_NE(result.output.find("Total"), std::string::npos);
    for (const char* file : {"html/index.html", "html/0001_main.cpp.html",
                             "html/0002_strings.cpp.html", "c.info", "c.xml", "s.xml"})
        EXPECT_TRUE(file_exists(d + file)) << file;

    // Without --summary a file output prints nothing; no output option prints the table.
    result =
        run_zerkareport("--lcov " + shell_word(d + "c2.info") + " " + shell_word(d + "calc.log"));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(read_text(d + "c2.info"), read_text(d + "c.info"));
    result = run_zerkareport(shell_word(d + "calc.log"));
    EXPECT_NE(result.output.find("c:\\work\\calc\\src\\util\\strings.cpp"), std::string::npos);
}

TEST(CommandLine, MergesTheLogsItIsGiven) {
    TempDir dir;
    write_text(dir.path() + "1.log", kCalcLog);
    write_text(dir.path() + "2.log", kCalcLog2);
    CommandResult result =
        run_zerkareport(shell_word(dir.path() + "1.log") + " " + shell_word(dir.path() + "2.log"));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.output.find("c:\\work\\calc\\src\\main.cpp                  9          5    "
                                 "55.6%"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("Total                                     17          8    "
                                 "47.1%"),
              std::string::npos);
}

TEST(CommandLine, MalformedLogStopsEverything) {
    TempDir dir;
    std::string d = dir.path();
    write_text(d + "good.log", kCalcLog);
    write_text(d + "bad.log", "Hx\nH2026/03/14 09:26:53\nDc:\\\nN3,a.c\nS0121\n");
    std::string errors;
    CommandResult result = run_zerkareport_split(
        "--html " + shell_word(d + "html") + " --lcov " + shell_word(d + "c.info") +
            " --cobertura " + shell_word(d + "c.xml") + " --sonar " + shell_word(d + "s.xml") +
            " --summary " + shell_word(d + "good.log") + " " + shell_word(d + "bad.log"),
        errors);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(errors, "zerkareport: error: " + d +
                          "bad.log:5: status string (S) of 4 characters for a line count of 3\n");
    EXPECT_EQ(result.output, "");
    for (const char* file : {"html", "c.info", "c.xml", "s.xml"})
        EXPECT_FALSE(file_exists(d + file)) << file;
}

TEST(CommandLine, IncompleteLogWarnsAndKeepsItsCompleteBlocks) {
    TempDir dir;
    std::string d = dir.path();
    std::string log = kCalcLog;
    write_text(d + "cut.log", log.substr(0, log.size() - 3));
    std::string errors;
    CommandResult result = run_zerkareport_split(shell_word(d + "cut.log"), errors);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(errors, "zerkareport: warning: " + d +
                          "cut.log: ends inside the block of "
                          "c:\\work\\calc\\src\\util\\strings.cpp after line 10; read up to its "
                          "last complete block\n");
    EXPECT_NE(result.output.find("main.cpp"), std::string::npos);
    EXPECT_EQ(result.output.find("strings.cpp"), std::string::npos);
}

TEST(CommandLine, OutputFoldersAreMadeAndUnwritableOutputsFail) {
    TempDir dir;
    std::string d = dir.path();
    write_text(d + "calc.log", kCalcLog);
    write_text(d + "file", "x");
    CommandResult result =
        run_zerkareport("--lcov " + shell_word(d + "new/folder/c.info") + " --sonar " +
                        shell_word(d + "file/s.xml") + " " + shell_word(d + "calc.log"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.output.find("zerkareport: error: " + d + "file/s.xml: "), std::string::npos)
        << result.output;
    EXPECT_FALSE(file_exists(d + "new/folder/c.info"));
    result = run_zerkareport("--lcov " + shell_word(d + "new/folder/c.info") + " " +
                             shell_word(d + "calc.log"));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_TRUE(file_exists(d + "new/folder/c.info"));
}

// Not logs cut short but no logs at all, and names no file system or consumer can hold.
TEST(CommandLine, FilesThatAreNoLogsAndNulBytesAreRefused) {
    using namespace std::string_literals;
    TempDir dir;
    std::string d = dir.path();
    const std::string header = "Hcalc.exe\nH2026/03/14 09:26:53\n";
    struct Case {
        std::string text;
        std::string error; // after "<log>:"
    } cases[] = {
        {"", " not a coverage log: it does not begin with 'H'"},
        {"\x7f"
         "ELF\x02\x01\x01\0\0\0"s,
         " not a coverage log: it does not"},
        {"Hcalc.exe -test", " not a coverage log: it holds no line feed"},
        {header + "Dc:\\src\0x\\\nN1,a.c\nS3\n"s, "3: folder record (D) holding a NUL byte"},
        {header + "Dc:\\\nN1,a.c\0.h\nS3\n"s, "4: name record (N) holding a NUL"},
        {header + "Dc:\\\nN1,a.c\nF0,f\0g\nS3\n"s, "5: function record (F) holding a NUL"},
    };
    for (const Case& c : cases) {
        write_text(d + "x.log", c.text);
        std::string errors;
        CommandResult result = run_zerkareport_split(
            "--lcov " + shell_word(d + "x.info") + " " + shell_word(d + "x.log"), errors);
        EXPECT_EQ(result.exit_code, 1) << c.error;
        EXPECT_EQ(errors.find("zerkareport: error: " + d + "x.log:" + c.error), 0u)
            << c.error << "\ngot: " << errors;
        EXPECT_FALSE(file_exists(d + "x.info"));
    }
}

} // namespace

namespace {

// Every file of a folder with its content, to compare before and after a run.
std::map<std::string, std::string> folder_files(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[entry.path().string()] = read_text(entry.path().string());
    }
    return files;
}

// A run whose last output cannot be written (/dev/full: a real write failing with ENOSPC)
// replaces none of the earlier outputs and leaves no temporary file behind.
TEST(AllOrNothing, AFailedWriteReplacesNoEarlierOutput) {
    TempDir dir;
    std::string d = dir.path();
    write_text(d + "1.log", kCalcLog);
    write_text(d + "2.log", kCalcLog2);
    std::string outputs = "--lcov " + shell_word(d + "out/c.info") + " --cobertura " +
                          shell_word(d + "out/c.xml") + " --html " + shell_word(d + "out/html");
    ASSERT_EQ(run_zerkareport(outputs + " " + shell_word(d + "1.log")).exit_code, 0);
    std::map<std::string, std::string> before = folder_files(d + "out");
    ASSERT_EQ(before.size(), 6u); // two outputs, index, two pages, the page list

    std::string errors;
    CommandResult result =
        run_zerkareport_split(outputs + " --sonar /dev/full " + shell_word(d + "2.log"), errors);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(errors,
              "zerkareport: error: /dev/full: " + std::string(std::strerror(ENOSPC)) + "\n");
    EXPECT_EQ(folder_files(d + "out"), before);

    // The same run with every output writable replaces them all.
    ASSERT_EQ(run_zerkareport(outputs + " " + shell_word(d + "2.log")).exit_code, 0);
    EXPECT_NE(read_text(d + "out/c.info"), before[d + "out/c.info"]);
    EXPECT_NE(read_text(d + "out/c.info").find("SF:C:\\work\\calc\\src\\args.cpp"),
              std::string::npos);

    // An output named through a symbolic link replaces the file that the link names.
    std::filesystem::rename(d + "out/c.info", d + "out/real.info");
    std::filesystem::create_symlink("real.info", d + "out/c.info");
    ASSERT_EQ(run_zerkareport(outputs + " " + shell_word(d + "1.log")).exit_code, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(d + "out/c.info"));
    EXPECT_EQ(read_text(d + "out/real.info"), before[d + "out/c.info"]);
}

// A regular file that fills its file system half-way: a tmpfs of 256 KiB (mounting needs root,
// as CI runs the suite; elsewhere the test is skipped and says why).
TEST(AllOrNothing, AFullFileSystemLeavesTheEarlierOutputWhole) {
    TempDir dir;
    std::string d = dir.path();
    std::string mount = d + "full/";
    std::filesystem::create_directory(mount);
    if (run_command("mount -t tmpfs -o size=256k zerkareport_full " + shell_word(mount))
            .exit_code != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (not root?)";
    struct Unmount {
        std::string at;
        ~Unmount() { run_command("umount " + shell_word(at)); }
    } unmount{mount};

    write_text(d + "small.log", kCalcLog);
    // 400,000 lines with code: an lcov file of about 4 MB.
    write_text(d + "big.log", "Hbig\nH2026/03/14 09:26:53\nD/src/\nN400000,big.c\nS" +
                                  std::string(400000, '1') + "\n");
    ASSERT_EQ(run_zerkareport("--lcov " + shell_word(mount + "c.info") + " " +
                              shell_word(d + "small.log"))
                  .exit_code,
              0);
    std::map<std::string, std::string> before = folder_files(mount);
    ASSERT_EQ(before.size(), 1u);

    std::string errors;
    CommandResult result = run_zerkareport_split(
        "--lcov " + shell_word(mount + "c.info") + " " + shell_word(d + "big.log"), errors);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(errors, "zerkareport: error: " + mount +
                          "c.info: " + std::string(std::strerror(ENOSPC)) + "\n");
    EXPECT_EQ(folder_files(mount), before);
}

// An earlier report's pages that this one does not write go; nothing else in the folder does.
TEST(AllOrNothing, HtmlRemovesOnlyItsOwnStalePages) {
    TempDir dir;
    std::string d = dir.path();
    write_text(d + "1.log", kCalcLog);
    write_text(d + "2.log", kCalcLog2);
    std::string html = d + "html/";
    ASSERT_EQ(run_zerkareport("--html " + shell_word(html) + " " + shell_word(d + "1.log") + " " +
                              shell_word(d + "2.log"))
                  .exit_code,
              0);
    ASSERT_TRUE(file_exists(html + "0003_strings.cpp.html"));
    // The user's own files, one of them named as a page would be.
    write_text(html + "notes.html", "mine");
    write_text(html + "0009_mine.html", "mine too");

    ASSERT_EQ(
        run_zerkareport("--html " + shell_word(html) + " " + shell_word(d + "1.log")).exit_code, 0);
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(html))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names,
              (std::set<std::string>{".zerkareport-pages", "index.html", "0001_main.cpp.html",
                                     "0002_strings.cpp.html", "notes.html", "0009_mine.html"}));
    // Every page the index links is there.
    std::string index = read_text(html + "index.html");
    EXPECT_EQ(count_of(index, "<a href=\""), 2u);
    for (const char* page : {"0001_main.cpp.html", "0002_strings.cpp.html"})
        EXPECT_NE(index.find(std::string("<a href=\"") + page + "\">"), std::string::npos);
}

} // namespace
