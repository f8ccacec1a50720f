// The log file while it is written: created by the coverage run, filled by the log writer.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

struct LogFile {
    std::string path;
    FILE* stream = nullptr;
    HWND notify_window = nullptr;
};
