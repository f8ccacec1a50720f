// Every message the tool shows while it runs goes through report_message, by catalogue id.
#pragma once

#include <windows.h>

#include "resources/message_ids.h"

// The text notice: lParam is a heap block that the receiving window owns and frees with free().
constexpr UINT WM_ZERKA_TEXT = WM_APP + 0x96;
// The completion notice of a command list: lParam 1 when the list failed, else 0.
constexpr UINT WM_ZERKA_DONE = WM_APP + 0x97;

// The module whose string table holds the catalogue (res-en.dll, loaded at start-up).
void set_message_module(HMODULE module);

// Looks the text up by id, formats it with the arguments (each an 8-bit text) and delivers it:
// posted to notify_window as a text notice, or printed as one line on standard output.
void report_message(HWND notify_window, unsigned id, ...);

// Delivers a heap text the same two ways (the debug-string relay uses it too); takes the block.
void deliver_text(HWND notify_window, char* block);
