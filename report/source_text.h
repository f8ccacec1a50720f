// Finds and reads the source file of a log's path on this machine. The log names the paths,
// so only regular files are read, and only up to a size that any source file stays below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint64_t kMaxSourceBytes = 64ull << 20;

// The paths to try, in order: a relative path under `root` (when given), else the path as it
// stands; then, for a path that a Wine build recorded on drive Z: (Wine's view of "/"), the
// same path from "/" with forward slashes.
std::vector<std::string> source_candidates(const std::string& path, const std::string& root);

struct SourceText {
    bool read = false;
    std::string read_from; // the candidate read, or refused
    std::string text;      // its bytes
    // Why the first candidate that exists was not read ("not a regular file"); else empty.
    std::string refused;
};

// Reads the first candidate that exists, when it is a regular file of at most kMaxSourceBytes.
// A folder, device or FIFO is refused without waiting on it.
SourceText read_source(const std::string& path, const std::string& root);

// The lines of a text (line ends LF or CRLF).
std::vector<std::string> source_lines(const std::string& text);
