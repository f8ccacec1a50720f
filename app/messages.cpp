#include "app/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

// Both the lookup buffer and the delivered block hold 1023 characters and a terminator.
constexpr int TEXT_SIZE = 1024;

HMODULE message_module = nullptr;

// The block goes to a window, which frees it with free(), so it comes from malloc.
char* allocate_text_block() {
    char* block = static_cast<char*>(std::malloc(TEXT_SIZE));
    if (block == nullptr)
        std::abort(); // out of memory ends the process, as everywhere in the tool
    return block;
}

} // namespace

void set_message_module(HMODULE module) {
    message_module = module;
}

void deliver_text(HWND notify_window, char* block) {
    if (notify_window != nullptr) {
        // A posted block belongs to the receiver; one that never arrives has no owner but us.
        if (!PostMessageA(notify_window, WM_ZERKA_TEXT, 0, reinterpret_cast<LPARAM>(block)))
            std::free(block);
        return;
    }
    std::printf("%s\n", block);
    // The target writes to the same console: flush so that the lines keep their order.
    std::fflush(stdout);
    std::free(block);
}

void report_message(HWND notify_window, unsigned id, ...) {
    char format[TEXT_SIZE];
    int length = LoadStringA(message_module, id, format, TEXT_SIZE);

    char* block = allocate_text_block();
    if (length > 0) {
        va_list arguments;
        va_start(arguments, id);
        std::vsnprintf(block, TEXT_SIZE, format, arguments);
        va_end(arguments);
    } else {
        // An id the catalogue lacks: the buffer may hold nothing valid, so show the id itself.
        std::snprintf(block, TEXT_SIZE, "%u", id);
    }
    block[TEXT_SIZE - 1] = '\0';
    deliver_text(notify_window, block);
}
