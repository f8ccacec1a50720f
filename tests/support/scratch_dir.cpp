#include "tests/support/scratch_dir.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void remove_tree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path + "\\");
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        path_ = std::string(temp) + "zerka_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(counter++) + "\\";
        if (CreateDirectoryA(path_.c_str(), nullptr))
            break;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            // Only a name in use is worth another try: anything else would loop for ever.
            std::fprintf(stderr, "cannot make the scratch folder %s (error %lu)\n", path_.c_str(),
                         error);
            std::abort();
        }
    }
}

ScratchDir::~ScratchDir() {
    remove_tree(path_);
}
