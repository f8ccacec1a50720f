// A look at an image file's own DWARF strings, before the symbol handler is asked to read it.
#pragma once

#include <windows.h>

#include <cstdint>

// True only when it is certain that no source file name the symbol handler can build from the
// image's line information begins with `folder` (non-empty); `image_size` then receives the
// image's SizeOfImage. False for anything else: a malformed or truncated file, an image with a
// debug directory, stabs, compressed or separate debug information, or without DWARF lines,
// and always false outside Wine, whose symbol handler's way of building names this follows.
// Reads `image_file` through a read-only mapping: its position is not moved, it stays open.
bool image_lines_miss_folder(HANDLE image_file, const char* folder, std::uint32_t* image_size);
