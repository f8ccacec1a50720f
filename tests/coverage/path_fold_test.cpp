// The folding table and the path order that file blocks are written in.
#include "coverage/path_fold.h"

#include <gtest/gtest.h>

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(FoldPathChar, LettersFoldToUpperCaseAndSeparatorsToOne) {
    for (int c = 0; c < 256; ++c) {
        const auto byte = static_cast<unsigned char>(c);
        unsigned char expected = byte;
        if (c >= 'a' && c <= 'z')
            expected = static_cast<unsigned char>(c - 'a' + 'A');
        if (c == '/' || c == '\\')
            expected = 0x01;
        EXPECT_EQ(expected, fold_path_char(byte)) << "byte " << c;
    }
}

TEST(FoldPathChar, SeparatorsSortBelowEveryByteButTheTerminator) {
    EXPECT_EQ(0, fold_path_char(0));
    for (int c = 2; c < 256; ++c) {
        if (c == '/' || c == '\\')
            continue;
        EXPECT_LT(fold_path_char('/'), fold_path_char(static_cast<unsigned char>(c))) << c;
    }
}

TEST(ComparePaths, IgnoresCaseAndSeparatorSpelling) {
    EXPECT_EQ(0, compare_paths("C:\\Src\\Main.cpp", "c:/src/MAIN.CPP"));
    EXPECT_EQ(0, compare_paths("", ""));
    EXPECT_NE(0, compare_paths("c:\\src\\a.cpp", "c:\\src\\a.cp"));
}

TEST(ComparePaths, OrdersByFoldedBytes) {
    // Pairs (earlier, later).
    const char* const pairs[][2] = {
        {"C:\\SRC\\a.cpp", "c:\\src\\b.cpp"},
        {"c:\\src\\b.cpp", "C:\\src\\D.cpp"},
        {"xz.cpp", "x_y.cpp"},                   // '_' sorts after every letter
        {"c:\\src\\a\\z.cpp", "c:\\src\\a.cpp"}, // a separator sorts below '.'
        {"c:/src/a/z.cpp", "c:\\src\\a.cpp"},
        {"abc", "abc\\d"},      // a path sorts before its own extension
        {"a\xE9.c", "a\xEA.c"}, // bytes above 0x7F compare unsigned
        {"az.c", "a\xE9.c"},    // ...and after every ASCII letter
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(std::string(pair[0]) + " < " + pair[1]);
        EXPECT_EQ(-1, sign(compare_paths(pair[0], pair[1])));
        EXPECT_EQ(1, sign(compare_paths(pair[1], pair[0])));
    }
}

} // namespace
