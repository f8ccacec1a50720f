// The coverage run of one command into a real log: the free name of the day (gaps filled,
// existing logs left untouched), the header, and the statuses of the lines that ran and did not.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>

#include "app/coverage_run.h"
#include "app/heap_text.h"
#include "tests/debugger/debuggee.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace {

std::string log_name(int counter) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char name[64];
    std::snprintf(name, sizeof(name), "coverage_%02d%02d%02d_%03d.log", now.wYear % 100, now.wMonth,
                  now.wDay, counter);
    return name;
}

// The status character of a line of the block whose name record ends in `file`.
char status_of(const std::string& log, const std::string& file, unsigned line) {
    std::size_t name = log.find("," + file + "\n");
    if (name == std::string::npos)
        return '?';
    std::size_t status = log.find("\nS", name);
    if (status == std::string::npos)
        return '?';
    std::size_t end = log.find('\n', status + 1);
    std::string statuses = log.substr(status + 2, end - status - 2);
    return line >= 1 && line <= statuses.size() ? statuses[line - 1] : '?';
}

struct Settings {
    explicit Settings(const std::string& log_folder) {
        settings.work_folder = copy_text("");
        settings.source_folder = copy_text(kDebuggeeSources);
        settings.log_folder = copy_text(log_folder.c_str());
    }
    RunSettings settings;
};

} // namespace

TEST(CoverageRun, WritesTheFirstFreeLogOfTheDayWithHeaderAndLineStatuses) {
    ScratchDir scratch;
    std::string folder = scratch.path().substr(0, scratch.path().size() - 1);
    {
        std::ofstream existing(scratch.path() + log_name(2), std::ios::binary);
        existing << "kept";
    }
    Settings run(folder);
    std::string command = debuggee_command("lines");
    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_TRUE(run_coverage(run.settings, command.c_str()));

    // The gap at 001 is filled; the log of another run is left as it was.
    EXPECT_EQ(read_file(scratch.path() + log_name(2)), "kept");
    std::string log = read_file(scratch.path() + log_name(1));
    ASSERT_FALSE(log.empty());
    char date[32];
    std::snprintf(date, sizeof(date), "H%04d/%02d/%02d ", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(log.rfind("H" + command + "\n" + date, 0), 0u) << log.substr(0, 200);

    EXPECT_EQ(status_of(log, "debuggee.c", marked_line("debuggee.c", "square")), '3');
    EXPECT_EQ(status_of(log, "debuggee.c", marked_line("debuggee.c", "loop")), '3');
    EXPECT_EQ(status_of(log, "debuggee.c", marked_line("debuggee.c", "never")), '1');
    EXPECT_EQ(status_of(log, "debuggee.c", marked_line("debuggee.c", "wrong")), '1');

    // The next run of the day moves on past both.
    ASSERT_TRUE(run_coverage(run.settings, command.c_str()));
    EXPECT_FALSE(read_file(scratch.path() + log_name(3)).empty());
}

TEST(CoverageRun, ATargetThatCannotStartLeavesNoLog) {
    ScratchDir scratch;
    Settings run(scratch.path().substr(0, scratch.path().size() - 1));
    EXPECT_FALSE(run_coverage(run.settings, "no_such_program_here"));
    EXPECT_EQ(GetFileAttributesA((scratch.path() + log_name(1)).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CoverageRun, AMissingLogFolderFailsWithoutALog) {
    ScratchDir scratch;
    Settings run(scratch.path() + "missing");
    std::string command = debuggee_command("lines");
    EXPECT_FALSE(run_coverage(run.settings, command.c_str()));
    EXPECT_EQ(GetFileAttributesA((scratch.path() + "missing").c_str()), INVALID_FILE_ATTRIBUTES);
}
