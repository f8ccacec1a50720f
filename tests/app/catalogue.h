// The tests' view of the message catalogue: texts as res-en.dll holds them, so that no test
// depends on the wording.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/process.h"

inline HMODULE catalogue_module() {
    static HMODULE module =
        LoadLibraryExA((bin_dir() + "res-en.dll").c_str(), nullptr,
                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return module;
}

inline std::string catalogue_text(unsigned id) {
    char text[1024] = {};
    int length = LoadStringA(catalogue_module(), id, text, sizeof(text));
    return std::string(text, length > 0 ? length : 0);
}

// A message as report_message makes it: formatted and cut to 1023 characters.
inline std::string formatted_message(unsigned id, const char* argument = nullptr) {
    char text[1024];
    std::snprintf(text, sizeof(text), catalogue_text(id).c_str(), argument);
    return text;
}
