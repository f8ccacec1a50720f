// report_message and deliver_text in-process, with the real catalogue in res-en.dll.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/messages.h"
#include "tests/support/captured_stdout.h"
#include "tests/support/catalogue.h"
#include "tests/support/notify_window.h"

namespace {

class Messages : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(catalogue_module(), nullptr);
        set_message_module(catalogue_module());
    }
};

// The catalogue text of a one-argument id with its "%s" replaced, uncut.
std::string filled(unsigned id, const std::string& argument) {
    std::string format = catalogue_text(id);
    size_t at = format.find("%s");
    return format.substr(0, at) + argument + format.substr(at + 2);
}

TEST_F(Messages, CatalogueHoldsATextForEveryIdWithItsPlaceholders) {
    const unsigned with_argument[] = {MSG_LOG_CREATE_FAILED, MSG_LOG_CLOSED, MSG_TARGET_STARTING,
                                      MSG_MODULE_LINES_READ};
    for (unsigned id = MSG_LIST_CANCELLED; id <= MSG_TARGET_ERROR_EXCEPTION; ++id) {
        if (id > MSG_LOG_WRITE_FAILED && id < MSG_TARGET_ERROR_EXCEPTION)
            continue;
        SCOPED_TRACE(id);
        std::string text = catalogue_text(id);
        ASSERT_FALSE(text.empty());
        EXPECT_LE(text.size(), 1023u);
        EXPECT_EQ(text.find('\n'), std::string::npos);
        unsigned arguments = 0;
        for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2)) {
            ASSERT_LT(at + 1, text.size());
            if (text[at + 1] == '%')
                continue;
            EXPECT_EQ(text[at + 1], 's');
            ++arguments;
        }
        bool takes_argument = std::find(std::begin(with_argument), std::end(with_argument), id) !=
                              std::end(with_argument);
        EXPECT_EQ(arguments, takes_argument ? 1u : 0u);
    }
}

// The texts of how a target ended take the exit code twice, as unsigned longs: each shows it
// in decimal and in hexadecimal, on one line, and converts nothing else (a "%s" would crash).
TEST_F(Messages, TargetEndingTextsShowTheExitCodeTwice) {
    for (unsigned id : {MSG_TARGET_EXIT_CODE, MSG_TARGET_FAILED_TO_START, MSG_TARGET_DLL_NOT_FOUND,
                        MSG_TARGET_DLL_INIT_FAILED, MSG_TARGET_IMPORT_NOT_FOUND}) {
        SCOPED_TRACE(id);
        std::string text = catalogue_text(id);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find("%s"), std::string::npos);
        const DWORD code = 0xC0000142;
        ::testing::internal::CaptureStdout();
        report_message(nullptr, id, code, code);
        std::string line = captured_lines();
        EXPECT_NE(line.find("3221225794"), std::string::npos) << line;
        EXPECT_NE(line.find("C0000142"), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    }
}

TEST_F(Messages, ConsoleGetsOneLinePerMessage) {
    ::testing::internal::CaptureStdout();
    report_message(nullptr, MSG_TARGET_STARTING, "app.exe -x");
    report_message(nullptr, MSG_TARGET_EXITED);
    report_message(nullptr, 40000); // an id the catalogue lacks shows as digits
    EXPECT_EQ(captured_lines(), filled(MSG_TARGET_STARTING, "app.exe -x") + "\n" +
                                    catalogue_text(MSG_TARGET_EXITED) + "\n40000\n");
}

TEST_F(Messages, LongTextIsCutAfter1023Characters) {
    const size_t fixed = catalogue_text(MSG_TARGET_STARTING).size() - 2;
    const std::string fits(1023 - fixed, 'x'), one_over(1024 - fixed, 'y'), far_over(5000, 'z');

    ::testing::internal::CaptureStdout();
    report_message(nullptr, MSG_TARGET_STARTING, fits.c_str());
    report_message(nullptr, MSG_TARGET_STARTING, one_over.c_str());
    EXPECT_EQ(captured_lines(), filled(MSG_TARGET_STARTING, fits) + "\n" +
                                    filled(MSG_TARGET_STARTING, one_over).substr(0, 1023) + "\n");

    NotifyWindow window;
    ASSERT_NE(window.handle(), nullptr);
    report_message(window.handle(), MSG_TARGET_STARTING, far_over.c_str());
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, window.handle(), WM_ZERKA_TEXT, WM_ZERKA_TEXT, PM_REMOVE));
    char* block = reinterpret_cast<char*>(message.lParam);
    EXPECT_EQ(block[1023], '\0');
    EXPECT_EQ(std::string(block), filled(MSG_TARGET_STARTING, far_over).substr(0, 1023));
    std::free(block);
}

TEST_F(Messages, WindowReceivesEveryTextInOrderAndNothingIsPrinted) {
    NotifyWindow window;
    ASSERT_NE(window.handle(), nullptr);
    ::testing::internal::CaptureStdout();
    report_message(window.handle(), MSG_TARGET_STARTING, "first");
    report_message(window.handle(), MSG_MODULE_LINES_READ, "second.dll");
    report_message(window.handle(), 40001);
    report_message(window.handle(), MSG_TARGET_EXITED);
    // The relay's own block travels as it is: the receiver gets that very block.
    char* relayed = static_cast<char*>(std::malloc(1024));
    std::strcpy(relayed, "debug string");
    deliver_text(window.handle(), relayed);
    EXPECT_EQ(captured_lines(), "");

    std::vector<Notice> notices = window.take_notices();
    ASSERT_EQ(notices.size(), 5u);
    for (const Notice& notice : notices) {
        EXPECT_EQ(notice.message, WM_ZERKA_TEXT);
        EXPECT_EQ(notice.wparam, 0u);
    }
    EXPECT_EQ(notices[0].text, filled(MSG_TARGET_STARTING, "first"));
    EXPECT_EQ(notices[1].text, filled(MSG_MODULE_LINES_READ, "second.dll"));
    EXPECT_EQ(notices[2].text, "40001");
    EXPECT_EQ(notices[3].text, catalogue_text(MSG_TARGET_EXITED));
    EXPECT_EQ(notices[4].lparam, reinterpret_cast<LPARAM>(relayed));
    EXPECT_EQ(notices[4].text, "debug string");
}

TEST_F(Messages, WindowThatIsGoneGetsNothingAndNothingIsPrinted) {
    HWND gone;
    {
        NotifyWindow window;
        gone = window.handle();
    }
    // The post fails; the text is dropped (its block freed), not printed instead.
    ::testing::internal::CaptureStdout();
    report_message(gone, MSG_TARGET_EXITED);
    EXPECT_EQ(captured_lines(), "");
}

} // namespace
