// Where the report names the logs' source files: paths recorded on another machine mapped to
// this one (--map-path FROM=TO) and written relative to a root folder (--root DIR).
#pragma once

#include "report/coverage_model.h"

#include <string>
#include <vector>

struct PathMapping {
    std::string from;
    std::string to;
};

// "FROM=TO", split at the first '='; false when there is none or FROM is empty.
bool parse_path_mapping(const std::string& text, PathMapping& mapping);

// True for "/x", "\x" and "C:\x" (or "C:/x"), whatever machine reads the log.
bool is_absolute_path(const std::string& path);

// The path with the longest FROM that begins it (compared as compare_paths does, ending at a
// separator) replaced by its TO; the separators after it take TO's style ('/' when TO has
// none). The path itself when no FROM matches.
std::string map_path(const std::string& path, const std::vector<PathMapping>& mappings);

// The root folder as written into the outputs: absolute (a relative one is taken from the
// current folder), without a trailing separator unless it is the top folder.
std::string root_folder(const std::string& folder);

// The part of `path` after `root` when it lies under it (compared as compare_paths does);
// otherwise the path itself.
std::string relative_to_root(const std::string& path, const std::string& root);

// Rewrites the path of every file of one log's model: mapped, then relative to `root` when
// given. Done before merging, so paths that map to one file merge.
void place_source_paths(CoverageModel& model, const std::vector<PathMapping>& mappings,
                        const std::string& root);
