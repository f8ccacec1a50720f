// The tool's command line: options, then the command, joined into one text.
#pragma once

// What the options and the command words gave; the folders point into the argument vector.
struct CommandLine {
    const char* work_folder = nullptr;   // -w, none until given
    const char* source_folder = nullptr; // -s, none until given
    bool existing_files_only = false;    // -e
    bool function_names = false;         // -f
    char command_text[2048] = {};        // the joined command, at most 2047 characters
};

// Parses argv[1..argc-1]. False means a usage error: an unknown option letter, a value attached
// to a letter other than s or w, no command, an empty command text, or one too long to hold
// (refused rather than cut, so that nothing other than what was asked ever runs).
bool parse_command_line(int argc, const char* const argv[], CommandLine& line);
