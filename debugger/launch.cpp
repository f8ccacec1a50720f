#include "debugger/launch.h"

#include <shlwapi.h>

#include <cstring>
#include <string>

#include "app/messages.h"
#include "debugger/arch.h"

namespace {

constexpr char kDefaultExtension[] = ".exe";

bool is_blank(char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

// One SearchPathA lookup: the size first, then the path into a buffer with room to spare.
std::unique_ptr<char[]> search(const char* path, const char* name, std::size_t extra) {
    DWORD size = SearchPathA(path, name, kDefaultExtension, 0, nullptr, nullptr);
    if (size == 0)
        return nullptr;
    std::size_t capacity = size + extra + 1;
    std::unique_ptr<char[]> found(new char[capacity]);
    DWORD length = SearchPathA(path, name, kDefaultExtension, static_cast<DWORD>(capacity),
                               found.get(), nullptr);
    if (length == 0 || length >= capacity)
        return nullptr;
    return found;
}

} // namespace

std::unique_ptr<char[]> find_executable(const char* name, const char* folder, std::size_t extra) {
    if (std::unique_ptr<char[]> found = search(folder, name, extra))
        return found;
    if (std::unique_ptr<char[]> found = search(nullptr, name, extra))
        return found;
    std::string joined(std::strlen(name) + std::strlen(folder) + 2 + MAX_PATH, '\0');
    if (PathCombineA(joined.data(), folder, name) == nullptr)
        return nullptr;
    return search(nullptr, joined.c_str(), extra);
}

LaunchOutcome launch_target(CoverageDatabase& database, DWORD* process_id) {
    database.process = nullptr;
    const char* command = database.command_text;
    report_message(database.notify_window, MSG_TARGET_STARTING, command);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);

    // Split the command into the executable's name and the rest. A quoted name is searched
    // without its quotes, so that a path with blanks is found.
    std::size_t command_length = std::strlen(command);
    const char* at = command;
    while (is_blank(*at))
        ++at;
    std::string name;
    const char* rest;
    if (*at == '"') {
        const char* closing = std::strchr(at + 1, '"');
        if (closing == nullptr) {
            name.assign(at + 1);
            rest = command + command_length;
        } else {
            name.assign(at + 1, closing);
            rest = closing + 1;
        }
    } else {
        const char* end = at;
        while (static_cast<unsigned char>(*end) > 32)
            ++end;
        name.assign(at, end);
        rest = end;
    }

    // Two more bytes than the command for the quotes around a found path with blanks.
    std::size_t extra = command_length + 2;
    const char* work_folder = database.work_folder != nullptr ? database.work_folder : "";
    std::unique_ptr<char[]> found = find_executable(name.c_str(), work_folder, extra);
    if (found == nullptr)
        return LaunchOutcome::failed;
    if (GetFileAttributesA(found.get()) & FILE_ATTRIBUTE_DIRECTORY) {
        // The name matched a folder (my.tools beside my.tools.exe): look for the program.
        name += kDefaultExtension;
        found = find_executable(name.c_str(), work_folder, extra);
        if (found == nullptr)
            return LaunchOutcome::failed;
    }

    // A 64-bit program would start under the 32-bit debugger on some systems, with none of its
    // lines measurable: it is refused before it starts.
    DWORD binary_type = 0;
    if (GetBinaryTypeA(found.get(), &binary_type) && !debuggable_binary_type(binary_type)) {
        report_message(database.notify_window, MSG_OTHER_ARCHITECTURE, found.get());
        return LaunchOutcome::refused;
    }

    // The executable's folder with its backslash, the work folder, and the current folder.
    const char* file_part = PathFindFileNameA(found.get());
    database.symbol_path.assign(found.get(), static_cast<std::size_t>(file_part - found.get()));
    if (*work_folder != '\0') {
        database.symbol_path += ';';
        database.symbol_path += work_folder;
    }
    database.symbol_path += ";.";

    // A path with blanks is quoted, so that the system cannot take a shorter first token for
    // another program.
    std::size_t found_length = std::strlen(found.get());
    char* line = found.get();
    if (std::strchr(line, ' ') != nullptr || std::strchr(line, '\t') != nullptr) {
        std::memmove(line + 1, line, found_length);
        line[0] = '"';
        line[found_length + 1] = '"';
        found_length += 2;
    }
    std::memcpy(line + found_length, rest, std::strlen(rest) + 1);

    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof(info));
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE,
                        DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS, nullptr,
                        *work_folder != '\0' ? work_folder : nullptr, &startup, &info))
        return LaunchOutcome::failed;
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    *process_id = info.dwProcessId;
    return LaunchOutcome::started;
}
