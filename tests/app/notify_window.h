// A message-only window that stands in for a front end's window: it collects the notices.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/messages.h"

struct Notice {
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    std::string text; // of a text notice, read from its block before the block is freed
};

class NotifyWindow {
  public:
    NotifyWindow() {
        static const ATOM window_class = [] {
            WNDCLASSA description{};
            description.lpfnWndProc = DefWindowProcA;
            description.hInstance = GetModuleHandleA(nullptr);
            description.lpszClassName = "ZerkaTestNotify";
            return RegisterClassA(&description);
        }();
        (void)window_class;
        handle_ = CreateWindowExA(0, "ZerkaTestNotify", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    }
    ~NotifyWindow() { DestroyWindow(handle_); }
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    HWND handle() const { return handle_; }

    // Takes every notice posted so far, in order; the receiver owns and frees each text block.
    std::vector<Notice> take_notices() {
        std::vector<Notice> notices;
        MSG message;
        while (PeekMessageA(&message, handle_, 0, 0, PM_REMOVE)) {
            if (message.message != WM_ZERKA_TEXT && message.message != WM_ZERKA_DONE)
                continue;
            Notice notice{message.message, message.wParam, message.lParam, {}};
            if (message.message == WM_ZERKA_TEXT) {
                char* block = reinterpret_cast<char*>(message.lParam);
                notice.text = block;
                std::free(block);
            }
            notices.push_back(notice);
        }
        return notices;
    }

  private:
    HWND handle_ = nullptr;
};
