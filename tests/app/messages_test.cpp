// report_message and deliver_text in-process, with the real catalogue in res-en.dll.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/messages.h"
#include "tests/app/catalogue.h"
#include "tests/app/notify_window.h"

namespace {

class Messages : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(catalogue_module(), nullptr);
        set_message_module(catalogue_module());
    }
};

// What standard output received; the stream's CR before each LF is dropped.
std::string end_capture() {
    std::string output = ::testing::internal::GetCapturedStdout(), text;
    for (size_t i = 0; i < output.size(); ++i)
        if (!(output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n'))
            text += output[i];
    return text;
}

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

TEST_F(Messages, ConsoleGetsOneLinePerMessage) {
    ::testing::internal::CaptureStdout();
    report_message(nullptr, MSG_TARGET_STARTING, "app.exe -x");
    report_message(nullptr, MSG_TARGET_EXITED);
    report_message(nullptr, 40000); // an id the catalogue lacks shows as digits
    EXPECT_EQ(end_capture(), filled(MSG_TARGET_STARTING, "app.exe -x") + "\n" +
                                 catalogue_text(MSG_TARGET_EXITED) + "\n40000\n");
}

TEST_F(Messages, LongTextIsCutAfter1023Characters) {
    const size_t fixed = catalogue_text(MSG_TARGET_STARTING).size() - 2;
    const std::string fits(1023 - fixed, 'x'), one_over(1024 - fixed, 'y'), far_over(5000, 'z');

    ::testing::internal::CaptureStdout();
    report_message(nullptr, MSG_TARGET_STARTING, fits.c_str());
    report_message(nullptr, MSG_TARGET_STARTING, one_over.c_str());
    EXPECT_EQ(end_capture(), filled(MSG_TARGET_STARTING, fits) + "\n" +
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
    EXPECT_EQ(end_capture(), "");

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
    EXPECT_EQ(end_capture(), "");
}

} // namespace
