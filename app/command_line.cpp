#include "app/command_line.h"

#include <cstring>

namespace {

bool is_option(const char* argument) {
    return argument[0] == '-' || argument[0] == '/';
}

// Only 'A' to 'Z' fold; every other byte stays as it is.
char fold_letter(char letter) {
    return (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
}

// Joins the words with one blank between them; false when they would not fit with the terminator.
bool join_words(int count, const char* const words[], char* text, size_t size) {
    size_t length = 0;
    for (int i = 0; i < count; ++i) {
        size_t word_length = std::strlen(words[i]);
        size_t needed = word_length + (i + 1 < count ? 1 : 0);
        if (needed >= size - length)
            return false;
        std::memcpy(text + length, words[i], word_length);
        length += word_length;
        if (i + 1 < count)
            text[length++] = ' ';
    }
    text[length] = '\0';
    return true;
}

} // namespace

bool parse_command_line(int argc, const char* const argv[], CommandLine& line) {
    char pending = 0;
    int index = 1;
    for (; index < argc; ++index) {
        const char* argument = argv[index];
        if (is_option(argument)) {
            pending = 0; // an option right after a bare -w or -s leaves that folder unset
            char letter = fold_letter(argument[1]);
            if (letter != '\0' && argument[2] != '\0') {
                if (letter == 's')
                    line.source_folder = argument + 2;
                else if (letter == 'w')
                    line.work_folder = argument + 2;
                else
                    return false;
            } else if (letter == 'e') {
                line.existing_files_only = true;
            } else if (letter == 'f') {
                line.function_names = true;
            } else if (letter == 's' || letter == 'w') {
                pending = letter;
            } else {
                return false; // also a lone '-' or '/', and "--": there is no end-of-options mark
            }
        } else if (pending == 's') {
            line.source_folder = argument;
            pending = 0;
        } else if (pending == 'w') {
            line.work_folder = argument;
            pending = 0;
        } else {
            break; // the first word of the command
        }
    }
    if (index >= argc)
        return false;
    if (!join_words(argc - index, argv + index, line.command_text, sizeof(line.command_text)))
        return false;
    return line.command_text[0] != '\0';
}
