#include "tests/support/process.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace {

struct Handle {
    HANDLE h = nullptr;
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

} // namespace

ProcessResult run_process(const std::string& command_line, const std::string& folder,
                          DWORD timeout_ms) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Handle read_end, write_end;
    if (!CreatePipe(&read_end.h, &write_end.h, &inherit, 0))
        return result;
    SetHandleInformation(read_end.h, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end.h;
    startup.hStdError = write_end.h;
    PROCESS_INFORMATION info{};
    std::string line = command_line;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        result.start_error = GetLastError();
        return result;
    }
    result.started = true;
    CloseHandle(write_end.h);
    write_end.h = nullptr;

    // Drain the pipe on a thread of its own so that a chatty child never blocks on it.
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(read_end.h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            result.output.append(buffer, got);
    });
    if (WaitForSingleObject(info.hProcess, timeout_ms) == WAIT_TIMEOUT) {
        result.timed_out = true;
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, INFINITE);
    }
    reader.join();
    GetExitCodeProcess(info.hProcess, &result.exit_code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}

std::string bin_dir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ntdll_path() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(GetModuleHandleA("ntdll.dll"), path, sizeof(path));
    return std::string(path, length);
}

bool wine_dlls_carry_dwarf() {
    // A long section name lives in the image's string table, so the bytes hold it.
    return read_file(ntdll_path()).find(".debug_line") != std::string::npos;
}
