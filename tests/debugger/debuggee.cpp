#include "tests/debugger/debuggee.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstring>
#include <sstream>

#include "tests/support/process.h"

std::string debuggee_command(const std::string& mode) {
    return bin_dir() + "debuggee.exe " + mode;
}

unsigned marked_line(const std::string& file, const std::string& name) {
    std::istringstream text(read_file(std::string(kDebuggeeSources) + "/" + file));
    std::string line, marker = "mark:" + name + " ";
    for (unsigned number = 1; std::getline(text, line); ++number)
        if (line.find(marker) != std::string::npos)
            return number;
    return 0;
}

const BreakpointEntry* marked_entry(const CoverageDatabase& database, const std::string& file,
                                    const std::string& name) {
    unsigned line = marked_line(file, name);
    const BreakpointEntry* found = nullptr;
    database.breakpoints.for_each([&](CodeAddress, const BreakpointEntry& entry) {
        const char* path = database.file_name(entry.file());
        std::size_t length = path != nullptr ? std::strlen(path) : 0;
        if ((found == nullptr || found->state() != BreakpointState::hit) && entry.line == line &&
            length >= file.size() && std::strcmp(path + length - file.size(), file.c_str()) == 0)
            found = &entry;
    });
    return found;
}

int processes_named(const std::string& name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name.c_str()) == 0)
            ++count;
    CloseHandle(snapshot);
    return count;
}
