// Heap copies of 8-bit texts, owned by whoever keeps them.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

// The first length bytes of text, then a terminator.
inline std::unique_ptr<char[]> copy_text(const char* text, std::size_t length) {
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), text, length);
    copy[length] = '\0';
    return copy;
}

// A whole terminated text; a null text copies as "".
inline std::unique_ptr<char[]> copy_text(const char* text) {
    if (text == nullptr)
        text = "";
    return copy_text(text, std::strlen(text));
}
