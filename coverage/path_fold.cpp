// The folding table of source paths and the path order built on it.
#include "coverage/path_fold.h"

namespace {

struct FoldTable {
    unsigned char map[256];
    constexpr FoldTable() : map() {
        for (int c = 0; c < 256; ++c) {
            map[c] = static_cast<unsigned char>(c);
        }
        for (int c = 'a'; c <= 'z'; ++c) {
            map[c] = static_cast<unsigned char>(c - 'a' + 'A');
        }
        // Both separators fold to 0x01: equal to each other, below every byte but the NUL.
        map[static_cast<unsigned char>('/')] = 0x01;
        map[static_cast<unsigned char>('\\')] = 0x01;
    }
};

constexpr FoldTable kFoldTable;

} // namespace

unsigned char fold_path_char(unsigned char c) {
    return kFoldTable.map[c];
}

int compare_paths(const char* first, const char* second) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(first);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(second);
    for (;; ++a, ++b) {
        const int difference = fold_path_char(*a) - fold_path_char(*b);
        if (difference != 0) {
            return difference;
        }
        // Only the NUL folds to 0, so equal folded bytes here mean both paths ended.
        if (*a == 0) {
            return 0;
        }
    }
}
