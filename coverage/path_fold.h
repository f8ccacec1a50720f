// Source paths compare without regard to ASCII letter case, and with '/' equal to '\\' and
// below every other byte but the terminator. Portable: no Windows header.
#pragma once

// The folding table: 'a'..'z' to 'A'..'Z', '/' and '\\' to 0x01, every other byte to itself.
unsigned char fold_path_char(unsigned char c);

// Negative, zero or positive as the first path sorts before, equal to or after the second.
int compare_paths(const char* first, const char* second);
