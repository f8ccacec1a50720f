// The debug-string relay, reading from this very process as its "target": blocks of at most
// 512 bytes read one after another, a carriage return put before each lone line feed, each
// block posted to the notify window as a text notice.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/messages.h"
#include "debugger/target_debugger.h"

namespace {

std::vector<std::string> posted_texts(HWND window) {
    std::vector<std::string> texts;
    MSG message;
    while (PeekMessageA(&message, window, WM_ZERKA_TEXT, WM_ZERKA_TEXT, PM_REMOVE)) {
        char* block = reinterpret_cast<char*>(message.lParam);
        texts.emplace_back(block);
        std::free(block);
    }
    return texts;
}

struct Relay {
    Relay() {
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        database.process = GetCurrentProcess();
    }
    ~Relay() { DestroyWindow(window); }

    HWND window;
    volatile LONG cancel = 0;
    CoverageDatabase database{"x", "", "", false, false, true, nullptr, &cancel};
};

} // namespace

TEST(ForwardDebugString, SixHundredBytesArriveAsTwoTextsOf512And88Bytes) {
    Relay relay;
    ASSERT_NE(relay.window, nullptr);
    TargetDebugger debugger(relay.database, relay.window, &relay.cancel);
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += static_cast<char>('a' + i % 26);
    text[100] = '\n';
    text[511] = '\r'; // a CR/LF pair split across the two reads
    text[512] = '\n';
    text[530] = '\n';
    ASSERT_TRUE(debugger.forward_debug_string(reinterpret_cast<CodeAddress>(text.data()), 600));

    std::vector<std::string> texts = posted_texts(relay.window);
    ASSERT_EQ(texts.size(), 2u);
    std::string first = text.substr(0, 512), second = text.substr(512);
    first.insert(100, "\r");
    second.insert(18, "\r");
    second.insert(0, "\r"); // the second read starts with a line feed: its CR is not looked at
    EXPECT_EQ(texts[0], first);
    EXPECT_EQ(texts[1], second);
}

TEST(ForwardDebugString, AnUnreadableStringDeliversNothingAndFails) {
    Relay relay;
    TargetDebugger debugger(relay.database, relay.window, &relay.cancel);
    EXPECT_TRUE(debugger.forward_debug_string(0x10, 0));
    EXPECT_FALSE(debugger.forward_debug_string(0x10, 100));
    EXPECT_TRUE(posted_texts(relay.window).empty());
}
