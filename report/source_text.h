// Finds and reads the source file of a log's path on this machine.
#pragma once

#include <string>
#include <vector>

// The paths to try, in order: the path as recorded, then, for a path that a Wine build
// recorded on drive Z: (Wine's view of "/"), the same path from "/" with forward slashes.
std::vector<std::string> source_candidates(const std::string& recorded);

// Reads the first readable candidate into lines (line ends LF or CRLF); false when none is.
bool read_source(const std::string& recorded, std::vector<std::string>& lines,
                 std::string& read_from);
