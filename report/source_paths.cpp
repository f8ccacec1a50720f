#include "report/source_paths.h"

#include "coverage/path_fold.h"

#include <filesystem>
#include <system_error>

namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// True when `prefix` begins `path` under the log's folding and ends where a folder name ends,
// so "C:\build" matches "C:\build\a.c" but not "C:\build2\a.c".
bool begins_folder(const std::string& path, const std::string& prefix) {
    if (prefix.empty() || prefix.size() > path.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (fold_path_char(static_cast<unsigned char>(path[i])) !=
            fold_path_char(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return is_separator(prefix.back()) || prefix.size() == path.size() ||
           is_separator(path[prefix.size()]);
}

// What follows a matched prefix, without its leading separators.
std::string rest_after(const std::string& path, std::size_t prefix) {
    while (prefix < path.size() && is_separator(path[prefix]))
        ++prefix;
    return path.substr(prefix);
}

} // namespace

bool parse_path_mapping(const std::string& text, PathMapping& mapping) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        return false;
    mapping.from = text.substr(0, equals);
    mapping.to = text.substr(equals + 1);
    return true;
}

bool is_absolute_path(const std::string& path) {
    if (!path.empty() && is_separator(path[0]))
        return true;
    return path.size() >= 3 && path[1] == ':' && is_separator(path[2]) &&
           ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
}

std::string map_path(const std::string& path, const std::vector<PathMapping>& mappings) {
    const PathMapping* best = nullptr;
    for (const PathMapping& mapping : mappings) {
        if (begins_folder(path, mapping.from) && (!best || mapping.from.size() > best->from.size()))
            best = &mapping;
    }
    if (best == nullptr)
        return path;
    std::string rest = rest_after(path, best->from.size());
    if (rest.empty())
        return best->to;
    char separator = '/';
    for (char c : best->to) {
        if (is_separator(c)) {
            separator = c;
            break;
        }
    }
    for (char& c : rest) {
        if (is_separator(c))
            c = separator;
    }
    if (best->to.empty())
        return rest;
    return best->to + (is_separator(best->to.back()) ? "" : std::string(1, separator)) + rest;
}

std::string root_folder(const std::string& folder) {
    std::string root = folder;
    if (!is_absolute_path(root)) {
        std::error_code ignored;
        root = std::filesystem::absolute(root, ignored).lexically_normal().string();
    }
    // Trailing separators go, except the one of a top folder ("/", "C:\").
    while (root.size() > 1 && is_separator(root.back()) && !(root.size() == 3 && root[1] == ':'))
        root.pop_back();
    return root;
}

std::string relative_to_root(const std::string& path, const std::string& root) {
    if (!begins_folder(path, root))
        return path;
    std::string rest = rest_after(path, root.size());
    return rest.empty() ? path : rest;
}

void place_source_paths(CoverageModel& model, const std::vector<PathMapping>& mappings,
                        const std::string& root) {
    if (mappings.empty() && root.empty())
        return;
    for (FileCoverage& file : model.files) {
        std::string recorded = file.path();
        std::string placed = map_path(recorded, mappings);
        if (!root.empty())
            placed = relative_to_root(placed, root);
        if (placed == recorded)
            continue;
        std::size_t separator = placed.find_last_of("/\\");
        std::size_t name = separator == std::string::npos ? 0 : separator + 1;
        file.folder = placed.substr(0, name);
        file.name = placed.substr(name);
    }
}
