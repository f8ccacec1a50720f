// The command list walk in-process: the process-wide record, a recording runner in place of the
// coverage run, the real catalogue and a real window for the notices.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "app/run_settings.h"
#include "tests/app/catalogue.h"
#include "tests/app/notify_window.h"

namespace {

struct Recorded {
    std::string command;
    std::string work_folder;
    std::string source_folder;
    std::string log_folder;
};

std::vector<Recorded> recorded;
const char* cancel_at = nullptr; // the command during which the runner asks the list to stop
bool report_each = false;        // whether the runner reports the start of each command

bool record(RunSettings& settings, const char* command) {
    EXPECT_EQ(&settings, &run_settings());
    recorded.push_back({command, settings.work_folder.get(), settings.source_folder.get(),
                        settings.log_folder.get()});
    if (report_each)
        report_message(settings.notify_window, MSG_TARGET_STARTING, command);
    if (cancel_at != nullptr && std::string(command) == cancel_at)
        InterlockedExchange(&settings.cancel_flag, 1); // as another thread of a front end would
    return false;                                      // the result plays no part in the list
}

std::vector<std::string> commands_run() {
    std::vector<std::string> commands;
    for (const Recorded& entry : recorded)
        commands.push_back(entry.command);
    return commands;
}

// What standard output received since CaptureStdout, with CR LF read as LF.
std::string captured_lines() {
    std::string output = ::testing::internal::GetCapturedStdout(), lines;
    for (size_t i = 0; i < output.size(); ++i)
        if (!(output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n'))
            lines += output[i];
    return lines;
}

class RunCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(catalogue_module(), nullptr);
        set_message_module(catalogue_module());
        recorded.clear();
        cancel_at = nullptr;
        report_each = false;
    }

    // Runs a list on the console and returns what it printed (CR LF read as LF).
    std::string run_on_console(const char* text, bool* result) {
        set_run_settings(text, "work", "src", false, false);
        ::testing::internal::CaptureStdout();
        *result = run_commands(run_settings(), record);
        return captured_lines();
    }
};

TEST_F(RunCommands, SplitsAtCrAndLfAndSkipsEmptyCommands) {
    bool result = false;
    EXPECT_EQ(run_on_console("a\r\nb", &result), "");
    EXPECT_TRUE(result);
    EXPECT_EQ(commands_run(), (std::vector<std::string>{"a", "b"}));
    // Every run borrows the record's folders; the log folder is the current one.
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[1].work_folder, "work");
    EXPECT_EQ(recorded[1].source_folder, "src");
    EXPECT_EQ(recorded[1].log_folder, ".");
    // The texts are released when the list is done.
    EXPECT_EQ(run_settings().command_text, nullptr);
    EXPECT_EQ(run_settings().work_folder, nullptr);
    EXPECT_EQ(run_settings().source_folder, nullptr);
    EXPECT_EQ(run_settings().log_folder, nullptr);

    recorded.clear();
    EXPECT_EQ(run_on_console("\n a b \r\r\nlast\n", &result), "");
    EXPECT_TRUE(result);
    EXPECT_EQ(commands_run(), (std::vector<std::string>{" a b ", "last"}));
}

TEST_F(RunCommands, NoCommandIsReported) {
    for (const char* text : {"\r\n\n\r", ""}) {
        SCOPED_TRACE(text);
        recorded.clear();
        bool result = true;
        EXPECT_EQ(run_on_console(text, &result), catalogue_text(MSG_NO_COMMAND) + "\n");
        EXPECT_FALSE(result);
        EXPECT_TRUE(recorded.empty());
    }
}

TEST_F(RunCommands, CancelBeforeTheListStillHandsOverTheFirstCommand) {
    set_run_settings("a\nb\nc", "", "", false, false);
    run_settings().cancel_flag = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(run_commands(run_settings(), record));
    EXPECT_EQ(captured_lines(), catalogue_text(MSG_LIST_CANCELLED) + "\n");
    EXPECT_EQ(commands_run(), (std::vector<std::string>{"a"}));
}

TEST_F(RunCommands, CancelDuringTheLastCommandIsSeenAfterTheList) {
    cancel_at = "b";
    bool result = true;
    EXPECT_EQ(run_on_console("a\nb", &result), catalogue_text(MSG_LIST_CANCELLED) + "\n");
    EXPECT_FALSE(result);
    EXPECT_EQ(commands_run(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(RunCommands, NoticesArriveInOrderWithTheCompletionNoticeLast) {
    NotifyWindow window;
    ASSERT_NE(window.handle(), nullptr);
    report_each = true;

    // Every command "fails" and the list still succeeds.
    set_run_settings("a\r\nb", "", "", true, true);
    run_settings().notify_window = window.handle();
    EXPECT_TRUE(run_commands(run_settings(), record));
    std::vector<Notice> notices = window.take_notices();
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].text, formatted_message(MSG_TARGET_STARTING, "a"));
    EXPECT_EQ(notices[1].text, formatted_message(MSG_TARGET_STARTING, "b"));
    EXPECT_EQ(notices[2].message, WM_ZERKA_DONE);
    EXPECT_EQ(notices[2].wparam, 0u);
    EXPECT_EQ(notices[2].lparam, 0);

    // Cancelled during the first of three: the others never run.
    recorded.clear();
    cancel_at = "a";
    set_run_settings("a\nb\nc", "", "", false, false);
    run_settings().notify_window = window.handle();
    EXPECT_FALSE(run_commands(run_settings(), record));
    EXPECT_EQ(commands_run(), (std::vector<std::string>{"a"}));
    notices = window.take_notices();
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].text, formatted_message(MSG_TARGET_STARTING, "a"));
    EXPECT_EQ(notices[1].message, WM_ZERKA_TEXT);
    EXPECT_EQ(notices[1].text, catalogue_text(MSG_LIST_CANCELLED));
    EXPECT_EQ(notices[2].message, WM_ZERKA_DONE);
    EXPECT_EQ(notices[2].lparam, 1);

    // Nothing to run.
    set_run_settings("\n", "", "", false, false);
    run_settings().notify_window = window.handle();
    EXPECT_FALSE(run_commands(run_settings(), record));
    notices = window.take_notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].text, catalogue_text(MSG_NO_COMMAND));
    EXPECT_EQ(notices[1].message, WM_ZERKA_DONE);
    EXPECT_EQ(notices[1].lparam, 1);
}

TEST_F(RunCommands, AFillWaitsUntilTheRunningListIsDone) {
    static std::atomic<bool> fill_done{false};
    static std::thread filler;
    fill_done = false;
    set_run_settings("first", "", "", false, false);
    auto start_fill_and_wait = [](RunSettings& settings, const char*) {
        filler = std::thread([] {
            set_run_settings("second", "", "", false, false);
            fill_done = true;
        });
        Sleep(300);
        // The other thread's fill must not touch the record while this list holds it.
        EXPECT_FALSE(fill_done);
        EXPECT_STREQ(settings.command_text.get(), "first");
        return true;
    };
    EXPECT_TRUE(run_commands(run_settings(), start_fill_and_wait));
    filler.join();
    EXPECT_TRUE(fill_done);
    ASSERT_NE(run_settings().command_text, nullptr);
    EXPECT_STREQ(run_settings().command_text.get(), "second");
    run_commands(run_settings(), [](RunSettings&, const char*) { return true; });
}

} // namespace
