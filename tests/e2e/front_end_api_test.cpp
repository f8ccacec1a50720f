// The tool's code in this process, driven the way a front end that owns a window drives it:
// set_run_settings, then the notify window, the debug-output switch and the cancel flag of
// run_settings(), then run_commands with the real coverage run. Notices arrive in a
// message-only window of this thread.
#include "app/messages.h"
#include "app/run_settings.h"
#include "resources/message_ids.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// The tool's messages come from res-en.dll, as main arranges it.
class FrontEndApi : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static HMODULE catalogue = LoadLibraryA((bin_dir() + "res-en.dll").c_str());
        set_message_module(catalogue);
    }
};

// Logs land in the current folder: each test runs in a scratch folder of its own.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string& folder) {
        GetCurrentDirectoryA(MAX_PATH, saved_);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryA(saved_); }

  private:
    char saved_[MAX_PATH];
};

struct Notices {
    std::vector<std::string> texts;
    std::vector<LPARAM> done; // lParam of every completion notice
};

class MessageWindow {
  public:
    MessageWindow() {
        handle_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    }
    ~MessageWindow() {
        drain();
        DestroyWindow(handle_);
    }
    HWND handle() const { return handle_; }

    // Every notice posted so far; the text blocks are the receiver's to free.
    Notices drain() {
        Notices notices;
        MSG message;
        while (PeekMessageA(&message, handle_, 0, 0, PM_REMOVE)) {
            if (message.message == WM_ZERKA_TEXT) {
                char* block = reinterpret_cast<char*>(message.lParam);
                notices.texts.emplace_back(block);
                std::free(block);
            } else if (message.message == WM_ZERKA_DONE) {
                notices.done.push_back(message.lParam);
            }
        }
        return notices;
    }

  private:
    HWND handle_ = nullptr;
};

std::vector<Message> classify_all(const Catalogue& catalogue,
                                  const std::vector<std::string>& texts) {
    std::vector<Message> messages;
    for (const std::string& text : texts)
        messages.push_back(catalogue.classify(text));
    return messages;
}

std::string pattern(size_t from, size_t count) {
    std::string text;
    for (size_t i = from; i < from + count; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

} // namespace

// Two commands in one list: two logs, each with its own command in its first record. Debug
// strings are not relayed while the switch is off.
TEST_F(FrontEndApi, TwoCommandsTwoLogs) {
    ScratchDir scratch;
    CurrentFolder here(scratch.path());
    MessageWindow window;
    ASSERT_NE(window.handle(), nullptr);
    set_run_settings("events.exe exit\r\nevents.exe debugstr", target_dir("dwarf").c_str(),
                     target_sources().c_str(), false, false);
    run_settings().notify_window = window.handle();
    EXPECT_TRUE(run_commands(run_settings()));

    std::string prefix = log_name_prefix_today();
    ASSERT_EQ(log_files(scratch.path()),
              (std::vector<std::string>{prefix + "001.log", prefix + "002.log"}));
    const char* commands[] = {"events.exe exit", "events.exe debugstr"};
    for (int i = 0; i < 2; ++i) {
        CoverageLog log;
        std::string name = prefix + "00" + std::to_string(i + 1) + ".log";
        ASSERT_EQ(parse_log(read_file(scratch.path() + name), log), "") << name;
        EXPECT_EQ(log.command, commands[i]);
        EXPECT_EQ(check_markers(log, "events/events.c"), "") << read_file(scratch.path() + name);
    }

    Catalogue catalogue;
    Notices notices = window.drain();
    std::vector<Message> messages = classify_all(catalogue, notices.texts);
    EXPECT_EQ(count_id(messages, MSG_TARGET_STARTING), 2u);
    EXPECT_EQ(count_id(messages, MSG_LOG_CLOSED), 2u);
    for (const Message& message : messages)
        EXPECT_NE(message.id, 0u) << "not a catalogue text: " << message.text;
    EXPECT_EQ(notices.done, std::vector<LPARAM>{0});
}

// A debug string of 600 characters arrives as two texts: 512 characters, then the rest from
// where the first ended. The run's messages arrive as notices too, and the completion notice.
TEST_F(FrontEndApi, DebugStringRelayedInChunks) {
    ScratchDir scratch;
    CurrentFolder here(scratch.path());
    MessageWindow window;
    set_run_settings((target_dir("pdb") + "events.exe debugstr").c_str(), "",
                     target_sources().c_str(), false, false);
    run_settings().notify_window = window.handle();
    run_settings().show_debug_output = true;
    EXPECT_TRUE(run_commands(run_settings()));

    Catalogue catalogue;
    Notices notices = window.drain();
    std::vector<std::string> relayed;
    std::vector<unsigned> ids;
    for (const Message& message : classify_all(catalogue, notices.texts)) {
        if (message.id == 0)
            relayed.push_back(message.text);
        else
            ids.push_back(message.id);
    }
    ASSERT_EQ(relayed.size(), 2u);
    EXPECT_EQ(relayed[0], pattern(0, 512));
    EXPECT_EQ(relayed[0] + relayed[1], pattern(0, 600));
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.front(), static_cast<unsigned>(MSG_TARGET_STARTING));
    EXPECT_EQ(ids.back(), static_cast<unsigned>(MSG_LOG_CLOSED));
    EXPECT_EQ(notices.done, std::vector<LPARAM>{0});
    EXPECT_EQ(log_files(scratch.path()).size(), 1u);
}

// A cancel from a second thread while the target waits for ever: the run ends within a few
// hundred ms, the target is ended, no log is written, the next command is not run, and the
// list reports the cancel.
TEST_F(FrontEndApi, CancelWhileTargetWaits) {
    ScratchDir scratch;
    CurrentFolder here(scratch.path());
    MessageWindow window;
    std::string events = target_dir("dwarf") + "events.exe";
    // No work folder: the target's current folder is ours, where it leaves its process id.
    set_run_settings((events + " wait\n" + events + " exit").c_str(), "", target_sources().c_str(),
                     false, false);
    run_settings().notify_window = window.handle();

    using Clock = std::chrono::steady_clock;
    std::atomic<bool> returned{false};
    std::atomic<DWORD> target_id{0};
    Clock::time_point cancelled_at;
    std::thread front_end([&] {
        std::string pid_file = scratch.path() + "events.pid";
        for (int i = 0; i < 600 && !returned; ++i) {
            std::string text = read_file(pid_file);
            if (!text.empty()) {
                target_id = std::strtoul(text.c_str(), nullptr, 10);
                break;
            }
            Sleep(50);
        }
        Sleep(300); // the target is now asleep in Sleep(INFINITE)
        cancelled_at = Clock::now();
        InterlockedExchange(&run_settings().cancel_flag, 1);
        // A run that never sees the flag must not hang the suite: end the target after 10 s.
        for (int i = 0; i < 200 && !returned; ++i)
            Sleep(50);
        if (!returned && target_id != 0) {
            HANDLE target = OpenProcess(PROCESS_TERMINATE, FALSE, target_id);
            if (target != nullptr) {
                TerminateProcess(target, 99);
                CloseHandle(target);
            }
        }
    });
    bool result = run_commands(run_settings());
    Clock::time_point returned_at = Clock::now();
    returned = true;
    front_end.join();

    EXPECT_FALSE(result);
    ASSERT_NE(target_id.load(), 0u) << "the target never wrote its process id";
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(returned_at - cancelled_at);
    EXPECT_LT(took.count(), 700) << "the cancel took " << took.count() << " ms";
    EXPECT_TRUE(log_files(scratch.path()).empty());

    // The target is gone (or going: its handle is signalled at once).
    HANDLE target = OpenProcess(SYNCHRONIZE, FALSE, target_id);
    if (target != nullptr) {
        EXPECT_EQ(WaitForSingleObject(target, 200), WAIT_OBJECT_0) << "the target still runs";
        CloseHandle(target);
    }

    Catalogue catalogue;
    Notices notices = window.drain();
    std::vector<Message> messages = classify_all(catalogue, notices.texts);
    EXPECT_EQ(count_id(messages, MSG_TARGET_STARTING), 1u) << "the second command ran";
    EXPECT_EQ(count_id(messages, MSG_LIST_CANCELLED), 1u);
    EXPECT_EQ(count_id(messages, MSG_LOG_CLOSED), 0u);
    EXPECT_EQ(notices.done, std::vector<LPARAM>{1});
}
